#include "cli/TerminalReceiver.h"

#include <cerrno>

#include "engine/ApplicationState.h"

namespace talmera::cli {

std::string trimLineBreaks(std::string_view text) {
    auto isBreak = [](char c) { return c == '\n' || c == '\r'; };
    size_t first = 0;
    while (first < text.size() && isBreak(text[first])) ++first;
    size_t last = text.size();
    while (last > first && isBreak(text[last - 1])) --last;
    return std::string(text.substr(first, last - first));
}

void showProgress(ProgressBar& bar, uintptr_t wParam, intptr_t lParam) {
    if (wParam == kProgressStart) {
        bar.start(lParam > 0 ? static_cast<uint64_t>(lParam) : 0);
    } else if (wParam == kProgressStep) {
        bar.step();
    } else if (wParam == kProgressEnd) {
        bar.end();
    }
}

TerminalReceiver::TerminalReceiver(CQuorvinAccessRecoveryApp& app, std::ostream& out,
                                   ProgressBar& bar)
    : app_(app), out_(out), bar_(bar) {}

intptr_t TerminalReceiver::send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    switch (message) {
        case UM_LOG_LINE: {
            // The progress bar names the table being saved.
            constexpr std::string_view kSaving = "Saving Table.....  ";
            if (app_.logLine.compare(0, kSaving.size(), kSaving) == 0) {
                bar_.setLabel("Saving " + app_.logLine.substr(kSaving.size()));
            }
            if (!quiet_) print({}, app_.logLine);
            break;
        }
        case UM_PROGRESS:
            showProgress(bar_, wParam, lParam);
            break;
        default:
            // The tree, record rows and save notices are for the window.
            break;
    }
    return 0;
}

void TerminalReceiver::post(uint32_t, uintptr_t, intptr_t) {
    // Only UM_RUN_FINISHED arrives here; the command line waits for Run() to
    // return instead.
}

void TerminalReceiver::showMessageBox(const std::string& upper, const std::string& lower) {
    printMessage(upper);
    printMessage(lower);
}

void TerminalReceiver::showPlatformMessage(const std::string& text) { printMessage(text); }

void TerminalReceiver::printMessage(const std::string& text) {
    std::string trimmed = trimLineBreaks(text);
    if (trimmed.empty()) return;
    print(kMessagePrefix, trimmed);
}

void TerminalReceiver::print(std::string_view prefix, const std::string& line) {
    bar_.hide();
    errno = 0;
    out_ << prefix << line << '\n';
    if (!failed_ && !out_) {
        failed_ = true;
        error_ = errno;
    }
}

}  // namespace talmera::cli
