// The texts the record grid shows for decoded values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace talmera {

// Days since 30 December 1899 (the fraction is the time of day) in the user's
// short date and time format; a locale with a two-digit year (the C locale)
// gets a four-digit one.
std::string FormatDateTime(double days);
// The same into text (its buffer reused), for decoders that format value after value.
void FormatDateTimeInto(double days, std::string& text);
// Calendar fields of such a value, for tests and exports.
void SplitDateTime(double days, int& year, int& month, int& day, int& hour, int& minute, int& second);

std::string FormatSingle(float value);
std::string FormatDouble(double value);
// Ten-thousandths, printed with six decimals ("12.500000").
std::string FormatCurrency(int64_t tenThousandths);
// The same three into text, its buffer reused.
void FormatSingleInto(float value, std::string& text);
void FormatDoubleInto(double value, std::string& text);
void FormatCurrencyInto(int64_t tenThousandths, std::string& text);
// A whole number's decimal digits into text.
void FormatIntegerInto(int64_t value, std::string& text);
// Sixteen bytes as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::string FormatGuid(const uint8_t* bytes);
// A magnitude of up to 128 bits with a decimal point scale digits from the right.
std::string FormatDecimal(bool negative, unsigned __int128 magnitude, unsigned scale);
std::string HexText(const uint8_t* data, size_t size);

}  // namespace talmera
