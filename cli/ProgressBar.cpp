#include "cli/ProgressBar.h"

#include <algorithm>
#include <string>

namespace talmera::cli {

ProgressBar::ProgressBar(std::ostream& out, bool enabled, Clock clock)
    : out_(out), enabled_(enabled), clock_(std::move(clock)) {}

void ProgressBar::start(uint64_t total) {
    if (!enabled_) return;
    if (visible_) clearLine();
    running_ = true;
    total_ = total;
    done_ = 0;
    started_ = clock_();
    draw();
}

void ProgressBar::setLabel(std::string label) { label_ = std::move(label); }

namespace {

// "0:42", "1:02:03".
std::string clockText(uint64_t seconds) {
    std::string text;
    if (seconds >= 3600) text = std::to_string(seconds / 3600) + ":";
    const uint64_t minutes = seconds / 60 % 60;
    text += (seconds >= 3600 && minutes < 10 ? "0" : "") + std::to_string(minutes) + ":";
    const uint64_t rest = seconds % 60;
    text += (rest < 10 ? "0" : "") + std::to_string(rest);
    return text;
}

}  // namespace

void ProgressBar::step() {
    if (!enabled_ || !running_) return;
    ++done_;
    if (clock_() - lastDraw_ >= kRedrawInterval) draw();
}

void ProgressBar::end() {
    if (!enabled_) return;
    if (visible_) clearLine();
    running_ = false;
}

void ProgressBar::hide() {
    if (enabled_ && visible_) clearLine();
}

void ProgressBar::draw() {
    std::string line = "\r";
    if (!label_.empty()) line += label_ + " ";
    line += "[";
    // The run may send more steps than it announced (or announce none): the
    // bar stays full then, and the counter keeps the true figure.
    uint64_t shown = total_ == 0 ? 0 : (done_ >= total_ ? total_ : done_);
    int filled = total_ == 0 ? 0 : static_cast<int>(shown * kWidth / total_);
    line.append(static_cast<size_t>(filled), '#');
    line.append(static_cast<size_t>(kWidth - filled), '-');
    line += "] ";
    if (total_ != 0) {
        std::string percent = std::to_string(shown * 100 / total_);
        line.append(3 - std::min<size_t>(3, percent.size()), ' ');
        line += percent + "% ";
    }
    line += std::to_string(done_);
    if (total_ != 0) line += "/" + std::to_string(total_);
    // The rate and the time left, once there is a rate to tell.
    const double elapsed = std::chrono::duration<double>(clock_() - started_).count();
    if (elapsed >= 1.0 && done_ > 0) {
        const double rate = static_cast<double>(done_) / elapsed;
        line += ", " + std::to_string(static_cast<uint64_t>(rate)) + "/s";
        if (total_ > done_) line += ", " + clockText(static_cast<uint64_t>(static_cast<double>(total_ - done_) / rate)) + " left";
    }
    // Pad over the remains of a longer previous line.
    size_t length = line.size() - 1;
    if (length < lastLength_) line.append(lastLength_ - length, ' ');
    lastLength_ = length;
    out_ << line << std::flush;
    visible_ = true;
    lastDraw_ = clock_();
}

void ProgressBar::clearLine() {
    out_ << '\r' << std::string(lastLength_, ' ') << '\r' << std::flush;
    visible_ = false;
    lastLength_ = 0;
    // lastDraw_ stays: a run that logs a line per page must not turn every
    // hide into an immediate redraw.
}

}  // namespace talmera::cli
