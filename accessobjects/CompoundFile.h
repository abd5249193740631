// OLE compound files (version 3: 512-byte sectors, 64-byte mini sectors), the
// container Access keeps forms, reports, macros, modules and the code project
// in. The writer lays out entries whose tree links the caller decides; the
// reader takes a possibly damaged image and reads what it can.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace talmera::cfb {

inline constexpr uint32_t kNoStream = 0xFFFFFFFFu;
inline constexpr uint32_t kEndOfChain = 0xFFFFFFFEu;
inline constexpr uint32_t kFatSector = 0xFFFFFFFDu;
inline constexpr uint32_t kDifatSector = 0xFFFFFFFCu;
inline constexpr uint32_t kFreeSector = 0xFFFFFFFFu;
inline constexpr size_t kSectorSize = 512;
inline constexpr size_t kMiniSectorSize = 64;
inline constexpr size_t kMiniStreamCutoff = 4096;
inline constexpr size_t kEntrySize = 128;
inline constexpr uint8_t kStorage = 1;
inline constexpr uint8_t kStream = 2;
inline constexpr uint8_t kRoot = 5;

inline constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// One directory entry. The writer fills start and size from data.
struct Entry {
    std::u16string name;
    uint8_t type = kStream;
    uint8_t color = 1;  // black
    uint32_t left = kNoStream;
    uint32_t right = kNoStream;
    uint32_t child = kNoStream;
    uint8_t classId[16] = {};
    uint32_t stateBits = 0;
    uint64_t created = 0;
    uint64_t modified = 0;
    uint32_t start = kEndOfChain;
    uint64_t size = 0;
    std::vector<uint8_t> data;  // a stream's bytes (writer input, reader output on demand)
};

// The 128 bytes of an entry as the directory stores them.
void EncodeEntry(const Entry& entry, uint8_t* out);
Entry DecodeEntry(const uint8_t* in);

// Writes a whole file: entries[0] is the root. Streams shorter than 4096
// bytes go to the mini stream (held by the root), longer ones to regular
// sectors; the FAT, the mini FAT and, when the FAT outgrows the header's 109
// places, DIFAT sectors are added. Every start sector and size is set from the
// data, whatever the entries held.
std::vector<uint8_t> Write(std::vector<Entry> entries);

// Stream names compare as the format orders siblings: shorter names first,
// then by upper-cased UTF-16 units.
int CompareNames(const std::u16string& a, const std::u16string& b);

// Reads a compound file from memory. Every sector number, chain and size is
// bounded by the image; chains stop at the first repeat; an unreadable part
// is missing from the result and counted.
class Reader {
public:
    explicit Reader(std::vector<uint8_t> image);
    bool valid() const { return valid_; }
    const std::vector<Entry>& entries() const { return entries_; }
    // Children of a storage (index into entries()), in tree order.
    std::vector<uint32_t> Children(uint32_t storage) const;
    // The child named name (exact), or kNoStream.
    uint32_t Find(uint32_t storage, const std::u16string& name) const;
    // Follows a path of names from the root; kNoStream when one is missing.
    uint32_t FindPath(const std::vector<std::u16string>& path) const;
    // A stream's bytes; sectors the image lacks read as zeros (a sector cut
    // short by the end of the image gives the bytes it has), the size is
    // capped by what the image can hold. *incomplete tells whether any of the
    // stream's bytes were missing from the image.
    std::vector<uint8_t> ReadStream(uint32_t entry, bool* incomplete = nullptr) const;
    uint32_t damagedChains() const { return damagedChains_; }

private:
    std::vector<uint8_t> ReadChain(uint32_t start, uint64_t size, bool mini, bool* incomplete = nullptr) const;
    std::vector<uint32_t> ChainOf(const std::vector<uint32_t>& table, uint32_t start, size_t limit) const;
    // The sector's bytes in the image and how many of them there are (fewer
    // than a sector at the image's end); nullptr when it lies beyond.
    const uint8_t* Sector(uint32_t number, size_t* available) const;
    // A sector padded with zeros to its full size; empty when it lies beyond.
    std::vector<uint8_t> WholeSector(uint32_t number) const;

    std::vector<uint8_t> image_;
    bool valid_ = false;
    uint32_t sectorShift_ = 9;
    std::vector<uint32_t> fat_;
    std::vector<uint32_t> miniFat_;
    std::vector<uint8_t> miniStream_;
    std::vector<Entry> entries_;
    mutable uint32_t damagedChains_ = 0;
};

std::u16string ToU16(const std::string& utf8);
std::string ToUtf8(const std::u16string& text);

}  // namespace talmera::cfb
