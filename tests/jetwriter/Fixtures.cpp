#include "Fixtures.h"

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
