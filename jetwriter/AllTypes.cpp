// A table with every column type the format has, at the extremes of each
// type, with NULLs and texts in several scripts: the fixture that both
// oracles and the repair's round trip read.
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "jetwriter/Internal.h"
#include "jetwriter/JetWriter.h"

namespace jetwriter {

using detail::column;

namespace {

Bytes bytes(std::initializer_list<uint8_t> b) { return Bytes(b); }

}  // namespace

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

}  // namespace jetwriter
