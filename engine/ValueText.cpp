#include "engine/ValueText.h"

#include <langinfo.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>
#include "platform/Calendar.h"

namespace talmera {

namespace {


std::string localeFormat(int item, const char* fallback) {
    const char* f = nl_langinfo(item);
    std::string format = (f && *f) ? f : fallback;
    // Four-digit years where the locale would print two, and where %Y would
    // print fewer (the year 100 as "0100", as the output's ISO text has it).
    for (const char* year : {"%y", "%Y"})
        for (size_t at = format.find(year); at != std::string::npos; at = format.find(year, at + 3))
            format.replace(at, 2, "%4Y");
    return format;
}

}  // namespace

void SplitDateTime(double days, int& year, int& month, int& day, int& hour, int& minute, int& second) {
    if (!std::isfinite(days) || std::fabs(days) > 3.0e6) days = 0;  // beyond any calendar Access keeps
    // The integer part counts days (negative before 1899-12-30); the fraction
    // is the time of day whatever the sign.
    double whole = std::trunc(days);
    int64_t seconds = std::llround(std::fabs(days - whole) * 86400.0);
    if (seconds >= 86400) {
        seconds -= 86400;
        whole += days < 0 ? -1 : 1;
    }
    civilFromDays(static_cast<int64_t>(whole) - kDaysFrom1899To1970, year, month, day);
    hour = static_cast<int>(seconds / 3600);
    minute = static_cast<int>(seconds / 60 % 60);
    second = static_cast<int>(seconds % 60);
}

namespace {

// A strftime format reduced to what the texts need: literal text and the
// numeric fields %m %d %H %M %S and the four-digit year %4Y. Those print the
// same in every locale, so a format made only of them is written directly;
// any other conversion (names of months, %p, alternative digits) leaves the
// format to strftime.
struct FastFormat {
    bool usable = false;
    std::string pieces;  // literal bytes, and '\0' followed by the field letter ('Y' for %4Y)

    explicit FastFormat(const std::string& format) {
        for (size_t i = 0; i < format.size(); ++i) {
            const char c = format[i];
            if (c == '\0') return;
            if (c != '%') {
                pieces.push_back(c);
                continue;
            }
            if (format.compare(i, 3, "%4Y") == 0) {
                pieces.push_back('\0');
                pieces.push_back('Y');
                i += 2;
                continue;
            }
            if (i + 1 >= format.size()) return;
            const char field = format[i + 1];
            if (field == '%') {
                pieces.push_back('%');
            } else if (field == 'm' || field == 'd' || field == 'H' || field == 'M' || field == 'S') {
                pieces.push_back('\0');
                pieces.push_back(field);
            } else {
                return;
            }
            ++i;
        }
        usable = true;
    }

    // Writes the fields of tm at `at` (room for pieces.size() * 2 bytes);
    // the year must have four digits. Returns the end.
    char* write(char* at, const std::tm& tm) const {
        auto two = [&](int value) {
            *at++ = static_cast<char>('0' + value / 10);
            *at++ = static_cast<char>('0' + value % 10);
        };
        for (size_t i = 0; i < pieces.size(); ++i) {
            if (pieces[i] != '\0') {
                *at++ = pieces[i];
                continue;
            }
            switch (pieces[++i]) {
                case 'Y': {
                    const int year = tm.tm_year + 1900;
                    two(year / 100);
                    two(year % 100);
                    break;
                }
                case 'm': two(tm.tm_mon + 1); break;
                case 'd': two(tm.tm_mday); break;
                case 'H': two(tm.tm_hour); break;
                case 'M': two(tm.tm_min); break;
                case 'S': two(tm.tm_sec); break;
            }
        }
        return at;
    }
};

}  // namespace

void FormatDateTimeInto(double days, std::string& text) {
    static const std::string dateFormat = localeFormat(D_FMT, "%m/%d/%Y");
    static const std::string timeFormat = localeFormat(T_FMT, "%H:%M:%S");
    static const FastFormat fastDate(dateFormat);
    static const FastFormat fastTime(timeFormat);
    std::tm tm{};
    SplitDateTime(days, tm.tm_year, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    text.clear();
    const int year = tm.tm_year + 1900;
    if (fastDate.usable && fastTime.usable && year >= 1000 && year <= 9999 &&
        fastDate.pieces.size() + fastTime.pieces.size() < 60) {
        char buffer[128];
        char* at = fastDate.write(buffer, tm);
        *at++ = ' ';
        at = fastTime.write(at, tm);
        text.assign(buffer, at);
        return;
    }
    char buffer[128];
    size_t n = std::strftime(buffer, sizeof buffer, dateFormat.c_str(), &tm);
    text.assign(buffer, n);
    text += ' ';
    n = std::strftime(buffer, sizeof buffer, timeFormat.c_str(), &tm);
    text.append(buffer, n);
}

std::string FormatDateTime(double days) {
    std::string text;
    FormatDateTimeInto(days, text);
    return text;
}

// The exact decimal expansion of a value with few binary places (most stored
// amounts: cents kept as a fraction of a power of two, halves, sixteenths),
// when it has at most `precision` significant digits: then the general form
// rounds nothing and its text is those digits. A value m / 2^k is
// m * 5^k / 10^k. False for anything else (the caller rounds as printf does).
static bool exactGeneralForm(double value, int precision, std::string& text) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    uint64_t m = bits & ((uint64_t{1} << 52) - 1);
    if (biased == 0x7FF || biased == 0) return false;  // infinities, NaNs, subnormals
    m |= uint64_t{1} << 52;
    int k = 1075 - biased;  // value = m / 2^k
    if (k <= 0) return false;
    const int zeros = std::min(__builtin_ctzll(m), k);
    m >>= zeros;
    k -= zeros;
    // m * 5^k below 2^64: its digits come from one 64-bit conversion.
    if (k == 0 || k > 27) return false;
    static constexpr auto kPowersOf5 = [] {
        std::array<uint64_t, 28> powers{};
        powers[0] = 1;
        for (size_t i = 1; i < powers.size(); ++i) powers[i] = powers[i - 1] * 5;
        return powers;
    }();
    const unsigned __int128 n = static_cast<unsigned __int128>(m) * kPowersOf5[k];
    if (n > std::numeric_limits<uint64_t>::max()) return false;
    char digits[24];
    const int count = static_cast<int>(std::to_chars(digits, digits + sizeof digits, static_cast<uint64_t>(n)).ptr - digits);
    if (count > precision) return false;
    // The exponent of the first digit; m is odd, so the last digit is a 5 and
    // there are no trailing zeros to remove.
    const int exponent = count - k - 1;
    char buffer[64];
    char* at = buffer;
    if (bits >> 63) *at++ = '-';
    if (exponent < -4 || exponent >= precision) {
        *at++ = digits[0];
        if (count > 1) {
            *at++ = '.';
            for (int i = 1; i < count; ++i) *at++ = digits[i];
        }
        *at++ = 'e';
        *at++ = exponent < 0 ? '-' : '+';
        const int magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude < 10) *at++ = '0';
        at = std::to_chars(at, buffer + sizeof buffer, magnitude).ptr;
    } else if (exponent >= 0) {
        for (int i = 0; i <= exponent; ++i) *at++ = digits[i];
        *at++ = '.';
        for (int i = exponent + 1; i < count; ++i) *at++ = digits[i];
    } else {
        *at++ = '0';
        *at++ = '.';
        for (int i = -1; i > exponent; --i) *at++ = '0';
        for (int i = 0; i < count; ++i) *at++ = digits[i];
    }
    text.assign(buffer, at);
    return true;
}

