// csv and tsv: RFC 4180 by default (comma, double quotes where needed, a
// quote inside doubled, CR LF after each row), with mdb-export's options for
// the rest.
#include <cmath>
#include <cstdio>
#include <ctime>

#include "cli/ExportWriters.h"
#include "engine/ValueText.h"
#include "output/dao/Values.h"

namespace talmera::cli {
namespace {

class CsvWriter : public TableWriter {
public:
    CsvWriter(std::ostream& out, const CsvOptions& options) : out_(out), o_(options) {}

    void beginTable(const ExportTable& table) override {
        columns_ = &table.columns;
        if (!o_.header) return;
        line_.clear();
        for (size_t c = 0; c < table.columns.size(); ++c) {
            if (c > 0) line_ += o_.delimiter;
            field(table.columns[c].name, true);
        }
        line_ += o_.rowDelimiter;
        flushLine();
    }

    void row(const std::vector<ExportCell>& cells) override {
        line_.clear();
        for (size_t c = 0; c < cells.size(); ++c) {
            if (c > 0) line_ += o_.delimiter;
            cell(cells[c]);
        }
        line_ += o_.rowDelimiter;
        flushLine();
    }

    void endTable() override {}

private:
    void flushLine() { out_.write(line_.data(), static_cast<std::streamsize>(line_.size())); }

    bool needsQuotes(const std::string& text) const {
        if (text.empty()) return true;  // an empty text is not a NULL
        if (!o_.nullText.empty() && text == o_.nullText) return true;  // nor is a text that reads as NULL's
        if (text.find(o_.delimiter) != std::string::npos) return true;
        if (!o_.quote.empty() && text.find(o_.quote) != std::string::npos) return true;
        if (!o_.escapeInvisible && text.find_first_of("\r\n") != std::string::npos) return true;
        if (!o_.rowDelimiter.empty() && text.find(o_.rowDelimiter) != std::string::npos) return true;
        return false;
    }

    // One field; `text`: a text-like value (the quoting applies to it).
    void field(const std::string& value, bool text) {
        std::string escapedInvisible;
        const std::string* shown = &value;
        if (o_.escapeInvisible) {
            for (char ch : value) {
                switch (ch) {
                    case '\t': escapedInvisible += "\\t"; break;
                    case '\n': escapedInvisible += "\\n"; break;
                    case '\r': escapedInvisible += "\\r"; break;
                    case '\\': escapedInvisible += "\\\\"; break;
                    default: escapedInvisible += ch;
                }
            }
            shown = &escapedInvisible;
        }
        // A number or date never needs quotes for being empty.
        const bool needed = needsQuotes(*shown) && (text || !shown->empty());
        const bool quoted =
            !o_.quote.empty() && (o_.quoting == Quoting::All || (o_.quoting == Quoting::Needed && needed));
        if (!quoted) {
            if (o_.escape.empty()) {
                line_ += *shown;
                return;
            }
            // Unquoted: the escape goes before a delimiter, quote or escape.
            for (size_t i = 0; i < shown->size();) {
                bool escaped = false;
                for (const std::string* special : {&o_.escape, &o_.delimiter, &o_.quote}) {
                    if (!special->empty() && shown->compare(i, special->size(), *special) == 0) {
                        line_ += o_.escape + *special;
                        i += special->size();
                        escaped = true;
                        break;
                    }
                }
                if (!escaped) line_ += (*shown)[i++];
            }
            return;
        }
        line_ += o_.quote;
        for (size_t i = 0; i < shown->size();) {
            if (!o_.escape.empty() && o_.escape != o_.quote && shown->compare(i, o_.escape.size(), o_.escape) == 0) {
                line_ += o_.escape + o_.escape;
                i += o_.escape.size();
            } else if (shown->compare(i, o_.quote.size(), o_.quote) == 0) {
                line_ += (o_.escape.empty() ? o_.quote : o_.escape) + o_.quote;
                i += o_.quote.size();
            } else {
                line_ += (*shown)[i++];
            }
        }
        line_ += o_.quote;
    }

    void bytes(const std::vector<uint8_t>& data) {
        switch (o_.binary) {
            case BinaryMode::Strip: return;
            case BinaryMode::Hex: line_ += HexText(data.data(), data.size()); return;
            case BinaryMode::Base64: line_ += base64(data); return;
            case BinaryMode::Raw: field(std::string(data.begin(), data.end()), true); return;
        }
    }

    std::string dateText(const ExportCell& cell) const {
        const bool onlyDate = dateOnly(cell);
        const std::string& format = onlyDate && !o_.dateFormat.empty() ? o_.dateFormat : o_.dateTimeFormat;
        const std::string iso = cell.text.empty() ? dao::sqlite::IsoDate(cell.days) : cell.text;
        if (format.empty()) return iso;
        std::tm tm{};
        if (std::sscanf(iso.c_str(), "%d-%d-%d %d:%d:%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                        &tm.tm_min, &tm.tm_sec) != 6) {
            return iso;
        }
        tm.tm_year -= 1900;
        tm.tm_mon -= 1;
        tm.tm_isdst = -1;
        // Weekdays for %a and %A: days since 30 December 1899, a Saturday.
        const long long day = static_cast<long long>(std::trunc(cell.days));
        tm.tm_wday = static_cast<int>(((6 + day) % 7 + 7) % 7);
        char buffer[256];
        const size_t n = std::strftime(buffer, sizeof buffer, format.c_str(), &tm);
        return std::string(buffer, n);
    }

    void cell(const ExportCell& c) {
        switch (c.kind) {
            case ExportCell::Kind::Null: line_ += o_.nullText; return;
            case ExportCell::Kind::Boolean:
                field(o_.booleanWords ? (c.boolean ? "true" : "false") : (c.boolean ? "1" : "0"), false);
                return;
            case ExportCell::Kind::Integer: field(std::to_string(c.integer), false); return;
            case ExportCell::Kind::Real: field(shortestReal(c.real), false); return;
            case ExportCell::Kind::Exact: field(exactWithScale(c), false); return;
            case ExportCell::Kind::Date: field(dateText(c), false); return;
            case ExportCell::Kind::Text: field(c.text, true); return;
            case ExportCell::Kind::Bytes: bytes(c.bytes); return;
            case ExportCell::Kind::Attachments: {
                // The files' names; their bytes are in jsonl and sql, and
                // `attachments --extract` writes them out.
                std::string names;
                for (size_t k = 0; k < c.attachments.size(); ++k) {
                    if (k > 0) names += ';';
                    names += c.attachments[k].fileName;
                }
                field(names, true);
                return;
            }
            case ExportCell::Kind::Values: {
                std::string joined;
                for (size_t k = 0; k < c.values.size(); ++k) {
                    if (k > 0) joined += ';';
                    const ExportCell& v = c.values[k];
                    joined += v.kind == ExportCell::Kind::Exact     ? v.text
                              : v.kind == ExportCell::Kind::Integer ? std::to_string(v.integer)
                              : v.kind == ExportCell::Kind::Real    ? shortestReal(v.real)
                                                                    : v.text;
                }
                field(joined, true);
                return;
            }
        }
    }

    std::ostream& out_;
    CsvOptions o_;
    const std::vector<ExportColumn>* columns_ = nullptr;
    std::string line_;
};

}  // namespace

std::unique_ptr<TableWriter> makeCsvWriter(std::ostream& out, const CsvOptions& options) {
    return std::make_unique<CsvWriter>(out, options);
}

}  // namespace talmera::cli
