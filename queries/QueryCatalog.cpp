// The rows of saved queries in MSysQueries: which rows belong to a query, the
// order in which the rebuild takes them, and the values of one row.
//
// The rows are read straight from the data pages of MSysQueries
// (queryCatalogPages) with the table's fixed row layout; its definition is not
// consulted. Every position comes from a possibly damaged page and is bounded
// by the page and the row before use.
#include <algorithm>

#include "engine/MDBRecovery.h"
#include "platform/LittleEndian.h"
#include "queries/Queries.h"

namespace talmera {

namespace {

constexpr uint8_t kEndRow = 255;
// More rows than any query Access can store (255 output columns, 32 tables,
// their joins, conditions and orderings); further rows of one query are not read.
constexpr size_t kMaxRowsPerQuery = 8192;
// Longest value one slot may yield: Access keeps a query's SQL under 64K
// characters, so a claimed length beyond this is damage.
constexpr uint32_t kMaxValueBytes = 1u << 20;


// MSysQueries has 7 or 8 columns: its rows end with a one-byte null mask.
constexpr uint32_t kQueryNullMaskBytes = 1;

}  // namespace

QueryReader::QueryReader(CMDBRecovery& engine)
    : engine_(engine), databaseFile(engine.databaseFile), fileOpened(engine.fileOpened), pageSize(engine.pageSize),
      fileLength(engine.fileLength), jet4Layout(engine.jet4Layout), queryCatalogPages(engine.queryCatalogPages),
      queries(engine.queries), queryRebuildNotes(engine.queryRebuildNotes) {}

// Where the row of slot `index` of a data page lies: its first and last byte.
// slots: the page's slot table. A moved row (0x8000) is read only through the
// pointer that leads to it; an overflow pointer is followed once, to the row
// it names on another data page.
static bool queryRowExtent(const CMDBRecovery& e, uint64_t page, const SlotTable& slots, uint32_t index, int depth,
                           uint64_t& first, uint64_t& last) {
    if (index >= slots.size()) return false;
    const Slot& slot = slots[index];
    if (slot.kind == SlotKind::Deleted || (depth == 0 && slot.kind == SlotKind::OverflowTarget)) return false;
    if (slot.kind == SlotKind::OverflowPointer) {
        if (depth > 0 || !slot.pointerRead) return false;  // a pointer to a pointer is damage
        const uint64_t target = static_cast<uint64_t>(slot.targetPage) * e.pageSize;
        if (target == page || target + e.pageSize > e.fileLength || e.databaseFile.u8(target) != 0x01) return false;
        return queryRowExtent(e, target, e.LoadPageRows(target), slot.targetRow, depth + 1, first, last);
    }
    if (!slot.hasBytes()) return false;
    first = page + slot.start;
    last = page + slot.end - 1;
    return true;
}

void QueryReader::CollectQueryRows(uint32_t catalogId) {
    queryRowSpans.clear();
    queryEndMarkerCount = 0;
    if (!fileOpened) return;
    // ObjectId right after the column count, then Attribute.
    const uint32_t idAt = jet4Layout ? 2 : 1;
    uint32_t counted = 0;
    for (uint64_t page : queryCatalogPages) {
        if (page + pageSize > fileLength || databaseFile.u8(page) != 0x01) continue;
        const SlotTable slots = LoadPageRows(page);
        for (uint32_t i = 0; i < slots.size(); ++i) {
            uint64_t first = 0, last = 0;
            if (!queryRowExtent(engine_, page, slots, i, 0, first, last)) continue;
            if (last - first + 1 < idAt + 5) continue;
            if (databaseFile.u32(first + idAt) != catalogId) continue;
            const uint8_t attribute = databaseFile.u8(first + idAt + 4);
            if (attribute >= 1 && attribute <= 11) {
                if (counted >= kMaxRowsPerQuery) continue;
                queryRowSpans.push_back(first);
                queryRowSpans.push_back(last);
                ++counted;
            } else if (attribute == kEndRow) {
                queryEndMarkerCount = counted;
            }
        }
    }
}

// Type rows: Attribute 1 with a query type 1 to 9 in the Flag byte.
static bool isTypeRow(uint16_t rowWord) { return (rowWord & 0xFF) == 1 && (rowWord >> 8) >= 1 && (rowWord >> 8) <= 9; }

std::vector<size_t> QueryReader::QueryRowOrder() const {
    const size_t rows = queryRowSpans.size() / 2;
    std::vector<size_t> order;
    order.reserve(rows);
    // When the end row came after some of the query's rows and the last row
    // collected is the type row, the type row is taken first.
    bool typeFirst = false;
    if (queryEndMarkerCount != 0 && rows > 0) {
        const uint64_t first = queryRowSpans[2 * (rows - 1)];
        const uint16_t word = databaseFile.u16(first + (jet4Layout ? 6 : 5));
        typeFirst = isTypeRow(word);
    }
    if (typeFirst) order.push_back(rows - 1);
    for (size_t r = 0; r + (typeFirst ? 1 : 0) < rows; ++r) order.push_back(r);
    return order;
}

bool QueryReader::ReadQueryRow(size_t position, CMDBRecovery::QueryRow& row) {
    row = CMDBRecovery::QueryRow{};
    if (2 * position + 1 >= queryRowSpans.size()) return false;
    const uint64_t first = queryRowSpans[2 * position];
    const uint64_t last = queryRowSpans[2 * position + 1];
    if (last < first || last - first + 1 > pageSize) return false;
    const uint32_t L = static_cast<uint32_t>(last - first + 1);
    const uint8_t* r = databaseFile.view(first, L);
    const uint32_t wordAt = jet4Layout ? 6 : 5;
    if (!r || L < wordAt + 2) return false;
    row.rowWord = le::U16(r + wordAt);
    row.nullMask = r[L - 1];
    // The fixed area (column count, ObjectId, Attribute, Flag and, in Jet 4,
    // LvExtra) comes before any value.
    const uint32_t fixedEnd = jet4Layout ? 13 : 8;

    // The variable-offset table, read backwards from the null-mask byte:
    // start of each variable column (first column first), then the end of
    // the variable data (engine/PageRows.h).
    RowFrame frame;
    FrameShape shape;
    shape.nullMaskBytes = kQueryNullMaskBytes;
    shape.fixedEnd = fixedEnd;
    frame.read(r, L, jet4Layout, shape);
    const uint32_t n = frame.variables();
    const uint32_t tableStart = frame.tableStart();  // values end before it
    if (n == 0) return true;

    // Slot k is variable column n - 1 - k (last column first); its end is the
    // next column's start, or the end of the data. The last stored value (the
    // first column, Order) is not used.
    auto slotBounds = [&](uint32_t k, uint32_t& start, uint32_t& end) {
        const uint32_t column = n - 1 - k;
        start = frame.offset(column);
        end = frame.offset(column + 1);
        if (start < fixedEnd || end > tableStart || end <= start) end = start = 0;
    };
    uint32_t start0 = 0, end0 = 0;
    slotBounds(0, start0, end0);
    const bool memoMode = end0 - start0 >= 12;

    for (uint32_t k = 0; k + 1 < n; ++k) {
        uint32_t start = 0, end = 0;
        slotBounds(k, start, end);
        if (end == start) continue;
        CMDBRecovery::QueryRowValue value;
        value.slot = k;
        if (memoMode && k == 0) {
            // A memo header: the value in the row, on one long-value row, or
            // over a chain of long-value pages (read along its chain).
            value.memoHeader = true;
            std::vector<uint8_t> column(r + start, r + end);
            const uint32_t raw = le::U32(column.data());
            const uint32_t flags = raw & 0xC0000000u;
            if (flags != 0x80000000u && (raw & 0x3FFFFFFF) > kMaxValueBytes) {
                const uint32_t capped = flags | kMaxValueBytes;
                for (int b = 0; b < 4; ++b) column[b] = static_cast<uint8_t>(capped >> (8 * b));
            }
            RowValue scratch;
            value.text = engine_.ReadMemoValue(column.data(), column.size(), true, scratch);
            // A value whose long-value row or chain cannot be found reads as
            // nothing: the slot has no readable value.
            if (value.text.empty()) continue;
        } else {
            value.text = DecodeTextBytes(r + start, end - start);
            const size_t zero = value.text.find('\0');
            if (zero != std::string::npos) value.text.resize(zero);
        }
        row.values.push_back(std::move(value));
    }
    return true;
}

}  // namespace talmera
