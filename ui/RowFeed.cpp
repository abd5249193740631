#include "ui/RowFeed.h"

#include <chrono>

namespace talmera::ui {

void RowBatch::Add(const std::vector<std::string>& cells, bool first) {
    for (const std::string& cell : cells) {
        text_ += cell;
        cellEnds_.push_back(text_.size());
    }
    rowEnds_.push_back(cellEnds_.size());
    first_.push_back(first ? 1 : 0);
}

void RowBatch::Clear() {
    text_.clear();
    cellEnds_.clear();
    rowEnds_.clear();
    first_.clear();
}

std::string_view RowBatch::Cell(size_t row, size_t column) const {
    if (row >= Rows() || column >= CellCount(row)) return {};
    const size_t cell = (row == 0 ? 0 : rowEnds_[row - 1]) + column;
    const size_t begin = cell == 0 ? 0 : cellEnds_[cell - 1];
    return std::string_view(text_).substr(begin, cellEnds_[cell] - begin);
}

RowFeed::RowFeed(size_t batchRows, size_t limitRows, size_t limitBytes, std::function<void()> wake,
                 const std::atomic<bool>& stop)
    : batchRows_(batchRows), limitRows_(limitRows), limitBytes_(limitBytes), wake_(std::move(wake)), stop_(stop) {}

void RowFeed::Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    rows_.Clear();
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
        while (open_ && (rows_.Rows() >= limitRows_ || rows_.Bytes() >= limitBytes_) && !stop_) {
            taken_.wait_for(lock, std::chrono::milliseconds(20));
        }
        if (!open_) return false;
        rows_.Add(cells, first);
        cells.clear();
        if (rows_.Rows() >= batchRows_ && !wakePending_) {
            wakePending_ = true;
            wake = true;
        }
    }
    if (wake && wake_) wake_();
    return true;
}

RowBatch RowFeed::TakeAll() {
    RowBatch taken;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::swap(taken, rows_);
        wakePending_ = false;
    }
    taken_.notify_all();
    return taken;
}

}  // namespace talmera::ui
