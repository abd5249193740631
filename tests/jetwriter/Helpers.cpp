#include "Helpers.h"

#include "MdbReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

namespace jwtest {

using namespace jetwriter;

TempDir::TempDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() / ("jetwriter-test-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

int run(const std::string& command, std::string* out) {
    FILE* p = popen(command.c_str(), "r");
    if (!p) throw std::runtime_error("cannot run " + command);
    std::string text;
    std::array<char, 65536> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) text.append(buf.data(), n);
    int status = pclose(p);
    if (out) *out = std::move(text);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

bool haveMdbTools() {
    static const bool have = run("command -v mdb-export >/dev/null 2>&1 && command -v mdb-tables >/dev/null 2>&1 && "
                                 "command -v mdb-schema >/dev/null 2>&1") == 0;
    return have;
}

namespace {

// CSV as mdb-export writes it: quoted fields double their quotes; an unquoted
// NULL marks a missing value.
Rows parseCsv(const std::string& text) {
    Rows rows;
    std::vector<Cell> row;
    std::string field;
    bool quoted = false, inQuotes = false, any = false;
    auto endField = [&]() {
        if (!quoted && field == "NULL")
            row.push_back(std::nullopt);
        else
            row.push_back(field);
        field.clear();
        quoted = false;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (inQuotes) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                inQuotes = false;
            } else {
                field += c;
            }
            continue;
        }
        any = true;
        if (c == '"') {
            inQuotes = quoted = true;
        } else if (c == ',') {
            endField();
        } else if (c == '\n') {
            endField();
            rows.push_back(std::move(row));
            row.clear();
            any = false;
        } else if (c != '\r') {
            field += c;
        }
    }
    if (any) {
        endField();
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string exportCommand(const std::string& file, const std::string& table) {
    return "mdb-export -D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S' -b hex -0 NULL " + quote(file) + " " + quote(table) +
           " 2>/dev/null";
}

}  // namespace

Rows mdbExport(const std::string& file, const std::string& table) {
    std::string out;
    if (run(exportCommand(file, table), &out) != 0) throw std::runtime_error("mdb-export failed on " + table);
    Rows rows = parseCsv(out);
    if (!rows.empty()) rows.erase(rows.begin());
    return rows;
}

std::vector<std::string> mdbExportHeader(const std::string& file, const std::string& table) {
    std::string out;
    run(exportCommand(file, table) + " | head -n 1", &out);
    Rows rows = parseCsv(out);
    std::vector<std::string> names;
    if (!rows.empty())
        for (const Cell& c : rows[0]) names.push_back(c.value_or("NULL"));
    return names;
}

std::vector<std::string> mdbTables(const std::string& file, bool system) {
    std::string out;
    run(std::string("mdb-tables -1 ") + (system ? "-S " : "") + quote(file) + " 2>/dev/null", &out);
    std::vector<std::string> names;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) names.push_back(line);
    return names;
}

std::string mdbSchema(const std::string& file, const std::string& table, const std::string& backend) {
    std::string out;
    run("mdb-schema --indexes -T " + quote(table) + " " + quote(file) + (backend.empty() ? "" : " " + backend) + " 2>/dev/null",
        &out);
    return out;
}

std::string hex(const std::vector<uint8_t>& b) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (uint8_t x : b) {
        s += digits[x >> 4];
        s += digits[x & 15];
    }
    return s;
}

