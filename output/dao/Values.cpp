#include "output/dao/Values.h"

#include <langinfo.h>

#include <cfloat>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

#include <sqlite3.h>

#include "platform/Calendar.h"

namespace talmera::dao::sqlite {

namespace {

[[noreturn]] void refuse(int32_t code, const std::string& description) {
    throw ComError(code, "DAO.Field", description);
}

std::string quoteForMessage(const Variant& value) {
    if (const auto* s = std::get_if<std::string>(&value)) {
        std::string shown = s->size() > 60 ? s->substr(0, 60) + "..." : *s;
        return "'" + shown + "'";
    }
    if (std::holds_alternative<Bytes>(value)) return "binary data";
    if (const auto* i = std::get_if<int64_t>(&value)) return std::to_string(*i);
    if (const auto* b = std::get_if<bool>(&value)) return *b ? "True" : "False";
    if (const auto* c = std::get_if<Currency>(&value)) return std::to_string(c->tenThousandths) + " ten-thousandths";
    if (const auto* d = std::get_if<Decimal>(&value)) return d->digits;
    if (const auto* r = std::get_if<double>(&value)) {
        char b[40];
        auto res = std::to_chars(b, b + sizeof b, *r);
        return std::string(b, res.ptr);
    }
    if (const auto* t = std::get_if<Date>(&value)) return "date " + IsoDate(t->days);
    return "the value";
}

[[noreturn]] void conversionError(const Variant& value, const FieldShape& shape, const std::string& field) {
    refuse(kErrConversion, "Data type conversion error: " + quoteForMessage(value) + " does not convert to the " +
                               DataTypeName(shape.type) + " field '" + field + "'.");
}

[[noreturn]] void overflowError(const Variant& value, const FieldShape& shape, const std::string& field) {
    refuse(kErrOverflow, "Numeric field overflow: " + quoteForMessage(value) + " is out of the range of the " +
                             DataTypeName(shape.type) + " field '" + field + "'.");
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
    return s;
}

// The decimal point of the current locale, when it is not a full stop: the
// row decoder prints numbers with it, so it must read back.
char localePoint() {
    const lconv* lc = std::localeconv();
    return (lc && lc->decimal_point && lc->decimal_point[0]) ? lc->decimal_point[0] : '.';
}

// Text with the locale's decimal comma turned into a full stop, when the text
// has a comma and no full stop.
std::string withFullStop(std::string_view s) {
    std::string out(s);
    const char point = localePoint();
    if (point != '.' && out.find('.') == std::string::npos) {
        for (char& c : out)
            if (c == point) c = '.';
    }
    return out;
}

std::optional<double> parseDouble(std::string_view text) {
    std::string s = withFullStop(trim(text));
    std::string_view v = s;
    if (!v.empty() && v.front() == '+') v.remove_prefix(1);
    if (v.empty()) return std::nullopt;
    // Letters other than an exponent would let "inf" and "nan" through.
    for (char c : v)
        if (std::isalpha(static_cast<unsigned char>(c)) && c != 'e' && c != 'E') return std::nullopt;
    double d = 0;
    auto res = std::from_chars(v.data(), v.data() + v.size(), d);
    if (res.ec == std::errc::result_out_of_range) return std::numeric_limits<double>::infinity();
    if (res.ec != std::errc() || res.ptr != v.data() + v.size()) return std::nullopt;
    return d;
}

std::string shortest(double d) {
    char b[40];
    auto res = std::to_chars(b, b + sizeof b, d);
    return std::string(b, res.ptr);
}

ExactDecimal exactFromInt(int64_t v) {
    ExactDecimal e;
    if (v == 0) return e;
    e.negative = v < 0;
    uint64_t m = e.negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    e.digits = std::to_string(m);
    while (!e.digits.empty() && e.digits.back() == '0') {
        e.digits.pop_back();
        ++e.exponent;
    }
    return e;
}

void normalise(ExactDecimal& e) {
    size_t lead = e.digits.find_first_not_of('0');
    if (lead == std::string::npos) {
        e = ExactDecimal{};
        return;
    }
    e.digits.erase(0, lead);
    while (e.digits.back() == '0') {
        e.digits.pop_back();
        ++e.exponent;
    }
}

// value × 10^scale as a 64-bit integer; the value must have at most `scale`
// decimals.
std::optional<int64_t> scaledInt64(const ExactDecimal& e, int scale) {
    if (e.digits.empty()) return 0;
    const int zeros = e.exponent + scale;
    if (zeros < 0) return std::nullopt;
    if (e.digits.size() + static_cast<size_t>(zeros) > 19) return std::nullopt;
    std::string all = e.digits + std::string(static_cast<size_t>(zeros), '0');
    uint64_t m = 0;
    for (char c : all) m = m * 10 + static_cast<uint64_t>(c - '0');
    if (e.negative) {
        if (m > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1) return std::nullopt;
        return static_cast<int64_t>(0 - m);
    }
    if (m > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
    return static_cast<int64_t>(m);
}

// Exact decimal of an assigned value, as DAO reads numbers: True is -1.
ExactDecimal exactOf(const Variant& value, const FieldShape& shape, const std::string& field) {
    if (const auto* i = std::get_if<int64_t>(&value)) return exactFromInt(*i);
    if (const auto* b = std::get_if<bool>(&value)) return exactFromInt(*b ? -1 : 0);
    if (const auto* c = std::get_if<Currency>(&value)) {
        ExactDecimal e = exactFromInt(c->tenThousandths);
        if (!e.digits.empty()) e.exponent -= 4;
        return e;
    }
    std::optional<ExactDecimal> parsed;
    if (const auto* s = std::get_if<std::string>(&value)) parsed = ParseExactDecimal(*s);
    else if (const auto* d = std::get_if<Decimal>(&value)) parsed = ParseExactDecimal(d->digits);
    else if (const auto* r = std::get_if<double>(&value)) {
        if (!std::isfinite(*r)) overflowError(value, shape, field);
        parsed = ParseExactDecimal(shortest(*r));
    } else if (const auto* t = std::get_if<Date>(&value)) {
        if (!std::isfinite(t->days)) overflowError(value, shape, field);
        parsed = ParseExactDecimal(shortest(t->days));
    }
    if (!parsed) conversionError(value, shape, field);
    return *parsed;
}

Stored toInteger(const FieldShape& shape, const Variant& value, const std::string& field) {
    int64_t lo = 0, hi = 0;
    switch (shape.type) {
        case dbByte: lo = 0; hi = 255; break;
        case dbInteger: lo = -32768; hi = 32767; break;
        case dbLong: lo = std::numeric_limits<int32_t>::min(); hi = std::numeric_limits<int32_t>::max(); break;
        default: lo = std::numeric_limits<int64_t>::min(); hi = std::numeric_limits<int64_t>::max(); break;
    }
    int64_t v = 0;
    if (const auto* i = std::get_if<int64_t>(&value)) {
        v = *i;
    } else {
        // Whole numbers round half to even, as DAO's conversions do.
        ExactDecimal e = RoundToScale(exactOf(value, shape, field), 0);
        auto n = scaledInt64(e, 0);
        if (!n) overflowError(value, shape, field);
        v = *n;
    }
    if (v < lo || v > hi) overflowError(value, shape, field);
    return Stored::Int(v);
}

double realOf(const Variant& value, const FieldShape& shape, const std::string& field) {
    if (const auto* r = std::get_if<double>(&value)) return *r;
    if (const auto* i = std::get_if<int64_t>(&value)) return static_cast<double>(*i);
    if (const auto* b = std::get_if<bool>(&value)) return *b ? -1.0 : 0.0;
    if (const auto* t = std::get_if<Date>(&value)) return t->days;
    if (const auto* s = std::get_if<std::string>(&value)) {
        auto d = parseDouble(*s);
        if (!d) conversionError(value, shape, field);
        return *d;
    }
    if (std::holds_alternative<Currency>(value) || std::holds_alternative<Decimal>(value)) {
        // One rounding, from the exact digits.
        auto d = parseDouble(DecimalText(exactOf(value, shape, field)));
        if (!d) conversionError(value, shape, field);
        return *d;
    }
    conversionError(value, shape, field);
}

Stored toReal(const FieldShape& shape, const Variant& value, const std::string& field) {
    double d = realOf(value, shape, field);
    if (!std::isfinite(d)) overflowError(value, shape, field);
    if (shape.type == dbSingle) {
        if (std::fabs(d) > FLT_MAX) overflowError(value, shape, field);
        // Kept as the double whose shortest text is the single's shortest
        // text: 0.1 stays 0.1 for a reader, and narrows back to the same single.
        const float f = static_cast<float>(d);
        char b[40];
        auto res = std::to_chars(b, b + sizeof b, f);
        double back = 0;
        std::from_chars(b, res.ptr, back);
        return Stored::Dbl(back);
    }
    return Stored::Dbl(d);
}

// A Currency or Decimal value as the file keeps it: the nearest double, so
// that SQLite compares and sorts it as a number, and the exact text beside it
// when SQLite's printf("%.<scale>f") (or, scale unknown, "%!.15g") of that
// double does not give the text back.
Stored numericStored(const ExactDecimal& e, int scale) {
    const std::string text = DecimalText(e, scale);
    const double d = parseDouble(text).value_or(0);
    Stored out = Stored::Dbl(d);
    char* printed = scale >= 0 ? sqlite3_mprintf("%.*f", scale, d) : sqlite3_mprintf("%!.15g", d);
    const bool same = printed && text == printed;
    sqlite3_free(printed);
    if (!same && scale < 0) {
        // Without a scale the digits count, not their form: "12.5" is "12.5".
        const auto back = ParseExactDecimal(shortest(d));
        if (!back || DecimalText(*back) != DecimalText(e)) out.exact = text;
    } else if (!same) {
        out.exact = text;
    }
    return out;
}

Stored toCurrency(const FieldShape& shape, const Variant& value, const std::string& field) {
    ExactDecimal e;
    if (const auto* c = std::get_if<Currency>(&value)) {
        e = exactFromInt(c->tenThousandths);
        if (!e.digits.empty()) e.exponent -= 4;
    } else {
        e = RoundToScale(exactOf(value, shape, field), 4);
    }
    if (!scaledInt64(e, 4)) overflowError(value, shape, field);
    return numericStored(e, 4);
}

Stored toDecimal(const FieldShape& shape, const Variant& value, const std::string& field) {
    ExactDecimal e = exactOf(value, shape, field);
    const int maxDigits = shape.precision > 0 ? std::min(shape.precision, 28) : 28;
    if (shape.scale >= 0) {
        e = RoundToScale(e, shape.scale);
    } else {
        // No scale given: keep the decimals that fit the 28 digits.
        const int integerDigits = std::max(0, static_cast<int>(e.digits.size()) + e.exponent);
        if (e.exponent < 0) e = RoundToScale(e, std::max(0, maxDigits - integerDigits));
    }
    const int integerDigits = std::max(0, static_cast<int>(e.digits.size()) + e.exponent);
    const int fractionDigits = shape.scale >= 0 ? shape.scale : std::max(0, -e.exponent);
    if (integerDigits + fractionDigits > maxDigits && integerDigits > 0) overflowError(value, shape, field);
    return numericStored(e, shape.scale);
}

double daysOf(const Variant& value, const FieldShape& shape, const std::string& field) {
    if (const auto* t = std::get_if<Date>(&value)) return t->days;
    if (const auto* s = std::get_if<std::string>(&value)) {
        auto d = ParseDateText(*s);
        if (!d) conversionError(value, shape, field);
        return *d;
    }
    if (std::holds_alternative<Bytes>(value)) conversionError(value, shape, field);
    return realOf(value, shape, field);
}

Stored toDate(const FieldShape& shape, const Variant& value, const std::string& field) {
    const double days = daysOf(value, shape, field);
    if (!std::isfinite(days) || days < kFirstDay || days > kLastDay) overflowError(value, shape, field);
    if (auto text = DateStorageText(days)) return Stored::Txt(std::move(*text));
    // A day number no text reproduces (a negative time on 30 December 1899)
    // is kept as the number itself.
    return Stored::Dbl(days);
}

// Replaces what is not UTF-8 with U+FFFD: the output must hold valid text.
void sanitiseUtf8(std::string& s) {
    auto validAt = [&](size_t i, size_t& len) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            len = 1;
            return true;
        }
        uint32_t cp;
        if ((b & 0xE0) == 0xC0) len = 2, cp = b & 0x1F;
        else if ((b & 0xF0) == 0xE0) len = 3, cp = b & 0x0F;
        else if ((b & 0xF8) == 0xF0) len = 4, cp = b & 0x07;
        else return false;
        if (i + len > s.size()) return false;
        for (size_t k = 1; k < len; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000)) return false;
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        return true;
    };
    size_t i = 0, len = 0;
    while (i < s.size() && validAt(i, len)) i += len;
    if (i == s.size()) return;
    std::string out = s.substr(0, i);
    while (i < s.size()) {
        if (validAt(i, len)) {
            out.append(s, i, len);
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    s.swap(out);
}

std::string textOf(const Variant& value) {
    if (const auto* s = std::get_if<std::string>(&value)) return *s;
    if (const auto* i = std::get_if<int64_t>(&value)) return std::to_string(*i);
    if (const auto* b = std::get_if<bool>(&value)) return *b ? "True" : "False";
    if (const auto* r = std::get_if<double>(&value)) {
        // Fifteen significant digits, as DAO writes a double into text.
        char buf[40];
        auto res = std::to_chars(buf, buf + sizeof buf, *r, std::chars_format::general, 15);
        return std::string(buf, res.ptr);
    }
    if (const auto* c = std::get_if<Currency>(&value)) {
        ExactDecimal e = exactFromInt(c->tenThousandths);
        if (!e.digits.empty()) e.exponent -= 4;
        return DecimalText(e);
    }
    if (const auto* d = std::get_if<Decimal>(&value)) {
        auto e = ParseExactDecimal(d->digits);
        return e ? DecimalText(*e) : d->digits;
    }
    if (const auto* t = std::get_if<Date>(&value)) return IsoDate(t->days);
    if (const auto* bytes = std::get_if<Bytes>(&value)) return std::string(bytes->begin(), bytes->end());
    return {};
}

Stored toText(const FieldShape& shape, const Variant& value, const std::string& field) {
    std::string text = textOf(value);
    sanitiseUtf8(text);
    if (shape.type == dbText && shape.size > 0 && Utf16Length(text) > static_cast<size_t>(shape.size)) {
        refuse(kErrTooSmall, "The field is too small to accept the amount of data you attempted to add: field '" +
                                 field + "' holds " + std::to_string(shape.size) + " characters, the value has " +
                                 std::to_string(Utf16Length(text)) + ".");
    }
    return Stored::Txt(std::move(text));
}

Stored toGuid(const FieldShape& shape, const Variant& value, const std::string& field) {
    if (const auto* s = std::get_if<std::string>(&value)) {
        if (auto g = CanonicalGuid(*s)) return Stored::Txt(std::move(*g));
    } else if (const auto* b = std::get_if<Bytes>(&value); b && b->size() == 16) {
        const auto& x = *b;
        char buf[40];
        std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", x[3],
                      x[2], x[1], x[0], x[5], x[4], x[7], x[6], x[8], x[9], x[10], x[11], x[12], x[13], x[14], x[15]);
        return Stored::Txt(buf);
    }
    conversionError(value, shape, field);
}

Stored toBinary(const FieldShape& shape, const Variant& value, const std::string& field) {
    Stored s;
    s.kind = Stored::Blob;
    if (const auto* b = std::get_if<Bytes>(&value)) s.blob = *b;
    else if (const auto* t = std::get_if<std::string>(&value)) s.blob.assign(t->begin(), t->end());
    else conversionError(value, shape, field);
    if (shape.type == dbBinary && shape.size > 0 && s.blob.size() > static_cast<size_t>(shape.size)) {
        refuse(kErrTooSmall, "The field is too small to accept the amount of data you attempted to add: field '" +
                                 field + "' holds " + std::to_string(shape.size) + " bytes, the value has " +
                                 std::to_string(s.blob.size()) + ".");
    }
    return s;
}

bool parseBoolText(std::string_view text, bool& out) {
    std::string t(trim(text));
    for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (t == "true" || t == "yes" || t == "on") return out = true, true;
    if (t == "false" || t == "no" || t == "off") return out = false, true;
    if (auto e = ParseExactDecimal(t)) return out = !e->digits.empty(), true;
    return false;
}

Stored toBoolean(const FieldShape& shape, const Variant& value, const std::string& field) {
    if (const auto* b = std::get_if<bool>(&value)) return Stored::Int(*b ? 1 : 0);
    if (const auto* i = std::get_if<int64_t>(&value)) return Stored::Int(*i != 0 ? 1 : 0);
    if (const auto* s = std::get_if<std::string>(&value)) {
        bool b = false;
        if (!parseBoolText(*s, b)) conversionError(value, shape, field);
        return Stored::Int(b ? 1 : 0);
    }
    if (std::holds_alternative<Bytes>(value)) conversionError(value, shape, field);
    return Stored::Int(exactOf(value, shape, field).digits.empty() ? 0 : 1);
}

// --- dates -----------------------------------------------------------------


int daysInMonth(int y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
    return kDays[m - 1];
}

// A small reader over a date text.
struct Cursor {
    std::string_view s;
    size_t i = 0;
    bool end() const { return i >= s.size(); }
    bool eat(char c) {
        if (!end() && s[i] == c) return ++i, true;
        return false;
    }
    void spaces() {
        while (!end() && s[i] == ' ') ++i;
    }
    // 1 to maxDigits digits.
    bool number(int maxDigits, int& out) {
        size_t start = i;
        out = 0;
        while (!end() && i - start < static_cast<size_t>(maxDigits) && std::isdigit(static_cast<unsigned char>(s[i])))
            out = out * 10 + (s[i++] - '0');
        return i > start && (end() || !std::isdigit(static_cast<unsigned char>(s[i])));
    }
};

// "HH:MM[:SS[.fff]][ AM|PM]" from the cursor.
bool readTime(Cursor& c, int& h, int& mi, int& sec, int64_t& units, int& digits) {
    sec = 0;
    units = 0;
    digits = 0;
    if (!c.number(2, h) || !c.eat(':') || !c.number(2, mi)) return false;
    if (c.eat(':')) {
        if (!c.number(2, sec)) return false;
        if (c.eat('.')) {
            while (!c.end() && std::isdigit(static_cast<unsigned char>(c.s[c.i]))) {
                if (digits < 9) units = units * 10 + (c.s[c.i] - '0'), ++digits;
                ++c.i;
            }
        }
    }
    size_t mark = c.i;
    c.spaces();
    if (c.s.size() - c.i >= 2) {
        std::string ap{static_cast<char>(std::toupper(static_cast<unsigned char>(c.s[c.i]))),
                       static_cast<char>(std::toupper(static_cast<unsigned char>(c.s[c.i + 1])))};
        if (ap == "AM" || ap == "PM") {
            if (h < 1 || h > 12) return false;
            if (ap == "AM" && h == 12) h = 0;
            if (ap == "PM" && h != 12) h += 12;
            c.i += 2;
            return true;
        }
    }
    c.i = mark;
    return true;
}

std::optional<double> parseIso(std::string_view s) {
    Cursor c{s};
    int y, m, d, h = 0, mi = 0, sec = 0, digits = 0;
    int64_t units = 0;
    if (!c.number(4, y) || !c.eat('-') || !c.number(2, m) || !c.eat('-') || !c.number(2, d)) return std::nullopt;
    if (!c.end()) {
        if (!c.eat('T') && !c.eat(' ')) return std::nullopt;
        c.spaces();
        if (!readTime(c, h, mi, sec, units, digits)) return std::nullopt;
    }
    if (!c.end()) return std::nullopt;
    return ComposeDays(y, m, d, h, mi, sec, units, digits);
}

// "M/D/YYYY[ H:MM[:SS][ AM|PM]]" (the C locale's form) or a time alone.
std::optional<double> parseUs(std::string_view s) {
    Cursor c{s};
    int y = 1899, m = 12, d = 30, h = 0, mi = 0, sec = 0, digits = 0;
    int64_t units = 0;
    Cursor probe = c;
    int first;
    if (probe.number(2, first) && probe.eat(':')) {
        if (!readTime(c, h, mi, sec, units, digits)) return std::nullopt;
    } else {
        if (!c.number(2, m) || !c.eat('/') || !c.number(2, d) || !c.eat('/') || !c.number(4, y)) return std::nullopt;
        if (c.s.size() - c.i == 0) return ComposeDays(y, m, d, 0, 0, 0);
        c.spaces();
        if (!readTime(c, h, mi, sec, units, digits)) return std::nullopt;
    }
    c.spaces();
    if (!c.end()) return std::nullopt;
    return ComposeDays(y, m, d, h, mi, sec, units, digits);
}

std::string fourDigitYears(const char* f, const char* fallback) {
    std::string format = (f && *f) ? f : fallback;
    for (size_t at = format.find("%y"); at != std::string::npos; at = format.find("%y", at + 2)) format[at + 1] = 'Y';
    return format;
}

// The user's locale: its date format, then its date and time format, read
// the way the row decoder printed them.
std::optional<double> parseLocale(const std::string& s) {
    const std::string dateFormat = fourDigitYears(nl_langinfo(D_FMT), "%m/%d/%Y");
    const std::string timeFormat = fourDigitYears(nl_langinfo(T_FMT), "%H:%M:%S");
    for (const std::string& format : {dateFormat + " " + timeFormat, dateFormat}) {
        std::tm tm{};
        tm.tm_year = -1;
        const char* end = strptime(s.c_str(), format.c_str(), &tm);
        if (!end) continue;
        while (*end == ' ') ++end;
        if (*end) continue;
        auto days = ComposeDays(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
        if (days) return days;
    }
    return std::nullopt;
}

}  // namespace

// --- exact decimals ----------------------------------------------------------

std::optional<ExactDecimal> ParseExactDecimal(std::string_view text) {
    std::string_view s = trim(text);
    ExactDecimal e;
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) e.negative = s[i++] == '-';
    const char point = localePoint();
    const bool commaIsPoint = point != '.' && s.find('.') == std::string_view::npos;
    int fraction = 0;
    bool any = false, seenPoint = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            e.digits.push_back(c);
            any = true;
            if (seenPoint) ++fraction;
        } else if ((c == '.' || (commaIsPoint && c == point)) && !seenPoint) {
            seenPoint = true;
        } else {
            break;
        }
    }
    if (!any) return std::nullopt;
    long exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negative = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
        size_t start = i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && exponent < 100000)
            exponent = exponent * 10 + (s[i++] - '0');
        if (i == start) return std::nullopt;
        if (negative) exponent = -exponent;
    }
    if (i != s.size() || exponent > 400 || exponent < -400) return std::nullopt;
    e.exponent = static_cast<int>(exponent) - fraction;
    const bool negative = e.negative;
    normalise(e);
    if (!e.digits.empty()) e.negative = negative;
    return e;
}

