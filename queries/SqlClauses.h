// The clause texts of one saved query being rebuilt, and the rules that fill
// them from the query's MSysQueries rows and join them into one statement.
//
// The rules are heuristic: they reproduce Access SQL from its stored form, and
// their exact output (spacing, brackets, separators, the keyword forms such as
// " Group BY ") is part of the behaviour.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/MDBRecovery.h"
#include "queries/QuerySources.h"

namespace talmera {

// Statement kinds: how the clause texts are joined.
enum QueryStatementKind : int {
    kSelectStatement = 0,
    kMakeTableStatement = 1,
    kAppendStatement = 2,
    kUpdateStatement = 3,
    kDeleteStatement = 4,
    kCrosstabStatement = 5,
    kUnionStatement = 6,
    kDataDefinitionStatement = 7,
    kPassThroughStatement = 8,
};

// One declared parameter: its name as written and its type word.
struct queryParameter {
    std::string name;
    std::string type;
};

// One output-column row of an append or update query, its values as stored:
// the value expression, its alias (Name1) and the target column (Name2).
struct queryOutput {
    std::string expression, alias, target;
};

// One part of a union query: the name Access gives it (Name2, X7YZ_____1,
// X7YZ_____2, ...) and its SELECT text.
struct queryUnionPart {
    std::string id;
    std::string text;
};

struct queryClauses {
    // Clause texts
    std::string head = "SELECT ";
    std::string selectList;
    std::string crosstabValue;
    std::string pivotList;
    std::string fromWord = " FROM ";
    std::vector<querySource> sources;        // table rows: tables, saved queries, subqueries
    std::vector<queryJoin> joins;            // join rows, in order
    std::string remotePath, remoteType;      // the source database of the FROM clause (IN '...')
    std::string whereList, groupList, havingList, orderList;
    std::string topValue;
    std::vector<queryParameter> parameters;
    // The type row's values: the target table (Name1), its database (Name2)
    // and that database's type, or the statement of a data-definition or
    // pass-through query (Expression).
    std::string typeName1, typeName2, typeExpression;
    std::vector<queryOutput> outputs;        // output columns of append and update queries
    std::vector<queryUnionPart> unionParts;
    std::string unionWord;

    // Flags
    bool isCrosstab = false, isUpdate = false, isAppend = false, isUnion = false;
    bool hasWhere = false, hasGroup = false, hasHaving = false, hasOrder = false;
    bool hasTop = false, isPercent = false, isDistinct = false, isDistinctRow = false;
    bool hasOwnerAccess = false, hasPivot = false;
    bool allColumns = false;                 // the options ask for every column ("*")
    bool anyValue = false;                   // some value was read
    // The kind of statement: the type row's, else the catalog flags', else a select.
    int statementKind = kSelectStatement;

    // Starts a query: its catalog flags (16 crosstab, 32 delete, 48 update,
    // 64 append, 80 make-table, 96 data definition, 112 pass-through, 128
    // union, with other bits beside them) give the query's kind until a type
    // row says otherwise.
    explicit queryClauses(uint32_t queryFlags = 0);
};

// Dispatches one row on its row word and stores its values in the clauses.
void ApplyQueryRow(queryClauses& clauses, const CMDBRecovery::QueryRow& row);

// After the last row: every column ("*") when the options ask for it, and
// the final-comma clean-up.
void FinishQueryClauses(queryClauses& clauses);

// Joins the clause texts by statementKind, with the PARAMETERS declaration
// before them; the empty text when no row gave a value. Throws
// std::runtime_error for a union query with fewer than two parts.
std::string AssembleQueryStatement(const queryClauses& clauses);

}  // namespace talmera
