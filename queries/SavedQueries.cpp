// The saved-query pass: each query's rows in MSysQueries are collected
// (QueryCatalog.cpp), turned into clause texts (SqlClauses.cpp) and joined
// into one statement (QueryStatement.cpp), kept as the query's sqlText.
#include <stdexcept>

#include "engine/ApplicationState.h"
#include "platform/MessageReceiver.h"
#include "queries/Queries.h"
#include "queries/SqlClauses.h"

namespace talmera {

namespace {

// Values read for one query beyond this many bytes are damage (Access keeps a
// query's SQL under 64K characters); the rows after it are not read.
constexpr size_t kMaxQueryValueBytes = 4u << 20;

using QueryRow = CMDBRecovery::QueryRow;
using QueryRowValue = CMDBRecovery::QueryRowValue;

}  // namespace

std::string QueryReader::RebuildQueryText(const queryInfo& query, std::string* connect) {
    CollectQueryRows(query.catalogId);
    const std::vector<size_t> order = QueryRowOrder();
    queryClauses clauses(query.queryFlags);
    size_t bytes = 0;
    QueryRow row;
    for (size_t position : order) {
        if (!ReadQueryRow(position, row)) continue;
        for (const QueryRowValue& v : row.values) bytes += v.text.size();
        if (bytes > kMaxQueryValueBytes) break;
        ApplyQueryRow(clauses, row);
    }
    queryRowSpans.clear();
    queryEndMarkerCount = 0;
    FinishQueryClauses(clauses);
    if (connect) *connect = clauses.statementKind == kPassThroughStatement ? clauses.typeName1 : std::string();
    return AssembleQueryStatement(clauses);
}

void QueryReader::ReadSavedQueries() {
    queryRebuildNotes.clear();
    engine_.SendProgress(kProgressStart, static_cast<intptr_t>(queries.size()));
    for (queryInfo& query : queries) {
        if (engine_.Stopped()) return;
        // A query whose statement cannot be built gets no text; the others
        // are still rebuilt.
        try {
            query.sqlText = RebuildQueryText(query, &query.connect);
        } catch (const std::exception& error) {
            query.sqlText.clear();
            query.connect.clear();
            queryRowSpans.clear();
            queryEndMarkerCount = 0;
            queryRebuildNotes.push_back("The SQL text of query " + query.name + " cannot be rebuilt: " + error.what() +
                                        ".");
        }
        engine_.SendProgress(kProgressStep);
    }
    engine_.SendProgress(kProgressEnd);
    // A silent re-reading writes no log lines.
    if (!engine_.app.rescan && engine_.mainWindow) {
        for (const std::string& note : queryRebuildNotes) engine_.Log(note);
    }
}

}  // namespace talmera