std::string formatDate(double days) {
    long day = long(days);
    long seconds = long((days - double(day)) * 86400.0 + 0.5);
    // Civil date from days since 1899-12-30 (days since 1970 + 25569).
    long z = day - 25569 + 719468;
    long era = (z >= 0 ? z : z - 146096) / 146097;
    long doe = z - era * 146097;
    long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long y = yoe + era * 400;
    long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long mp = (5 * doy + 2) / 153;
    long d = doy - (153 * mp + 2) / 5 + 1;
    long m = mp + (mp < 10 ? 3 : -9);
    y += m <= 2;
    char buf[128];
    std::snprintf(buf, sizeof buf, "%04ld-%02ld-%02ld %02ld:%02ld:%02ld", y, m, d, seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return buf;
}

namespace {

std::string money(int64_t v) {
    bool negative = v < 0;
    uint64_t a = negative ? uint64_t(0) - uint64_t(v) : uint64_t(v);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s%llu.%04llu", negative ? "-" : "", (unsigned long long)(a / 10000),
                  (unsigned long long)(a % 10000));
    return buf;
}

// A decimal's text with exactly `scale` decimals, as mdbtools prints it.
std::string decimalText(const std::string& s, int scale) {
    std::string sign, digits = s;
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
        if (digits[0] == '-') sign = "-";
        digits.erase(0, 1);
    }
    std::string whole = digits, frac;
    if (size_t dot = digits.find('.'); dot != std::string::npos) {
        whole = digits.substr(0, dot);
        frac = digits.substr(dot + 1);
    }
    while (whole.size() > 1 && whole[0] == '0') whole.erase(0, 1);
    if (whole.empty()) whole = "0";
    frac.resize(size_t(scale), '0');
    std::string out = whole + (scale ? "." + frac : "");
    bool zero = out.find_first_not_of("0.") == std::string::npos;
    return (zero ? "" : sign) + out;
}

// mdbtools prints a GUID without the dash before its last twelve digits.
std::string guidText(const Bytes& g) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X%02X%02X}", g[3], g[2], g[1],
                  g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
    return buf;
}

}  // namespace

Cell expectedCell(Format, const Column& c, const Value& v) {
    if (c.type == kBool) return std::string(std::holds_alternative<bool>(v) && std::get<bool>(v) ? "1" : "0");
    if (std::holds_alternative<std::monostate>(v)) return std::nullopt;
    // mdb-export prints empty text, memo and binary values as NULL (an empty
    // OLE value as an empty string).
    if (const std::string* s = std::get_if<std::string>(&v); s && s->empty() && c.type != kDecimal) return std::nullopt;
    if (const Bytes* b = std::get_if<Bytes>(&v); b && b->empty() && c.type == kBinary) return std::nullopt;
    char buf[64];
    switch (c.type) {
        case kByte: return std::to_string(std::get<int64_t>(v) & 0xFF);
        case kInt: return std::to_string(int16_t(std::get<int64_t>(v)));
        case kLong:
        case kComplex: return std::to_string(int32_t(std::get<int64_t>(v)));
        case kCurrency: return money(std::get<int64_t>(v));
        case kSingle:
            std::snprintf(buf, sizeof buf, "%.8g", double(float(std::get<double>(v))));
            return std::string(buf);
        case kDouble:
            std::snprintf(buf, sizeof buf, "%.16g", std::get<double>(v));
            return std::string(buf);
        case kDateTime: {
            // mdbtools leaves the date's fields at zero outside 0 to a million
            // days (30 December 1899 to the year 4637).
            const double days = std::get<double>(v);
            if (days < 0 || days > 1e6) return std::string("1900-01-00 00:00:00");
            return formatDate(days);
        }
        case kText:
        case kMemo: return std::get<std::string>(v);
        case kDecimal: return decimalText(std::get<std::string>(v), c.scale);
        case kBinary:
        case kOle: return hex(std::get<Bytes>(v));
        // mdbtools does not read large numbers and extended dates: NULL.
        case kBigInt:
        case kDateTimeExt: return std::nullopt;
        case kGuid: {
            // mdb-export's hex mode prints the GUID's text in hex.
            std::string t = guidText(std::get<Bytes>(v));
            return hex(Bytes(t.begin(), t.end()));
        }
        default: return std::nullopt;
    }
}

Rows expectedRows(Format format, const Table& t) {
    Rows rows;
    auto add = [&](const Row& r) {
        if (r.deleted) return;
        std::vector<Cell> cells;
        size_t stored = r.storedColumns < 0 ? t.columns.size() : size_t(r.storedColumns);
        for (size_t i = 0; i < t.columns.size(); ++i)
            cells.push_back(expectedCell(format, t.columns[i], i < stored ? r.values[i] : Value{}));
        rows.push_back(std::move(cells));
    };
    for (const Row& r : t.rows) add(r);
    if (t.rowSource) {
        Row r;
        for (size_t i = 0; i < t.generatedRows; ++i) {
            t.rowSource(i, r);
            add(r);
        }
    }
    return rows;
}

