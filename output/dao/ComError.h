// A failed call of the output database (or of Access under automation): the
// result code, the component that raised it and its description, as a COM
// error carries them; and its text as the save's error handlers keep it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace talmera::dao {

struct ComError : std::runtime_error {
    ComError(int32_t resultCode, std::string source, std::string description);
    int32_t code;
    std::string source;
    std::string description;
};

// Four lines: the message for the result code, the code, the source and the
// description ("null" when missing). A password refusal becomes the single
// text "File is password protected".
std::string FormatComError(int32_t code, const std::string& source, const std::string& description);
std::string FormatComError(const ComError& error);

}  // namespace talmera::dao
