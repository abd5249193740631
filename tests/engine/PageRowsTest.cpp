// The slot table and the row frame on page images written here byte by byte:
// Jet 3 and Jet 4 layouts, deleted, moved and emptied slots, starts outside
// the page, and rows with and without a Jet 3 jump table.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/PageRows.h"

namespace talmera {
namespace {

// A data page of the given layout: type 0x01, the slot entries, and bytes put
// where the case says.
struct PageImage {
    PageLayout layout;
    std::vector<uint8_t> bytes;

    PageImage(const PageLayout& l, const std::vector<uint16_t>& entries) : layout(l), bytes(l.pageSize, 0) {
        bytes[0] = 0x01;
        put16(layout.rowCountOffset, static_cast<uint16_t>(entries.size()));
        for (size_t i = 0; i < entries.size(); ++i) put16(layout.rowCountOffset + 2 + 2 * i, entries[i]);
    }
    void put16(size_t at, uint16_t v) {
        bytes[at] = static_cast<uint8_t>(v);
        bytes[at + 1] = static_cast<uint8_t>(v >> 8);
    }
    SlotTable slots() const { return SlotTable(bytes.data(), bytes.size(), layout); }
};

struct ExpectedSlot {
    SlotKind kind;
    bool hasBytes;
    uint32_t start;
    uint32_t end;  // checked when hasBytes
};

struct SlotCase {
    const char* name;
    PageLayout layout;
    std::vector<uint16_t> entries;
    std::vector<ExpectedSlot> expected;
};

constexpr PageLayout kJet3 = PageLayout::Jet3();
constexpr PageLayout kJet4 = PageLayout::Jet4();

TEST(SlotTable, KindsStartsAndEnds) {
    const std::vector<SlotCase> cases = {
        {"live rows from the page end down", kJet4, {0x0F00, 0x0E80, 0x0E00},
         {{SlotKind::Row, true, 0xF00, 4096}, {SlotKind::Row, true, 0xE80, 0xF00}, {SlotKind::Row, true, 0xE00, 0xE80}}},
        {"Jet 3: count at 8, entries from 10, 2048-byte page", kJet3, {0x0700, 0x0600},
         {{SlotKind::Row, true, 0x700, 2048}, {SlotKind::Row, true, 0x600, 0x700}}},
        {"a deleted row keeps its bytes and bounds the next", kJet4, {0x0F00, 0xCE80, 0x0E00},
         {{SlotKind::Row, true, 0xF00, 4096}, {SlotKind::Deleted, true, 0xE80, 0xF00}, {SlotKind::Row, true, 0xE00, 0xE80}}},
        {"emptied slots (0xD000: the page end) bound nothing", kJet4, {0xD000, 0xD000, 0xCFBD, 0x0F7A},
         {{SlotKind::Deleted, false, 0x1000, 0}, {SlotKind::Deleted, false, 0x1000, 0},
          {SlotKind::Deleted, true, 0xFBD, 4096}, {SlotKind::Row, true, 0xF7A, 0xFBD}}},
        {"an emptied slot between rows: the next row ends at the row above", kJet4, {0x0F00, 0xD000, 0x0E00},
         {{SlotKind::Row, true, 0xF00, 4096}, {SlotKind::Deleted, false, 0x1000, 0}, {SlotKind::Row, true, 0xE00, 0xF00}}},
        {"overflow pointer and the moved row it leads to", kJet4, {0x4FFC, 0x8F00},
         {{SlotKind::OverflowPointer, true, 0xFFC, 4096}, {SlotKind::OverflowTarget, true, 0xF00, 0xFFC}}},
        {"Jet 3: a start past the 2048-byte page has no bytes and bounds nothing", kJet3, {0x0700, 0x0900, 0x0680},
         {{SlotKind::Row, true, 0x700, 2048}, {SlotKind::Row, false, 0x900, 0}, {SlotKind::Row, true, 0x680, 0x700}}},
        {"a start inside the slot table is no row", kJet4, {0x0F00, 0x0010, 0x0E00},
         {{SlotKind::Row, true, 0xF00, 4096}, {SlotKind::Row, false, 0x10, 0}, {SlotKind::Row, true, 0xE00, 0xF00}}},
        {"a start at or above its bound has no bytes (but bounds the next)", kJet4, {0x0E00, 0x0F00, 0x0E00},
         {{SlotKind::Row, true, 0xE00, 4096}, {SlotKind::Row, false, 0xF00, 0}, {SlotKind::Row, true, 0xE00, 0xF00}}},
        {"bit 0x2000 is not a flag", kJet4, {0x2F00},
         {{SlotKind::Row, true, 0xF00, 4096}}},
    };
    for (const SlotCase& c : cases) {
        SCOPED_TRACE(c.name);
        const SlotTable slots = PageImage(c.layout, c.entries).slots();
        ASSERT_EQ(slots.size(), c.expected.size());
        for (size_t i = 0; i < slots.size(); ++i) {
            SCOPED_TRACE("slot " + std::to_string(i));
            EXPECT_EQ(slots[i].entry, c.entries[i]);
            EXPECT_EQ(slots[i].kind, c.expected[i].kind);
            EXPECT_EQ(slots[i].hasBytes(), c.expected[i].hasBytes);
            EXPECT_EQ(slots[i].start, c.expected[i].start);
            if (c.expected[i].hasBytes) {
                EXPECT_EQ(slots[i].end, c.expected[i].end);
                EXPECT_EQ(slots[i].size(), c.expected[i].end - c.expected[i].start);
            } else {
                EXPECT_EQ(slots[i].size(), 0u);
            }
        }
    }
}

TEST(SlotTable, OverflowPointerTargetAndItsBounds) {
    PageImage page(kJet4, {0x4FFC, 0x4FFE});
    page.bytes[0xFFC] = 7;       // row 7
    page.bytes[0xFFD] = 0x34;    // page 0x561234
    page.bytes[0xFFE] = 0x12;
    page.bytes[0xFFF] = 0x56;
    const SlotTable slots = page.slots();
    ASSERT_EQ(slots.size(), 2u);
    EXPECT_TRUE(slots[0].pointerRead);
    EXPECT_EQ(slots[0].targetRow, 7);
    EXPECT_EQ(slots[0].targetPage, 0x561234u);
    // Its four bytes would pass the page's end.
    EXPECT_FALSE(slots[1].pointerRead);
}

TEST(SlotTable, CountCappedByThePageAndShortPagesReadZeros) {
    PageImage page(kJet3, {});
    page.put16(kJet3.rowCountOffset, 0xFFFF);
    EXPECT_EQ(page.slots().size(), kJet3.maxSlots());
    EXPECT_EQ(kJet3.maxSlots(), (2048u - 8 - 2) / 2);

    // Only the first 14 bytes of a Jet 4 page: two slots claimed, entries missing.
    PageImage cut(kJet4, {0x0F00, 0x0E00});
    const SlotTable slots(cut.bytes.data(), 14, kJet4);
    ASSERT_EQ(slots.size(), 2u);
    EXPECT_EQ(slots[0].entry, 0);
    EXPECT_FALSE(slots[0].hasBytes());
    EXPECT_TRUE(SlotTable(nullptr, 4096, kJet4).empty());
}

TEST(SlotTable, RowEndAfterAPosition) {
    const SlotTable slots = PageImage(kJet4, {0x0F00, 0xCE80, 0x0E00}).slots();
    EXPECT_EQ(slots.rowEndAfter(0xE10), 0xE80u);
    EXPECT_EQ(slots.rowEndAfter(0xE80), 0xF00u);
    EXPECT_EQ(slots.rowEndAfter(0xF10), 4096u);
}

// ---- Row frames --------------------------------------------------------------

void put16(std::vector<uint8_t>& row, uint16_t v) {
    row.push_back(static_cast<uint8_t>(v));
    row.push_back(static_cast<uint8_t>(v >> 8));
}

TEST(RowFrame, Jet4RowWithFixedAndVariableColumns) {
    // Three columns: 0 fixed (4 bytes), 1 variable "ab", 2 variable and null.
    std::vector<uint8_t> row;
    put16(row, 3);
    row.insert(row.end(), {1, 2, 3, 4, 'a', 'b'});
    put16(row, 8);  // end of data
    put16(row, 8);  // column 2 (null: empty)
    put16(row, 6);  // column 1
    put16(row, 2);  // v
    row.push_back(0b011);
    RowFrame f;
    ASSERT_TRUE(f.read(row.data(), static_cast<uint32_t>(row.size()), true));
    EXPECT_EQ(f.columns(), 3u);
    EXPECT_EQ(f.maskBytes(), 1u);
    EXPECT_TRUE(f.hasValue(0));
    EXPECT_TRUE(f.hasValue(1));
    EXPECT_FALSE(f.hasValue(2));
    EXPECT_FALSE(f.hasValue(200));  // past the mask
    ASSERT_EQ(f.variables(), 2u);
    EXPECT_EQ(f.offset(0), 6u);
    EXPECT_EQ(f.offset(1), 8u);
    EXPECT_EQ(f.offset(2), 8u);
    EXPECT_EQ(f.tableStart(), 8u);
    uint32_t start = 0, end = 0;
    f.variableBounds(0, f.maskStart(), start, end);
    EXPECT_EQ(std::string(row.begin() + start, row.begin() + end), "ab");
    f.variableBounds(2, f.maskStart(), start, end);  // no such column
    EXPECT_EQ(start, end);
}

// A Jet 3 row of two variable columns of the given sizes, its offsets as one
// byte each, `jumps` jump bytes between the offsets and v, one mask byte.
std::vector<uint8_t> jet3Row(size_t first, size_t second, const std::vector<uint8_t>& jumps) {
    std::vector<uint8_t> row{2};
    row.insert(row.end(), first, 'a');
    row.insert(row.end(), second, 'b');
    const size_t eod = row.size();
    row.push_back(static_cast<uint8_t>(eod));
    row.push_back(static_cast<uint8_t>(1 + first));
    row.push_back(1);
    for (size_t j = jumps.size(); j-- > 0;) row.push_back(jumps[j]);
    row.push_back(2);
    row.push_back(0b11);
    return row;
}

TEST(RowFrame, Jet3OffsetsWithAndWithoutJumpTable) {
    struct Case {
        const char* name;
        size_t first, second;
        std::vector<uint8_t> jumps;
        uint32_t offsets[3];
    };
    const std::vector<Case> cases = {
        {"short row: no jump table", 100, 50, {}, {1, 101, 151}},
        // 307 bytes: one jump byte naming entry 2 (the end of data, 301) as
        // the first past 256.
        {"one jump", 200, 100, {2}, {1, 201, 301}},
        // 410 bytes: the second column starts past 256 too.
        {"a column past the boundary", 300, 100, {1}, {1, 301, 401}},
        // 259 bytes whose offset table ends below 256: the jump byte is a
        // filler (Access writes 0xFF), whatever it holds.
        {"filler jump 0xFF", 100, 152, {0xFF}, {1, 101, 253}},
        {"filler jump that would name an entry", 100, 152, {1}, {1, 101, 253}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> row = jet3Row(c.first, c.second, c.jumps);
        ASSERT_EQ((row.size() - 1) / 256, c.jumps.size());
        RowFrame f;
        ASSERT_TRUE(f.read(row.data(), static_cast<uint32_t>(row.size()), false));
        ASSERT_EQ(f.variables(), 2u);
        for (uint32_t k = 0; k < 3; ++k) EXPECT_EQ(f.offset(k), c.offsets[k]) << "entry " << k;
        for (uint32_t k = 0; k < 3; ++k) EXPECT_EQ(f.offsetAt(k), c.offsets[k]) << "entry " << k;
        uint32_t start = 0, end = 0;
        f.variableBounds(1, f.maskStart(), start, end);
        EXPECT_EQ(end - start, c.second);
    }
}

TEST(RowFrame, DamagedRows) {
    // More columns than a table has: not a row, unless the reader knows the mask.
    std::vector<uint8_t> wide;
    put16(wide, 261);
    wide.resize(60, 0);
    RowFrame f;
    EXPECT_FALSE(f.read(wide.data(), static_cast<uint32_t>(wide.size()), true));
    FrameShape known;
    known.nullMaskBytes = 1;
    known.variableColumns = false;
    EXPECT_TRUE(f.read(wide.data(), static_cast<uint32_t>(wide.size()), true, known));

    // Too short for the column count and the mask.
    const uint8_t tiny[2] = {9, 0};
    EXPECT_FALSE(f.read(tiny, 2, true));
    EXPECT_FALSE(f.read(nullptr, 10, true));

    // An offset table claiming more entries than the row holds: no variable
    // columns, but the entries stay readable where they would be.
    std::vector<uint8_t> row;
    put16(row, 2);
    row.insert(row.end(), {'x', 'y'});
    put16(row, 4);
    put16(row, 2);
    put16(row, 40);  // v
    row.push_back(0b11);
    ASSERT_TRUE(f.read(row.data(), static_cast<uint32_t>(row.size()), true));
    EXPECT_EQ(f.storedVariables(), 40u);
    EXPECT_EQ(f.variables(), 0u);
    EXPECT_EQ(f.offsetAt(0), 2u);
    EXPECT_EQ(f.offsetAt(1), 4u);
    EXPECT_EQ(f.offsetAt(30), 0u);  // before the row's start

    // A fixed area the offset table may not reach.
    FrameShape fixed;
    fixed.fixedEnd = 6;
    row[row.size() - 3] = 1;  // v = 1: the table's lowest byte is at 4
    ASSERT_TRUE(f.read(row.data(), static_cast<uint32_t>(row.size()), true, fixed));
    EXPECT_EQ(f.variables(), 0u);
    ASSERT_TRUE(f.read(row.data(), static_cast<uint32_t>(row.size()), true));
    EXPECT_EQ(f.variables(), 1u);
}

}  // namespace
}  // namespace talmera