ExactDecimal RoundToScale(ExactDecimal e, int scale) {
    if (e.digits.empty() || e.exponent >= -scale) return e;
    const size_t drop = static_cast<size_t>(-scale - e.exponent);
    std::string digits = e.digits;
    if (digits.size() <= drop) digits.insert(0, drop - digits.size() + 1, '0');
    std::string kept = digits.substr(0, digits.size() - drop);
    const std::string dropped = digits.substr(digits.size() - drop);
    const bool restNonZero = dropped.find_first_not_of('0', 1) != std::string::npos;
    const bool up = dropped[0] > '5' || (dropped[0] == '5' && (restNonZero || (kept.back() - '0') % 2 == 1));
    if (up) {
        size_t k = kept.size();
        while (k > 0) {
            if (kept[k - 1] == '9') {
                kept[k - 1] = '0';
                --k;
            } else {
                ++kept[k - 1];
                break;
            }
        }
        if (k == 0) kept.insert(kept.begin(), '1');
    }
    const bool negative = e.negative;
    e.digits = kept;
    e.exponent = -scale;
    normalise(e);
    if (!e.digits.empty()) e.negative = negative;
    return e;
}

std::string DecimalText(const ExactDecimal& e, int fixedScale) {
    std::string integer, fraction;
    if (e.digits.empty()) {
        integer = "0";
    } else if (e.exponent >= 0) {
        integer = e.digits + std::string(static_cast<size_t>(e.exponent), '0');
    } else {
        const size_t k = static_cast<size_t>(-e.exponent);
        if (e.digits.size() > k) {
            integer = e.digits.substr(0, e.digits.size() - k);
            fraction = e.digits.substr(e.digits.size() - k);
        } else {
            integer = "0";
            fraction = std::string(k - e.digits.size(), '0') + e.digits;
        }
    }
    if (fixedScale >= 0 && fraction.size() < static_cast<size_t>(fixedScale))
        fraction.append(static_cast<size_t>(fixedScale) - fraction.size(), '0');
    std::string out = (e.negative && !e.digits.empty()) ? "-" : "";
    out += integer;
    if (!fraction.empty()) out += "." + fraction;
    return out;
}

