#include "ui/RowFeed.h"

#include <chrono>

namespace talmera::ui {

RowFeed::RowFeed(size_t batchRows, size_t limitRows, std::function<void()> wake, const std::atomic<bool>& stop)
    : batchRows_(batchRows), limitRows_(limitRows), wake_(std::move(wake)), stop_(stop) {}

void RowFeed::Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    rows_.clear();
    wakePending_ = false;
}

void RowFeed::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
    taken_.notify_all();
}

bool RowFeed::IsOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
}

bool RowFeed::Take(std::vector<std::string>& cells, bool first) {
    bool wake = false;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!open_) return false;
        // Far behind: wait for the grid, but never past a stop (the run must
        // see it) or the end of the feed. The stop is a plain flag, so it is
        // looked at now and then.
        while (open_ && rows_.size() >= limitRows_ && !stop_) {
            taken_.wait_for(lock, std::chrono::milliseconds(20));
        }
        if (!open_) return false;
        rows_.push_back({first, std::move(cells)});
        cells.clear();
        if (rows_.size() >= batchRows_ && !wakePending_) {
            wakePending_ = true;
            wake = true;
        }
    }
    if (wake && wake_) wake_();
    return true;
}

std::vector<FedRow> RowFeed::TakeAll() {
    std::vector<FedRow> taken;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        taken.swap(rows_);
        wakePending_ = false;
    }
    taken_.notify_all();
    return taken;
}

}  // namespace talmera::ui