// The general form with the given significant digits, as printf's %g gives
// it, without printf's cost.
static void generalForm(double value, int digits, std::string& text) {
    if (exactGeneralForm(value, digits, text)) return;
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits);
    text.assign(buffer, result.ptr);
}

void FormatIntegerInto(int64_t value, std::string& text) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    text.assign(buffer, result.ptr);
}

void FormatSingleInto(float value, std::string& text) {
    const double d = value;
    if (std::isfinite(d) && d == std::trunc(d) && d >= std::numeric_limits<int32_t>::min() &&
        d <= std::numeric_limits<int32_t>::max()) {
        return FormatIntegerInto(static_cast<int32_t>(d), text);
    }
    generalForm(d, 15, text);
}

void FormatDoubleInto(double value, std::string& text) {
    if (std::isfinite(value) && value == std::trunc(value) && value >= -9.2e18 && value <= 9.2e18) {
        return FormatIntegerInto(static_cast<long long>(value), text);
    }
    generalForm(value, 28, text);
}

void FormatCurrencyInto(int64_t v, std::string& text) {
    // Integer arithmetic: exact for every stored value, with the six decimals
    // of the usual "%f" form.
    const bool negative = v < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    char buffer[32];
    char* at = buffer;
    if (negative) *at++ = '-';
    at = std::to_chars(at, buffer + sizeof buffer, magnitude / 10000).ptr;
    const unsigned fraction = static_cast<unsigned>(magnitude % 10000);
    *at++ = '.';
    *at++ = static_cast<char>('0' + fraction / 1000);
    *at++ = static_cast<char>('0' + fraction / 100 % 10);
    *at++ = static_cast<char>('0' + fraction / 10 % 10);
    *at++ = static_cast<char>('0' + fraction % 10);
    *at++ = '0';
    *at++ = '0';
    text.assign(buffer, at);
}

std::string FormatSingle(float value) {
    std::string text;
    FormatSingleInto(value, text);
    return text;
}

std::string FormatDouble(double value) {
    std::string text;
    FormatDoubleInto(value, text);
    return text;
}

std::string FormatCurrency(int64_t v) {
    std::string text;
    FormatCurrencyInto(v, text);
    return text;
}

std::string FormatGuid(const uint8_t* b) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<unsigned>(b[3]) << 24), b[4] | (b[5] << 8),
                  b[6] | (b[7] << 8), b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return buffer;
}

std::string FormatDecimal(bool negative, unsigned __int128 magnitude, unsigned scale) {
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
        magnitude /= 10;
    } while (magnitude != 0);
    if (scale > 0) {
        if (digits.size() <= scale) digits.insert(0, scale - digits.size() + 1, '0');
        digits.insert(digits.size() - scale, 1, '.');
    }
    bool zero = digits.find_first_not_of("0.") == std::string::npos;
    return (negative && !zero ? "-" : "") + digits;
}

std::string HexText(const uint8_t* data, size_t size) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        text.push_back(kHex[data[i] >> 4]);
        text.push_back(kHex[data[i] & 15]);
    }
    return text;
}

}  // namespace talmera