// --- dates -------------------------------------------------------------------

double DaysFromCivil(int year, int month, int day) {
    return static_cast<double>(daysFromCivil1970(year, month, day) + kDaysFrom1899To1970);
}

std::optional<double> ComposeDays(int y, int mo, int d, int h, int mi, int s, int64_t fractionUnits,
                                  int fractionDigits) {
    if (y < 100 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo) || h < 0 || h > 23 || mi < 0 ||
        mi > 59 || s < 0 || s > 59 || fractionDigits < 0 || fractionDigits > 9)
        return std::nullopt;
    int64_t scale = 1;
    for (int k = 0; k < fractionDigits; ++k) scale *= 10;
    const double whole = DaysFromCivil(y, mo, d);
    const int64_t units = (static_cast<int64_t>(h) * 3600 + mi * 60 + s) * scale + fractionUnits;
    // One correctly rounded division of two exact integers, so that the same
    // text always gives the same day number.
    const double fraction = static_cast<double>(units) / (86400.0 * static_cast<double>(scale));
    return whole >= 0 ? whole + fraction : whole - fraction;
}

bool DateStorageTextInto(double days, std::string& out) {
    if (!std::isfinite(days) || days < kFirstDay || days > kLastDay) return false;
    const double whole = std::trunc(days);
    const long double fraction = std::fabs(static_cast<long double>(days) - whole);
    int y, m, d;
    civilFromDays(static_cast<int64_t>(whole) - kDaysFrom1899To1970, y, m, d);
    int64_t scale = 1;
    for (int digits = 0; digits <= 9; ++digits, scale *= 10) {
        const int64_t units = std::llround(fraction * 86400.0L * static_cast<long double>(scale));
        if (units >= 86400 * scale) continue;
        const int64_t secs = units / scale;
        const int64_t part = units % scale;
        const int h = static_cast<int>(secs / 3600), mi = static_cast<int>(secs / 60 % 60),
                  s = static_cast<int>(secs % 60);
        auto back = ComposeDays(y, m, d, h, mi, s, part, digits);
        if (!back || *back != days) continue;
        // Written by hand: this runs for every date of every record.
        char buf[32] = "0000-00-00 00:00:00";
        auto put = [&](int at, int64_t value, int width) {
            for (int k = width - 1; k >= 0; --k, value /= 10) buf[at + k] = static_cast<char>('0' + value % 10);
        };
        put(0, y, 4);
        put(5, m, 2);
        put(8, d, 2);
        put(11, h, 2);
        put(14, mi, 2);
        put(17, s, 2);
        size_t length = 19;
        if (digits > 0) {
            buf[19] = '.';
            put(20, part, digits);
            length = 20 + static_cast<size_t>(digits);
        }
        out.assign(buf, length);
        return true;
    }
    return false;
}

