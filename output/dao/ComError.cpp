#include "output/dao/ComError.h"

#include <cstdio>

namespace talmera::dao {

ComError::ComError(int32_t resultCode, std::string source_, std::string description_)
    : std::runtime_error(description_), code(resultCode), source(std::move(source_)),
      description(std::move(description_)) {}

namespace {

// There is no system message table for these codes here; the fallback texts
// are the ones the platform gives when it has none.
std::string messageFor(int32_t code) {
    const uint32_t u = static_cast<uint32_t>(code);
    char buffer[64];
    if (u >= 0x80040201u && u <= 0x8004FFFFu) {
        std::snprintf(buffer, sizeof buffer, "IDispatch error #%d", static_cast<int>(u - 0x80040200u));
    } else {
        std::snprintf(buffer, sizeof buffer, "Unknown error 0x%0lX", static_cast<unsigned long>(u));
    }
    return buffer;
}

}  // namespace

std::string FormatComError(int32_t code, const std::string& source, const std::string& description) {
    char codeLine[32];
    std::snprintf(codeLine, sizeof codeLine, "0x%08lx", static_cast<unsigned long>(static_cast<uint32_t>(code)));
    std::string text = "Message : " + messageFor(code) + "\n";
    text += "Code : " + std::string(codeLine) + "\n";
    text += "Source : " + (source.empty() ? std::string("null") : source) + "\n";
    text += "Description : " + (description.empty() ? std::string("null") : description) + "\n";
    if (text.find("Not a valid password", 1) != std::string::npos) return "File is password protected";
    return text;
}

std::string FormatComError(const ComError& error) { return FormatComError(error.code, error.source, error.description); }

}  // namespace talmera::dao
