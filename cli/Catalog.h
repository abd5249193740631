// The catalog command's output: what a scan found, as JSON or as a listing.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>
#include "engine/CatalogRecords.h"

namespace talmera {
class CMDBRecovery;
struct CQuorvinAccessRecoveryApp;
}

namespace talmera::cli {

// Tables the deleted-records pass adds carry this in their name.
inline constexpr const char* kDeletedRecordsMarker = kDeletedRecordsSuffix;

// "jet3", "jet4" or "ace".
std::string formatName(const CMDBRecovery& engine);

// A readable name of a column type code ("Long Integer", "Text", ...); an
// unknown code reads "type 0xNN".
std::string columnTypeName(uint8_t type);

// The scan's findings as one JSON object (keys in a fixed order). Tables of the
// deleted-records pass are included only when includeDeleted is set. A table's
// deletedRows is the number of entries of its deleted-row list: only tables of
// the deleted-records pass have one, and besides the deleted slots it holds
// the entries that bound them, so it exceeds their recordCount.
nlohmann::ordered_json catalogJson(CMDBRecovery& engine, const CQuorvinAccessRecoveryApp& app,
                                   bool includeDeleted);

// The same findings as a readable listing, one block per table.
void printCatalogListing(std::ostream& out, const CMDBRecovery& engine,
                         const CQuorvinAccessRecoveryApp& app, bool includeDeleted);

// The saved queries: one line per query, its name, a tab and its SQL text,
// both escaped as preview's tab-separated lines are; or with json one array of
// {"name", "sql"} objects, with "sqlite", the SELECT of the query's view, for
// each query a repair makes a view of.
void printQueries(std::ostream& out, const CMDBRecovery& engine, bool json);

}  // namespace talmera::cli
