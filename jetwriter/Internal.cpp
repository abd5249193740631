#include "jetwriter/Internal.h"

#include <iconv.h>
#include <nettle/arcfour.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>

namespace jetwriter::detail {

Fmt Fmt::of(Format f) {
    Fmt m;
    m.format = f;
    if (f != Format::Jet3) return m;  // Jet 4 and ACE: the defaults above
    m.jet3 = true;
    m.pageSize = 2048;
    m.rowCountOffset = 8;
    m.tdefRows = 12;
    m.tdefAutoNumber = 16;
    m.tdefTableType = 20;
    m.tdefMaxCols = 21;
    m.tdefVarCols = 23;
    m.tdefColCount = 25;
    m.tdefLogicalIdx = 27;
    m.tdefRealIdx = 31;
    m.tdefUsageMap = 35;
    m.tdefFreeMap = 39;
    m.tdefEnd = 43;
    m.realIdxHeader = 8;
    m.colEntry = 18;
    m.realIdxDef = 39;
    m.logicalIdx = 20;
    m.mapRow = 133;
    m.leafFirstEntry = 0xF8;
    return m;
}

std::u16string utf8ToUtf16(const std::string& s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    auto bad = [&]() { throw std::invalid_argument("invalid UTF-8 in text \"" + s + "\""); };
    while (i < s.size()) {
        uint8_t c = uint8_t(s[i]);
        uint32_t cp = 0;
        int extra = 0;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            extra = 3;
        } else {
            bad();
        }
        if (extra > 0 && i + extra >= s.size()) bad();
        for (int k = 1; k <= extra; ++k) {
            uint8_t d = uint8_t(s[i + k]);
            if ((d & 0xC0) != 0x80) bad();
            cp = (cp << 6) | (d & 0x3F);
        }
        i += 1 + extra;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
    }
    return out;
}

namespace {

// One converter per code page, kept for the life of the thread: benchmark
// files convert millions of short texts.
struct Converter {
    iconv_t cd = iconv_t(-1);
    ~Converter() {
        if (cd != iconv_t(-1)) iconv_close(cd);
    }
};

iconv_t converterFor(uint16_t codePage) {
    thread_local std::map<uint16_t, std::unique_ptr<Converter>> cache;
    auto& slot = cache[codePage];
    if (!slot) {
        slot = std::make_unique<Converter>();
        std::string name = "CP" + std::to_string(codePage);
        slot->cd = iconv_open(name.c_str(), "UTF-8");
        if (slot->cd == iconv_t(-1)) {
            slot.reset();
            throw std::invalid_argument("unsupported code page " + std::to_string(codePage));
        }
    }
    return slot->cd;
}

}  // namespace

std::string utf8ToCodePage(const std::string& s, uint16_t codePage) {
    bool ascii = true;
    for (char c : s) ascii = ascii && uint8_t(c) < 0x80;
    if (ascii) return s;
    iconv_t cd = converterFor(codePage);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string out(s.size() * 2 + 8, '\0');
    char* in = const_cast<char*>(s.data());
    size_t inLeft = s.size();
    char* o = out.data();
    size_t outLeft = out.size();
    if (iconv(cd, &in, &inLeft, &o, &outLeft) == size_t(-1)) {
        throw std::invalid_argument("text \"" + s + "\" cannot be written in code page " +
                                    std::to_string(codePage));
    }
    out.resize(out.size() - outLeft);
    return out;
}

void appendUcs2(std::vector<uint8_t>& out, const std::u16string& s, bool compress) {
    bool narrow = compress && !s.empty();
    for (char16_t c : s) narrow = narrow && c != 0 && c < 0x100;
    if (narrow) {
        // One mode switch never happens: every character is a one-byte one.
        out.push_back(0xFF);
        out.push_back(0xFE);
        for (char16_t c : s) out.push_back(uint8_t(c));
        return;
    }
    for (char16_t c : s) put16(out, uint16_t(c));
}

void rc4(const uint8_t* key, size_t keyLen, uint8_t* data, size_t n) {
    arcfour_ctx context;
    arcfour_set_key(&context, keyLen, key);
    arcfour_crypt(&context, n, data, data);
}

uint32_t Image::newPage() {
    size_t old = bytes.size();
    if (bytes.capacity() < old + fmt.pageSize) bytes.reserve(std::max<size_t>(old * 2, old + fmt.pageSize * 16));
    bytes.resize(old + fmt.pageSize, 0);
    return uint32_t(old / fmt.pageSize);
}

RowPages::RowPages(Image& img, uint32_t owner, bool lval, int rowsPerPage)
    : img_(img), owner_(owner), lval_(lval), rowsPerPage_(rowsPerPage) {}

void RowPages::startPage() {
    current_ = img_.newPage();
    pages.push_back(current_);
    const Fmt& f = img_.fmt;
    uint8_t* p = img_.page(current_);
    p[0] = 0x01;
    p[1] = 0x01;
    if (lval_)
        std::memcpy(p + 4, "LVAL", 4);
    else
        set32(p + 4, owner_);
    set16(p + 2, uint16_t(f.pageSize - f.slotTable()));
    set16(p + f.rowCountOffset, 0);
}

RowRef RowPages::add(const uint8_t* data, size_t n, uint16_t slotFlags) {
    const Fmt& f = img_.fmt;
    if (n == 0 || n > f.maxRow()) throw std::invalid_argument("row of " + std::to_string(n) + " bytes does not fit a page");
    // A slot's row number is one byte wide in every pointer.
    const int limit = rowsPerPage_ > 0 ? std::min(rowsPerPage_, 255) : 255;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (current_ != 0) {
            uint8_t* p = img_.page(current_);
            uint16_t rows = get16(p + f.rowCountOffset);
            uint16_t freeBytes = get16(p + 2);
            if (rows < limit && size_t(freeBytes) >= n + 2) {
                size_t top = rows == 0 ? f.pageSize : (get16(p + f.slotTable() + 2 * (rows - 1)) & 0x1FFF);
                size_t start = top - n;
                std::memcpy(p + start, data, n);
                set16(p + f.slotTable() + 2 * rows, uint16_t(start | slotFlags));
                set16(p + f.rowCountOffset, uint16_t(rows + 1));
                set16(p + 2, uint16_t(freeBytes - n - 2));
                return RowRef{current_, uint8_t(rows)};
            }
        }
        startPage();
    }
    throw std::logic_error("row placement failed");
}

uint8_t* RowPages::rowBytes(RowRef r) {
    uint8_t* p = img_.page(r.page);
    return p + (get16(p + img_.fmt.slotTable() + 2 * r.row) & 0x1FFF);
}

}  // namespace jetwriter::detail
