#include "jetwriter/Tables.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace jetwriter::detail {

namespace {

// Identifies the Jet 4 definition's structures; Access writes these constants
// in the block after the definition length, in every column entry and in every
// logical index entry (0x0659), and at the start of every real index (0x0783).
constexpr uint32_t kTableMagic = 0x0659;
constexpr uint32_t kIndexMagic = 0x0783;
constexpr uint16_t kSortGeneral = 0x0409;

constexpr uint16_t kSlotDeleted = 0xC000;   // Access sets both high bits on delete
constexpr uint16_t kSlotPointer = 0x4000;   // the slot holds a pointer to the row
constexpr uint16_t kSlotMovedRow = 0x8000;  // the row an overflow pointer leads to

[[noreturn]] void fail(const std::string& table, const std::string& column, const std::string& what) {
    std::string where = "table \"" + table + "\"";
    if (!column.empty()) where += ", column \"" + column + "\"";
    throw std::invalid_argument(where + ": " + what);
}

uint16_t fixedSizeOf(uint8_t type) {
    switch (type) {
        case kBool: return 0;
        case kByte: return 1;
        case kInt: return 2;
        case kLong: return 4;
        case kCurrency: return 8;
        case kSingle: return 4;
        case kDouble: return 8;
        case kDateTime: return 8;
        case kGuid: return 16;
        case kDecimal: return 17;
        case kComplex: return 4;
        case kBigInt: return 8;
        case kDateTimeExt: return 42;
        default: return 0;
    }
}

bool isFixedType(uint8_t type) {
    switch (type) {
        case kBinary:
        case kText:
        case kOle:
        case kMemo: return false;
        default: return true;
    }
}

bool knownType(uint8_t type) {
    switch (type) {
        case kBool: case kByte: case kInt: case kLong: case kCurrency: case kSingle: case kDouble:
        case kDateTime: case kBinary: case kText: case kOle: case kMemo: case kGuid: case kDecimal:
        case kComplex: case kBigInt: case kDateTimeExt: return true;
        default: return false;
    }
}

// Access gives a calculated column of a fixed-size type this length: the
// largest value (16 bytes) and the 23 bytes calculated values add.
constexpr uint16_t kCalculatedFixedLength = 39;

size_t nameUnits(const std::string& s) { return utf8ToUtf16(s).size(); }

void appendName(const Fmt& f, std::vector<uint8_t>& out, const std::string& name, uint16_t codePage) {
    if (f.jet3) {
        std::string b = utf8ToCodePage(name, codePage);
        out.push_back(uint8_t(b.size()));
        out.insert(out.end(), b.begin(), b.end());
    } else {
        std::u16string u = utf8ToUtf16(name);
        put16(out, uint16_t(u.size() * 2));
        for (char16_t c : u) put16(out, uint16_t(c));
    }
}

}  // namespace

