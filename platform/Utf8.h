// UTF-8, once: encoding a code point, and reading one from text that may not
// be UTF-8 (a byte that does not begin a complete, shortest-form sequence of
// a scalar value is one invalid byte).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace talmera::utf8 {

inline constexpr uint32_t kReplacement = 0xFFFD;

// Appends the UTF-8 form of code point cp (up to U+10FFFF).
void Append(std::string& out, uint32_t cp);

// Reads the code point at text[at] into cp and moves at past it; at an
// invalid byte cp is kReplacement, at moves one byte on and false is
// returned. at must be below text.size().
bool Next(std::string_view text, size_t& at, uint32_t& cp);

// Appends the UTF-16 little-endian form of text, U+FFFD for each invalid byte.
void AppendUtf16(std::string& bytes, std::string_view text);

}  // namespace talmera::utf8
