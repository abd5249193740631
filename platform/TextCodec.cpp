#include "platform/TextCodec.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/Utf8.h"

namespace talmera {
namespace {

constexpr uint32_t kReplacement = 0xFFFD;

// Code page tables for the 128 upper byte values, built once per code page
// through iconv; a conversion per text would cost an iconv_open each time.
struct CodePageTable {
    bool valid = false;
    uint32_t upper[128] = {};
};

const CodePageTable& tableFor(const std::string& codePage) {
    static std::mutex mutex;
    static std::unordered_map<std::string, CodePageTable> tables;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = tables.find(codePage);
    if (it != tables.end()) return it->second;
    CodePageTable table;
    iconv_t cd = iconv_open("UTF-32LE", codePage.c_str());
    if (cd != reinterpret_cast<iconv_t>(-1)) {
        table.valid = true;
        for (int b = 0x80; b < 0x100; ++b) {
            char in[1] = {static_cast<char>(b)};
            char out[16];
            char* inp = in;
            char* outp = out;
            size_t inLeft = 1, outLeft = sizeof out;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
            uint32_t cp = kReplacement;
            if (r != static_cast<size_t>(-1) && sizeof out - outLeft >= 4) {
                std::memcpy(&cp, out, 4);
            }
            table.upper[b - 0x80] = cp;
        }
        iconv_close(cd);
    }
    return tables.emplace(codePage, table).first->second;
}

}  // namespace

void appendUcs2AsUtf8(std::string& out, const uint8_t* data, size_t size) {
    // Written into a buffer sized for the worst case (three bytes per unit),
    // with a short path for the plain ASCII that most texts are.
    const size_t n = size / 2;
    const size_t before = out.size();
    // Plain ASCII, four units at a time: every high byte zero, every low byte below 0x80.
    size_t ascii = 0;
    while (ascii + 4 <= n) {
        uint64_t units;
        std::memcpy(&units, data + 2 * ascii, sizeof units);
        if (units & 0xFF80FF80FF80FF80ull) break;
        ascii += 4;
    }
    while (ascii < n && data[2 * ascii] < 0x80 && data[2 * ascii + 1] == 0) ++ascii;
    if (ascii == n) {
        out.resize(before + n);
        char* o = out.data() + before;
        for (size_t i = 0; i < n; ++i) o[i] = static_cast<char>(data[2 * i]);
        return;
    }
    out.resize(before + n * 3);
    char* o = out.data() + before;
    for (size_t i = 0; i < ascii; ++i) *o++ = static_cast<char>(data[2 * i]);
    for (size_t i = ascii; i < n; ++i) {
        // Four ASCII units at once.
        while (i + 4 <= n) {
            uint64_t units;
            std::memcpy(&units, data + 2 * i, sizeof units);
            if (units & 0xFF80FF80FF80FF80ull) break;
            o[0] = static_cast<char>(data[2 * i]);
            o[1] = static_cast<char>(data[2 * i + 2]);
            o[2] = static_cast<char>(data[2 * i + 4]);
            o[3] = static_cast<char>(data[2 * i + 6]);
            o += 4;
            i += 4;
        }
        if (i >= n) break;
        uint32_t u = data[2 * i] | (static_cast<uint32_t>(data[2 * i + 1]) << 8);
        if (u < 0x80) {
            *o++ = static_cast<char>(u);
            continue;
        }
        if (u < 0x800) {
            *o++ = static_cast<char>(0xC0 | (u >> 6));
            *o++ = static_cast<char>(0x80 | (u & 0x3F));
            continue;
        }
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
            const uint32_t lo = data[2 * i + 2] | (static_cast<uint32_t>(data[2 * i + 3]) << 8);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                const uint32_t cp = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
                *o++ = static_cast<char>(0xF0 | (cp >> 18));
                *o++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
                *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                *o++ = static_cast<char>(0x80 | (cp & 0x3F));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) u = kReplacement;
        *o++ = static_cast<char>(0xE0 | (u >> 12));
        *o++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        *o++ = static_cast<char>(0x80 | (u & 0x3F));
    }
    out.resize(static_cast<size_t>(o - out.data()));
}

std::string ucs2ToUtf8(const uint8_t* data, size_t size) {
    std::string out;
    appendUcs2AsUtf8(out, data, size);
    return out;
}

std::string codePageToUtf8(const uint8_t* data, size_t size, const std::string& codePage) {
    std::string out;
    appendCodePageAsUtf8(out, data, size, codePage);
    return out;
}

void appendCodePageAsUtf8(std::string& out, const uint8_t* data, size_t size, const std::string& codePage) {
    const CodePageTable& table = tableFor(codePage);
    out.reserve(out.size() + size);
    for (size_t i = 0; i < size; ++i) {
        uint8_t b = data[i];
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
        } else {
            utf8::Append(out, table.valid ? table.upper[b - 0x80] : kReplacement);
        }
    }
}

std::string utf8ToUcs2(std::string_view s) {
    std::string out;
    utf8::AppendUtf16(out, s);
    return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string codePageName(unsigned number) {
    switch (number) {
        case 65001: return "UTF-8";
        case 20127: return "ASCII";
        case 28591: return "ISO-8859-1";
        default: break;
    }
    if (number >= 1250 && number <= 1258) return "WINDOWS-" + std::to_string(number);
    return "CP" + std::to_string(number);
}

}  // namespace talmera