TablePlan planTable(const Fmt& f, const Table& t, bool compressText) {
    TablePlan p;
    p.name = t.name;
    if (!t.descriptorOrder.empty()) {
        std::vector<bool> seen(t.columns.size(), false);
        for (int k : t.descriptorOrder) {
            if (k < 0 || size_t(k) >= t.columns.size() || seen[size_t(k)]) fail(t.name, "", "descriptorOrder is not a permutation of the columns");
            seen[size_t(k)] = true;
            p.entryOrder.push_back(size_t(k));
        }
        if (p.entryOrder.size() != t.columns.size()) fail(t.name, "", "descriptorOrder is not a permutation of the columns");
    }
    p.tableType = t.tableType;
    p.compressText = compressText;
    if (t.columns.size() > 255) fail(t.name, "", "more than 255 columns");
    if (nameUnits(t.name) > 64) fail(t.name, "", "name longer than 64 characters");
    uint16_t fixedEnd = 0;
    uint16_t varCount = 0;
    uint32_t complexIds = 0;
    p.fixedEndFor.push_back(0);
    p.varCountFor.push_back(0);
    for (size_t i = 0; i < t.columns.size(); ++i) {
        const Column& c = t.columns[i];
        ColPlan cp;
        cp.col = c;
        cp.number = uint16_t(i);
        if (!knownType(c.type)) fail(t.name, c.name, "unknown column type " + std::to_string(c.type));
        if (nameUnits(c.name) > 64) fail(t.name, c.name, "name longer than 64 characters");
        if (c.type == kComplex && f.format != Format::Ace) fail(t.name, c.name, "complex columns exist only in ACE files");
        if ((c.type == kBigInt || c.type == kDateTimeExt) && f.format != Format::Ace)
            fail(t.name, c.name, "large numbers and extended dates exist only in ACE files");
        if (c.calculated && (c.type == kOle || c.type == kBinary || c.type == kComplex || c.autoNumber))
            fail(t.name, c.name, "a calculated column has a plain result type");
        if (c.type == kDecimal && f.jet3) fail(t.name, c.name, "Jet 3 has no decimal type");
        if (f.jet3 && (c.calculated || c.skipped)) fail(t.name, c.name, "calculated and skipped entries exist only in Jet 4 and ACE");
        if (c.hyperlink && c.type != kMemo) fail(t.name, c.name, "only memo columns can be hyperlinks");
        if (c.autoNumber && c.type != kLong && c.type != kGuid) fail(t.name, c.name, "auto-number needs a long or GUID column");
        if (c.type == kDecimal && (c.precision < 1 || c.precision > 28 || c.scale > c.precision))
            fail(t.name, c.name, "decimal precision must be 1..28 and scale at most the precision");
        if (c.storedVariable && (f.jet3 || !isFixedType(c.type) || c.type == kBool))
            fail(t.name, c.name, "only fixed-size types of Jet 4 and ACE can be stored as variable columns");
        if (c.storedFixed && (c.type != kBinary || c.length == 0))
            fail(t.name, c.name, "only a binary column of a given length can be stored fixed");
        cp.fixed = c.storedFixed || (isFixedType(c.type) && !c.storedVariable && !c.calculated);
        if (cp.fixed) {
            cp.fixedSize = c.storedFixed ? c.length : fixedSizeOf(c.type);
            // A Yes/No column lives in the null mask and takes no fixed bytes;
            // Access records offset 0 for it.
            cp.fixedOffset = cp.fixedSize ? fixedEnd : 0;
            fixedEnd = uint16_t(fixedEnd + cp.fixedSize);
            cp.varIndex = varCount;
            cp.storedLength = c.type == kBool ? 1 : cp.fixedSize;
            cp.flags = 0x03;
            if (c.autoNumber) cp.flags |= c.type == kLong ? 0x04 : 0x40;
            if (c.type == kComplex) {
                cp.flags = 0x07;
                cp.complexId = ++complexIds;
            }
        } else {
            cp.varIndex = varCount++;
            uint16_t chars = c.length ? c.length : 255;
            if (c.type == kText) {
                if (chars > 255) fail(t.name, c.name, "text columns hold at most 255 characters");
                cp.storedLength = f.jet3 ? chars : uint16_t(chars * 2);
            } else if (c.calculated && isFixedType(c.type)) {
                cp.storedLength = kCalculatedFixedLength;
            } else if (c.storedVariable) {
                cp.storedLength = fixedSizeOf(c.type);
            } else if (c.type == kBinary) {
                if (chars > 510) fail(t.name, c.name, "binary columns hold at most 510 bytes");
                cp.storedLength = chars;
            }
            cp.flags = 0x02;
            // Access's value tables number their rows with an auto-number
            // Long kept among the variable columns.
            if (c.autoNumber) cp.flags |= c.type == kLong ? 0x04 : 0x40;
            if (c.hyperlink) cp.flags |= 0x80;
            // Access marks Jet 4 text and memo columns as allowing compressed Unicode.
            // (A calculated column's second flags byte is 0xC0 alone.)
            if (!f.jet3 && (c.type == kText || c.type == kMemo) && !c.calculated) cp.flags2 |= 0x01;
        }
        if (c.calculated) cp.flags2 |= 0xC0;
        if (c.skipped) cp.flags2 |= 0x20;
        if (c.flagsOverride) cp.flags = *c.flagsOverride;
        if (fixedEnd > f.maxRow()) fail(t.name, c.name, "fixed columns exceed a row");
        p.cols.push_back(cp);
        p.fixedEndFor.push_back(fixedEnd);
        p.varCountFor.push_back(varCount);
    }
    p.varCount = varCount;

    // Real indexes: ordinary ones first, foreign-key ones after, so that a
    // reader pairing each real index with an ordinary logical one never loses
    // its place. Logical entries keep the description's order.
    std::vector<size_t> order;
    for (size_t i = 0; i < t.indexes.size(); ++i)
        if (!t.indexes[i].foreignKey) order.push_back(i);
    for (size_t i = 0; i < t.indexes.size(); ++i)
        if (t.indexes[i].foreignKey) order.push_back(i);
    std::vector<size_t> realOf(t.indexes.size());
    for (size_t k = 0; k < order.size(); ++k) {
        const Index& ix = t.indexes[order[k]];
        if (ix.columns.empty() || ix.columns.size() > 10) fail(t.name, "", "index \"" + ix.name + "\" needs 1 to 10 columns");
        if (nameUnits(ix.name) > 64) fail(t.name, "", "index name longer than 64 characters");
        for (const IndexColumn& ic : ix.columns)
            if (ic.column < 0 || size_t(ic.column) >= t.columns.size())
                fail(t.name, "", "index \"" + ix.name + "\" names a column that does not exist");
        IndexPlan ip;
        ip.name = ix.name;
        ip.columns = ix.columns;
        ip.flags = uint8_t((ix.unique || ix.primary ? 0x01 : 0) | (ix.ignoreNulls ? 0x02 : 0) | (ix.primary ? 0x08 : 0));
        if (!f.jet3) ip.flags |= 0x80;  // set on every index Access 2000 and later write
        ip.type = ix.primary ? 1 : (ix.foreignKey ? 2 : 0);
        realOf[order[k]] = k;
        p.realIndexes.push_back(ip);
    }
    for (size_t i = 0; i < t.indexes.size(); ++i) p.logicalOrder.push_back(realOf[i]);
    return p;
}

// ---------------------------------------------------------------------------
// Rows

