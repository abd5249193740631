// Access expressions the SQLite output can carry: validation rules as CHECK
// constraints, default values as DEFAULT clauses and per-record values (saved
// queries become views through ViewTranslation.h). Each translation gives up
// (nullopt, or a plan of kind None) rather than produce SQL whose meaning
// differs from Access's.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "output/dao/Values.h"

namespace talmera::dao::sqlite {

// A name as the file holds it: SQL text cannot carry a NUL, so each becomes
// U+FFFD, in the schema and in the metadata alike (a damaged name's NUL is
// shown as text that was not valid is). Everything else is kept.
std::string SqliteName(std::string_view name);
// A name quoted for SQL ("" for "), whatever it holds.
std::string QuoteIdentifier(std::string_view name);
std::string SqlLiteral(const Stored& value);

struct ExprColumn {
    std::string name;
    FieldShape shape;
};

// A validation rule as a SQLite expression over the table's columns. For a
// field's rule, `self` is that field: a rule may then start with an operator
// (">0", "Between 1 And 9", "Is Not Null", "Like 'A*'"), which applies to it.
// Comparisons with a field convert the literal to the field's stored form.
std::optional<std::string> TranslateRule(std::string_view rule, const ExprColumn* self,
                                         const std::vector<ExprColumn>& columns);

// A default value: a constant converted to the field's type, or one of the
// functions evaluated for each new record.
struct DefaultPlan {
    enum Kind { None, Constant, Now, Today, TimeOfDay, NewGuid };
    Kind kind = None;
    Stored constant;
    std::string sql;  // the DEFAULT clause's expression; empty when there is none
};
DefaultPlan PlanDefault(std::string_view text, const FieldShape& shape);
// The value of a function default for a new record.
Stored EvaluateDefault(const DefaultPlan& plan);

}  // namespace talmera::dao::sqlite
