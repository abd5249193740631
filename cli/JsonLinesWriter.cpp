// jsonl: one JSON object per row, keyed by column name, in column order.
// Numbers are JSON numbers; a Currency or Decimal value is a number when a
// double reading it gives its digits back, and otherwise a string of its
// exact digits. Dates are ISO 8601 text, binary values base64.
#include <cmath>

#include <nlohmann/json.hpp>

#include "cli/ExportWriters.h"

namespace talmera::cli {
namespace {

using Json = nlohmann::ordered_json;

Json exactNumber(const ExportCell& cell) {
    if (!cell.fits) return cell.text;
    // A whole number that fits 64 bits stays an integer ("97", not "97.0").
    if (cell.text.find('.') == std::string::npos) {
        try {
            size_t used = 0;
            const long long whole = std::stoll(cell.text, &used);
            if (used == cell.text.size()) return whole;
        } catch (const std::exception&) {
        }
    }
    return std::stod(cell.text);
}

Json valueOf(const ExportCell& cell) {
    switch (cell.kind) {
        case ExportCell::Kind::Null: return nullptr;
        case ExportCell::Kind::Boolean: return cell.boolean;
        case ExportCell::Kind::Integer: return cell.integer;
        case ExportCell::Kind::Real:
            // JSON has no NaN or infinity: they are the texts JavaScript prints.
            if (std::isnan(cell.real)) return "NaN";
            if (std::isinf(cell.real)) return cell.real > 0 ? "Infinity" : "-Infinity";
            return cell.real;
        case ExportCell::Kind::Exact: return exactNumber(cell);
        case ExportCell::Kind::Date:
            // A day number no text gives back (a time "before" 30 December
            // 1899) stays the number, as in the repaired database.
            if (cell.text.empty()) return cell.days;
            return isoDateText(cell, 'T');
        case ExportCell::Kind::Text: return cell.text;
        case ExportCell::Kind::Bytes: return base64(cell.bytes);
        case ExportCell::Kind::Attachments: {
            Json files = Json::array();
            for (const ExportAttachment& a : cell.attachments) {
                Json file = {{"file_name", a.fileName}, {"file_type", a.fileType}, {"data", base64(a.data)}};
                if (!a.complete) file["incomplete"] = true;
                files.push_back(std::move(file));
            }
            return files;
        }
        case ExportCell::Kind::Values: {
            Json values = Json::array();
            for (const ExportCell& v : cell.values) values.push_back(valueOf(v));
            return values;
        }
    }
    return nullptr;
}

class JsonLinesWriter : public TableWriter {
public:
    explicit JsonLinesWriter(std::ostream& out) : out_(out) {}

    void beginTable(const ExportTable& table) override { columns_ = &table.columns; }

    void row(const std::vector<ExportCell>& cells) override {
        Json object = Json::object();
        for (size_t c = 0; c < cells.size() && c < columns_->size(); ++c) {
            object[(*columns_)[c].name] = valueOf(cells[c]);
        }
        // Texts from a damaged file may hold bytes that are not UTF-8; the
        // line stays valid JSON all the same.
        line_ = object.dump(-1, ' ', false, Json::error_handler_t::replace);
        line_ += '\n';
        out_.write(line_.data(), static_cast<std::streamsize>(line_.size()));
    }

    void endTable() override {}

private:
    std::ostream& out_;
    const std::vector<ExportColumn>* columns_ = nullptr;
    std::string line_;
};

}  // namespace

std::unique_ptr<TableWriter> makeJsonLinesWriter(std::ostream& out) { return std::make_unique<JsonLinesWriter>(out); }

}  // namespace talmera::cli