namespace {

struct RowContext {
    const Fmt& f;
    const TablePlan& plan;
    RowPages& lval;
    uint16_t codePage;
};

int64_t asInt(const TablePlan& t, const ColPlan& c, const Value& v, int64_t lo, int64_t hi) {
    const int64_t* x = std::get_if<int64_t>(&v);
    if (!x) fail(t.name, c.col.name, "expects an integer value");
    if (*x < lo || *x > hi) fail(t.name, c.col.name, "value " + std::to_string(*x) + " out of range");
    return *x;
}

double asDouble(const TablePlan& t, const ColPlan& c, const Value& v) {
    const double* x = std::get_if<double>(&v);
    if (!x) fail(t.name, c.col.name, "expects a floating-point value");
    return *x;
}

// Decimal text ("-12.345") as Access stores it: a sign byte (0x80 negative),
// then the unscaled 128-bit integer as four 32-bit little-endian words, the
// most significant word first.
void encodeDecimal(const TablePlan& t, const ColPlan& c, const std::string& s, uint8_t* out) {
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    unsigned __int128 v = 0;
    int fraction = -1;
    int digits = 0;
    for (; i < s.size(); ++i) {
        char ch = s[i];
        if (ch == '.' && fraction < 0) {
            fraction = 0;
            continue;
        }
        if (ch < '0' || ch > '9') fail(t.name, c.col.name, "\"" + s + "\" is not a decimal number");
        if (fraction >= 0) ++fraction;
        v = v * 10 + unsigned(ch - '0');
        if (v != 0 || fraction >= 0) ++digits;
        if (digits > 38) fail(t.name, c.col.name, "\"" + s + "\" has too many digits");
    }
    if (fraction < 0) fraction = 0;
    if (fraction > c.col.scale) fail(t.name, c.col.name, "\"" + s + "\" has more decimals than the column's scale");
    for (int k = fraction; k < c.col.scale; ++k) v *= 10;
    unsigned __int128 limit = 1;
    for (int k = 0; k < c.col.precision; ++k) limit *= 10;
    if (v >= limit) fail(t.name, c.col.name, "\"" + s + "\" exceeds the column's precision");
    out[0] = negative && v != 0 ? 0x80 : 0x00;
    for (int w = 0; w < 4; ++w) {
        uint32_t word = uint32_t(v >> (32 * (3 - w)));
        set32(out + 1 + 4 * w, word);
    }
}

// Extended date/time: 42 bytes of ASCII, "DDDDDDDDDDDDDDDDDDD:SSSSSSSSSSSSFFFFFFF:7"
// and a zero byte: the days since 1 January of the year 1 (19 digits), the
// seconds of the day (12 digits) and its 100-nanosecond units (7 digits),
// and the number of decimals Access keeps (7).
void encodeDateTimeExt(const TablePlan& t, const ColPlan& c, const std::string& s, uint8_t* out) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
    char rest[16] = {};
    const int n = std::sscanf(s.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%15s", &y, &mo, &d, &h, &mi, &se, rest);
    if (n < 6 || y < 1 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 59)
        fail(t.name, c.col.name, "\"" + s + "\" is not a date and time from the year 1 to 9999");
    std::string fraction = n == 7 ? std::string(rest) : std::string();
    if (!fraction.empty() && (fraction[0] != '.' || fraction.size() > 8 ||
                              fraction.find_first_not_of("0123456789", 1) != std::string::npos))
        fail(t.name, c.col.name, "\"" + s + "\" has more than seven decimals");
    fraction = fraction.empty() ? "" : fraction.substr(1);
    fraction.resize(7, '0');
    // Days from civil (proleptic Gregorian), counted from 0001-01-01.
    const int yy = mo <= 2 ? y - 1 : y;
    const int era = yy / 400;
    const unsigned yoe = unsigned(yy - era * 400);
    const unsigned doy = unsigned((153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1);
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long days = (long long)era * 146097 + doe - 306;  // 0001-03-01 is day 59
    char text[64];
    std::snprintf(text, sizeof text, "%019lld:%012d%s:7", days, h * 3600 + mi * 60 + se, fraction.c_str());
    std::memset(out, 0, 42);
    std::memcpy(out, text, std::min<size_t>(std::strlen(text), 41));
}

// A calculated value: 16 zero bytes, the value's length, then the value.
// A calculated decimal keeps its own scale and a word order of its own: two
// zero bytes, the scale, the sign (0x80 negative), the low 64 bits as two
// 32-bit words (the more significant first), then the high 32 bits.
void calculatedHeader(std::vector<uint8_t>& out, size_t length) {
    out.insert(out.end(), 16, 0);
    put32(out, uint32_t(length));
}

void encodeFixed(const RowContext& cx, const ColPlan& c, const Value& v, uint8_t* out);

void encodeCalculated(const RowContext& cx, const ColPlan& c, const Value& v, std::vector<uint8_t>& out) {
    const TablePlan& t = cx.plan;
    std::vector<uint8_t> value;
    switch (c.col.type) {
        case kBool: {
            const bool* b = std::get_if<bool>(&v);
            if (!b) fail(t.name, c.col.name, "expects a Yes/No value");
            value.push_back(*b ? 1 : 0);
            break;
        }
        case kText: {
            const std::string* s = std::get_if<std::string>(&v);
            if (!s) fail(t.name, c.col.name, "expects text");
            appendUcs2(value, utf8ToUtf16(*s), cx.plan.compressText);
            break;
        }
        case kDecimal: {
            const std::string* s = std::get_if<std::string>(&v);
            if (!s) fail(t.name, c.col.name, "expects decimal text");
            uint8_t plain[17];
            encodeDecimal(t, c, *s, plain);
            // plain: sign, then four words most significant first (the top one is 0).
            value = {0, 0, c.col.scale, plain[0]};
            value.insert(value.end(), plain + 9, plain + 17);   // the low 64 bits, high word first
            value.insert(value.end(), plain + 5, plain + 9);    // the high 32 bits
            break;
        }
        default: {
            value.resize(fixedSizeOf(c.col.type), 0);
            encodeFixed(cx, c, v, value.data());
            break;
        }
    }
    calculatedHeader(out, value.size());
    out.insert(out.end(), value.begin(), value.end());
}

void encodeFixed(const RowContext& cx, const ColPlan& c, const Value& v, uint8_t* out) {
    const TablePlan& t = cx.plan;
    switch (c.col.type) {
        case kBinary: {
            const Bytes* b = std::get_if<Bytes>(&v);
            if (!b) fail(t.name, c.col.name, "expects bytes");
            if (b->size() > c.fixedSize) fail(t.name, c.col.name, "binary value longer than the column");
            std::copy(b->begin(), b->end(), out);
            break;
        }
        case kByte: out[0] = uint8_t(asInt(t, c, v, -128, 255)); break;
        case kInt: set16(out, uint16_t(asInt(t, c, v, -32768, 65535))); break;
        case kLong:
        case kComplex: set32(out, uint32_t(asInt(t, c, v, INT32_MIN, UINT32_MAX))); break;
        case kCurrency: {
            const int64_t* x = std::get_if<int64_t>(&v);
            if (!x) fail(t.name, c.col.name, "expects an integer value (currency scaled by 10000)");
            uint64_t u = uint64_t(*x);
            for (int k = 0; k < 8; ++k) out[k] = uint8_t(u >> (8 * k));
            break;
        }
        case kSingle: {
            float fl = float(asDouble(t, c, v));
            std::memcpy(out, &fl, 4);
            break;
        }
        case kDouble:
        case kDateTime: {
            double d = asDouble(t, c, v);
            std::memcpy(out, &d, 8);
            break;
        }
        case kGuid: {
            const Bytes* b = std::get_if<Bytes>(&v);
            if (!b || b->size() != 16) fail(t.name, c.col.name, "expects 16 bytes");
            std::memcpy(out, b->data(), 16);
            break;
        }
        case kDecimal: {
            const std::string* s = std::get_if<std::string>(&v);
            if (!s) fail(t.name, c.col.name, "expects decimal text");
            encodeDecimal(t, c, *s, out);
            break;
        }
        case kBigInt: {
            const int64_t* x = std::get_if<int64_t>(&v);
            if (!x) fail(t.name, c.col.name, "expects an integer value");
            for (int k = 0; k < 8; ++k) out[k] = uint8_t(uint64_t(*x) >> (8 * k));
            break;
        }
        case kDateTimeExt: {
            const std::string* s = std::get_if<std::string>(&v);
            if (!s) fail(t.name, c.col.name, "expects the date and time as text");
            encodeDateTimeExt(t, c, *s, out);
            break;
        }
        default: break;
    }
}

// The bytes a text or memo value is stored as.
void textBytes(const RowContext& cx, const std::string& s, bool compress, std::vector<uint8_t>& out) {
    if (cx.f.jet3) {
        std::string b = utf8ToCodePage(s, cx.codePage);
        out.insert(out.end(), b.begin(), b.end());
    } else {
        appendUcs2(out, utf8ToUtf16(s), compress);
    }
}

// A memo or OLE value: the 12-byte header (length with flags, pointer, zero)
// and the data inline, on one long-value row, or on a chain of rows each
// starting with a pointer to the next.
void encodeLong(const RowContext& cx, const std::vector<uint8_t>& data, std::vector<uint8_t>& out,
                bool outOfRow = false) {
    const Fmt& f = cx.f;
    uint32_t len = uint32_t(data.size());
    if (data.size() > 0x3FFFFFFF) throw std::invalid_argument("long value too large");
    if (data.size() <= cx.plan.inlineLimit && !outOfRow) {
        put32(out, len | 0x80000000u);
        put32(out, 0);
        put32(out, 0);
        out.insert(out.end(), data.begin(), data.end());
        return;
    }
    if (data.size() <= f.maxRow()) {
        RowRef r = cx.lval.add(data);
        put32(out, len | 0x40000000u);
        put32(out, r.packed());
        put32(out, 0);
        return;
    }
    const size_t piece = f.maxRow() - 4;
    std::vector<uint8_t> buf;
    RowRef first{}, prev{};
    bool havePrev = false;
    for (size_t pos = 0; pos < data.size(); pos += piece) {
        size_t n = std::min(piece, data.size() - pos);
        buf.assign(4, 0);  // next pointer, patched when the next piece is placed
        buf.insert(buf.end(), data.begin() + long(pos), data.begin() + long(pos + n));
        // Each piece fills a page of its own.
        cx.lval.breakPage();
        RowRef r = cx.lval.add(buf);
        if (havePrev)
            set32(cx.lval.rowBytes(prev), r.packed());
        else
            first = r;
        prev = r;
        havePrev = true;
    }
    put32(out, len);
    put32(out, first.packed());
    put32(out, 0);
}

void encodeVariable(const RowContext& cx, const ColPlan& c, const Value& v, std::vector<uint8_t>& out) {
    const TablePlan& t = cx.plan;
    if (c.col.calculated && c.col.type != kMemo) {
        encodeCalculated(cx, c, v, out);
        return;
    }
    if (c.col.storedVariable) {
        const size_t at = out.size();
        out.resize(at + fixedSizeOf(c.col.type), 0);
        encodeFixed(cx, c, v, out.data() + at);
        return;
    }
    switch (c.col.type) {
        case kText: {
            const std::string* s = std::get_if<std::string>(&v);
            if (!s) fail(t.name, c.col.name, "expects text");
            uint16_t chars = c.col.length ? c.col.length : 255;
            size_t before = out.size();
            textBytes(cx, *s, cx.plan.compressText, out);
            size_t units = cx.f.jet3 ? out.size() - before : utf8ToUtf16(*s).size();
            if (units > chars) fail(t.name, c.col.name, "text \"" + *s + "\" longer than the column");
            break;
        }
        case kBinary: {
            const Bytes* b = std::get_if<Bytes>(&v);
            if (!b) fail(t.name, c.col.name, "expects bytes");
            if (b->size() > c.storedLength) fail(t.name, c.col.name, "binary value longer than the column");
            out.insert(out.end(), b->begin(), b->end());
            break;
        }
        case kMemo: {
            const std::string* s = std::get_if<std::string>(&v);
            if (!s) fail(t.name, c.col.name, "expects text");
            std::vector<uint8_t> data;
            // Access compresses only memo values of at most 1024 characters.
            bool compress = (cx.plan.compressText || cx.plan.compressMemo) && utf8ToUtf16(*s).size() <= 1024;
            if (c.col.calculated) {
                // The header is part of the long value's data; the text is UCS-2.
                std::vector<uint8_t> text;
                textBytes(cx, *s, false, text);
                calculatedHeader(data, text.size());
                data.insert(data.end(), text.begin(), text.end());
            } else {
                textBytes(cx, *s, compress, data);
            }
            encodeLong(cx, data, out, c.col.longValueOutOfRow);
            break;
        }
        case kOle: {
            const Bytes* b = std::get_if<Bytes>(&v);
            if (!b) fail(t.name, c.col.name, "expects bytes");
            encodeLong(cx, *b, out, c.col.longValueOutOfRow);
            break;
        }
        default: break;
    }
}

bool isNull(const Value& v) { return std::holds_alternative<std::monostate>(v); }

// One row in the format's layout: column count, fixed area, variable data,
// then (when the table has variable columns) the end-of-data offset and the
// variable offsets in reverse order, the variable count, and the null mask.
void encodeRow(const RowContext& cx, const Row& r, std::vector<uint8_t>& out) {
    const Fmt& f = cx.f;
    const TablePlan& t = cx.plan;
    if (r.values.size() != t.cols.size())
        fail(t.name, "", "row has " + std::to_string(r.values.size()) + " values for " + std::to_string(t.cols.size()) + " columns");
    size_t n = r.storedColumns < 0 ? t.cols.size() : size_t(r.storedColumns);
    if (n > t.cols.size()) fail(t.name, "", "row stored with more columns than the table has");
    const size_t w = f.jet3 ? 1 : 2;
    out.clear();
    if (f.jet3)
        put8(out, uint8_t(n));
    else
        put16(out, uint16_t(n));
    out.resize(w + t.fixedEndFor[n], 0);
    std::vector<uint8_t> mask((n + 7) / 8, 0);
    for (size_t i = 0; i < n; ++i) {
        const ColPlan& c = t.cols[i];
        const Value& v = r.values[i];
        if (c.col.skipped || !c.fixed) continue;
        if (c.col.type == kBool) {
            if (!isNull(v)) {
                const bool* b = std::get_if<bool>(&v);
                if (!b) fail(t.name, c.col.name, "expects a Yes/No value");
                if (*b) mask[i / 8] |= uint8_t(1 << (i % 8));
            }
            continue;
        }
        if (isNull(v)) continue;
        encodeFixed(cx, c, v, out.data() + w + c.fixedOffset);
        mask[i / 8] |= uint8_t(1 << (i % 8));
    }
    // Variable columns in offset-table order (column order).
    const size_t nv = t.varCountFor[n];
    std::vector<size_t> offsets;
    offsets.reserve(nv + 1);
    for (size_t i = 0; i < n; ++i) {
        const ColPlan& c = t.cols[i];
        if (c.fixed) continue;
        offsets.push_back(out.size());
        const Value& v = r.values[i];
        if (c.col.skipped || isNull(v)) continue;
        encodeVariable(cx, c, v, out);
        mask[i / 8] |= uint8_t(1 << (i % 8));
    }
    const size_t eod = out.size();
    if (t.varCount > 0) {
        if (!f.jet3) {
            if (eod > 0xFFFF) fail(t.name, "", "row too long");
            put16(out, uint16_t(eod));
            for (size_t k = nv; k-- > 0;) put16(out, uint16_t(offsets[k]));
            put16(out, uint16_t(nv));
        } else {
            // One-byte offsets; a jump table names, for each 256-byte step, the
            // first entry (eod counts as the last entry) at or past it. The
            // number of jumps follows from the row's total length.
            offsets.push_back(eod);
            const size_t base = eod + (nv + 1) + 1 + mask.size();
            size_t jumps = 0;
            for (;;) {
                size_t need = (base + jumps - 1) / 256;
                if (need == jumps) break;
                jumps = need;
            }
            for (size_t k = nv + 1; k-- > 0;) put8(out, uint8_t(offsets[k] & 0xFF));
            std::vector<uint8_t> jump(jumps, 0xFF);
            for (size_t j = 0; j < jumps; ++j)
                for (size_t k = 0; k <= nv; ++k)
                    if (offsets[k] >= (j + 1) * 256) {
                        jump[j] = uint8_t(k);
                        break;
                    }
            for (size_t j = jumps; j-- > 0;) put8(out, jump[j]);
            put8(out, uint8_t(nv));
        }
    }
    out.insert(out.end(), mask.begin(), mask.end());
    if (out.size() > f.maxRow()) fail(t.name, "", "row of " + std::to_string(out.size()) + " bytes does not fit a page");
}

// Values for rows on stale pages: recognisably different from live data.
Value staleValue(const ColPlan& c, int k) {
    switch (c.col.type) {
        case kBool: return bool(k % 2);
        case kByte: return int64_t(200 + k % 50);
        case kInt: return int64_t(30000 + k);
        case kLong:
        case kComplex: return int64_t(900000 + k);
        case kCurrency: return int64_t(99990000) + int64_t(k) * 10000;
        case kSingle:
        case kDouble: return 9999.5 + k;
        case kDateTime: return 10000.0 + k;
        case kGuid: return Bytes(16, uint8_t(0xE0 + k % 16));
        case kDecimal: return std::string(c.col.precision > c.col.scale ? "9" : "0");
        case kText: {
            std::string s = "stale " + std::to_string(k);
            uint16_t chars = c.col.length ? c.col.length : 255;
            if (s.size() > chars) s.resize(chars);
            return s;
        }
        case kMemo: return std::string("stale memo " + std::to_string(k));
        case kBinary:
        case kOle: return Bytes{'s', 't', 'a', 'l', 'e', uint8_t(k)};
        default: return std::monostate{};
    }
}

// ---------------------------------------------------------------------------
// Definitions

struct DefinitionRefs {
    uint32_t rowCount = 0;
    uint32_t autoNumber = 0;
    RowRef usage, freeMap;
    std::vector<RowRef> indexMaps;
    std::vector<uint32_t> indexRoots;
};

// The definition as one byte stream from offset 0 of its first page (the
// first 8 bytes, the page header, are filled in per page).
std::vector<uint8_t> buildDefinition(const Fmt& f, const TablePlan& t, const DefinitionRefs& r, uint16_t codePage,
                                     TableLayout* lay) {
    std::vector<uint8_t> s(f.tdefEnd, 0);
    set32(&s[f.tdefRows], r.rowCount);
    set32(&s[f.tdefAutoNumber], r.autoNumber);
    if (!f.jet3) {
        set32(&s[12], kTableMagic);
        s[24] = 0x01;  // auto-numbers enabled, as Access writes
    }
    s[f.tdefTableType] = t.tableType;
    set16(&s[f.tdefMaxCols], uint16_t(t.cols.size()));
    set16(&s[f.tdefVarCols], t.varCount);
    set16(&s[f.tdefColCount], uint16_t(t.cols.size()));
    set32(&s[f.tdefLogicalIdx], uint32_t(t.logicalOrder.size()));
    set32(&s[f.tdefRealIdx], uint32_t(t.realIndexes.size()));
    set32(&s[f.tdefUsageMap], r.usage.packed());
    set32(&s[f.tdefFreeMap], r.freeMap.packed());

    for (size_t i = 0; i < t.realIndexes.size(); ++i) {
        put32(s, 0);
        put32(s, r.rowCount);
        if (!f.jet3) put32(s, 0);
    }

    std::vector<size_t> entryOrder(t.cols.size());
    for (size_t i = 0; i < entryOrder.size(); ++i) entryOrder[i] = i;
    if (t.sortEntriesByName)
        std::stable_sort(entryOrder.begin(), entryOrder.end(),
                         [&](size_t a, size_t b) { return t.cols[a].col.name < t.cols[b].col.name; });
    if (!t.entryOrder.empty()) entryOrder = t.entryOrder;

    if (lay) {
        lay->columnEntriesOffset = s.size();
        lay->columnEntrySize = f.colEntry;
    }
    for (size_t i : entryOrder) {
        const ColPlan& c = t.cols[i];
        size_t at = s.size();
        s.resize(at + f.colEntry, 0);
        uint8_t* e = &s[at];
        e[0] = c.col.type;
        if (f.jet3) {
            set16(e + 1, c.number);
            set16(e + 3, c.varIndex);
            set16(e + 5, c.number);
            set16(e + 9, kSortGeneral);
            set16(e + 11, codePage);
            e[13] = c.flags;
            set16(e + 14, c.fixedOffset);
            set16(e + 16, c.storedLength);
        } else {
            set32(e + 1, kTableMagic);
            set16(e + 5, c.number);
            set16(e + 7, c.varIndex);
            set16(e + 9, c.number);
            if (c.col.type == kDecimal) {
                e[11] = c.col.precision;
                e[12] = c.col.scale;
            } else if (c.col.type == kComplex) {
                set32(e + 11, c.complexId);
            } else {
                set16(e + 11, kSortGeneral);
            }
            e[15] = c.flags;
            e[16] = c.flags2;
            set16(e + 21, c.fixedOffset);
            set16(e + 23, c.storedLength);
        }
    }
    if (lay) lay->columnNamesOffset = s.size();
    for (size_t i : entryOrder) appendName(f, s, t.cols[i].col.name, codePage);

    for (size_t k = 0; k < t.realIndexes.size(); ++k) {
        const IndexPlan& ix = t.realIndexes[k];
        if (!f.jet3) put32(s, kIndexMagic);
        for (size_t slot = 0; slot < 10; ++slot) {
            if (slot < ix.columns.size()) {
                put16(s, uint16_t(ix.columns[slot].column));
                put8(s, ix.columns[slot].descending ? 0x00 : 0x01);
            } else {
                put16(s, 0xFFFF);
                put8(s, 0x00);
            }
        }
        put32(s, r.indexMaps[k].packed());
        put32(s, r.indexRoots[k]);
        if (!f.jet3) put32(s, 0);
        put8(s, ix.flags);
        if (!f.jet3) s.insert(s.end(), 5, 0);
    }
    for (size_t n = 0; n < t.logicalOrder.size(); ++n) {
        size_t real = t.logicalOrder[n];
        const IndexPlan& ix = t.realIndexes[real];
        if (!f.jet3) put32(s, kTableMagic);
        put32(s, uint32_t(real));  // logical number: the same as the real one
        put32(s, uint32_t(real));
        put8(s, 0);                // no related table
        put32(s, 0xFFFFFFFFu);
        put32(s, 0);
        // Cascade bytes as Access leaves them on ordinary indexes.
        put8(s, ix.type == 2 ? 0 : 0x04);
        put8(s, ix.type == 2 ? 0 : 0x04);
        put8(s, ix.type);
        if (!f.jet3) put32(s, 0);
    }
    for (size_t n = 0; n < t.logicalOrder.size(); ++n) appendName(f, s, t.realIndexes[t.logicalOrder[n]].name, codePage);
    // End of the (empty) list of per-column long-value usage maps.
    put16(s, 0xFFFF);
    set32(&s[8], uint32_t(s.size()));
    return s;
}

// Splits a definition stream into page pieces [start, end): the first page
// holds stream bytes from 0 (its header included), each continuation page
// holds bytes from its offset 8.
std::vector<std::pair<size_t, size_t>> splitDefinition(const Fmt& f, size_t size, std::vector<size_t> breaks,
                                                       const std::string& table) {
    std::sort(breaks.begin(), breaks.end());
    breaks.erase(std::unique(breaks.begin(), breaks.end()), breaks.end());
    std::vector<std::pair<size_t, size_t>> pieces;
    size_t start = 0;
    size_t capacity = f.pageSize;
    size_t b = 0;
    while (start < size) {
        size_t end = std::min(size, start + capacity);
        while (b < breaks.size() && breaks[b] <= start) ++b;
        if (b < breaks.size() && breaks[b] < end) end = breaks[b];
        if (end <= start || (start == 0 && end <= 8)) fail(table, "", "definition break inside the page header");
        pieces.emplace_back(start, end);
        start = end;
        capacity = f.pageSize - 8;
    }
    return pieces;
}

void writeDefinitionPages(Image& img, const std::vector<uint8_t>& s, const std::vector<std::pair<size_t, size_t>>& pieces,
                          const std::vector<uint32_t>& pages) {
    const Fmt& f = img.fmt;
    for (size_t k = 0; k < pieces.size(); ++k) {
        uint8_t* p = img.page(pages[k]);
        size_t used;
        if (k == 0) {
            std::memcpy(p, s.data(), pieces[k].second);
            used = pieces[k].second;
        } else {
            size_t n = pieces[k].second - pieces[k].first;
            std::memcpy(p + 8, s.data() + pieces[k].first, n);
            used = 8 + n;
        }
        p[0] = 0x02;
        p[1] = 0x01;
        if (f.jet3) {
            p[2] = 'V';
            p[3] = 'C';
        } else {
            // Free space on the page, less 8, as Access records it.
            size_t freeBytes = f.pageSize - used;
            set16(p + 2, uint16_t(freeBytes >= 8 ? freeBytes - 8 : 0));
        }
        set32(p + 4, k + 1 < pages.size() ? pages[k + 1] : 0);
    }
}

void writeEmptyLeaf(Image& img, uint32_t page, uint32_t owner) {
    uint8_t* p = img.page(page);
    p[0] = 0x04;
    p[1] = 0x01;
    set16(p + 2, uint16_t(img.fmt.pageSize - img.fmt.leafFirstEntry));
    set32(p + 4, owner);
}

}  // namespace

RowRef MapRows::reserve() {
    std::vector<uint8_t> blank(img_.fmt.mapRow, 0);
    return pages_.add(blank);
}

void MapRows::fill(RowRef where, std::vector<uint32_t> pages) {
    const Fmt& f = img_.fmt;
    std::sort(pages.begin(), pages.end());
    const size_t inlineBits = (f.mapRow - 5) * 8;
    std::vector<uint8_t> row(f.mapRow, 0);
    if (pages.empty() || pages.back() < inlineBits) {
        // Type 0, counted from page 0 as Access does for small files.
        for (uint32_t pg : pages) row[5 + pg / 8] |= uint8_t(1 << (pg % 8));
    } else if (pages.back() - pages.front() < inlineBits) {
        uint32_t first = pages.front();
        set32(&row[1], first);
        for (uint32_t pg : pages) row[5 + (pg - first) / 8] |= uint8_t(1 << ((pg - first) % 8));
    } else {
        // Type 1: the row lists bitmap pages (type 0x05), each covering a run
        // of pages from page 0 onwards.
        row[0] = 0x01;
        const size_t perPage = (f.pageSize - 4) * 8;
        const size_t slots = (f.mapRow - 1) / 4;
        std::vector<uint32_t> mapPages(slots, 0);
        for (uint32_t pg : pages) {
            size_t k = pg / perPage;
            if (k >= slots) throw std::invalid_argument("file too large for a usage map");
            if (!mapPages[k]) {
                mapPages[k] = img_.newPage();
                uint8_t* m = img_.page(mapPages[k]);
                m[0] = 0x05;
                m[1] = 0x01;
            }
            size_t bit = pg % perPage;
            img_.page(mapPages[k])[4 + bit / 8] |= uint8_t(1 << (bit % 8));
        }
        for (size_t k = 0; k < slots; ++k) set32(&row[1 + 4 * k], mapPages[k]);
    }
    std::memcpy(pages_.rowBytes(where), row.data(), row.size());
}

WrittenTable writeTable(Image& img, MapRows& maps, const TableInput& in, uint32_t firstDefinitionPage) {
    const Fmt& f = img.fmt;
    const TablePlan& t = in.plan;
    const Table& src = *in.table;
    WrittenTable out;
    TableLayout& lay = out.layout;
    lay.name = src.name;

    DefinitionRefs refs;
    refs.usage = maps.reserve();
    refs.freeMap = maps.reserve();
    for (size_t k = 0; k < t.realIndexes.size(); ++k) refs.indexMaps.push_back(maps.reserve());
    refs.indexRoots.assign(t.realIndexes.size(), 0);

    // The stream's size does not depend on page numbers: place it first.
    auto pieces = splitDefinition(f, buildDefinition(f, t, refs, in.codePage, nullptr).size(), src.definitionBreaks, src.name);
    std::vector<uint32_t> defPages;
    for (size_t k = 0; k < pieces.size(); ++k)
        defPages.push_back(k == 0 && firstDefinitionPage ? firstDefinitionPage : img.newPage());
    const uint32_t owner = defPages[0];
    for (size_t k = 0; k < t.realIndexes.size(); ++k) {
        refs.indexRoots[k] = img.newPage();
        writeEmptyLeaf(img, refs.indexRoots[k], owner);
    }

    RowPages data(img, owner, false, src.rowsPerPage);
    RowPages moved(img, owner, false);  // rows reached through overflow pointers
    RowPages lval(img, 0, true);
    RowContext cx{f, t, lval, in.codePage};
    std::vector<uint8_t> buf;
    int64_t maxAuto = 0;
    int autoColumn = -1;
    for (const ColPlan& c : t.cols)
        if (c.col.autoNumber && c.col.type == kLong) autoColumn = c.number;

    in.rows([&](const Row& r) {
        encodeRow(cx, r, buf);
        if (r.deleted) {
            data.add(buf, kSlotDeleted);
            return;
        }
        if (r.overflow) {
            RowRef target = moved.add(buf, kSlotMovedRow);
            uint8_t ptr[4];
            set32(ptr, target.packed());
            data.add(ptr, 4, kSlotPointer);
        } else {
            data.add(buf);
        }
        ++refs.rowCount;
        if (autoColumn >= 0 && size_t(autoColumn) < r.values.size()) {
            if (const int64_t* v = std::get_if<int64_t>(&r.values[autoColumn])) maxAuto = std::max(maxAuto, *v);
        }
    });
    if (autoColumn >= 0) refs.autoNumber = uint32_t(maxAuto + 1);

    // Stale pages: this table's owner, rows unlike the live ones, and absent
    // from the usage map.
    for (int s = 0; s < src.stalePages; ++s) {
        RowPages stale(img, owner, false);
        Row r;
        for (int k = 0; k < std::max(1, src.staleRowsPerPage); ++k) {
            r.values.clear();
            for (const ColPlan& c : t.cols) r.values.push_back(c.col.skipped ? Value{} : staleValue(c, s * 100 + k));
            encodeRow(cx, r, buf);
            stale.add(buf);
            if (stale.pages.size() > 1) fail(src.name, "", "stale rows do not fit one page");
        }
        lay.stalePages.push_back(stale.pages[0]);
    }

    std::vector<uint8_t> s = buildDefinition(f, t, refs, in.codePage, &lay);
    writeDefinitionPages(img, s, pieces, defPages);

    lay.dataPages = data.pages;
    lay.dataPages.insert(lay.dataPages.end(), moved.pages.begin(), moved.pages.end());
    std::sort(lay.dataPages.begin(), lay.dataPages.end());
    maps.fill(refs.usage, lay.dataPages);
    maps.fill(refs.freeMap, {});
    for (size_t k = 0; k < t.realIndexes.size(); ++k) maps.fill(refs.indexMaps[k], {refs.indexRoots[k]});

    lay.definitionPage = owner;
    lay.definitionPages = defPages;
    lay.usageMapPage = refs.usage.page;
    lay.usageMapRow = refs.usage.row;
    return out;
}

}  // namespace jetwriter::detail
