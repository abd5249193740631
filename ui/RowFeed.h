// Rows of a preview on their way from the recovery thread to the grid.
//
// The run hands over each decoded row synchronously, as every message; the
// window takes it at once into this queue instead of waking its own thread
// for every row, and the grid takes the queued rows in batches. The run waits
// only when the grid is far behind, so that the queue stays small.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talmera::ui {

// Rows on their way: the texts of their cells one after the other, so that
// handing a row over costs no allocation of its own.
class RowBatch {
public:
    void Add(const std::vector<std::string>& cells, bool first);
    void Clear();
    size_t Rows() const { return rowEnds_.size(); }
    size_t Bytes() const { return text_.size(); }
    bool First(size_t row) const { return first_[row] != 0; }
    size_t CellCount(size_t row) const { return rowEnds_[row] - (row == 0 ? 0 : rowEnds_[row - 1]); }
    std::string_view Cell(size_t row, size_t column) const;

private:
    std::string text_;
    std::vector<size_t> cellEnds_;  // end of each cell's text
    std::vector<size_t> rowEnds_;   // end of each row's cells
    std::vector<uint8_t> first_;    // the row is the table's first (the grid's row counter restarts)
};

class RowFeed {
public:
    // `wake` asks the window's thread to take the rows (called on the run's
    // thread, once per batch); `stop` tells a waiting run to go on. The run
    // waits while `limitRows` rows or `limitBytes` bytes of texts are queued.
    RowFeed(size_t batchRows, size_t limitRows, size_t limitBytes, std::function<void()> wake,
            const std::atomic<bool>& stop);

    // The window's thread: rows are taken from here on / no longer.
    void Open();
    void Close();
    bool IsOpen() const;

    // The run's thread: takes `cells` (left empty) and returns true, or
    // false when the feed is closed (the row then goes the ordinary way).
    bool Take(std::vector<std::string>& cells, bool first);

    // The window's thread: every row queued so far, in order.
    RowBatch TakeAll();

private:
    const size_t batchRows_;
    const size_t limitRows_;
    const size_t limitBytes_;
    std::function<void()> wake_;
    const std::atomic<bool>& stop_;
    mutable std::mutex mutex_;
    std::condition_variable taken_;
    RowBatch rows_;
    bool open_ = false;
    bool wakePending_ = false;
};

}  // namespace talmera::ui
