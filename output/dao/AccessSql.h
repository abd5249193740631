// Access SQL read into a syntax tree: the statements of saved queries
// (SELECT, UNION, TRANSFORM ... PIVOT, with PARAMETERS), their sources and
// joins, and the expressions of Jet's expression service, with its operators,
// literals (#dates#, "strings", True/Yes...), bracketed names, form
// references (Forms!Orders!OrderID), function calls and subqueries.
//
// The tree says what the text says; what it means in SQLite is the
// translator's business (ViewTranslation.h).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace talmera::dao::sqlite::access {

struct Select;

struct Expr {
    enum Kind {
        Number,    // text: the digits as written
        String,    // text: the value
        DateLit,   // text: between the # signs
        Boolean,   // number: -1 True/Yes, 0 False/No
        Null,
        Name,      // parts: a, a.b, Forms!x!y (separators in `bangs`)
        Star,      // the argument of Count(*)
        Unary,     // op: "-", "NOT"
        Binary,    // op: "OR" "AND" "XOR" "EQV" "IMP" "=" "<>" "<" "<=" ">" ">=" "&" "+" "-" "*" "/" "\" "MOD" "^"
        Between,   // args: value, low, high
        In,        // args: value, list...; or value and `subquery`
        IsNull,    // args: value
        Like,      // args: value, pattern
        Call,      // text: the function's name as written; args
        Subquery,  // subquery: a scalar subquery
        Exists,    // subquery
    };
    Kind kind = Null;
    std::string text;
    double number = 0;
    std::vector<std::string> parts;
    std::vector<bool> bangs;   // bangs[i]: "!" before parts[i + 1] (else ".")
    std::string op;
    bool negated = false;      // NOT BETWEEN, NOT IN, NOT LIKE, IS NOT NULL
    std::vector<std::unique_ptr<Expr>> args;
    std::shared_ptr<Select> subquery;
};
using ExprPtr = std::unique_ptr<Expr>;

struct SelectItem {
    ExprPtr expr;              // null for "*" and "T.*"
    std::string starOf;        // "T" of "T.*"; empty for "*"
    bool star = false;
    std::string alias;
};

struct Source {
    enum Kind { Table, Subquery, Join };
    Kind kind = Table;
    std::string name;          // Table: the table or query
    std::string database;      // Table: [database].table, or IN 'database'
    std::string alias;
    std::shared_ptr<Select> subquery;
    // Join
    enum JoinKind { Inner, Left, Right };
    JoinKind join = Inner;
    std::unique_ptr<Source> left, right;
    ExprPtr on;
};
using SourcePtr = std::unique_ptr<Source>;

struct OrderItem {
    ExprPtr expr;
    bool descending = false;
};

struct Select {
    bool distinct = false, distinctRow = false;
    std::optional<std::string> top;   // the TOP value as written
    bool topPercent = false;
    std::vector<SelectItem> items;
    std::string into;                 // SELECT ... INTO: a make-table query
    std::vector<SourcePtr> from;
    std::string fromDatabase;         // FROM ... IN 'database'
    ExprPtr where;
    std::vector<ExprPtr> groupBy;
    ExprPtr having;
    std::vector<OrderItem> orderBy;
    bool ownerAccess = false;
};

struct Parameter {
    std::string name;   // as declared, each part in brackets: [Start Date], [Forms]![Orders]![ID]
    std::string type;   // the type words
};

struct Statement {
    enum Kind { Select, Union, Crosstab, Insert, Update, Delete, DataDefinition, Other };
    Kind kind = Other;
    std::vector<Parameter> parameters;
    // Select: parts[0]; Union: every part, with unionAll[i] between parts i and i + 1.
    std::vector<std::shared_ptr<access::Select>> parts;
    std::vector<bool> unionAll;
    std::vector<OrderItem> unionOrderBy;
    // Crosstab: TRANSFORM value [AS alias] SELECT ... PIVOT pivot [IN (headings)]
    ExprPtr transform;
    std::string transformAlias;
    ExprPtr pivot;
    std::vector<ExprPtr> pivotIn;
};

// Why a text could not be read.
struct SyntaxError {
    std::string message;
};

// Reads one statement; a final ";" and white space around it are allowed.
// Action and data-definition statements are recognised by their first word
// only. Returns the error when the text is not Access SQL this reader knows.
std::variant<Statement, SyntaxError> ParseStatement(std::string_view text);

// Reads one expression (a condition, a calculated column).
std::variant<ExprPtr, SyntaxError> ParseExpression(std::string_view text);

}  // namespace talmera::dao::sqlite::access