std::optional<std::string> DateStorageText(double days) {
    std::string text;
    if (!DateStorageTextInto(days, text)) return std::nullopt;
    return text;
}

std::string IsoDate(double days) {
    if (auto text = DateStorageText(days)) return *text;
    if (!std::isfinite(days) || days < kFirstDay || days > kLastDay) return shortest(days);
    const double whole = std::trunc(days);
    int64_t secs = std::llround(std::fabs(days - whole) * 86400.0);
    int64_t day = static_cast<int64_t>(whole);
    if (secs >= 86400) secs -= 86400, day += days < 0 ? -1 : 1;
    int y, m, d;
    civilFromDays(day - kDaysFrom1899To1970, y, m, d);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, m, d, static_cast<int>(secs / 3600),
                  static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60));
    return buf;
}

std::optional<double> ParseDateText(std::string_view text) {
    const std::string_view s = trim(text);
    if (s.empty()) return std::nullopt;
    if (auto d = parseIso(s)) return d;
    if (auto d = parseUs(s)) return d;
    return parseLocale(std::string(s));
}

// --- other helpers -------------------------------------------------------------

std::optional<std::string> CanonicalGuid(std::string_view text) {
    std::string_view s = trim(text);
    if (s.size() != 38 || s.front() != '{' || s.back() != '}') return std::nullopt;
    std::string out(s);
    for (size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash) {
            if (out[i] != '-') return std::nullopt;
        } else {
            if (!std::isxdigit(static_cast<unsigned char>(out[i]))) return std::nullopt;
            out[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[i])));
        }
    }
    return out;
}

