// The receiver of a recovery run's messages: the window, the command line, or a
// test's recorder. The run never touches a window; it only talks through this.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace talmera {

// Message numbers, relative to the platform's first user message number.
inline constexpr uint32_t kUserMessage = 0x400;
inline constexpr uint32_t UM_BUILD_TREE = kUserMessage + 101;
inline constexpr uint32_t UM_ADD_RECORD_ROW = kUserMessage + 102;
inline constexpr uint32_t UM_RUN_FINISHED = kUserMessage + 104;
inline constexpr uint32_t UM_PROGRESS = kUserMessage + 105;
inline constexpr uint32_t UM_LOG_LINE = kUserMessage + 106;
inline constexpr uint32_t UM_OBJECT_SAVED = kUserMessage + 107;

// wParam values of UM_PROGRESS.
inline constexpr uintptr_t kProgressStart = 1;
inline constexpr uintptr_t kProgressStep = 2;
inline constexpr uintptr_t kProgressEnd = 3;

class IMessageReceiver {
public:
    virtual ~IMessageReceiver() = default;

    // Synchronous: returns after the receiver has handled the message. The
    // hand-over texts (logLine, currentRowValues, ...) are read from the shared
    // application state while the call is in progress.
    virtual intptr_t send(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;

    // Asynchronous: used only for UM_RUN_FINISHED.
    virtual void post(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;

    // The tool's own modal box: an upper and a lower text and OK.
    virtual void showMessageBox(const std::string& upper, const std::string& lower) = 0;

    // The platform's plain message box with an OK button.
    virtual void showPlatformMessage(const std::string& text) = 0;

    // Creating the output: an output file of that path exists. Overwrite it?
    // (Without an answer it is kept.)
    virtual bool askOverwrite(const std::string& path) {
        (void)path;
        return false;
    }

    // Creating the output: the new location for it, given the existing file and
    // a proposed time-stamped name. Returns the path accepted.
    virtual std::string askNewLocation(const std::string& existing, const std::string& proposal) {
        (void)existing;
        return proposal;
    }

    // Opening the source: the file at `path` is encrypted. Its password?
    // `attempt` counts the passwords already refused (0: the first question).
    // Without an answer the file stays unread.
    virtual std::optional<std::string> askPassword(const std::string& path, int attempt) {
        (void)path;
        (void)attempt;
        return std::nullopt;
    }
};

}  // namespace talmera
