// The rows of saved queries in MSysQueries: which rows belong to a query, the
// order in which the rebuild takes them, and the values of one row.
//
// The rows are read straight from the data pages of MSysQueries
// (queryCatalogPages) with the table's fixed row layout; its definition is not
// consulted. Every position comes from a possibly damaged page and is bounded
// by the page and the row before use.
#include <algorithm>

#include "engine/MDBRecovery.h"

namespace talmera {

namespace {

constexpr uint8_t kEndRow = 255;
// More rows than any query Access can store (255 output columns, 32 tables,
// their joins, conditions and orderings); further rows of one query are not read.
constexpr size_t kMaxRowsPerQuery = 8192;
// Longest value one slot may yield: Access keeps a query's SQL under 64K
// characters, so a claimed length beyond this is damage.
constexpr uint32_t kMaxValueBytes = 1u << 20;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

bool skippedSlot(uint16_t entry) {
    const uint16_t top = entry >> 12;
    return top == 0x8 || top == 0xC || top == 0xD;
}

}  // namespace

// Where the row of slot `index` on the data page at `page` lies: its first and
// last byte. A row ends where the nearest earlier slot that still occupies
// bytes begins (deleted rows keep theirs), the first at the page end. An
// overflow pointer (0x4) leads to the row on another data page.
static bool queryRowExtent(const CMDBRecovery& e, uint64_t page, uint32_t index, int depth, uint64_t& first,
                           uint64_t& last) {
    if (page + e.pageSize > e.fileLength || e.databaseFile.u8(page) != 0x01) return false;
    const uint32_t maxSlots = (e.pageSize - e.rowCountOffset - 2) / 2;
    const uint32_t count = std::min<uint32_t>(e.databaseFile.u16(page + e.rowCountOffset), maxSlots);
    if (index >= count) return false;
    auto entryAt = [&](uint32_t k) { return e.databaseFile.u16(page + e.rowCountOffset + 2 + 2 * k); };
    const uint16_t entry = entryAt(index);
    // A moved row (0x8) is read only through the pointer that leads to it.
    if (depth == 0 ? skippedSlot(entry) : ((entry >> 12) == 0xC || (entry >> 12) == 0xD)) return false;
    if ((entry >> 12) == 0x4) {
        if (depth > 0) return false;  // a pointer to a pointer is damage
        const uint64_t at = page + (entry & 0x0FFF);
        if (at + 4 > page + e.pageSize) return false;
        const uint8_t row = e.databaseFile.u8(at);
        const uint64_t target = static_cast<uint64_t>(e.databaseFile.u24(at + 1)) * e.pageSize;
        if (target == page) return false;
        return queryRowExtent(e, target, row, depth + 1, first, last);
    }
    uint32_t end = e.pageSize;
    for (uint32_t k = index; k-- > 0;) {
        const uint16_t previous = entryAt(k);
        if ((previous >> 12) != 0xD) {
            end = previous & 0x0FFF;
            break;
        }
    }
    const uint32_t start = entry & 0x0FFF;
    if (start >= end || end > e.pageSize) return false;
    first = page + start;
    last = page + end - 1;
    return true;
}

void CMDBRecovery::CollectQueryRows(uint32_t catalogId) {
    queryRowSpans.clear();
    queryEndMarkerCount = 0;
    if (!fileOpened) return;
    // ObjectId right after the column count, then Attribute.
    const uint32_t idAt = jet4Layout ? 2 : 1;
    const uint32_t maxSlots = (pageSize - rowCountOffset - 2) / 2;
    uint32_t counted = 0;
    for (uint64_t page : queryCatalogPages) {
        if (page + pageSize > fileLength) continue;
        const uint32_t count = std::min<uint32_t>(databaseFile.u16(page + rowCountOffset), maxSlots);
        for (uint32_t i = 0; i < count; ++i) {
            uint64_t first = 0, last = 0;
            if (!queryRowExtent(*this, page, i, 0, first, last)) continue;
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

std::vector<size_t> CMDBRecovery::QueryRowOrder() const {
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

bool CMDBRecovery::ReadQueryRow(size_t position, QueryRow& row) {
    row = QueryRow{};
    if (2 * position + 1 >= queryRowSpans.size()) return false;
    const uint64_t first = queryRowSpans[2 * position];
    const uint64_t last = queryRowSpans[2 * position + 1];
    if (last < first || last - first + 1 > pageSize) return false;
    const uint32_t L = static_cast<uint32_t>(last - first + 1);
    const uint8_t* r = databaseFile.view(first, L);
    const uint32_t wordAt = jet4Layout ? 6 : 5;
    if (!r || L < wordAt + 2) return false;
    row.rowWord = le16(r + wordAt);
    row.nullMask = r[L - 1];
    // The fixed area (column count, ObjectId, Attribute, Flag and, in Jet 4,
    // LvExtra) comes before any value.
    const uint32_t fixedEnd = jet4Layout ? 13 : 8;

    // The variable-offset table, read backwards from the null-mask byte:
    // start of each variable column (first column first), then the end of
    // the variable data. offsets[i] belongs to variable column i, offsets[n]
    // is the end. Jet 3 keeps one byte per entry and, in rows of 256 bytes or
    // more, a jump table between the count and the entries.
    const uint32_t maskAt = L - 1;
    std::vector<uint32_t> offsets;
    uint32_t n = 0;
    uint32_t tableStart = 0;  // the table's lowest byte: values end before it
    if (jet4Layout) {
        if (maskAt < 2) return true;
        n = le16(r + maskAt - 2);
        const int64_t lowest = static_cast<int64_t>(maskAt) - 4 - 2 * static_cast<int64_t>(n);
        if (lowest < static_cast<int64_t>(fixedEnd)) return true;
        tableStart = static_cast<uint32_t>(lowest);
        offsets.resize(n + 1);
        for (uint32_t k = 0; k <= n; ++k) offsets[k] = le16(r + maskAt - 4 - 2 * k);
    } else {
        if (maskAt < 1) return true;
        n = r[maskAt - 1];
        uint32_t jumps = (L - 1) / 256;
        const int64_t colPtr = static_cast<int64_t>(maskAt) - 2 - jumps;
        if (colPtr - static_cast<int64_t>(n) < static_cast<int64_t>(fixedEnd)) return true;
        tableStart = static_cast<uint32_t>(colPtr - n);
        if ((colPtr - n) / 256 < jumps) --jumps;  // the last jump byte may be a dummy
        offsets.resize(n + 1);
        uint32_t used = 0;
        for (uint32_t i = 0; i <= n; ++i) {
            while (used < jumps && i == r[maskAt - 2 - used]) ++used;
            offsets[i] = r[colPtr - i] + 256u * used;
        }
    }
    if (n == 0) return true;

    // Slot k is variable column n - 1 - k (last column first); its end is the
    // next column's start, or the end of the data. The last stored value (the
    // first column, Order) is not used.
    auto slotBounds = [&](uint32_t k, uint32_t& start, uint32_t& end) {
        const uint32_t column = n - 1 - k;
        start = offsets[column];
        end = offsets[column + 1];
        if (start < fixedEnd || end > tableStart || end <= start) end = start = 0;
    };
    uint32_t start0 = 0, end0 = 0;
    slotBounds(0, start0, end0);
    const bool memoMode = end0 - start0 >= 12;

    for (uint32_t k = 0; k + 1 < n; ++k) {
        uint32_t start = 0, end = 0;
        slotBounds(k, start, end);
        if (end == start) continue;
        QueryRowValue value;
        value.slot = k;
        if (memoMode && k == 0) {
            // A memo header: the value in the row, on one long-value row, or
            // over a chain of long-value pages (read along its chain).
            value.memoHeader = true;
            std::vector<uint8_t> column(r + start, r + end);
            const uint32_t raw = column[0] | (column[1] << 8) | (column[2] << 16) | (static_cast<uint32_t>(column[3]) << 24);
            const uint32_t flags = raw & 0xC0000000u;
            if (flags != 0x80000000u && (raw & 0x3FFFFFFF) > kMaxValueBytes) {
                const uint32_t capped = flags | kMaxValueBytes;
                for (int b = 0; b < 4; ++b) column[b] = static_cast<uint8_t>(capped >> (8 * b));
            }
            RowValue scratch;
            value.text = ReadMemoValue(column.data(), column.size(), true, scratch);
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