size_t Utf16Length(std::string_view s) {
    size_t n = 0;
    for (unsigned char b : s) {
        if ((b & 0xC0) != 0x80) ++n;
        if (b >= 0xF0) ++n;  // a surrogate pair
    }
    return n;
}

std::string DataTypeName(int type) {
    switch (type) {
        case dbBoolean: return "Yes/No";
        case dbByte: return "Byte";
        case dbInteger: return "Integer";
        case dbLong: return "Long";
        case dbCurrency: return "Currency";
        case dbSingle: return "Single";
        case dbDouble: return "Double";
        case dbDate: return "Date/Time";
        case dbBinary: return "Binary";
        case dbText: return "Text";
        case dbLongBinary: return "OLE Object";
        case dbMemo: return "Memo";
        case dbGUID: return "GUID";
        case dbBigInt: return "BigInt";
        case dbDecimal: return "Decimal";
        case dbAttachment: return "Attachment";
        case dbComplexByte: return "Complex Byte";
        case dbComplexInteger: return "Complex Integer";
        case dbComplexLong: return "Complex Long";
        case dbComplexSingle: return "Complex Single";
        case dbComplexDouble: return "Complex Double";
        case dbComplexGUID: return "Complex GUID";
        case dbComplexDecimal: return "Complex Decimal";
        case dbComplexText: return "Complex Text";
        case dbVersionHistory: return "Version History";
        default: return "type " + std::to_string(type);
    }
}

