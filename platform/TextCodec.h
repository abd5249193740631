// Text conversions. Texts inside the program are UTF-8; the file holds UCS-2
// (Jet 4, ACE) or 8-bit text in the database's code page (Jet 3).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace talmera {

// UCS-2 little-endian bytes to UTF-8. An odd trailing byte is dropped; an
// unpaired surrogate becomes U+FFFD. Stops at nothing: embedded zeros are kept.
std::string ucs2ToUtf8(const uint8_t* data, size_t size);

// 8-bit text in the given code page (an iconv name such as "WINDOWS-1252") to
// UTF-8. Bytes the code page cannot map become U+FFFD.
std::string codePageToUtf8(const uint8_t* data, size_t size, const std::string& codePage);

// The same two appended to out, for readers that decode text after text into
// one buffer.
void appendUcs2AsUtf8(std::string& out, const uint8_t* data, size_t size);
void appendCodePageAsUtf8(std::string& out, const uint8_t* data, size_t size, const std::string& codePage);

// UTF-8 to UCS-2 little-endian bytes (for writers and tests).
std::string utf8ToUcs2(std::string_view utf8);

// ASCII-only case-insensitive comparison, as catalog names are compared.
bool equalsIgnoreCase(std::string_view a, std::string_view b);
bool startsWith(std::string_view text, std::string_view prefix);

// The code page name for a numeric Windows code page (1252 -> "WINDOWS-1252").
std::string codePageName(unsigned number);

}  // namespace talmera
