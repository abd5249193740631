// Saved queries as SQLite views: the Access SQL of a select, union or
// crosstab query translated into a SQLite SELECT that gives the same rows,
// column for column, over the tables as the output file stores them (see
// docs/output-format.md), or the reason why no such SELECT exists (a
// parameter, a form control, a VBA function, an action query...).
//
// The translation reads the statement into a syntax tree (AccessSql.h),
// resolves every name against the sources it reads (tables and the views of
// other queries, each with its columns and what they hold), and writes SQLite
// SQL from the tree: DISTINCTROW, TOP n [PERCENT] with Access's ties, &,
// IIf, Nz, #date# literals, True/False, Like patterns, text comparisons that
// ignore case, Currency kept as exact text, dates as ISO text, and the Access
// functions that have an exact SQLite form.
#pragma once

#include <sqlite3.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talmera::dao::sqlite {

// What the values of a column are, as the view needs to know: how they
// compare, sort and compute. Currency and Decimal are exact text in the file,
// dates ISO text, Yes/No 1 and 0.
enum class ValueKind { Unknown, Boolean, Integer, Real, Currency, Decimal, Date, Text, Binary };

// The kind of a DAO field type's stored values.
ValueKind ValueKindOfFieldType(int daoType);

struct ViewColumn {
    std::string name;
    ValueKind kind = ValueKind::Unknown;
};

// A table or query a statement reads, as the output database has it.
struct ViewSource {
    enum State {
        Table,             // a table of the file (sqliteName)
        View,              // a query made a view (sqliteName, its columns)
        QueryWithoutView,  // a query that is not (or not yet) a view
        LinkedTable,       // a linked table: its rows are in another database
    };
    State state = Table;
    std::string sqliteName;
    std::vector<ViewColumn> columns;
};

// Finds a table or query by its Access name (letter case ignored); nullopt
// when the database has no such object.
using ViewSourceLookup = std::function<std::optional<ViewSource>(const std::string& accessName)>;

struct ViewTranslation {
    std::string select;               // the view's SELECT; empty when there is none
    std::vector<ViewColumn> columns;  // the view's columns, in order
    std::string reason;               // why there is no view
    // The statement reads a query that is not a view (yet): once it is one,
    // the translation may succeed.
    bool waitsForQuery = false;
};

ViewTranslation TranslateQueryToView(std::string_view accessSql, const ViewSourceLookup& lookup);

// Runs SELECT * FROM the view LIMIT 1: the error message when SQLite fails.
std::optional<std::string> RunsView(sqlite3* db, const std::string& viewName);

// The views a repair would make, for a reader without an output file: the
// tables as empty tables of a database in memory, and the queries tried in
// dependency order as the output does.
struct PlannedTable {
    std::string name;
    std::vector<ViewColumn> columns;
    bool linked = false;
};
struct PlannedQuery {
    std::string name, sql;
    std::string connect;  // a pass-through query's connect text
};
struct PlannedView {
    std::string select;  // empty when there is no view
    std::string reason;  // why not
};
std::vector<PlannedView> PlanViews(const std::vector<PlannedTable>& tables, const std::vector<PlannedQuery>& queries);

// The exact form of a day number as the file stores dates, for an Access
// date literal (#1/31/95#, #1995-01-31 10:30#, #31-Jan-95#); nullopt when the
// text is not a date Access reads the same on every machine.
std::optional<std::string> AccessDateLiteralText(std::string_view literal);

}  // namespace talmera::dao::sqlite
