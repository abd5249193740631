#include "cli/Preview.h"

#include <cerrno>

#include <nlohmann/json.hpp>

#include "engine/ApplicationState.h"

namespace talmera::cli {
namespace {

// An exact decimal text ("18.000000", "-0.5") as a JSON number, when a double
// reading it gives its digits back (at most 15 significant digits); else null.
nlohmann::json exactNumber(const std::string& text) {
    size_t digits = 0, i = 0;
    bool point = false, leading = true;
    if (i < text.size() && text[i] == '-') ++i;
    if (i == text.size()) return nullptr;
    std::string trimmed;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9') return nullptr;
        if (c != '0') leading = false;
        if (!leading) ++digits;
    }
    // Trailing zeros of the decimals carry no digits of their own.
    if (point) {
        for (size_t k = text.size(); k > 0 && text[k - 1] == '0'; --k) --digits;
    }
    if (digits > 15) return nullptr;
    const std::string whole = point ? text.substr(0, text.find('.')) : text;
    const bool integral = !point || text.find_first_not_of('0', text.find('.') + 1) == std::string::npos;
    if (integral && whole.size() <= 16) return std::stoll(whole);
    return std::stod(text);
}

void formatRow(std::string& line, const std::vector<std::string>& cells, RowFormat format,
               const std::vector<bool>& exactNumbers) {
    line.clear();
    if (format == RowFormat::Json) {
        nlohmann::json row = nlohmann::json::array();
        const bool typed = exactNumbers.size() == cells.size();
        for (size_t c = 0; c < cells.size(); ++c) {
            nlohmann::json number = typed && exactNumbers[c] ? exactNumber(cells[c]) : nlohmann::json();
            row.push_back(number.is_null() ? nlohmann::json(cells[c]) : std::move(number));
        }
        // Texts from a damaged file may hold bytes that are not UTF-8; the
        // line stays valid JSON all the same.
        line = row.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
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

std::string rowLine(const std::vector<std::string>& cells, RowFormat format, const std::vector<bool>& exactNumbers) {
    std::string line;
    formatRow(line, cells, format, exactNumbers);
    return line;
}

RowWriter::RowWriter(CQuorvinAccessRecoveryApp& app, std::ostream& out, RowFormat format, ProgressBar& bar)
    : app_(app), out_(out), format_(format), bar_(bar) {}

void RowWriter::writeHeader(const std::vector<std::string>& names) {
    // The names are texts, whatever their columns hold.
    std::vector<bool> numbers;
    numbers.swap(exactNumbers_);
    write(names);
    numbers.swap(exactNumbers_);
}

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
    formatRow(line_, cells, format_, exactNumbers_);
    errno = 0;
    out_.write(line_.data(), static_cast<std::streamsize>(line_.size()));
    if (!out_) {
        failed_ = true;
        error_ = errno;
        app_.stopRequested = true;
    }
}

}  // namespace talmera::cli