namespace {

// Milliseconds since 1970 of a day number, rounded as mdb-reader rounds.
int64_t readerDate(double days) { return int64_t(std::floor((days - 25569.0) * 86400.0 * 1000.0 + 0.5)); }

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A decimal's text as mdb-reader prints it: exactly `scale` decimals, "-" on
// negative values.
std::string readerDecimal(const std::string& s, int scale) {
    const bool negative = !s.empty() && s[0] == '-';
    std::string digits = decimalText(s, scale);
    if (!digits.empty() && digits[0] == '-') digits.erase(0, 1);
    return (negative ? "-" : "") + digits;
}

// Numbers as doubles, so that 0 and 0.0 print alike.
nlohmann::json normalised(nlohmann::json j) {
    if (j.is_number()) return j.get<double>();
    if (j.is_structured())
        for (auto& item : j) item = normalised(item);
    return j;
}

}  // namespace

nlohmann::json expectedReaderCell(const Column& c, const Value& v) {
    using nlohmann::json;
    if (c.type == kBool) return std::holds_alternative<bool>(v) && std::get<bool>(v);
    if (std::holds_alternative<std::monostate>(v)) return nullptr;
    switch (c.type) {
        case kByte: return std::get<int64_t>(v) & 0xFF;
        case kInt: return int16_t(std::get<int64_t>(v));
        case kLong: return int32_t(std::get<int64_t>(v));
        case kCurrency: return money(std::get<int64_t>(v));
        case kSingle: return double(float(std::get<double>(v)));
        case kDouble: return std::get<double>(v);
        case kDateTime: return json{{"date", readerDate(std::get<double>(v))}};
        case kText:
        case kMemo: return std::get<std::string>(v);
        case kDecimal: return readerDecimal(std::get<std::string>(v), c.scale);
        case kBinary:
        case kOle: return json{{"hex", hex(std::get<Bytes>(v))}};
        case kGuid: {
            std::string t = guidText(std::get<Bytes>(v));
            return lower(t.substr(1, 23) + "-" + t.substr(24, 12));
        }
        case kBigInt: return json{{"bigint", std::to_string(std::get<int64_t>(v))}};
        case kDateTimeExt: {
            // "YYYY.MM.DD HH:MM:SS" and nine digits of nanoseconds.
            std::string t = std::get<std::string>(v);
            std::string fraction = t.size() > 20 ? t.substr(20) : "";
            fraction.resize(9, '0');
            t = t.substr(0, 19);
            t[4] = t[7] = '.';
            return t + "." + fraction;
        }
        default: return nullptr;
    }
}

