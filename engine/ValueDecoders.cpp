#include "engine/ValueDecoders.h"

#include <cstdio>

#include "platform/Calendar.h"

namespace talmera {

namespace {

// A run of decimal digits as a number; false when any byte is not a digit.
bool digits(const uint8_t* data, size_t count, uint64_t& value) {
    value = 0;
    for (size_t i = 0; i < count; ++i) {
        if (data[i] < '0' || data[i] > '9') return false;
        value = value * 10 + (data[i] - '0');
    }
    return true;
}

}  // namespace

std::optional<std::string> DecodeDateTimeExtended(const uint8_t* data, size_t size) {
    constexpr size_t kDays = 19, kSeconds = 12, kUnits = 7;
    if (size < kDays + 1 + kSeconds + kUnits || data[kDays] != ':') return std::nullopt;
    uint64_t days = 0, seconds = 0, units = 0;
    if (!digits(data, kDays, days) || !digits(data + kDays + 1, kSeconds, seconds) ||
        !digits(data + kDays + 1 + kSeconds, kUnits, units))
        return std::nullopt;
    // 31 December 9999 is day 3652058; a day has 86400 seconds.
    if (days > 3652058 || seconds >= 86400) return std::nullopt;
    int year = 0, month = 0, day = 0;
    // Day 0 is 1 January of the year 1, 719162 days before 1 January 1970.
    civilFromDays(static_cast<int64_t>(days) - 719162, year, month, day);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02u:%02u:%02u.%07u", year, month, day,
                  static_cast<unsigned>(seconds / 3600), static_cast<unsigned>(seconds / 60 % 60),
                  static_cast<unsigned>(seconds % 60), static_cast<unsigned>(units));
    return std::string(text);
}

uint8_t ColumnTypeOfResultType(long daoType) {
    switch (daoType) {
        case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 8: case 10: case 12: case 15:
            return static_cast<uint8_t>(daoType);  // the same numbers as the column type codes
        case 16: return 0x13;                    // Large Number
        case 20: return 0x10;                    // Decimal
        default: return 0;
    }
}

}  // namespace talmera
