#include "platform/Utf8.h"

namespace talmera::utf8 {

void Append(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool Next(std::string_view text, size_t& at, uint32_t& cp) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t lead = byte(at);
    size_t length = 0;
    uint32_t least = 0;
    if (lead < 0x80) {
        length = 1;
        cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        cp = lead & 0x1F;
        least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        cp = lead & 0x0F;
        least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        cp = lead & 0x07;
        least = 0x10000;
    }
    bool valid = length > 0 && at + length <= text.size();
    for (size_t k = 1; valid && k < length; ++k) {
        valid = (byte(at + k) & 0xC0) == 0x80;
        cp = (cp << 6) | (byte(at + k) & 0x3F);
    }
    valid = valid && cp >= least && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    if (!valid) {
        cp = kReplacement;
        ++at;
        return false;
    }
    at += length;
    return true;
}

void AppendUtf16(std::string& bytes, std::string_view text) {
    auto put = [&](uint32_t unit) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    };
    size_t at = 0;
    uint32_t cp = 0;
    while (at < text.size()) {
        Next(text, at, cp);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
}

}  // namespace talmera::utf8
