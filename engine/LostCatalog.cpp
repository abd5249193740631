// When the header or the catalog is lost. The pages themselves still say how
// the file is laid out (page size and layout from the signatures at page
// starts), and the table definitions still describe their tables: a table
// whose catalog row is gone is found from its definition page and the data
// pages it owns, under a generated name.
#include <algorithm>
#include <array>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "platform/LittleEndian.h"
#include "platform/TextCodec.h"

namespace talmera {

namespace {

constexpr uint8_t kDataPage = 0x01;
constexpr uint8_t kDefinitionPage = 0x02;
constexpr uint32_t kLvalOwner = 0x4C41564C;  // "LVAL" read as a little-endian number
constexpr uint8_t kUserTableType = 0x4E;     // 'N'
constexpr uint8_t kSystemTableType = 0x53;   // 'S': MSysObjects, MSysACEs, MSysQueries, MSysRelationships
constexpr uint32_t kCatalogDefinition = 2;   // MSysObjects' definition page

// Where a definition keeps its header fields in each layout.
struct DefinitionFields {
    uint32_t rowCount, tableType, variableColumns, columnCount, logicalIndexes, realIndexes;
};
constexpr DefinitionFields kJet4Definition{16, 40, 43, 45, 47, 51};
constexpr DefinitionFields kJet3Definition{12, 20, 23, 25, 27, 31};

// Access allows 255 columns and 32 indexes a table; counts far beyond that
// are no definition's.
constexpr uint32_t kMaxColumns = 255;
constexpr uint32_t kMaxRealIndexes = 64;
constexpr uint32_t kMaxLogicalIndexes = 256;
// Pages looked at to tell the page size from the signatures: enough for a
// clear majority, few enough to stay quick on a large file.
constexpr uint64_t kLayoutSample = 8192;

// The system tables Access keeps without a user's table type, told apart by
// their columns as the catalog would tell them by their names and flags.
struct SystemSignature {
    std::string_view name;
    std::array<std::string_view, 17> columns;
};
constexpr SystemSignature kSystemSignatures[] = {
    {"MSysObjects", {"Id", "ParentId", "Name", "Type", "DateCreate", "DateUpdate", "Owner", "Flags", "Database",
                     "Connect", "ForeignName", "RmtInfoShort", "RmtInfoLong", "Lv", "LvProp", "LvModule", "LvExtra"}},
    {"MSysACEs", {"ObjectId", "SID", "ACM", "FInheritable"}},
    {"MSysQueries", {"ObjectId", "Attribute", "Order", "Name1", "Name2", "Expression", "Flag", "LvExtra"}},
    {"MSysQueries", {"ObjectId", "Attribute", "Order", "Name1", "Name2", "Expression", "Flag"}},
    {"MSysRelationships", {"szRelationship", "grbit", "ccolumn", "icolumn", "szObject", "szColumn",
                           "szReferencedObject", "szReferencedColumn"}},
    {"MSysComplexColumns", {"ColumnName", "ComplexID", "ComplexTypeObjectID", "ConceptualTableID", "FlatTableID"}},
    {"MSysComplexType", {"Value"}},
    {"MSysAccessStorage", {"DateCreate", "DateUpdate", "Id", "Lv", "Name", "ParentId", "Type"}},
    {"MSysAccessObjects", {"Data", "ID"}},
    {"MSysAccessXML", {"Id", "LValue", "ObjectGuid", "ObjectName", "Property", "Value"}},
    {"MSysResources", {"Data", "Extension", "Id", "Name", "Type"}},
    {"MSysNameMap", {"GUID", "Id", "Name", "NameMap", "Type"}},
    {"MSysNavPaneGroupCategories", {"Filter", "Flags", "Id", "Name", "Position", "SelectedObjectID", "Type"}},
    {"MSysNavPaneGroups", {"Flags", "GroupCategoryID", "Id", "Name", "Object Type Group", "ObjectID", "Position"}},
    {"MSysNavPaneGroupToObjects", {"Flags", "GroupID", "Icon", "Id", "Name", "ObjectID", "Position"}},
    {"MSysNavPaneObjectIDs", {"Id", "Name", "Type"}},
    {"MSysCmdbars", {"Grptbcd", "TbName"}},
    {"MSysIMEXColumns", {"Attributes", "DataType", "FieldName", "IndexType", "SkipColumn", "SpecID", "Start",
                         "Width"}},
    {"MSysIMEXSpecs", {"DateDelim", "DateFourDigitYear", "DateLeadingZeros", "DateOrder", "DecimalPoint",
                       "FieldSeparator", "FileType", "SpecID", "SpecName", "SpecType", "StartRow", "TextDelim",
                       "TimeDelim"}},
    {"MSysModules", {"Flags", "Form", "Module", "Name", "ReplicationVersion", "Type", "TypeInfo", "Version"}},
};

// The columns a complex column's value table holds beside its two keys.
constexpr std::string_view kAttachmentValueColumns[] = {"FileData", "FileFlags", "FileName",
                                                       "FileTimeStamp", "FileType", "FileURL"};

bool SameColumns(const tableInfo& table, const std::array<std::string_view, 17>& names) {
    size_t count = 0;
    for (std::string_view n : names) count += n.empty() ? 0 : 1;
    if (count != table.columns.size()) return false;
    for (std::string_view n : names) {
        if (n.empty()) continue;
        const bool found = std::any_of(table.columns.begin(), table.columns.end(),
                                       [&](const columnInfo& c) { return equalsIgnoreCase(c.name, n); });
        if (!found) return false;
    }
    return true;
}

// Where a user's table may have the same few column names as a system table,
// the system table's column types (and format) tell them apart: a user's
// table "ID, Data" of text is not MSysAccessObjects, whose Data is
// binary, and one "Value" column is a complex type only in ACE files.
bool SystemTypesFit(const tableInfo& table, std::string_view name, bool ace) {
    auto typeOf = [&](std::string_view column) -> int {
        for (const columnInfo& c : table.columns) {
            if (equalsIgnoreCase(c.name, column)) return c.type;
        }
        return -1;
    };
    if (name == "MSysAccessObjects") {
        // Access keeps Data as type 0x11 (a binary of up to 3,996 bytes).
        const int data = typeOf("Data");
        return (data == kJetOle || data == kJetBinary || data == kJetAttachment) && typeOf("ID") == kJetLong;
    }
    if (name == "MSysComplexType") return ace;
    return true;
}

// A value table: "Value" (or the six attachment columns) and the two Long
// keys Access adds, "<table>_<column>" and "_<column>".
bool IsValueTable(const tableInfo& table) {
    size_t values = 0, attachment = 0, keys = 0;
    for (const columnInfo& c : table.columns) {
        if (equalsIgnoreCase(c.name, "Value")) {
            ++values;
        } else if (std::any_of(std::begin(kAttachmentValueColumns), std::end(kAttachmentValueColumns),
                               [&](std::string_view n) { return equalsIgnoreCase(c.name, n); })) {
            ++attachment;
        } else if (c.type == kJetLong && c.name.find('_') != std::string::npos) {
            ++keys;
        } else {
            return false;
        }
    }
    const bool shape = (values == 1 && attachment == 0) || (values == 0 && attachment == 6);
    return shape && keys == 2;
}

bool KnownColumnType(uint8_t type) {
    switch (type) {
        case kJetBoolean: case kJetByte: case kJetInteger: case kJetLong: case kJetCurrency: case kJetSingle:
        case kJetDouble: case kJetDateTime: case kJetBinary: case kJetText: case kJetOle: case kJetMemo:
        case kJetGuid: case kJetDecimal: case kJetAttachment: case kJetComplex: case kJetBigInt:
        case kJetDateTimeExtended:
            return true;
        default:
            return false;
    }
}

}  // namespace

// ---- The layout from the pages ----------------------------------------------

uint64_t CMDBRecovery::CountPageSignatures(uint32_t size) const {
    const uint64_t pages = size ? fileLength / size : 0;
    if (pages < 2) return 0;
    const DefinitionFields& d = size == 4096 ? kJet4Definition : kJet3Definition;
    const uint64_t step = std::max<uint64_t>(1, pages / kLayoutSample);
    uint64_t found = 0;
    for (uint64_t p = 1; p < pages; p += step) {
        const uint64_t pos = p * size;
        const uint8_t* head = databaseFile.view(pos, 8);
        if (!head || head[1] != 0x01) continue;
        const uint32_t link = le::U32(head + 4);
        if (head[0] == kDataPage) {
            // A data page names its table's definition page, which must be one.
            if (link == kLvalOwner) {
                ++found;
            } else if (link > 0 && link < pages) {
                const uint64_t owner = static_cast<uint64_t>(link) * size;
                if (databaseFile.u8(owner) == kDefinitionPage && databaseFile.u8(owner + 1) == 0x01) ++found;
            }
        } else if (head[0] == kDefinitionPage) {
            // The first page of a definition: a table type where this layout keeps it.
            const uint8_t type = databaseFile.u8(pos + d.tableType);
            if ((type == kUserTableType || type == kSystemTableType) && (link == 0 || link < pages)) ++found;
        }
    }
    return found;
}

void CMDBRecovery::ReadLayoutFromPages() {
    layoutFromPages = false;
    const uint64_t jet3 = CountPageSignatures(2048);
    const uint64_t jet4 = CountPageSignatures(4096);
    accessPagesFound = jet3 + jet4 > 0;
    // Only a clear majority overrides what the version byte says.
    auto clearly = [](uint64_t a, uint64_t b) { return a >= 2 && a >= 4 * b + 1; };
    const bool pagesSayJet4 = clearly(jet4, jet3);
    const bool pagesSayJet3 = clearly(jet3, jet4);
    if ((pagesSayJet4 && !jet4Layout) || (pagesSayJet3 && jet4Layout)) {
        SetLayout(pagesSayJet4);
        layoutFromPages = true;
        if (!jet4Layout) aceFormat = false;
    }
    // The header's own name for the format, when it is still there.
    const uint8_t* name = databaseFile.view(4, 15);
    if (jet4Layout && !aceFormat && name && std::string_view(reinterpret_cast<const char*>(name), 15) == "Standard ACE DB") {
        aceFormat = true;
    }
}

// ---- Tables without a catalog entry -------------------------------------------

bool CMDBRecovery::CatalogLooksDamaged() {
    if (catalogPages.empty() || attempt_.verifiedTables == 0) return true;
    if (statistics.catalogRowsSkipped > 0) return true;
    // MSysObjects' own definition, where it is readable, counts the catalog's
    // rows and lists its pages: fewer rows, or listed pages that are no
    // longer catalog pages, mean rows were lost.
    const uint64_t definition = static_cast<uint64_t>(kCatalogDefinition) * pageSize;
    if (databaseFile.u8(definition) != kDefinitionPage) return false;
    const DefinitionFields& d = jet4Layout ? kJet4Definition : kJet3Definition;
    if (databaseFile.u8(definition + d.tableType) != kSystemTableType) return false;
    if (databaseFile.u32(definition + d.rowCount) > catalogRowsSeen) return true;
    tableInfo catalog;
    catalog.definitionPage = kCatalogDefinition;
    std::vector<uint32_t> listed;
    if (!ReadUsageMap(catalog, listed)) return false;
    const std::unordered_set<uint64_t> known(catalogPages.begin(), catalogPages.end());
    for (uint32_t page : listed) {
        if (!known.count(static_cast<uint64_t>(page) * pageSize)) return true;
    }
    return false;
}

void CMDBRecovery::RecoverTablesWithoutCatalog() {
    if (!fileOpened || !CatalogLooksDamaged()) return;
    const uint64_t pages = pageCount();
    const DefinitionFields& d = jet4Layout ? kJet4Definition : kJet3Definition;

    std::unordered_set<uint32_t> named(catalogDefinitionIds.begin(), catalogDefinitionIds.end());
    for (const tableInfo& t : tables) named.insert(t.definitionPage);
    for (const systemTableInfo& s : systemTables) named.insert(s.definitionPage);
    // Pages of tables: which definitions own data pages.
    std::unordered_map<uint32_t, uint32_t> owned;
    for (uint64_t pos : otherDataPages) ++owned[databaseFile.u32(pos + 4)];
    // Continuation pages: named as the next page by another definition page.
    std::unordered_set<uint32_t> continuation;
    for (uint64_t p = 1; p < pages; ++p) {
        const uint64_t pos = p * pageSize;
        if (databaseFile.u8(pos) != kDefinitionPage || databaseFile.u8(pos + 1) != 0x01) continue;
        const uint32_t next = databaseFile.u32(pos + 4);
        if (next != 0 && next < pages && next != p) continuation.insert(next);
    }

    for (uint64_t p = 1; p < pages; ++p) {
        if (Stopped()) return;
        const uint64_t pos = p * pageSize;
        const uint32_t page = static_cast<uint32_t>(p);
        if (databaseFile.u8(pos) != kDefinitionPage || databaseFile.u8(pos + 1) != 0x01) continue;
        if (named.count(page) || continuation.count(page) || !owned.count(page)) continue;
        // A definition Access freed belongs to a table that was dropped.
        if (std::binary_search(FreePages().begin(), FreePages().end(), page)) continue;
        const uint8_t tableType = databaseFile.u8(pos + d.tableType);
        if (tableType != kUserTableType && tableType != kSystemTableType) continue;
        const uint32_t columns = databaseFile.u16(pos + d.columnCount);
        if (columns == 0 || columns > kMaxColumns || databaseFile.u16(pos + d.variableColumns) > columns) continue;
        if (databaseFile.u32(pos + d.realIndexes) > kMaxRealIndexes ||
            databaseFile.u32(pos + d.logicalIndexes) > kMaxLogicalIndexes) {
            continue;
        }
        if (tableType == kSystemTableType) {
            // MSysObjects, MSysACEs, MSysQueries or MSysRelationships.
            ++statistics.hiddenTablesWithoutCatalog;
            continue;
        }

        // Read it as the catalog would have had it read; what a rejected
        // candidate passed over is not the file's damage.
        const ScanStatistics before = statistics;
        tableInfo t;
        t.definitionPage = page;
        tdefRowCount = databaseFile.u32(pos + d.rowCount);
        t.recordCount = tdefRowCount;
        t.definitionRecordCount = tdefRowCount;
        t.definitionRecordCountRead = true;
        definitionCursor = pos + d.tableType + 1;
        ReadTableDefinitionInto(t, page);
        bool plausible = !t.columns.empty() && !t.pages.empty();
        std::unordered_set<uint16_t> numbers;
        size_t generated = 0;
        for (const columnInfo& c : t.columns) {
            plausible = plausible && KnownColumnType(c.type) && numbers.insert(c.columnNumber).second;
            generated += c.nameRepair == NameRepair::Generated ? 1 : 0;
        }
        // A definition most of whose names are damaged is no definition.
        plausible = plausible && generated * 2 <= t.columns.size();
        if (!plausible) {
            statistics = before;
            continue;
        }

        // System and value tables are kept apart from the user's, as their
        // catalog rows (system flags, MSys names) would have kept them.
        const SystemSignature* system = nullptr;
        for (const SystemSignature& s : kSystemSignatures) {
            if (SameColumns(t, s.columns) && SystemTypesFit(t, s.name, aceFormat)) {
                system = &s;
                break;
            }
        }
        if (system || IsValueTable(t)) {
            ++statistics.hiddenTablesWithoutCatalog;
            if (system && system->name == "MSysComplexColumns") {
                attempt_.aceStructures = true;
                if (catalogReaders.complexColumnsFound) catalogReaders.complexColumnsFound(*this, page);
            }
            if (system && system->name == "MSysAccessStorage" && storageTableId == 0) storageTableId = page;
            if (!system) {
                // Its name is lost with its catalog row; the complex columns
                // find it by its page.
                systemTableInfo s;
                s.name = "f_RecoveredValueTable" + std::to_string(page);
                s.definitionPage = page;
                systemTables.push_back(std::move(s));
            }
            continue;
        }

        t.name = "RecoveredTable" + std::to_string(unnamedTableCounter++);
        t.foundWithoutCatalog = true;
        ++app.tableCount;
        ++attempt_.recoveredTables;
        ++statistics.tablesWithoutCatalog;
        tables.push_back(std::move(t));
        if (catalogReaders.tableRead) catalogReaders.tableRead(*this, tables.back());
        if (jet4Layout) BuildDeletedRows();
        ++tableOrdinal;
    }
}

}  // namespace talmera
