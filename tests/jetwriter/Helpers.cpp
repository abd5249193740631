#include "Helpers.h"

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
        case kDateTime: return formatDate(std::get<double>(v));
        case kText:
        case kMemo: return std::get<std::string>(v);
        case kDecimal: return decimalText(std::get<std::string>(v), c.scale);
        case kBinary:
        case kOle: return hex(std::get<Bytes>(v));
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

}  // namespace jwtest
