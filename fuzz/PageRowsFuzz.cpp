// libFuzzer target: the slot table and the row frame (engine/PageRows.h) on
// arbitrary page bytes. The first byte chooses the layout (bit 0: Jet 4) and
// the frame's shape; the rest is the page, whole or cut short. Every row is
// framed from a copy of exactly its bytes, so that a read outside the row is
// a sanitizer report; a position the primitive gives outside what it was
// given ends the run.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/PageRows.h"

namespace {

void require(bool condition) {
    if (!condition) __builtin_trap();
}

void frameRow(const std::vector<uint8_t>& row, bool jet4, const talmera::FrameShape& shape) {
    talmera::RowFrame frame;
    const uint32_t size = static_cast<uint32_t>(row.size());
    const bool read = frame.read(row.data(), size, jet4, shape);
    if (!read) return;
    require(frame.maskStart() >= frame.countWidth() && frame.maskStart() <= size);
    require(frame.tableStart() <= frame.maskStart());
    for (uint32_t c = 0; c < frame.columns() + 8 && c < 300; ++c) (void)frame.hasValue(c);
    for (uint32_t k = 0; k <= frame.variables(); ++k) (void)frame.offset(k);
    for (uint32_t k = 0; k < frame.storedVariables() + 2 && k < 300; ++k) (void)frame.offsetAt(k);
    for (uint32_t k = 0; k <= frame.variables(); ++k) {
        uint32_t start = 0, end = 0;
        frame.variableBounds(k, frame.maskStart(), start, end);
        require(start <= end && end <= frame.maskStart());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t choice = data[0];
    const talmera::PageLayout layout = (choice & 1) ? talmera::PageLayout::Jet4() : talmera::PageLayout::Jet3();
    const std::vector<uint8_t> page(data + 1, data + size);
    const talmera::SlotTable slots(page.data(), page.size(), layout);
    require(slots.size() <= layout.maxSlots());
    talmera::FrameShape shape;
    shape.nullMaskBytes = (choice >> 1) & 3;
    shape.fixedEnd = (choice >> 3) & 15;
    shape.variableColumns = (choice & 0x80) == 0;
    for (size_t i = 0; i < slots.size(); ++i) {
        const talmera::Slot& s = slots[i];
        require(s.kind == talmera::SlotKindOf(s.entry));
        if (s.pointerRead) require(s.inRowArea && s.start + 4 <= layout.pageSize);
        if (!s.hasBytes()) {
            require(s.size() == 0);
            continue;
        }
        require(s.start >= slots.rowArea() && s.start < s.end && s.end <= layout.pageSize);
        (void)slots.rowEndAfter(s.start);
        // The row's bytes as the page holds them (zeros past a cut page).
        std::vector<uint8_t> row(s.size(), 0);
        for (uint32_t b = 0; b < s.size() && s.start + b < page.size(); ++b) row[b] = page[s.start + b];
        frameRow(row, layout.jet4, shape);
        frameRow(row, layout.jet4, talmera::FrameShape{});
    }
    return 0;
}
