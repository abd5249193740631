// The preview command's output: a table's rows as tab-separated lines or as
// one JSON array per line, written while the run decodes them.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/ProgressBar.h"
#include "platform/MessageReceiver.h"

namespace talmera {
struct CQuorvinAccessRecoveryApp;
}

namespace talmera::cli {

enum class RowFormat { Tsv, Json };

// Appends one value to a tab-separated line: tab, line feed, carriage return
// and backslash become \t, \n, \r and \\.
void appendTsvField(std::string& line, std::string_view text);

// One output line (with its line feed) of the given cells; in json, the
// cells `exactNumbers` marks are numbers where they round-trip.
std::string rowLine(const std::vector<std::string>& cells, RowFormat format,
                    const std::vector<bool>& exactNumbers = {});

// Receives a preview run: every row slot that yielded values becomes one line
// on `out`, written at once and never kept. The stream is not flushed per row.
// Each row steps the progress bar; the run's own per-page progress is ignored,
// the caller starts the bar with the row count it expects. When `out` fails
// (a full disk, a closed pipe) the run is asked to stop: nobody reads the rest.
class RowWriter : public IMessageReceiver {
public:
    RowWriter(CQuorvinAccessRecoveryApp& app, std::ostream& out, RowFormat format, ProgressBar& bar);

    void writeHeader(const std::vector<std::string>& names);
    // json: the columns (by position) of Currency and Decimal values, which
    // are written as JSON numbers where a double gives their digits back.
    void setExactNumberColumns(std::vector<bool> columns) { exactNumbers_ = std::move(columns); }
    uint64_t rowsWritten() const { return rows_; }
    // Whether writing failed, and the system's error number at that moment (0
    // when it had none).
    bool outputFailed() const { return failed_; }
    int outputError() const { return error_; }

    intptr_t send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    void post(uint32_t, uintptr_t, intptr_t) override {}
    void showMessageBox(const std::string&, const std::string&) override {}
    void showPlatformMessage(const std::string&) override {}

private:
    void write(const std::vector<std::string>& cells);

    CQuorvinAccessRecoveryApp& app_;
    std::ostream& out_;
    RowFormat format_;
    ProgressBar& bar_;
    uint64_t rows_ = 0;
    bool failed_ = false;
    int error_ = 0;
    std::vector<bool> exactNumbers_;
    std::string line_;  // reused, so that a row costs no allocation once warm
};

}  // namespace talmera::cli
