// The object catalog (MSysObjects): its rows are read straight from the catalog
// data pages with the catalog's row layout built in, so that a catalog whose own
// definition page is damaged is still read. Rows that cannot be understood are
// passed over one by one, never the whole page.
#include <algorithm>
#include <array>
#include <string_view>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "platform/LittleEndian.h"
#include "platform/TextCodec.h"

namespace talmera {

namespace {

constexpr std::array<std::string_view, 28> kSystemTableNames = {
    "MSysAccessObjects", "MSysAccessXML", "MSysIMEXSpecs", "MSysCmdbars", "MSysIMEXColumns",
    "MSysACEs", "MSysObjects", "MSysQueries", "MSysRelationships", "MSysModules",
    "MSysModules2", "MSysToolbars", "MSysCmdbars1", "MSysComplexColumns",
    "MSysComplexType_UnsignedByte", "MSysComplexType_Short", "MSysComplexType_Long",
    "MSysComplexType_IEEESingle", "MSysComplexType_IEEEDouble", "MSysComplexType_GUID",
    "MSysComplexType_Decimal", "MSysComplexType_Text", "MSysComplexType_Attachment",
    "MSysNavPaneGroups", "MSysNavPaneGroupCategories", "MSysNavPaneGroupToObjects",
    "MSysNavPaneObjectIDs", "MSysAccessStorage"};

enum class Kind { Form, Table, Macro, Report, Query, Link, Module, Other };

// MSysObjects has 17 columns: its rows end with a null mask of 3 bytes.
constexpr uint32_t kCatalogNullMaskBytes = 3;

// A row of one catalog page, with reads bounded by the row.
struct RowView {
    const uint8_t* page;
    uint32_t start;
    uint32_t end;  // one past the row's last byte
    RowFrame frame;
    RowView(const uint8_t* p, uint32_t s, uint32_t e, bool jet4) : page(p), start(s), end(e) {
        FrameShape shape;
        shape.nullMaskBytes = kCatalogNullMaskBytes;
        frame.read(page + start, size(), jet4, shape);
    }
    uint32_t size() const { return end - start; }
    le::Bounded bytes() const { return {page + start, size()}; }
    uint8_t u8(uint32_t rel) const { return bytes().u8(rel); }
    uint16_t u16(uint32_t rel) const { return bytes().u16(rel); }
    uint32_t u24(uint32_t rel) const { return bytes().u24(rel); }
    uint32_t u32(uint32_t rel) const { return bytes().u32(rel); }
    // Offset of variable column k, read at its place in the offset table
    // (also where a damaged count says there are fewer variable columns).
    uint32_t varOffset(int k) const { return frame.offsetAt(static_cast<uint32_t>(k)); }
    // Bytes [from, to) of the row, clipped to the row.
    std::string_view bytes(uint32_t from, uint32_t to) const {
        to = std::min(to, size());
        if (from >= to) return {};
        return {reinterpret_cast<const char*>(page + start + from), to - from};
    }
};

}  // namespace

int CMDBRecovery::ScanCatalogPage(uint64_t pagePosition) {
    std::vector<uint8_t> page(pageSize);
    databaseFile.read(pagePosition, pageSize, page.data());
    const SlotTable slots(page.data(), page.size(), Layout());
    if (slots.empty()) return 0;

    bool previousEntry = true;
    int result = 0;
    complexColumnsTableId = 0;
    uint32_t complexIdOnPage = 0;
    const uint32_t w = jet4Layout ? 2 : 1;
    for (const Slot& slot : slots) {
        if (Stopped()) return 0;
        // A deleted entry names a table that was dropped: its definition
        // page may still be there, and is no table without a catalog entry.
        if (slot.kind == SlotKind::Deleted) {
            if (slot.hasBytes() && slot.size() > w + 8 && page[slot.start + w + 8] == 0x01) {
                catalogDefinitionIds.push_back(le::U32(page.data() + slot.start + w));
            }
            continue;
        }
        // A pointer holds no catalog entry (a moved entry is read where it
        // now lies, from its 0x8000 slot), but it stands for one row.
        if (slot.kind == SlotKind::OverflowPointer) {
            ++catalogRowsSeen;
            continue;
        }
        if (slot.inRowArea && slot.start == slot.end) continue;  // an empty row
        if (!slot.hasBytes()) {
            ++statistics.catalogRowsSkipped;
            continue;
        }
        if (slot.kind == SlotKind::Row) ++catalogRowsSeen;
        // A row whose bytes are all zeros was wiped: it is no form.
        if (std::all_of(page.begin() + slot.start, page.begin() + slot.end, [](uint8_t b) { return b == 0; })) {
            ++statistics.catalogRowsSkipped;
            continue;
        }
        complexColumnsTableId = 0;
        ParseCatalogRow(page.data(), pagePosition, slot.start, slot.end, previousEntry, result);
        if (complexColumnsTableId) complexIdOnPage = complexColumnsTableId;
    }
    if (complexIdOnPage && catalogReaders.complexColumnsFound) catalogReaders.complexColumnsFound(*this, complexIdOnPage);
    complexColumnsTableId = complexIdOnPage;
    return result;
}

void CMDBRecovery::ParseCatalogRow(const uint8_t* page, uint64_t pagePosition, uint32_t start, uint32_t end,
                                   bool& previousEntry, int& result) {
    const RowView row(page, start, end, jet4Layout);
    const uint32_t w = jet4Layout ? 2 : 1;
    const uint32_t catalogId = row.u32(w);
    const uint8_t typeLow = row.u8(w + 8);
    const uint8_t typeHigh = row.u8(w + 9);

    Kind kind = Kind::Other;
    switch (typeLow) {
        case 0x00: kind = Kind::Form; break;
        case 0x01: kind = Kind::Table; break;
        case 0x02: kind = Kind::Macro; break;
        // A report's type is 0x8004, an ODBC link's 0x0004. The catalog id
        // cannot tell them apart: every object without a definition page has
        // an id with the top bit set, links included.
        case 0x04: kind = typeHigh == 0x80 ? Kind::Report : Kind::Link; break;
        case 0x05: kind = Kind::Query; break;
        case 0x06: kind = Kind::Link; break;
        case 0x07: kind = Kind::Module; break;
        default: break;
    }
    if (kind == Kind::Other) return;

    auto simpleName = [&]() {
        const uint32_t o0 = row.varOffset(0);
        const uint32_t o1 = row.varOffset(1);
        std::string_view raw = row.bytes(o0, o1);
        return DecodeStoredText(reinterpret_cast<const uint8_t*>(raw.data()), raw.size());
    };

    switch (kind) {
        case Kind::Form: {
            ++app.formCount;
            app.formNames.push_back(simpleName());
            return;
        }
        case Kind::Macro: {
            ++app.macroCount;
            std::string name = simpleName();
            if (name != "MSysDb") app.macroNames.push_back(std::move(name));
            return;
        }
        case Kind::Report: {
            ++app.reportCount;
            app.reportNames.push_back(simpleName());
            return;
        }
        case Kind::Module: {
            ++app.moduleCount;
            app.moduleNames.push_back(simpleName());
            return;
        }
        case Kind::Query: {
            queryInfo q;
            if (jet4Layout) q.queryFlags = row.u32(28);
            q.name = simpleName();
            if (startsWith(q.name, "~")) return;
            q.catalogId = catalogId;
            if (IsPrintableName(q.name)) ++attempt_.verifiedQueries;
            queries.push_back(std::move(q));
            result = 1;
            ++app.queryCount;
            return;
        }
        default: break;
    }

    // Tables and links.
    const bool link = kind == Kind::Link;
    if (!link) catalogDefinitionIds.push_back(catalogId);
    uint32_t o5 = 0, o4 = 0, o3 = 0;
    if (link) {
        o5 = row.varOffset(5);
        o4 = row.varOffset(4);
        o3 = row.varOffset(3);
    }
    const uint32_t o2 = row.varOffset(2);
    const uint32_t o1 = row.varOffset(1);
    const uint32_t o0 = row.varOffset(0);
    if (o2 < o1) {
        ++statistics.catalogRowsSkipped;
        return;
    }
    uint32_t nameStart = o0;
    uint32_t nameLength = o1 > o0 ? o1 - o0 : 0;
    if (jet4Layout && (o0 != 32 || o0 >= o1)) {
        // The offset table is damaged: find the name's end from where the
        // high bytes of UCS-2 characters stop being zero.
        nameStart = 32;
        nameLength = 0;
        const uint32_t v = o2;
        if (v > 32) {
            bool hit = false;
            uint32_t latestEnd = 32, recorded = 32;
            for (uint32_t q = 32; q + 1 < row.size(); q += 2) {
                if (row.u8(q + 1) != 0) {
                    recorded = hit ? latestEnd : 32;
                    latestEnd = q + 2;
                    hit = true;
                    if (latestEnd >= v) break;
                }
            }
            if (hit && latestEnd >= recorded + 2) nameLength = latestEnd - recorded - 2;
        }
    }
    const uint8_t flagsHigh = nameStart > 0 ? row.u8(nameStart - 1) : 0;
    std::string_view rawName = row.bytes(nameStart, nameStart + nameLength);
    std::string name = DecodeStoredText(reinterpret_cast<const uint8_t*>(rawName.data()), rawName.size());
    const bool storedNameReadable = IsPrintableName(name);
    if (name.empty()) name = "RecoveredTable" + std::to_string(unnamedTableCounter++);

    if (equalsIgnoreCase(name, "MSysAccessStorage")) storageTableId = catalogId;
    if (equalsIgnoreCase(name, "MSysComplexColumns")) {
        complexColumnsTableId = catalogId;
        attempt_.aceStructures = true;
    }

    // Variable column 2: a long-value header (length, flags, row, page).
    const uint16_t headerLength = row.u16(o2);
    const uint16_t headerFlags = row.u16(o2 + 2);
    const uint8_t headerRow = row.u8(o2 + 4);
    const uint32_t headerPage = row.u24(o2 + 5);

    if (flagsHigh == 0x80) {
        if (CheckUserTable(name, catalogId)) {
            systemTableInfo s;
            s.name = name;
            s.definitionPage = catalogId;
            s.propertyLength = headerLength;
            s.propertyFlags = headerFlags;
            s.propertyRow = headerRow;
            s.propertyPage = headerPage;
            systemTables.push_back(std::move(s));
        }
        if (startsWith(name, "~")) previousEntry = false;
        return;
    }

    const bool taken = !startsWith(name, "~") && previousEntry;
    previousEntry = true;
    if (!taken) return;
    result = 1;

    if (link) {
        LinkedTableInfo l;
        l.linkName = name;
        l.databasePage = headerPage;
        l.databaseRow = headerRow;
        l.databaseLength = headerLength;
        l.databaseFlags = headerFlags;
        const bool column2 = o3 > o2;
        if (column2 && headerFlags == 0x8000) {
            std::string_view col2 = row.bytes(o2, o3);
            std::string_view value = col2.substr(col2.size() - std::min<size_t>(col2.size(), headerLength));
            const auto* p = reinterpret_cast<const uint8_t*>(value.data());
            if (value.size() >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
                l.databasePath = codePageToUtf8(p + 2, value.size() - 2, app.codePage);
            } else if (jet4Layout) {
                l.databasePath = ucs2ToUtf8(p, value.size());
            } else {
                l.databasePath = codePageToUtf8(p, value.size(), app.codePage);
            }
        }
        // A Connect value can also stand without a Database value (an ODBC
        // link keeps its whole connection there).
        l.connectPosition = (column2 || o4 > o3) && o3 >= 4 ? pagePosition + start + o3 - 4 : 0;
        const bool connectIsLongValue = o4 >= o3 && o4 - o3 == 12 && row.u16(o3 + 2) == 0x8000;
        if (!connectIsLongValue) {
            std::string_view foreign = row.bytes(o4, o5);
            l.foreignName = DecodeStoredText(reinterpret_cast<const uint8_t*>(foreign.data()), foreign.size());
        }
        if (storedNameReadable) ++attempt_.verifiedLinks;
        linkedTables.push_back(std::move(l));
        return;
    }

    // A name Access cannot have written (control characters, NUL, invalid
    // text, too long): the table is saved under a generated one.
    std::vector<uint8_t> storedName;
    if (!rawName.empty() && !IsPlausibleStoredName(reinterpret_cast<const uint8_t*>(rawName.data()), rawName.size())) {
        storedName.assign(rawName.begin(), rawName.end());
        name = "RecoveredTable" + std::to_string(unnamedTableCounter);
    }
    if (!CheckUserTable(name, catalogId)) {
        if (!IsSystemTableName(name)) {
            ++statistics.tablesRejected;
            statistics.rejectedTables.push_back({name, catalogId});
        }
        return;
    }
    if (!storedName.empty()) ++unnamedTableCounter;
    ++app.tableCount;
    ++attempt_.verifiedTables;
    tableInfo t;
    t.name = name;
    if (!storedName.empty()) {
        t.nameRepair = NameRepair::Generated;
        t.storedName = std::move(storedName);
    }
    t.definitionPage = catalogId;
    t.recordCount = tdefRowCount;
    t.definitionRecordCount = tdefRowCount;
    t.definitionRecordCountRead = true;
    t.columnCount = 0;
    t.catalogPagePosition = pagePosition;
    t.propertyLength = headerLength;
    t.propertyFlags = headerFlags;
    t.propertyRow = headerRow;
    t.propertyPage = headerPage;
    tables.push_back(std::move(t));
    ReadTableDefinition(catalogId);
    if (catalogReaders.tableRead) catalogReaders.tableRead(*this, tables.back());
    if (jet4Layout) BuildDeletedRows();
    ++tableOrdinal;
}

bool IsSystemTableName(const std::string& name) {
    for (std::string_view system : kSystemTableNames) {
        if (equalsIgnoreCase(name, system)) return true;
    }
    return startsWith(name, "MSys") || name == "fVersionHistory";
}

bool CMDBRecovery::CheckUserTable(const std::string& name, uint32_t catalogId) {
    if (name.empty() || IsSystemTableName(name)) return false;
    const uint64_t pos = static_cast<uint64_t>(catalogId) * pageSize;
    if (pos >= fileLength) return false;
    if (databaseFile.u8(pos) != 0x02) return false;
    tdefRowCount = 0;
    uint8_t tableType;
    if (jet4Layout) {
        tdefRowCount = databaseFile.u32(pos + 16);
        tableType = databaseFile.u8(pos + 40);
        definitionCursor = pos + 41;
    } else {
        tdefRowCount = databaseFile.u32(pos + 12);
        tableType = databaseFile.u8(pos + 20);
        definitionCursor = pos + 21;
    }
    return tableType == 0x4E;
}

}  // namespace talmera
