// The little-endian numbers every structure of an Access file (and of the
// compound files and VBA streams inside it) is made of, read in one place.
//
// U16 .. U64 read bytes the caller has already bounded. Bounded reads a range
// whose numbers may point anywhere (a damaged length or offset): every byte
// past its end reads as zero.
#pragma once

#include <cstddef>
#include <cstdint>

namespace talmera::le {

inline uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t U24(const uint8_t* p) { return p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16); }
inline uint32_t U32(const uint8_t* p) { return U16(p) | (static_cast<uint32_t>(U16(p + 2)) << 16); }
inline uint64_t U64(const uint8_t* p) { return U32(p) | (static_cast<uint64_t>(U32(p + 4)) << 32); }

struct Bounded {
    const uint8_t* data = nullptr;
    size_t size = 0;

    uint8_t u8(size_t at) const { return at < size ? data[at] : 0; }
    uint16_t u16(size_t at) const { return static_cast<uint16_t>(u8(at) | (u8(at + 1) << 8)); }
    uint32_t u24(size_t at) const { return u16(at) | (static_cast<uint32_t>(u8(at + 2)) << 16); }
    uint32_t u32(size_t at) const { return u16(at) | (static_cast<uint32_t>(u16(at + 2)) << 16); }
    uint64_t u64(size_t at) const { return u32(at) | (static_cast<uint64_t>(u32(at + 4)) << 32); }
};

}  // namespace talmera::le
