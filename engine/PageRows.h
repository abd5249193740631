// The rows of a data page, as every reader of row pages finds them: the page's
// slot table (which slots hold a row, where each row begins and ends) and the
// frame of one row (its column count, null mask and variable-offset table).
//
// Both work on bytes handed to them, whatever holds those bytes (the mapped
// file, a page copied out, a test's page image), and every position they give
// lies inside what they were given: the slot table's rows inside the page, a
// frame's offsets inside the row. Positions that damage puts elsewhere are
// refused here, once, so that the readers need not each check them again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace talmera {

// ---- Slot entries --------------------------------------------------------
// A slot entry is 16 bits: the row's start within the page in the low 13
// bits, two flags above them. Access marks a deleted row with both flags
// (0xC000) and leaves its bytes in place; a row it moved to another page
// keeps a 4-byte pointer under the overflow flag, and the moved row itself
// carries the deleted flag alone, so that a scan of its new page passes it
// over. An emptied slot reads 0xD000: both flags and the start 0x1000, which
// is the end of a 4096-byte page (the 13th bit is needed to say so). Bit
// 0x2000 is not used by Access and is ignored.
inline constexpr uint16_t kSlotDeleted = 0x8000;
inline constexpr uint16_t kSlotOverflow = 0x4000;
inline constexpr uint16_t kSlotOffsetMask = 0x1FFF;

enum class SlotKind : uint8_t {
    Row,              // a live row
    OverflowPointer,  // 0x4000: 1 byte row and 3 bytes page of the row's real place
    OverflowTarget,   // 0x8000: a live row reached through an overflow pointer
    Deleted,          // 0xC000: a deleted row, its bytes still in place
};

SlotKind SlotKindOf(uint16_t entry);
inline uint32_t SlotStart(uint16_t entry) { return entry & kSlotOffsetMask; }

// Where a data page keeps its slots: the page size and the position of the
// slot count (the entries follow it), and the width of a row's column count
// and variable offsets.
struct PageLayout {
    uint32_t pageSize = 4096;
    uint32_t rowCountOffset = 12;
    bool jet4 = true;  // 2-byte column counts and offsets (Jet 3: 1 byte)

    static constexpr PageLayout Jet3() { return {2048, 8, false}; }
    static constexpr PageLayout Jet4() { return {4096, 12, true}; }
    // The most slot entries that fit on the page after the count.
    uint32_t maxSlots() const { return pageSize > rowCountOffset + 2 ? (pageSize - rowCountOffset - 2) / 2 : 0; }
};

struct Slot {
    uint16_t entry = 0;          // as stored
    SlotKind kind = SlotKind::Row;
    uint32_t start = 0;          // the row's first byte within the page
    uint32_t end = 0;            // where a row starting there ends: one past its last byte
    bool inRowArea = false;      // start lies after the slot table and before the page's end
    // An overflow pointer whose four bytes lie inside the page: where the row went.
    bool pointerRead = false;
    uint8_t targetRow = 0;
    uint32_t targetPage = 0;

    bool hasBytes() const { return inRowArea && start < end; }
    uint32_t size() const { return hasBytes() ? end - start : 0; }
};

// The slots of one data page. Rows are stored from the page's end downwards:
// a row ends where the nearest earlier slot whose start lies in the page's
// row area begins (after the slot table, before the page's end), the first
// at the page's end. So a deleted row, which keeps its bytes, bounds the next
// one, and an emptied slot (0xD000) does not. A slot whose start lies outside
// the row area, or at or above its bound, has no bytes. The count is capped
// by what fits on the page.
class SlotTable {
public:
    SlotTable() = default;
    // page: size bytes of the page (fewer than the layout's page size read as
    // zeros beyond them).
    SlotTable(const uint8_t* page, size_t size, const PageLayout& layout) { read(page, size, layout); }
    void read(const uint8_t* page, size_t size, const PageLayout& layout);
    // Slot `index` alone, as read() would give it, without building the
    // table: for readers that follow a pointer to one row. False when the
    // page has no such slot.
    static bool readOne(const uint8_t* page, size_t size, const PageLayout& layout, size_t index, Slot& slot);

    size_t size() const { return slots_.size(); }
    bool empty() const { return slots_.empty(); }
    const Slot& operator[](size_t i) const { return slots_[i]; }
    std::vector<Slot>::const_iterator begin() const { return slots_.begin(); }
    std::vector<Slot>::const_iterator end() const { return slots_.end(); }
    uint32_t pageSize() const { return pageSize_; }
    // The first byte after the slot table: no row starts before it.
    uint32_t rowArea() const { return rowArea_; }
    // One past the last byte of the row that holds byte `offset` of the page:
    // the nearest slot start above it, or the page's end.
    uint32_t rowEndAfter(uint32_t offset) const;

private:
    std::vector<Slot> slots_;
    uint32_t pageSize_ = 0;
    uint32_t rowArea_ = 0;
};