// --- the two directions ----------------------------------------------------------

Stored ToStored(const FieldShape& shape, const Variant& value, const std::string& fieldName) {
    if (std::holds_alternative<std::monostate>(value)) return Stored{};
    switch (shape.type) {
        case dbBoolean: return toBoolean(shape, value, fieldName);
        case dbByte:
        case dbInteger:
        case dbLong:
        case dbBigInt: return toInteger(shape, value, fieldName);
        case dbSingle:
        case dbDouble: return toReal(shape, value, fieldName);
        case dbCurrency: return toCurrency(shape, value, fieldName);
        case dbDecimal: return toDecimal(shape, value, fieldName);
        case dbDate: return toDate(shape, value, fieldName);
        case dbText:
        case dbMemo: return toText(shape, value, fieldName);
        case dbGUID: return toGuid(shape, value, fieldName);
        case dbBinary:
        case dbLongBinary: return toBinary(shape, value, fieldName);
        default: conversionError(value, shape, fieldName);
    }
}

namespace {

// `out` as a value of `kind`, its buffers kept for the next value.
void resetStored(Stored& out, Stored::Kind kind) {
    out.kind = kind;
    out.integer = 0;
    out.real = 0;
    out.text.clear();
    out.blob.clear();
    out.exact.clear();
}

// Currency values of at most 15 significant digits: the nearest double is
// the quotient of the exact ten-thousandths by 10,000 (one correctly rounded
// division, as parsing their text gives), and "%.4f" of it gives the digits
// back, so no exact text is kept. Larger ones take the general way.
constexpr int64_t kPlainCurrencyLimit = 1000000000000000;

}  // namespace

