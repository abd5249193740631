// The saved queries: their rows in MSysQueries, read straight from its data
// pages (queryCatalogPages) through the engine's core, and the SQL text
// rebuilt from them (SqlClauses.h). What is found is kept in the engine: each
// query's sqlText, and queryRebuildNotes for the log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/MDBRecovery.h"

namespace talmera {

class QueryReader {
public:
    explicit QueryReader(CMDBRecovery& engine);

    // Rebuilds each saved query's SQL text (SavedQueries.cpp).
    void ReadSavedQueries();
    // The SQL text of one query from its collected rows (empty when they give
    // no value), and a pass-through query's connect text. Throws
    // std::runtime_error when the statement cannot be built.
    std::string RebuildQueryText(const queryInfo& query, std::string* connect = nullptr);

    // ---- The rows of one query (QueryCatalog.cpp) --------------------------
    // Fills queryRowSpans and queryEndMarkerCount for one query.
    void CollectQueryRows(uint32_t catalogId);
    // Positions of the collected rows in the order the rebuild takes them.
    std::vector<size_t> QueryRowOrder() const;
    // Reads collected row `position`; false when nothing of it is readable.
    bool ReadQueryRow(size_t position, CMDBRecovery::QueryRow& row);

private:
    CMDBRecovery& engine_;
    // Rows of the query being read: the file positions of the first and last
    // byte of each collected row, two per row; and how many of its rows came
    // before its end row (Attribute 255), 0 when none did.
    std::vector<uint64_t> queryRowSpans;
    uint32_t queryEndMarkerCount = 0;

    // The engine's parts these readers use, under the engine's names.
    const PageFile& databaseFile;
    const bool& fileOpened;
    const uint16_t& pageSize;
    const uint64_t& fileLength;
    const bool& jet4Layout;
    const std::vector<uint64_t>& queryCatalogPages;
    std::vector<queryInfo>& queries;
    std::vector<std::string>& queryRebuildNotes;
    SlotTable LoadPageRows(uint64_t pagePosition) const { return engine_.LoadPageRows(pagePosition); }
    std::string DecodeTextBytes(const uint8_t* data, size_t size) const { return engine_.DecodeTextBytes(data, size); }
};

}  // namespace talmera
