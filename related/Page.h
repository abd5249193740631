// Small helpers the related-object readers share: one page copied out of the
// file with bounded reads, and its slot table (engine/PageRows.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/PageFile.h"
#include "engine/PageRows.h"
#include "platform/LittleEndian.h"

namespace talmera::related {

// One page held in memory; every read is bounded by the page (zeros outside).
struct Page {
    std::vector<uint8_t> bytes;
    uint64_t position = 0;
    SlotTable slots;

    void load(const PageFile& file, uint64_t pagePosition, const PageLayout& layout) {
        position = pagePosition;
        bytes.assign(layout.pageSize, 0);
        file.read(pagePosition, layout.pageSize, bytes.data());
        slots.read(bytes.data(), bytes.size(), layout);
    }
    uint32_t size() const { return static_cast<uint32_t>(bytes.size()); }
    le::Bounded view() const { return {bytes.data(), bytes.size()}; }
    uint8_t u8(uint64_t at) const { return view().u8(at); }
    uint16_t u16(uint64_t at) const { return view().u16(at); }
    uint32_t u24(uint64_t at) const { return view().u24(at); }
    uint32_t u32(uint64_t at) const { return view().u32(at); }
    bool isDataPage() const { return u8(0) == 0x01; }
    bool isLongValuePage() const { return u8(4) == 'L' && u8(5) == 'V' && u8(6) == 'A' && u8(7) == 'L'; }
    // Bounds [start, end) of row r by the slot table. False when the slot is
    // missing or holds no bytes.
    bool rowBounds(uint32_t r, uint32_t& start, uint32_t& end) const {
        if (r >= slots.size() || !slots[r].hasBytes()) return false;
        start = slots[r].start;
        end = slots[r].end;
        return true;
    }
};

// Little-endian reads from a byte buffer, bounded by it.
inline uint8_t at8(const std::vector<uint8_t>& b, uint64_t at) { return le::Bounded{b.data(), b.size()}.u8(at); }
inline uint16_t at16(const std::vector<uint8_t>& b, uint64_t at) { return le::Bounded{b.data(), b.size()}.u16(at); }
inline uint32_t at32(const std::vector<uint8_t>& b, uint64_t at) { return le::Bounded{b.data(), b.size()}.u32(at); }

// UTF-16LE bytes to UTF-8, cut at the first zero code unit.
std::string Utf16Cut(const uint8_t* data, size_t size);

// The "MR2" and zero-byte signature of a property block.
inline bool IsPropertySignature(uint32_t fourBytes) { return fourBytes == 0x0032524D; }

}  // namespace talmera::related
