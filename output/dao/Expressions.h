// Access expressions the SQLite output can carry: validation rules as CHECK
// constraints, default values as DEFAULT clauses and per-record values, and
// saved queries as views. Each translation gives up (nullopt, or a plan of
// kind None) rather than produce SQL whose meaning differs from Access's.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "output/dao/Values.h"

namespace talmera::dao::sqlite {

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

// The SELECT of a view for a saved query's Access SQL, or nullopt when the
// statement is not a plain SELECT or uses what SQLite reads differently
// (date literals, "&", Like patterns, TOP, DISTINCTROW, parameters...).
// textColumns: folded names of the columns whose values the file keeps as
// text though Access computes with them (Currency, Decimal, Date/Time); the
// statement may name them only as plain output columns.
std::optional<std::string> ViewSelect(std::string_view accessSql, const std::set<std::string>& textColumns);

}  // namespace talmera::dao::sqlite
