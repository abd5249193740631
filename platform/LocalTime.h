// Local time stamps in the formats of the log.
#pragma once

#include <ctime>
#include <string>

namespace talmera {

// strftime in the current locale.
std::string formatLocalTime(const char* format, std::time_t when);

// "%A, %B %d, %Y, %I:%M:%S %p": the recovery run's time stamp.
std::string runTimestamp(std::time_t when = std::time(nullptr));

}  // namespace talmera