void ToStoredInto(const FieldShape& shape, const Variant& value, const std::string& fieldName, Stored& out) {
    try {
        // The common assignments of a record transfer, converted in place;
        // each gives what ToStored gives.
        switch (shape.type) {
            case dbText:
            case dbMemo:
                if (const auto* s = std::get_if<std::string>(&value)) {
                    resetStored(out, Stored::Text);
                    out.text.assign(*s);
                    sanitiseUtf8(out.text);
                    if (shape.type == dbText && shape.size > 0) {
                        const size_t length = Utf16Length(out.text);
                        if (length > static_cast<size_t>(shape.size))
                            refuse(kErrTooSmall, "The field is too small to accept the amount of data you attempted to add: "
                                                 "field '" + fieldName + "' holds " + std::to_string(shape.size) +
                                                     " characters, the value has " + std::to_string(length) + ".");
                    }
                    return;
                }
                break;
            case dbBinary:
            case dbLongBinary:
                if (const auto* b = std::get_if<Bytes>(&value)) {
                    if (shape.type == dbBinary && shape.size > 0 && b->size() > static_cast<size_t>(shape.size)) break;
                    resetStored(out, Stored::Blob);
                    out.blob.assign(b->begin(), b->end());
                    return;
                }
                break;
            case dbDate:
                if (const auto* t = std::get_if<Date>(&value)) {
                    if (!std::isfinite(t->days) || t->days < kFirstDay || t->days > kLastDay) break;
                    resetStored(out, Stored::Text);
                    if (DateStorageTextInto(t->days, out.text)) return;
                    resetStored(out, Stored::Real);
                    out.real = t->days;
                    return;
                }
                break;
            case dbCurrency:
                if (const auto* c = std::get_if<Currency>(&value)) {
                    if (c->tenThousandths <= -kPlainCurrencyLimit || c->tenThousandths >= kPlainCurrencyLimit) break;
                    resetStored(out, Stored::Real);
                    out.real = static_cast<double>(c->tenThousandths) / 10000.0;
                    return;
                }
                break;
            case dbDouble:
                if (const auto* r = std::get_if<double>(&value)) {
                    if (!std::isfinite(*r)) break;
                    resetStored(out, Stored::Real);
                    out.real = *r;
                    return;
                }
                break;
            case dbLong:
            case dbBigInt:
                if (const auto* i = std::get_if<int64_t>(&value)) {
                    if (shape.type == dbLong &&
                        (*i < std::numeric_limits<int32_t>::min() || *i > std::numeric_limits<int32_t>::max()))
                        break;
                    resetStored(out, Stored::Integer);
                    out.integer = *i;
                    return;
                }
                break;
            case dbBoolean:
                if (const auto* b = std::get_if<bool>(&value)) {
                    resetStored(out, Stored::Integer);
                    out.integer = *b ? 1 : 0;
                    return;
                }
                break;
            default:
                break;
        }
        out = ToStored(shape, value, fieldName);
    } catch (...) {
        resetStored(out, Stored::Null);
        throw;
    }
}

