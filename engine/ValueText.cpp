#include "engine/ValueText.h"

#include <langinfo.h>

#include <charconv>
#include <cmath>
#include <cstdio>
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

std::string FormatDateTime(double days) {
    static const std::string dateFormat = localeFormat(D_FMT, "%m/%d/%Y");
    static const std::string timeFormat = localeFormat(T_FMT, "%H:%M:%S");
    std::tm tm{};
    SplitDateTime(days, tm.tm_year, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    char buffer[128];
    std::string text;
    size_t n = std::strftime(buffer, sizeof buffer, dateFormat.c_str(), &tm);
    text.assign(buffer, n);
    text += ' ';
    n = std::strftime(buffer, sizeof buffer, timeFormat.c_str(), &tm);
    text.append(buffer, n);
    return text;
}

// The general form with the given significant digits, as printf's %g gives
// it, without printf's cost.
std::string generalForm(double value, int digits) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits);
    return std::string(buffer, result.ptr);
}

std::string FormatSingle(float value) {
    const double d = value;
    if (std::isfinite(d) && d == std::trunc(d) && d >= std::numeric_limits<int32_t>::min() &&
        d <= std::numeric_limits<int32_t>::max()) {
        return std::to_string(static_cast<int32_t>(d));
    }
    return generalForm(d, 15);
}

std::string FormatDouble(double value) {
    if (std::isfinite(value) && value == std::trunc(value) && value >= -9.2e18 && value <= 9.2e18) {
        return std::to_string(static_cast<long long>(value));
    }
    return generalForm(value, 28);
}

std::string FormatCurrency(int64_t v) {
    // Integer arithmetic: exact for every stored value, with the six decimals
    // of the usual "%f" form.
    const bool negative = v < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s%llu.%04llu00", negative ? "-" : "",
                  static_cast<unsigned long long>(magnitude / 10000),
                  static_cast<unsigned long long>(magnitude % 10000));
    return buffer;
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
