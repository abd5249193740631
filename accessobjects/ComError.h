// The text of a failed output or automation call, as the save's error
// handlers keep it.
#pragma once

#include <cstdint>
#include <string>

namespace talmera {

namespace dao {
struct ComError;
}

// Four lines: the message for the result code, the code, the source and the
// description ("null" when missing). A password refusal becomes the single
// text "File is password protected".
std::string FormatComError(int32_t code, const std::string& source, const std::string& description);
std::string FormatComError(const dao::ComError& error);

}  // namespace talmera
