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
#include <string>
#include <vector>

namespace talmera::ui {

struct FedRow {
    bool first = false;  // the first row of the table (the grid's row counter restarts)
    std::vector<std::string> cells;
};

class RowFeed {
public:
    // `wake` asks the window's thread to take the rows (called on the run's
    // thread, once per batch); `stop` tells a waiting run to go on.
    RowFeed(size_t batchRows, size_t limitRows, std::function<void()> wake, const std::atomic<bool>& stop);

    // The window's thread: rows are taken from here on / no longer.
    void Open();
    void Close();
    bool IsOpen() const;

    // The run's thread: takes `cells` (left empty) and returns true, or
    // false when the feed is closed (the row then goes the ordinary way).
    bool Take(std::vector<std::string>& cells, bool first);

    // The window's thread: every row queued so far, in order.
    std::vector<FedRow> TakeAll();

private:
    const size_t batchRows_;
    const size_t limitRows_;
    std::function<void()> wake_;
    const std::atomic<bool>& stop_;
    mutable std::mutex mutex_;
    std::condition_variable taken_;
    std::vector<FedRow> rows_;
    bool open_ = false;
    bool wakePending_ = false;
};

}  // namespace talmera::ui
