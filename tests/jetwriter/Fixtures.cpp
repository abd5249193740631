#include "Fixtures.h"

#include <climits>
#include <cstdint>

namespace jwtest {

using namespace jetwriter;

const char* formatName(Format f) {
    switch (f) {
        case Format::Jet3: return "Jet3";
        case Format::Jet4: return "Jet4";
        case Format::Ace: return "Ace";
    }
    return "?";
}

bool hasType(Format f, uint8_t type) {
    if (type == kComplex) return f == Format::Ace;
    if (type == kDecimal) return f != Format::Jet3;
    return true;
}

Column column(const std::string& name, uint8_t type, uint16_t length) {
    Column c;
    c.name = name;
    c.type = type;
    c.length = length;
    return c;
}

namespace {

Bytes bytes(std::initializer_list<uint8_t> b) { return Bytes(b); }

}  // namespace

void addTypeTables(Database& db) {
    struct Case {
        const char* name;
        uint8_t type;
        uint16_t length;
        std::vector<Value> values;
    };
    Column dec = column("Value", kDecimal);
    dec.precision = 20;
    dec.scale = 3;
    const std::vector<Case> cases = {
        {"T_Bool", kBool, 0, {true, false, Value{}}},
        {"T_Byte", kByte, 0, {int64_t(0), int64_t(255), int64_t(7), Value{}}},
        {"T_Int", kInt, 0, {int64_t(-32768), int64_t(32767), int64_t(0), Value{}}},
        {"T_Long", kLong, 0, {int64_t(INT32_MIN), int64_t(INT32_MAX), int64_t(-1), Value{}}},
        {"T_Currency", kCurrency, 0, {int64_t(0), int64_t(-12345678), int64_t(922337203685477580LL), Value{}}},
        {"T_Single", kSingle, 0, {0.5, -1234.25, 3.0e10, Value{}}},
        {"T_Double", kDouble, 0, {0.1, -2.5e-300, 1.7976931348623157e308, Value{}}},
        {"T_DateTime", kDateTime, 0, {36526.0, 2.5, 73050.75, 45000.999988425923, Value{}}},
        // mdbtools prints binary columns only up to their first zero byte.
        {"T_Binary", kBinary, 20, {bytes({1, 2, 3}), bytes({0xFF, 0x80, 0x7F}), Bytes(20, 0xAB), Value{}}},
        {"T_Text", kText, 40, {std::string("plain"), std::string(""), std::string("Grüße, €uro"), std::string(40, 'x'), Value{}}},
        {"T_Ole", kOle, 0, {bytes({0x15, 0x1C}), Bytes(), Value{}}},
        {"T_Memo", kMemo, 0, {std::string("a memo"), std::string(""), std::string("Zeile\nzwei"), Value{}}},
        {"T_Guid", kGuid, 0, {bytes({0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A, 0xF0, 0xDE, 1, 2, 3, 4, 5, 6, 7, 8}), Value{}}},
        {"T_Decimal", kDecimal, 0, {std::string("0"), std::string("-12345678901234567.891"), std::string("0.5"), Value{}}},
        {"T_Complex", kComplex, 0, {int64_t(1), int64_t(42), Value{}}},
    };
    for (const Case& c : cases) {
        if (!hasType(db.format, c.type)) continue;
        Table t;
        t.name = c.name;
        t.columns = {column("ID", kLong), c.type == kDecimal ? dec : column("Value", c.type, c.length)};
        int id = 0;
        for (const Value& v : c.values) {
            Row r;
            r.values = {int64_t(++id), v};
            t.rows.push_back(r);
        }
        db.tables.push_back(t);
    }
}

Table allTypesTable(Format format) {
    const bool jet3 = format == Format::Jet3, ace = format == Format::Ace;
    Table t;
    t.name = "AllTypes";
    Column link = column("Link", kMemo);
    link.hyperlink = true;
    t.columns = {column("ID", kLong),       column("Flag", kBool),     column("Tiny", kByte),
                 column("Small", kInt),     column("Whole", kLong),    column("Money", kCurrency),
                 column("Real4", kSingle),  column("Real8", kDouble),  column("When", kDateTime),
                 column("Raw", kBinary, 16), column("Name", kText, 60), column("Blob", kOle),
                 column("Notes", kMemo),    link,                      column("Guid", kGuid)};
    // Each row: the values of the columns above, then the decimals, then the
    // ACE-only columns.
    const double year100 = -657434.0, year9999 = 2958465.0 + 86399.0 / 86400.0;
    std::vector<std::vector<Value>> rows = {
        {int64_t(1), false, int64_t(0), int64_t(-32768), int64_t(INT32_MIN), int64_t(INT64_MIN), -3.4028234663852886e38,
         -1.7976931348623157e308, year100, bytes({1, 2, 3}), std::string("Gr\u00fc\u00dfe aus K\u00f6ln"), bytes({0x15, 0x1C, 0}),
         std::string("\u00dcn\u00efc\u00f6d\u00e9 memo"), std::string("Example#https://example.com/#"),
         bytes({0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A, 0xF0, 0xDE, 1, 2, 3, 4, 5, 6, 7, 8})},
        {int64_t(2), true, int64_t(255), int64_t(32767), int64_t(INT32_MAX), int64_t(INT64_MAX), 3.4028234663852886e38,
         1.7976931348623157e308, year9999, Bytes(16, 0xFF),
         std::string(jet3 ? "Caf\u00e9 cr\u00e8me" : "\u041f\u0440\u0438\u0432\u0435\u0442, \u043c\u0438\u0440"),
         Bytes(3000, 0xAB),
         std::string(jet3 ? "Na\u00efve \u00e0 la carte" : "\u039a\u03b1\u03bb\u03b7\u03bc\u03ad\u03c1\u03b1 \u6f22\u5b57 \u05e2\u05d1\u05e8\u05d9\u05ea"),
         std::string("#mailto:someone@example.com#"), Bytes(16, 0xFF)},
        std::vector<Value>(15),
        {int64_t(4), true, int64_t(1), int64_t(-1), int64_t(0), int64_t(1), 1.1754943508222875e-38, 4.9406564584124654e-324,
         0.0, bytes({0x7F}), std::string(jet3 ? "plain" : "mixed \u00e9 and \u0394\u03b5\u03bb\u03c4\u03b1"), Bytes(),
         std::string(""), std::string("text only#"), bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1})},
    };
    rows[2][0] = int64_t(3);
    if (!jet3) {
        for (int scale = 0; scale <= 28; ++scale) {
            Column d = column("Dec" + std::to_string(scale), kDecimal);
            d.precision = 28;
            d.scale = uint8_t(scale);
            t.columns.push_back(d);
            std::string nines(28, '9');
            if (scale) nines.insert(nines.size() - size_t(scale), ".");
            if (scale == 28) nines = "0" + nines;
            std::string smallest = scale ? "0." + std::string(size_t(scale) - 1, '0') + "1" : "1";
            rows[0].push_back("-" + nines);
            rows[1].push_back(nines);
            rows[2].push_back(Value{});
            rows[3].push_back(smallest);
        }
    }
    if (ace) {
        t.columns.push_back(column("Big", kBigInt));
        t.columns.push_back(column("WhenExt", kDateTimeExt));
        rows[0].insert(rows[0].end(), {int64_t(INT64_MIN), std::string("0001-01-01 00:00:00")});
        rows[1].insert(rows[1].end(), {int64_t(INT64_MAX), std::string("9999-12-31 23:59:59.9999999")});
        rows[2].insert(rows[2].end(), {Value{}, Value{}});
        rows[3].insert(rows[3].end(), {int64_t(0), std::string("2020-06-16 12:34:56.0000001")});
        // A calculated column of each result type: (name, type, DAO ResultType, expression, four values).
        struct Calc {
            const char* name;
            uint8_t type;
            uint8_t resultType;
            const char* expression;
            std::vector<Value> values;
        };
        const std::vector<Calc> calcs = {
            {"CalcFlag", kBool, 1, "[Whole]>0", {false, true, Value{}, false}},
            {"CalcTiny", kByte, 2, "[Tiny]", {int64_t(0), int64_t(255), Value{}, int64_t(1)}},
            {"CalcSmall", kInt, 3, "[Small]", {int64_t(-32768), int64_t(32767), Value{}, int64_t(-1)}},
            {"CalcWhole", kLong, 4, "[Whole]", {int64_t(INT32_MIN), int64_t(INT32_MAX), Value{}, int64_t(0)}},
            {"CalcMoney", kCurrency, 5, "[Money]", {int64_t(INT64_MIN), int64_t(INT64_MAX), Value{}, int64_t(1)}},
            {"CalcReal4", kSingle, 6, "[Real4]", {-3.4028234663852886e38, 3.4028234663852886e38, Value{}, 0.5}},
            {"CalcReal8", kDouble, 7, "[Real8]*2", {-1.5, 1.7976931348623157e308, Value{}, 0.1}},
            {"CalcWhen", kDateTime, 8, "[When]+1", {year100, year9999, Value{}, 45000.5}},
            {"CalcName", kText, 10, "[Name] & \"!\"", {std::string("Gr\u00fc\u00dfe!"), std::string("\u041f\u0440\u0438!"), Value{}, std::string("")}},
            {"CalcNotes", kMemo, 12, "[Notes] & [Notes]", {std::string("memo memo"), std::string("\u6f22\u5b57\u6f22\u5b57"), Value{}, std::string(3000, 'n')}},
            {"CalcGuid", kGuid, 15, "[Guid]", {Bytes(16, 0x11), Bytes(16, 0xEE), Value{}, bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2})}},
            {"CalcDec", kDecimal, 20, "[Dec4]", {std::string("-99999999999999.9999"), std::string("99999999999999.9999"), Value{}, std::string("0.0001")}},
        };
        for (const Calc& c : calcs) {
            Column col = column(c.name, c.type, c.type == kText ? 255 : 0);
            col.calculated = true;
            if (c.type == kDecimal) col.precision = 18, col.scale = 4;
            t.columns.push_back(col);
            for (size_t r = 0; r < rows.size(); ++r) rows[r].push_back(c.values[r]);
            t.properties.push_back({c.name, false,
                                    {byteProperty("ResultType", c.resultType, 2), textProperty("Expression", c.expression)}});
        }
    }
    for (auto& values : rows) {
        Row r;
        r.values = std::move(values);
        t.rows.push_back(std::move(r));
    }
    return t;
}

