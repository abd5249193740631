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
    kParameterStatement = 9,
};

struct queryClauses {
    // Clause texts
    std::string head = "SELECT ";
    std::string selectList;
    std::string crosstabValue;
    std::string pivotList;
    std::string fromWord = " FROM ";
    std::string fromList;                    // finished table entries, each followed by ","
    std::string tableEntry;                  // the entry of the current table row
    std::vector<std::string> tableNames;     // finished table entries, in order
    std::string joinText;                    // the join of the current join row
    std::string joinChain;                   // finished joins
    std::string whereList, groupList, havingList, orderList;
    std::string topValue;
    std::string paramList;
    std::string paramType;                   // type word of the last parameter row
    std::string makeTableTarget, appendTarget;
    std::string ddlText;
    std::vector<std::string> passThroughValues;
    std::vector<std::string> outputValues;   // output-column values of append and update queries
    std::string unionWord;
    std::string transformWord;
    std::string firstTable;                  // first entry of tableNames, after the last row

    // Flags
    bool isCrosstab = false, isUpdate = false, isAppend = false, isUnion = false;
    bool hasWhere = false, hasGroup = false, hasHaving = false, hasOrder = false;
    bool hasTop = false, isPercent = false, isDistinct = false, isDistinctRow = false;
    bool hasOwnerAccess = false, hasPivot = false;
    bool hasInnerJoin = false, hasLeftJoin = false, hasRightJoin = false;
    bool hasSourceTable = false;
    bool anyValue = false;                   // some value was read
    int statementKind = kSelectStatement;
    int pendingKind = kSelectStatement;      // kind of the last type or parameter row

    // Starts a query: its catalog flags (16 crosstab, 48 update, 64 append,
    // 128 union) set the query's kind flags.
    explicit queryClauses(uint32_t queryFlags = 0);
};

// Dispatches one row on its row word and stores its values in the clauses.
void ApplyQueryRow(queryClauses& clauses, const CMDBRecovery::QueryRow& row);

// After the last row: the first table and the final-comma clean-up.
void FinishQueryClauses(queryClauses& clauses);

// Joins the clause texts by statementKind; the empty text when no row gave a
// value. Throws std::runtime_error for a union query with fewer than two
// table entries.
std::string AssembleQueryStatement(const queryClauses& clauses);

}  // namespace talmera
