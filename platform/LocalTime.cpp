#include "platform/LocalTime.h"

#include <clocale>
#include <string>

namespace talmera {

std::string formatLocalTime(const char* format, std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    // %Y is always four digits; a locale's own %c or %x may carry two, which
    // the log never uses, so the format is taken as given.
    char buffer[256];
    size_t n = std::strftime(buffer, sizeof buffer, format, &local);
    return std::string(buffer, n);
}

std::string runTimestamp(std::time_t when) {
    return formatLocalTime("%A, %B %d, %Y, %I:%M:%S %p", when);
}

}  // namespace talmera