Variant FromStored(int type, const Stored& s) {
    if (s.kind == Stored::Null) return std::monostate{};
    if (!s.exact.empty() && (type == dbCurrency || type == dbDecimal)) return FromStored(type, Stored::Txt(s.exact));
    auto asText = [&]() -> std::string {
        if (s.kind == Stored::Text) return s.text;
        if (s.kind == Stored::Integer) return std::to_string(s.integer);
        if (s.kind == Stored::Real) return shortest(s.real);
        return std::string(s.blob.begin(), s.blob.end());
    };
    auto asExact = [&]() -> std::optional<ExactDecimal> {
        if (s.kind == Stored::Integer) return exactFromInt(s.integer);
        return ParseExactDecimal(asText());
    };
    switch (type) {
        case dbBoolean:
            if (s.kind == Stored::Integer) return s.integer != 0;
            if (s.kind == Stored::Real) return s.real != 0;
            return !asText().empty() && asText() != "0";
        case dbByte:
        case dbInteger:
        case dbLong:
        case dbBigInt: {
            if (s.kind == Stored::Integer) return s.integer;
            auto e = asExact();
            if (!e) return std::monostate{};
            auto n = scaledInt64(RoundToScale(*e, 0), 0);
            return n ? Variant(*n) : Variant(std::monostate{});
        }
        case dbSingle:
        case dbDouble: {
            if (s.kind == Stored::Real) return s.real;
            if (s.kind == Stored::Integer) return static_cast<double>(s.integer);
            auto d = parseDouble(asText());
            return d ? Variant(*d) : Variant(std::monostate{});
        }
        case dbCurrency: {
            auto e = asExact();
            if (!e) return std::monostate{};
            auto n = scaledInt64(RoundToScale(*e, 4), 4);
            return n ? Variant(Currency{*n}) : Variant(std::monostate{});
        }
        case dbDecimal: {
            auto e = asExact();
            if (!e) return std::monostate{};
            return Decimal{DecimalText(*e)};
        }
        case dbDate: {
            if (s.kind == Stored::Real) return Date{s.real};
            if (s.kind == Stored::Integer) return Date{static_cast<double>(s.integer)};
            auto d = ParseDateText(s.text);
            if (!d) d = parseDouble(s.text);
            return d ? Variant(Date{*d}) : Variant(std::monostate{});
        }
        case dbBinary:
        case dbLongBinary:
            if (s.kind == Stored::Blob) return s.blob;
            {
                std::string t = asText();
                return Bytes(t.begin(), t.end());
            }
        case dbText:
        case dbMemo:
        case dbGUID: return asText();
        default: return std::monostate{};
    }
}

}  // namespace talmera::dao::sqlite