Table editedTable() {
    Table t;
    t.name = "Edited";
    t.columns = {column("ID", kLong), column("Label", kText, 30), column("Added", kInt), column("AddedText", kText, 20),
                 column("Flag", kBool)};
    for (int k = 0; k < 14; ++k) {
        Row r;
        r.values = {int64_t(k), "row " + std::to_string(k), int64_t(k * 10), "added " + std::to_string(k), k % 2 == 0};
        if (k < 4) r.storedColumns = 2;  // written before Added, AddedText and Flag existed
        if (k == 5 || k == 9) r.deleted = true;
        if (k == 6 || k == 10 || k == 12) r.overflow = true;
        t.rows.push_back(r);
    }
    t.rowsPerPage = 3;
    t.stalePages = 2;
    t.staleRowsPerPage = 4;
    return t;
}

Table longValuesTable() {
    Table t;
    t.name = "LongValues";
    t.columns = {column("ID", kLong), column("Notes", kMemo), column("Blob", kOle)};
    auto text = [](size_t n) {
        std::string s;
        for (size_t i = 0; s.size() < n; ++i) s += "word" + std::to_string(i) + " ";
        s.resize(n);
        return s;
    };
    auto blob = [](size_t n) {
        Bytes b(n);
        for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * 31 + 7);
        return b;
    };
    // Short (in the row), one long-value row, and chains over several pages.
    const size_t sizes[] = {10, 700, 1500, 5000, 20000};
    int id = 0;
    for (size_t n : sizes) {
        Row r;
        r.values = {int64_t(++id), text(n), blob(n)};
        t.rows.push_back(r);
    }
    return t;
}

Table wideRowsTable() {
    Table t;
    t.name = "WideRows";
    for (int i = 0; i < 6; ++i) t.columns.push_back(column("Text" + std::to_string(i), kText, 255));
    t.columns.push_back(column("N", kLong));
    for (int k = 0; k < 6; ++k) {
        Row r;
        r.values.resize(7);  // NULL unless set below
        for (int i = 0; i < 6; ++i)
            if ((i + k) % 4 != 0) r.values[size_t(i)] = std::string(size_t(30 + 30 * i + 10 * k), char('a' + i));
        r.values[6] = int64_t(k);
        t.rows.push_back(r);
    }
    return t;
}

Table manyColumnsTable(int columns) {
    Table t;
    t.name = "ManyColumns";
    for (int i = 0; i < columns; ++i)
        t.columns.push_back(column("A_rather_long_column_name_" + std::to_string(i), i % 3 == 0 ? kText : kLong, 20));
    for (int k = 0; k < 3; ++k) {
        Row r;
        for (int i = 0; i < columns; ++i)
            r.values.push_back(i % 3 == 0 ? Value("v" + std::to_string(i * k)) : Value(int64_t(i * 1000 + k)));
        t.rows.push_back(r);
    }
    return t;
}

}  // namespace jwtest
