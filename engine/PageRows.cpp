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

namespace {

// Slot i of a page from its entry, bound by where the row of the slot before it begins.
void fillSlot(Slot& s, const uint8_t* page, size_t size, const PageLayout& layout, uint32_t rowArea, uint32_t i,
              uint32_t bound) {
    const uint32_t pageSize = layout.pageSize;
    s = Slot{};
    s.entry = le16At(page, size, layout.rowCountOffset + 2 + 2ull * i);
    s.kind = SlotKindOf(s.entry);
    s.start = SlotStart(s.entry);
    s.inRowArea = s.start >= rowArea && s.start < pageSize;
    s.end = bound;
    if (s.kind == SlotKind::OverflowPointer && s.inRowArea && s.start + 4 <= pageSize) {
        s.pointerRead = true;
        s.targetRow = s.start < size ? page[s.start] : 0;
        s.targetPage = le16At(page, size, s.start + 1) |
                       (static_cast<uint32_t>(s.start + 3 < size ? page[s.start + 3] : 0) << 16);
    }
}

uint32_t slotCount(const uint8_t* page, size_t size, const PageLayout& layout) {
    return std::min<uint32_t>(le16At(page, size, layout.rowCountOffset), layout.maxSlots());
}

}  // namespace

void SlotTable::read(const uint8_t* page, size_t size, const PageLayout& layout) {
    slots_.clear();
    pageSize_ = layout.pageSize;
    if (page == nullptr) size = 0;
    size = std::min<size_t>(size, layout.pageSize);
    const uint32_t count = slotCount(page, size, layout);
    rowArea_ = layout.rowCountOffset + 2 + 2 * count;
    slots_.resize(count);
    uint32_t bound = pageSize_;  // where the row of the next slot ends
    for (uint32_t i = 0; i < count; ++i) {
        Slot& s = slots_[i];
        fillSlot(s, page, size, layout, rowArea_, i, bound);
        if (s.inRowArea) bound = s.start;
    }
}

bool SlotTable::readOne(const uint8_t* page, size_t size, const PageLayout& layout, size_t index, Slot& slot) {
    if (page == nullptr) size = 0;
    size = std::min<size_t>(size, layout.pageSize);
    const uint32_t count = slotCount(page, size, layout);
    if (index >= count) return false;
    const uint32_t rowArea = layout.rowCountOffset + 2 + 2 * count;
    // The row ends where the nearest earlier slot in the row area begins.
    uint32_t bound = layout.pageSize;
    for (size_t i = index; i-- > 0;) {
        const uint32_t start = SlotStart(le16At(page, size, layout.rowCountOffset + 2 + 2ull * i));
        if (start >= rowArea && start < layout.pageSize) {
            bound = start;
            break;
        }
    }
    fillSlot(slot, page, size, layout, rowArea, static_cast<uint32_t>(index), bound);
    return true;
}

uint32_t SlotTable::rowEndAfter(uint32_t offset) const {
    uint32_t end = pageSize_;
    for (const Slot& s : slots_) {
        if (s.start > offset && s.start < end) end = s.start;
    }
    return end;
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

}  // namespace talmera
