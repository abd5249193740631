#include "engine/PageRows.h"

#include <algorithm>

namespace talmera {

namespace {

uint16_t le16At(const uint8_t* bytes, size_t size, uint64_t at) {
    const uint8_t low = at < size ? bytes[at] : 0;
    const uint8_t high = at + 1 < size ? bytes[at + 1] : 0;
    return static_cast<uint16_t>(low | (high << 8));
}

}  // namespace

SlotKind SlotKindOf(uint16_t entry) {
    const bool deleted = (entry & kSlotDeleted) != 0;
    const bool overflow = (entry & kSlotOverflow) != 0;
    if (deleted) return overflow ? SlotKind::Deleted : SlotKind::OverflowTarget;
    return overflow ? SlotKind::OverflowPointer : SlotKind::Row;
}

void SlotTable::read(const uint8_t* page, size_t size, const PageLayout& layout) {
    slots_.clear();
    pageSize_ = layout.pageSize;
    if (page == nullptr) size = 0;
    size = std::min<size_t>(size, layout.pageSize);
    const uint32_t count = std::min<uint32_t>(le16At(page, size, layout.rowCountOffset), layout.maxSlots());
    rowArea_ = layout.rowCountOffset + 2 + 2 * count;
    slots_.resize(count);
    uint32_t bound = pageSize_;  // where the row of the next slot ends
    for (uint32_t i = 0; i < count; ++i) {
        Slot& s = slots_[i];
        s.entry = le16At(page, size, layout.rowCountOffset + 2 + 2ull * i);
        s.kind = SlotKindOf(s.entry);
        s.start = SlotStart(s.entry);
        s.inRowArea = s.start >= rowArea_ && s.start < pageSize_;
        s.end = bound;
        if (s.inRowArea) bound = s.start;
        if (s.kind == SlotKind::OverflowPointer && s.inRowArea && s.start + 4 <= pageSize_) {
            s.pointerRead = true;
            s.targetRow = s.start < size ? page[s.start] : 0;
            s.targetPage = le16At(page, size, s.start + 1) |
                           (static_cast<uint32_t>(s.start + 3 < size ? page[s.start + 3] : 0) << 16);
        }
    }
}

uint32_t SlotTable::rowEndAfter(uint32_t offset) const {
    uint32_t end = pageSize_;
    for (const Slot& s : slots_) {
        if (s.start > offset && s.start < end) end = s.start;
    }
    return end;
}

uint32_t RowFrame::entryAt(int64_t at) const {
    if (at < 0) return 0;
    return jet4_ ? le16At(row_, size_, static_cast<uint64_t>(at)) : byteAt(at);
}

bool RowFrame::read(const uint8_t* row, uint32_t size, bool jet4, const FrameShape& shape) {
    row_ = row;
    size_ = row ? size : 0;
    jet4_ = jet4;
    width_ = jet4 ? 2 : 1;
    columns_ = static_cast<uint32_t>(entryAt(0));
    storedVariables_ = variables_ = 0;
    jumps_ = 0;
    offsets_.clear();
    // A reader that knows the mask's size needs no column count.
    const bool knownMask = shape.nullMaskBytes != 0;
    const uint32_t mask = knownMask ? shape.nullMaskBytes : (columns_ == 0 ? 1 : (columns_ + 7) / 8);
    maskStart_ = size_ >= mask ? size_ - mask : 0;
    tableStart_ = maskStart_;

    // The offset entries' places, kept also for a row whose table turns out
    // not to fit (offsetAt reads them where they would be).
    const uint32_t fixedEnd = shape.fixedEnd ? shape.fixedEnd : width_;
    int64_t lowest = 0;
    if (jet4) {
        storedVariables_ = maskStart_ >= 2 ? entryAt(maskStart_ - 2) : 0;
        entryBase_ = static_cast<int64_t>(maskStart_) - 4;
        lowest = static_cast<int64_t>(maskStart_) - 2 - 2 * (static_cast<int64_t>(storedVariables_) + 1);
    } else {
        storedVariables_ = maskStart_ >= 1 ? byteAt(maskStart_ - 1) : 0;
        uint32_t jumps = size_ > 0 ? (size_ - 1) / 256 : 0;
        entryBase_ = static_cast<int64_t>(maskStart_) - 2 - jumps;
        lowest = entryBase_ - storedVariables_;
        // The last jump byte is a filler when no offset can reach its boundary.
        if (jumps > 0 && lowest / 256 < jumps) --jumps;
        jumps_ = jumps;
    }

    if ((!knownMask && columns_ > kMaxRowColumns) || mask + width_ > size_) return false;
    if (!shape.variableColumns || lowest < static_cast<int64_t>(fixedEnd)) return true;
    variables_ = storedVariables_;
    tableStart_ = static_cast<uint32_t>(lowest);
    offsets_.resize(variables_ + 1);
    if (jet4) {
        for (uint32_t k = 0; k <= variables_; ++k) offsets_[k] = entryAt(entryBase_ - 2 * static_cast<int64_t>(k));
    } else {
        uint32_t used = 0;
        for (uint32_t k = 0; k <= variables_; ++k) {
            while (used < jumps_ && k == byteAt(static_cast<int64_t>(maskStart_) - 2 - used)) ++used;
            offsets_[k] = byteAt(entryBase_ - k) + 256 * used;
        }
    }
    return true;
}

bool RowFrame::hasValue(uint32_t column) const {
    const uint64_t at = static_cast<uint64_t>(maskStart_) + column / 8;
    return at < size_ && ((row_[at] >> (column % 8)) & 1);
}

uint32_t RowFrame::offsetAt(uint32_t k) const {
    if (jet4_) {
        const int64_t at = entryBase_ - 2 * static_cast<int64_t>(k);
        return at >= 0 ? entryAt(at) : 0;
    }
    const int64_t at = entryBase_ - k;
    if (at < 0) return 0;
    uint32_t used = 0;
    for (uint32_t i = 0; i <= k; ++i) {
        while (used < jumps_ && i == byteAt(static_cast<int64_t>(maskStart_) - 2 - used)) ++used;
    }
    return byteAt(at) + 256 * used;
}

void RowFrame::variableBounds(uint32_t k, uint32_t limit, uint32_t& start, uint32_t& end) const {
    start = end = 0;
    if (k >= variables_) return;
    start = std::min(offsets_[k], limit);
    end = std::min(std::max(offsets_[k + 1], start), limit);
}

}  // namespace talmera
