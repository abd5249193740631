// Internal building blocks of the writer: the format constants of each file
// version, byte packing, text encoding, and the page store with its row writers.
// Nothing here is part of the public interface (JetWriter.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "jetwriter/JetWriter.h"

namespace jetwriter::detail {

// Where the fields of each structure sit in one file version. Jet 4 and ACE
// share one layout; Jet 3 has narrower pages and shorter entries.
struct Fmt {
    Format format = Format::Jet4;
    bool jet3 = false;
    uint32_t pageSize = 4096;
    size_t rowCountOffset = 12;      // data page: number of slots
    size_t tdefRows = 16;            // table definition: row count
    size_t tdefAutoNumber = 20;      // next long auto-number value
    size_t tdefTableType = 40;
    size_t tdefMaxCols = 41;
    size_t tdefVarCols = 43;
    size_t tdefColCount = 45;
    size_t tdefLogicalIdx = 47;
    size_t tdefRealIdx = 51;
    size_t tdefUsageMap = 55;
    size_t tdefFreeMap = 59;
    size_t tdefEnd = 63;             // first real-index header
    size_t realIdxHeader = 12;       // per real index, in the fixed block
    size_t colEntry = 25;
    size_t realIdxDef = 52;
    size_t logicalIdx = 28;
    size_t mapRow = 69;              // a usage-map row: type byte + 4 + bitmap
    size_t leafFirstEntry = 0x1E0;   // index leaf page: where entries begin

    size_t slotTable() const { return rowCountOffset + 2; }
    // The largest row a data page can hold (one slot).
    size_t maxRow() const { return pageSize - slotTable() - 2; }
    size_t nameLengthWidth() const { return jet3 ? 1 : 2; }
    static Fmt of(Format f);
};

// A column of the given type and length (0: the type's natural length).
inline Column column(const std::string& name, uint8_t type, uint16_t length = 0) {
    Column c;
    c.name = name;
    c.type = type;
    c.length = length;
    return c;
}

inline void put8(std::vector<uint8_t>& b, uint8_t v) { b.push_back(v); }
inline void put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
inline void put64(std::vector<uint8_t>& b, uint64_t v) {
    for (int i = 0; i < 8; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
inline void set16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void set32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

// A row's address as the format stores it in pointers: row number in the low
// byte, page number in the upper three.
struct RowRef {
    uint32_t page = 0;
    uint8_t row = 0;
    uint32_t packed() const { return (page << 8) | row; }
};

// UTF-8 to UTF-16 code units (surrogate pairs for characters beyond the BMP).
std::u16string utf8ToUtf16(const std::string& s);
// UTF-8 to an 8-bit code page (Jet 3 text). Throws std::invalid_argument for
// characters the code page lacks.
std::string utf8ToCodePage(const std::string& s, uint16_t codePage);

// Text as a Jet 4 / ACE column stores it: UCS-2 little endian, or the
// "compressed" form (FF FE, then one byte per character) when asked for and
// every character fits in one byte.
void appendUcs2(std::vector<uint8_t>& out, const std::u16string& s, bool compress);

// The RC4 key stream XORed over data (the header page's masked block).
void rc4(const uint8_t* key, size_t keyLen, uint8_t* data, size_t n);

// Encryption (Encryption.cpp). The header fields the protection sets inside
// the masked block (page key, Jet password, creation date), before it is masked.
void writeProtectionFields(uint8_t* header, const Database& db, const Fmt& f);
// Encodes every page after the header and, for ACE, writes the encryption
// provider block into the header. Throws std::invalid_argument for settings
// the format cannot hold.
void encryptImage(std::vector<uint8_t>& image, const Database& db, const Fmt& f);

// The whole file as it is being built: a growing run of pages.
class Image {
public:
    explicit Image(const Fmt& f) : fmt(f) {}
    uint32_t newPage();
    uint8_t* page(uint32_t n) { return bytes.data() + size_t(n) * fmt.pageSize; }
    uint32_t pageCount() const { return uint32_t(bytes.size() / fmt.pageSize); }

    const Fmt& fmt;
    std::vector<uint8_t> bytes;
};

// Fills data pages (type 0x01) of one owner with rows, each page from its end
// downwards, slot table after the header. Starts a new page when a row does
// not fit or the page holds rowsPerPage rows.
class RowPages {
public:
    // owner: the table definition page, or 0 for pages of no table; lval: the
    // pages hold long values ("LVAL" in place of the owner).
    RowPages(Image& img, uint32_t owner, bool lval, int rowsPerPage = 0);

    RowRef add(const uint8_t* data, size_t n, uint16_t slotFlags = 0);
    RowRef add(const std::vector<uint8_t>& row, uint16_t slotFlags = 0) {
        return add(row.data(), row.size(), slotFlags);
    }
    // The bytes of a row already placed (to patch pointers in it).
    uint8_t* rowBytes(RowRef r);
    // Forces the next row onto a fresh page.
    void breakPage() { current_ = 0; }
    // Starts a page now (to give it the next page number).
    void openPage() { startPage(); }

    std::vector<uint32_t> pages;  // in the order they were started

private:
    void startPage();

    Image& img_;
    uint32_t owner_;
    bool lval_;
    int rowsPerPage_;
    uint32_t current_ = 0;  // 0: none yet
};

}  // namespace jetwriter::detail