// ---- Row frame ------------------------------------------------------------
// More columns than a table can have: a row claiming more is not a row.
inline constexpr uint32_t kMaxRowColumns = 260;

// What a reader knows of its table's rows beforehand. Readers of the system
// tables with a fixed layout give the null mask's size, so that a damaged
// column count does not hide the row.
struct FrameShape {
    uint32_t nullMaskBytes = 0;    // 0: from the row's column count
    uint32_t fixedEnd = 0;         // the offset table begins at or after this (0: after the column count)
    bool variableColumns = true;   // read the variable-offset table
};

// One row: column count n (1 byte in Jet 3, 2 in Jet 4) at its start, the
// fixed-length values after it, the variable-length values, and from its end
// backwards the null mask (n / 8 bytes rounded up, 1 when n is 0), the count v
// of variable columns, then the offsets: the start of variable column 0
// nearest v, ..., the start of column v - 1, then the end of the variable data
// (v + 1 entries, each 2 bytes in Jet 4, 1 byte in Jet 3). Jet 3 rows of 256
// bytes or more keep a jump table between v and the offsets: one byte per
// 256-byte boundary naming the first offset entry that lies past it (each
// entry gets 256 for every jump it has passed); the last jump byte is a filler
// when no offset can reach its boundary.
class RowFrame {
public:
    // False when the row cannot hold its column count and null mask, or
    // claims more than kMaxRowColumns columns. A variable-offset table that
    // does not fit the row leaves variables() at 0.
    bool read(const uint8_t* row, uint32_t size, bool jet4, const FrameShape& shape = {});

    const uint8_t* row() const { return row_; }
    uint32_t size() const { return size_; }
    uint32_t countWidth() const { return width_; }
    uint32_t columns() const { return columns_; }
    uint32_t maskStart() const { return maskStart_; }
    uint32_t maskBytes() const { return size_ - maskStart_; }
    // The null-mask bit of a column number (0 past the mask): 1 a value, 0 null.
    bool hasValue(uint32_t column) const {
        const uint64_t at = static_cast<uint64_t>(maskStart_) + column / 8;
        return at < size_ && ((row_[at] >> (column % 8)) & 1);
    }
    // v as stored (also when the offset table does not fit).
    uint32_t storedVariables() const { return storedVariables_; }
    // v when the offset table fits the row, else 0.
    uint32_t variables() const { return variables_; }
    // Offset entry k (0 <= k <= variables()): the start of variable column k,
    // or for k = variables() the end of the variable data; from the row start.
    // 0 for any other k.
    uint32_t offset(uint32_t k) const { return k < offsets_.size() ? offsets_[k] : 0; }
    // The offset table's lowest byte: variable data lies below it.
    uint32_t tableStart() const { return tableStart_; }
    // Offset entry k read at its place whether or not k < v, Jet 3 jumps
    // applied; 0 when its place is outside the row. For readers that know the
    // table's variable columns better than a damaged v does.
    uint32_t offsetAt(uint32_t k) const;
    // Variable column k's bytes [start, end) within the row, clipped to limit;
    // empty when k is not below variables().
    void variableBounds(uint32_t k, uint32_t limit, uint32_t& start, uint32_t& end) const {
        start = end = 0;
        if (k >= variables_) return;
        start = offsets_[k] < limit ? offsets_[k] : limit;
        const uint32_t next = offsets_[k + 1] > start ? offsets_[k + 1] : start;
        end = next < limit ? next : limit;
    }

private:
    uint8_t byteAt(int64_t at) const { return at >= 0 && at < size_ ? row_[at] : 0; }
    uint32_t entryAt(int64_t at) const {
        if (at < 0) return 0;
        if (!jet4_) return byteAt(at);
        const uint8_t low = at < size_ ? row_[at] : 0;
        const uint8_t high = at + 1 < size_ ? row_[at + 1] : 0;
        return static_cast<uint32_t>(low | (high << 8));
    }

    const uint8_t* row_ = nullptr;
    uint32_t size_ = 0;
    uint32_t width_ = 1;
    bool jet4_ = false;
    uint32_t columns_ = 0;
    uint32_t maskStart_ = 0;
    uint32_t storedVariables_ = 0;
    uint32_t variables_ = 0;
    uint32_t tableStart_ = 0;
    // Jet 3: position of the first offset entry and the jumps that count.
    int64_t entryBase_ = 0;
    uint32_t jumps_ = 0;
    std::vector<uint32_t> offsets_;
};

}  // namespace talmera
