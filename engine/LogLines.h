// The recovery log: how a line reaches the front end, and the phrases the
// scan, the preview and the save share. A line is handed over in the shared
// state's logLine and announced with UM_LOG_LINE; the receiver reads it while
// the message is handled (platform/MessageReceiver.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace talmera {

struct CQuorvinAccessRecoveryApp;
class IMessageReceiver;

// Sets app.logLine to line and sends UM_LOG_LINE to receiver (none: the line
// is only kept in logLine).
void SendLogLine(CQuorvinAccessRecoveryApp& app, IMessageReceiver* receiver, const std::string& line);

namespace log {
// Eighteen spaces: the log's empty line, and the lower text of some boxes.
inline const std::string kBlankLine(18, ' ');
// Forty-eight dashes between the parts of a summary.
inline const std::string kSeparator(48, '-');
// "text  count": every counted line of the log.
template <typename Count>
std::string Counted(const std::string& text, Count count) {
    return text + "  " + std::to_string(count);
}
}  // namespace log

// Stored bytes as the log and the report show them: hexadecimal, a space
// between bytes.
inline std::string HexBytes(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) {
        if (!text.empty()) text.push_back(' ');
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 0x0F]);
    }
    return text.empty() ? "none" : text;
}

}  // namespace talmera