void expectReaderRows(const nlohmann::json& table, const Table& t, bool asSet) {
    SCOPED_TRACE("mdb-reader, table " + t.name);
    ASSERT_TRUE(table.is_object()) << "mdb-reader did not read the table";
    std::vector<std::string> names;
    for (const auto& c : table["columns"]) names.push_back(c["name"].get<std::string>());
    std::vector<std::string> described;
    for (const Column& c : t.columns) described.push_back(c.name);
    // mdb-reader orders the columns by their numbers, the description's order.
    EXPECT_EQ(names, described);
    if (names != described) return;

    std::vector<std::string> expected, actual;
    auto add = [&](const Row& r) {
        if (r.deleted) return;
        nlohmann::json cells = nlohmann::json::array();
        const size_t stored = r.storedColumns < 0 ? t.columns.size() : size_t(r.storedColumns);
        for (size_t i = 0; i < t.columns.size(); ++i) {
            const Column& c = t.columns[i];
            if (c.calculated || c.type == kComplex || i >= stored) cells.push_back("(not compared)");
            else cells.push_back(expectedReaderCell(c, r.values[i]));
        }
        expected.push_back(normalised(cells).dump());
    };
    for (const Row& r : t.rows) add(r);
    if (t.rowSource) {
        Row r;
        for (size_t i = 0; i < t.generatedRows; ++i) {
            t.rowSource(i, r);
            add(r);
        }
    }
    for (const auto& row : table["rows"]) {
        nlohmann::json cells = nlohmann::json::array();
        for (size_t i = 0; i < t.columns.size() && i < row.size(); ++i) {
            const Column& c = t.columns[i];
            cells.push_back(c.calculated || c.type == kComplex ? nlohmann::json("(not compared)") : row[i]);
        }
        actual.push_back(normalised(cells).dump());
    }
    // Columns a row was not stored with: mdb-reader reads whatever the
    // neighbouring bytes hold there, so they are blanked on both sides, by
    // matching each expected row's mark.
    for (std::string& a : actual) {
        for (const std::string& e : expected) {
            if (e.find("(not compared)") == std::string::npos) continue;
            nlohmann::json ej = nlohmann::json::parse(e), aj = nlohmann::json::parse(a);
            if (ej.size() != aj.size()) continue;
            bool same = true;
            for (size_t i = 0; i < ej.size() && same; ++i)
                if (ej[i] != "(not compared)" && ej[i] != aj[i]) same = false;
            if (!same) continue;
            for (size_t i = 0; i < ej.size(); ++i)
                if (ej[i] == "(not compared)") aj[i] = "(not compared)";
            a = aj.dump();
            break;
        }
    }
    if (asSet) {
        std::sort(expected.begin(), expected.end());
        std::sort(actual.begin(), actual.end());
    }
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        if (actual[i] == expected[i]) continue;
        const nlohmann::json a = nlohmann::json::parse(actual[i]), e = nlohmann::json::parse(expected[i]);
        for (size_t k = 0; k < a.size() && k < e.size(); ++k)
            EXPECT_EQ(a[k].dump(), e[k].dump()) << "row " << i << ", column " << names[k];
        EXPECT_EQ(a.size(), e.size()) << "row " << i;
    }
}

Rows mdbExportColumns(const std::string& file, const std::string& table, const std::vector<std::string>& columns) {
    const std::vector<std::string> header = mdbExportHeader(file, table);
    std::vector<size_t> at;
    for (const std::string& c : columns)
        at.push_back(size_t(std::find(header.begin(), header.end(), c) - header.begin()));
    Rows out;
    for (const auto& row : mdbExport(file, table)) {
        std::vector<Cell> cells;
        for (size_t i : at) cells.push_back(i < row.size() ? row[i] : Cell("(no column)"));
        out.push_back(std::move(cells));
    }
    std::sort(out.begin(), out.end());
    return out;
}

Rows mdbReaderColumns(const std::string& file, const std::string& table, const std::vector<std::string>& columns) {
    const nlohmann::json t = oracle::mdbReaderDump(file, {table})["tables"][table];
    std::vector<size_t> at;
    for (const std::string& c : columns) {
        size_t k = 0;
        while (k < t["columns"].size() && t["columns"][k]["name"] != c) ++k;
        at.push_back(k);
    }
    Rows out;
    for (const auto& row : t["rows"]) {
        std::vector<Cell> cells;
        for (size_t i : at) {
            if (i >= row.size()) {
                cells.push_back(Cell("(no column)"));
                continue;
            }
            const nlohmann::json& v = row[i];
            if (v.is_null()) cells.push_back(std::nullopt);
            else if (v.is_boolean()) cells.push_back(std::string(v.get<bool>() ? "1" : "0"));
            else if (v.is_number_integer()) cells.push_back(std::to_string(v.get<int64_t>()));
            else if (v.is_string()) cells.push_back(v.get<std::string>());
            else if (v.is_object() && v.contains("hex")) cells.push_back(v["hex"].get<std::string>());
            else cells.push_back(v.dump());
        }
        out.push_back(std::move(cells));
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace jwtest
