#include "cli/Password.h"

#include <termios.h>
#include <unistd.h>

#include <iostream>

namespace talmera::cli {

namespace {
// Turns the terminal's echo off while a password is typed, when `in` is the
// terminal's standard input (a test's stream has no echo to turn off).
class EchoOff {
public:
    explicit EchoOff(const std::istream* in) {
        if (in != &std::cin || ::tcgetattr(STDIN_FILENO, &saved_) != 0) return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        active_ = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (active_) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    termios saved_{};
    bool active_ = false;
};
}  // namespace

std::optional<std::string> PasswordReceiver::askPassword(const std::string& path, int attempt) {
    // A password on the command line is tried once: a wrong one is not asked for again.
    if (given_) return attempt == 0 ? given_ : std::nullopt;
    if (in_ == nullptr || attempt >= kPasswordTries || !*in_) return std::nullopt;
    if (attempt > 0) err_ << "The password is not correct.\n";
    err_ << "Password for '" << path << "': " << std::flush;
    std::string answer;
    bool read;
    {
        EchoOff echoOff(in_);
        read = static_cast<bool>(std::getline(*in_, answer));
    }
    // The line end the user typed was not echoed.
    err_ << '\n';
    if (!read) return std::nullopt;
    if (!answer.empty() && answer.back() == '\r') answer.pop_back();
    return answer;
}

}  // namespace talmera::cli
