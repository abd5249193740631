// Receivers of a recovery run's messages for the command line.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "cli/ProgressBar.h"
#include "platform/MessageReceiver.h"

namespace talmera {
struct CQuorvinAccessRecoveryApp;
}

namespace talmera::cli {

// What a message box looks like on the terminal.
inline constexpr std::string_view kMessagePrefix = "[message] ";

// The text with its leading and trailing line breaks removed; line breaks
// inside stay as they are.
std::string trimLineBreaks(std::string_view text);

// Prints the run's log lines and message boxes to `out` and drives the
// progress bar (which writes to the error stream, when that is a terminal).
class TerminalReceiver : public IMessageReceiver {
public:
    TerminalReceiver(CQuorvinAccessRecoveryApp& app, std::ostream& out, ProgressBar& bar);

    // Whether writing to `out` failed, and the system's error number at that
    // moment (0 when it had none).
    bool outputFailed() const { return failed_; }
    int outputError() const { return error_; }

    // Prints a line of the front end's own among the log lines.
    void printLine(const std::string& line) { print({}, line); }
    // --quiet: the log lines are not printed (message boxes and the front
    // end's own lines still are); they are still received and kept.
    void setQuiet(bool quiet) { quiet_ = quiet; }

    intptr_t send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    void post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    void showMessageBox(const std::string& upper, const std::string& lower) override;
    void showPlatformMessage(const std::string& text) override;

private:
    void printMessage(const std::string& text);
    void print(std::string_view prefix, const std::string& line);

    CQuorvinAccessRecoveryApp& app_;
    std::ostream& out_;
    ProgressBar& bar_;
    bool failed_ = false;
    int error_ = 0;
    bool quiet_ = false;
};

// Passes a run's progress messages (UM_PROGRESS) to the bar.
void showProgress(ProgressBar& bar, uintptr_t wParam, intptr_t lParam);

// Draws the progress bar and prints nothing else (a run whose output comes
// after it).
class ProgressReceiver : public IMessageReceiver {
public:
    explicit ProgressReceiver(ProgressBar& bar) : bar_(bar) {}

    intptr_t send(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
        if (message == UM_PROGRESS) showProgress(bar_, wParam, lParam);
        return 0;
    }
    void post(uint32_t, uintptr_t, intptr_t) override {}
    void showMessageBox(const std::string&, const std::string&) override {}
    void showPlatformMessage(const std::string&) override {}

private:
    ProgressBar& bar_;
};

// Takes every message and prints nothing (the catalog command prints its own
// result once the run is over).
class SilentReceiver : public IMessageReceiver {
public:
    intptr_t send(uint32_t, uintptr_t, intptr_t) override { return 0; }
    void post(uint32_t, uintptr_t, intptr_t) override {}
    void showMessageBox(const std::string&, const std::string&) override {}
    void showPlatformMessage(const std::string&) override {}
};

}  // namespace talmera::cli
