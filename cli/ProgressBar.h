// A one-line progress bar for the terminal's error stream.
//
// A scan reports one step per page, and a large file has hundreds of thousands
// of pages: the bar therefore redraws at most every 100 ms, whatever the step
// rate, so that the terminal never becomes the bottleneck of a run.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace talmera::cli {

class ProgressBar {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Clock = std::function<TimePoint()>;

    static constexpr std::chrono::milliseconds kRedrawInterval{100};
    static constexpr int kWidth = 30;

    // A disabled bar writes nothing (the error stream is not a terminal).
    ProgressBar(std::ostream& out, bool enabled, Clock clock = &std::chrono::steady_clock::now);

    void start(uint64_t total);
    // What the bar measures ("Scanning pages", "Orders: rows", "Saving
    // Orders"), shown before it; kept until changed.
    void setLabel(std::string label);
    void step();
    void end();

    // Clears the bar before other output shares the terminal line; the next
    // step draws it again.
    void hide();

    bool enabled() const { return enabled_; }
    bool visible() const { return visible_; }

private:
    void draw();
    void clearLine();

    std::ostream& out_;
    bool enabled_;
    Clock clock_;
    bool running_ = false;
    bool visible_ = false;
    uint64_t total_ = 0;
    uint64_t done_ = 0;
    std::string label_;
    TimePoint started_{};
    TimePoint lastDraw_{};
    size_t lastLength_ = 0;
};

}  // namespace talmera::cli
