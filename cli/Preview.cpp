#include "cli/Preview.h"

#include <cerrno>

#include <nlohmann/json.hpp>

#include "engine/ApplicationState.h"

namespace talmera::cli {
namespace {

void formatRow(std::string& line, const std::vector<std::string>& cells, RowFormat format) {
    line.clear();
    if (format == RowFormat::Json) {
        // Texts from a damaged file may hold bytes that are not UTF-8; the
        // line stays valid JSON all the same.
        line = nlohmann::json(cells).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    } else {
        for (size_t i = 0; i < cells.size(); ++i) {
            if (i > 0) line += '\t';
            appendTsvField(line, cells[i]);
        }
    }
    line += '\n';
}

}  // namespace

void appendTsvField(std::string& line, std::string_view text) {
    // Runs of plain characters are copied whole: most values have none to escape.
    size_t plain = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char* escaped = c == '\t'   ? "\\t"
                              : c == '\n' ? "\\n"
                              : c == '\r' ? "\\r"
                              : c == '\\' ? "\\\\"
                                          : nullptr;
        if (escaped == nullptr) continue;
        line.append(text.data() + plain, i - plain);
        line.append(escaped, 2);
        plain = i + 1;
    }
    line.append(text.data() + plain, text.size() - plain);
}

std::string rowLine(const std::vector<std::string>& cells, RowFormat format) {
    std::string line;
    formatRow(line, cells, format);
    return line;
}

RowWriter::RowWriter(CQuorvinAccessRecoveryApp& app, std::ostream& out, RowFormat format, ProgressBar& bar)
    : app_(app), out_(out), format_(format), bar_(bar) {}

void RowWriter::writeHeader(const std::vector<std::string>& names) { write(names); }

intptr_t RowWriter::send(uint32_t message, uintptr_t, intptr_t) {
    // A slot that held no row (deleted, moved elsewhere, unreadable) arrives
    // with no values: it is no row of the table.
    if (message == UM_ADD_RECORD_ROW && !app_.currentRowValues.empty()) {
        write(app_.currentRowValues);
        ++rows_;
        bar_.step();
    }
    return 0;
}

void RowWriter::write(const std::vector<std::string>& cells) {
    if (failed_) return;
    formatRow(line_, cells, format_);
    errno = 0;
    out_.write(line_.data(), static_cast<std::streamsize>(line_.size()));
    if (!out_) {
        failed_ = true;
        error_ = errno;
        app_.stopRequested = true;
    }
}

}  // namespace talmera::cli
