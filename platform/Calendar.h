// Day numbers and civil dates (proleptic Gregorian), shared by the value
// texts of the engine and the date storage of the output. Access stores a
// date as days since 1899-12-30; these work in days since 1970-01-01.
#pragma once

#include <cstdint>

namespace talmera {

// Days between Access's day zero (1899-12-30) and 1970-01-01.
inline constexpr int64_t kDaysFrom1899To1970 = 25569;

// The civil date of a day number counted from 1970-01-01.
inline void civilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

// The day number, counted from 1970-01-01, of a civil date.
inline int64_t daysFromCivil1970(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace talmera
