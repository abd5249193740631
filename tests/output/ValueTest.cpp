// Values: what an assignment stores for each field type, what a recordset
// reads back, the values of fields left unassigned, auto-numbers, and the
// scratch-table move that copies every value through Value and SetValue.
#include <gtest/gtest.h>

#include <limits>
#include <regex>

#include "Support.h"

namespace talmera::dao::test {
namespace {

struct ValueCase {
    const char* what;
    int type;
    Variant assigned;
    const char* storageClass;  // SQLite's typeof() of the stored value
    const char* stored;        // SQLite's quote() of it
    Variant readBack;
    int32_t size = 0;
    int scale = -1;            // "Scale" property of a decimal field
    // Currency and Decimal: the exact text as docs/output-format.md says to
    // recover it.
    const char* exact = nullptr;
};

std::string Show(const Variant& v) {
    return std::visit(
        [](const auto& x) -> std::string {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, std::monostate>) return "Null";
            else if constexpr (std::is_same_v<T, bool>) return x ? "True" : "False";
            else if constexpr (std::is_same_v<T, int64_t>) return "int " + std::to_string(x);
            else if constexpr (std::is_same_v<T, double>) {
                char b[40];
                std::snprintf(b, sizeof b, "double %.17g", x);
                return b;
            } else if constexpr (std::is_same_v<T, std::string>) return "text '" + x + "'";
            else if constexpr (std::is_same_v<T, Bytes>) return "bytes(" + std::to_string(x.size()) + ")";
            else if constexpr (std::is_same_v<T, Currency>) return "currency " + std::to_string(x.tenThousandths);
            else if constexpr (std::is_same_v<T, Decimal>) return "decimal " + x.digits;
            else {
                char b[40];
                std::snprintf(b, sizeof b, "date %.17g", x.days);
                return b;
            }
        },
        v);
}

bool Same(const Variant& a, const Variant& b) {
    if (a.index() != b.index()) return false;
    if (auto* c = std::get_if<Currency>(&a)) return c->tenThousandths == std::get<Currency>(b).tenThousandths;
    if (auto* d = std::get_if<Decimal>(&a)) return d->digits == std::get<Decimal>(b).digits;
    if (auto* t = std::get_if<Date>(&a)) return t->days == std::get<Date>(b).days;  // exact, bit for bit
    if (auto* i = std::get_if<int64_t>(&a)) return *i == std::get<int64_t>(b);
    if (auto* x = std::get_if<bool>(&a)) return *x == std::get<bool>(b);
    if (auto* r = std::get_if<double>(&a)) return *r == std::get<double>(b);
    if (auto* s = std::get_if<std::string>(&a)) return *s == std::get<std::string>(b);
    if (auto* y = std::get_if<Bytes>(&a)) return *y == std::get<Bytes>(b);
    return true;  // both Null
}

TEST(Values, AssignmentsAreConvertedToTheFieldTypeAndReadBackExactly) {
    const int64_t maxCurrency = std::numeric_limits<int64_t>::max();
    const ValueCase cases[] = {
        // Currency and Decimal: numbers (a real, or an integer when whole),
        // the exact text given back by printf with the scale or, past a
        // double's digits, kept in _talmera_exact_values.
        {"currency, typed", dbCurrency, Currency{123456789}, "real", "12345.6789", Currency{123456789}, 0, -1, "12345.6789"},
        {"currency, the row decoder's six decimals", dbCurrency, std::string("12.500000"), "real", "12.5", Currency{125000},
         0, -1, "12.5000"},
        {"currency, its largest value", dbCurrency, Currency{maxCurrency}, "real", "9.22337203685477625015e+14",
         Currency{maxCurrency}, 0, -1, "922337203685477.5807"},
        {"currency, its smallest value", dbCurrency, std::string("-922337203685477.5808"), "real",
         "-9.22337203685477625015e+14", Currency{std::numeric_limits<int64_t>::min()}, 0, -1, "-922337203685477.5808"},
        {"currency, a fifth decimal rounds half to even (down)", dbCurrency, std::string("0.00005"), "integer", "0",
         Currency{0}, 0, -1, "0.0000"},
        {"currency, a fifth decimal rounds half to even (up)", dbCurrency, std::string("0.00015"), "real", "0.0002",
         Currency{2}, 0, -1, "0.0002"},
        {"currency, a fifth decimal above five rounds up", dbCurrency, std::string("-1.23456"), "real", "-1.2346",
         Currency{-12346}, 0, -1, "-1.2346"},
        {"currency from a double", dbCurrency, 0.1, "real", "0.1", Currency{1000}, 0, -1, "0.1000"},
        {"currency from exponent text", dbCurrency, std::string("1.5E3"), "integer", "1500", Currency{15000000}, 0, -1,
         "1500.0000"},
        {"currency, fifteen digits fit a double", dbCurrency, std::string("99999999999.9999"), "real", "99999999999.9999",
         Currency{999999999999999}, 0, -1, "99999999999.9999"},
        {"decimal, 28 digits", dbDecimal, Decimal{"-1234567890123456789.012345678"}, "integer", "-1234567890123456768",
         Decimal{"-1234567890123456789.012345678"}, 0, -1, "-1234567890123456789.012345678"},
        {"decimal, trailing zeros dropped without a scale", dbDecimal, Decimal{"12.3400"}, "real", "12.34", Decimal{"12.34"},
         0, -1, "12.34"},
        {"decimal, padded to the field's scale", dbDecimal, std::string("1.5"), "real", "1.5", Decimal{"1.5"}, 0, 3, "1.500"},
        {"decimal, rounded to the field's scale", dbDecimal, Decimal{"2.00051"}, "real", "2.001", Decimal{"2.001"}, 0, 3,
         "2.001"},
        {"decimal, a scale of 28", dbDecimal, Decimal{"0.1234567890123456789012345678"}, "real", "1.23456789012345677369e-01",
         Decimal{"0.1234567890123456789012345678"}, 0, 28, "0.1234567890123456789012345678"},
        // Dates: ISO text that gives the same day number back.
        {"date, typed", dbDate, Date{45000.5}, "text", "'2023-03-15 12:00:00'", Date{45000.5}},
        {"date, the C locale's text", dbDate, std::string("03/15/2023 12:00:00"), "text", "'2023-03-15 12:00:00'", Date{45000.5}},
        {"date, ISO text without a time", dbDate, std::string("2023-03-15"), "text", "'2023-03-15 00:00:00'", Date{45000}},
        {"date, 12-hour text", dbDate, std::string("3/15/2023 1:30:00 PM"), "text", "'2023-03-15 13:30:00'",
         Date{45000 + 13.5 / 24}},
        {"date, before 30 December 1899", dbDate, Date{-1.25}, "text", "'1899-12-29 06:00:00'", Date{-1.25}},
        {"date, a fraction no whole second gives", dbDate, Date{45000.123456789}, "text",
         "'2023-03-15 02:57:46.6665695'", Date{45000.123456789}},
        {"date, a negative time on the first day stays a day number", dbDate, Date{-0.5}, "real", "-0.5", Date{-0.5}},
        {"GUID in upper case with braces", dbGUID, std::string("{6f9619ff-8b86-d011-b42d-00c04fc964ff}"), "text",
         "'{6F9619FF-8B86-D011-B42D-00C04FC964FF}'", std::string("{6F9619FF-8B86-D011-B42D-00C04FC964FF}")},
        {"GUID from its sixteen bytes", dbGUID, Bytes{0xFF, 0x19, 0x96, 0x6F, 0x86, 0x8B, 0x11, 0xD0, 0xB4, 0x2D, 0x00,
                                                      0xC0, 0x4F, 0xC9, 0x64, 0xFF},
         "text", "'{6F9619FF-8B86-D011-B42D-00C04FC964FF}'", std::string("{6F9619FF-8B86-D011-B42D-00C04FC964FF}")},
        // Whole numbers: text and fractions round half to even; True is -1.
        {"long from text", dbLong, std::string(" 42 "), "integer", "42", int64_t{42}},
        {"long from 2.5", dbLong, std::string("2.5"), "integer", "2", int64_t{2}},
        {"long from 3.5", dbLong, 3.5, "integer", "4", int64_t{4}},
        {"integer from True", dbInteger, true, "integer", "-1", int64_t{-1}},
        {"byte at its top", dbByte, std::string("255"), "integer", "255", int64_t{255}},
        {"big integer", dbBigInt, std::numeric_limits<int64_t>::min(), "integer", "-9223372036854775808",
         std::numeric_limits<int64_t>::min()},
        {"long from currency", dbLong, Currency{25000}, "integer", "2", int64_t{2}},
        // Floating point.
        {"double from text", dbDouble, std::string("0.1"), "real", "0.1", 0.1},
        {"double from the row decoder's 28 digits", dbDouble, std::string("0.1000000000000000055511151231"), "real", "0.1", 0.1},
        {"single keeps the single's shortest text", dbSingle, 0.1, "real", "0.1", 0.1},
        {"double from currency", dbDouble, Currency{12345}, "real", "1.2345", 1.2345},
        // Yes/No: 1 or 0.
        {"yes/no from True", dbBoolean, true, "integer", "1", true},
        {"yes/no from the text Yes", dbBoolean, std::string("Yes"), "integer", "1", true},
        {"yes/no from 0", dbBoolean, int64_t{0}, "integer", "0", false},
        {"yes/no from Null is No", dbBoolean, std::monostate{}, "integer", "0", false},
        // Text.
        {"text from a number", dbText, int64_t{42}, "text", "'42'", std::string("42")},
        {"text from currency", dbText, Currency{125000}, "text", "'12.5'", std::string("12.5")},
        {"text counts characters, not bytes", dbText, std::string("Größe"), "text", "'Größe'", std::string("Größe"), 5},
        {"text, broken UTF-8 made valid", dbText, std::string("a\xFF" "b"), "text", "'a\xEF\xBF\xBD" "b'",
         std::string("a\xEF\xBF\xBD" "b")},
        {"memo beyond 255 characters", dbMemo, std::string(1000, 'm'), "text", nullptr, std::string(1000, 'm')},
        {"OLE object", dbLongBinary, Bytes{0, 1, 2, 255}, "blob", "X'000102FF'", Bytes{0, 1, 2, 255}},
        {"binary", dbBinary, Bytes{9, 8}, "blob", "X'0908'", Bytes{9, 8}},
    };

    OutputFile file;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const ValueCase& c = cases[i];
        const std::string name = "T" + std::to_string(i);
        TableDefPtr t = file.db->CreateTableDef(name);
        FieldPtr f = t->CreateField("v", c.type);
        if (c.size) f->SetSize(c.size);
        t->AppendField(f);
        file.db->AppendTableDef(t);
        if (c.scale >= 0) {
            f->AppendProperty(f->CreateProperty("Precision", dbInteger, int64_t{18}, true));
            f->AppendProperty(f->CreateProperty("Scale", dbInteger, int64_t{c.scale}, true));
        }
        auto rs = file.db->OpenRecordset(name);
        AddRecord(rs, {{"v", c.assigned}});
        rs->MoveFirst();
        ASSERT_FALSE(rs->EOF_()) << c.what;
        const Variant back = rs->FieldItem("v")->Value();
        EXPECT_TRUE(Same(back, c.readBack)) << c.what << ": read back " << Show(back) << ", expected " << Show(c.readBack);
        rs->Close();
    }
    file.db->Close();

    Reader reader(file.path);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const ValueCase& c = cases[i];
        const auto row = reader.rows("SELECT typeof(v), quote(v) FROM T" + std::to_string(i));
        ASSERT_EQ(row.size(), 1u) << c.what;
        EXPECT_EQ(row[0][0], c.storageClass) << c.what;
        if (c.stored) {
            EXPECT_EQ(row[0][1], c.stored) << c.what;
        }
        if (c.exact) {
            const std::string digits = c.type == dbCurrency ? "4" : std::to_string(c.scale);
            const std::string table = "T" + std::to_string(i);
            const auto exact = reader.rows(
                "SELECT coalesce((SELECT value FROM _talmera_exact_values x WHERE x.table_name = '" + table +
                "' AND x.field_name = 'v' AND x.row_id = t.rowid), " +
                (c.type == dbCurrency || c.scale >= 0 ? "printf('%." + digits + "f', v)" : std::string("CAST(v AS TEXT)")) +
                ") FROM " + table + " t");
            ASSERT_EQ(exact.size(), 1u) << c.what;
            EXPECT_EQ(exact[0][0], c.exact) << c.what;
        }
    }
}

TEST(Values, UnassignedFieldsTakeTheirDefaultsAndYesNoIsNeverNull) {
    OutputFile file;
    auto t = AddTable(file.db, "Defaults",
                      {{"Flag", dbBoolean},
                       {"Count", dbLong},
                       {"Label", dbText, 10},
                       {"Price", dbCurrency},
                       {"Stamp", dbDate},
                       {"Tag", dbGUID},
                       {"Plain", dbLong}});
    // As the field properties arrive: after the table is appended.
    t->FieldItem("Count")->SetDefaultValue("5");
    t->FieldItem("Label")->SetDefaultValue("\"none\"");
    t->FieldItem("Price")->SetDefaultValue("1.5");
    t->FieldItem("Stamp")->SetDefaultValue("=Now()");
    t->FieldItem("Tag")->SetDefaultValue("GenGUID()");
    auto rs = file.db->OpenRecordset("Defaults");
    AddRecord(rs, {});
    AddRecord(rs, {{"Flag", true}, {"Count", int64_t{7}}});
    rs->Close();
    file.db->Close();

    Reader reader(file.path);
    auto rows = reader.rows("SELECT Flag, Count, Label, Price, Stamp, Tag, Plain FROM Defaults ORDER BY rowid");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], "0");
    EXPECT_EQ(rows[0][1], "5");
    EXPECT_EQ(rows[0][2], "none");
    EXPECT_EQ(rows[0][3], "1.5");
    EXPECT_TRUE(std::regex_match(rows[0][4], std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"))) << rows[0][4];
    EXPECT_TRUE(std::regex_match(rows[0][5], std::regex(R"(\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\})")))
        << rows[0][5];
    EXPECT_EQ(rows[0][6], "NULL");
    EXPECT_EQ(rows[1][0], "1");
    EXPECT_EQ(rows[1][1], "7");

    // The defaults are the table's own, so another client's inserts get them too.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "INSERT INTO Defaults (Plain) VALUES (1)", nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
    rows = reader.rows("SELECT Flag, Count, Label, Price, Tag FROM Defaults WHERE Plain = 1");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "0");
    EXPECT_EQ(rows[0][1], "5");
    EXPECT_EQ(rows[0][2], "none");
    EXPECT_EQ(rows[0][3], "1.5");
    EXPECT_TRUE(std::regex_match(rows[0][4], std::regex(R"(\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\})")))
        << rows[0][4];
}

TEST(Values, AutoNumbersKeepAssignedValuesAndCountOnFromTheLargest) {
    OutputFile file;
    auto t = AddTable(file.db, "Numbered", {{"ID", dbLong, 0, dbAutoIncrField}, {"Name", dbText, 10}});
    AddIndex(t, {"PrimaryKey", {"ID"}, true});
    auto rs = file.db->OpenRecordset("Numbered");
    AddRecord(rs, {{"Name", std::string("first")}});                      // 1
    AddRecord(rs, {{"ID", int64_t{10}}, {"Name", std::string("kept")}});  // as given
    AddRecord(rs, {{"ID", int64_t{5}}, {"Name", std::string("lower")}});  // as given, below the largest
    AddRecord(rs, {{"Name", std::string("next")}});                       // 11
    auto error = ErrorOf([&] { AddRecord(rs, {{"ID", int64_t{10}}, {"Name", std::string("again")}}); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, kErrDuplicate);
    rs->CancelUpdate();
    rs->Close();
    // A later recordset starts from what the table holds.
    rs = file.db->OpenRecordset("Numbered");
    AddRecord(rs, {{"Name", std::string("later")}});  // 12
    rs->Close();
    file.db->Close();

    Reader reader(file.path);
    const auto rows = reader.rows("SELECT ID, Name FROM Numbered ORDER BY ID");
    const std::vector<std::vector<std::string>> expected = {
        {"1", "first"}, {"5", "lower"}, {"10", "kept"}, {"11", "next"}, {"12", "later"}};
    EXPECT_EQ(rows, expected);
}

TEST(Values, TheScratchMoveCopiesEveryValueExactly) {
    // The save fills tables with auto-numbers through a scratch table and
    // moves the records field by field; nothing may change on the way, whether
    // the value goes through Value and SetValue or SetValueFrom hands the
    // stored value over, and whether the scratch table lives in the file or
    // apart from it.
    const std::vector<FieldSpec> fields = {{"ID", dbLong},        {"Flag", dbBoolean}, {"Small", dbByte},
                                           {"Price", dbCurrency}, {"Ratio", dbSingle}, {"Exact", dbDecimal},
                                           {"When", dbDate},      {"Tag", dbGUID},     {"Name", dbText, 20},
                                           {"Notes", dbMemo},     {"Blob", dbLongBinary}, {"Plain", dbCurrency},
                                           {"Day", dbDate}};
    const Assignments first = {{"ID", int64_t{7}},
                               {"Flag", true},
                               {"Small", int64_t{200}},
                               {"Price", Currency{-9223372036854775807LL}},
                               {"Ratio", 0.3},
                               {"Exact", Decimal{"98765432109876543210.12345678"}},
                               {"When", Date{45000.123456789}},
                               {"Tag", std::string("{00112233-4455-6677-8899-AABBCCDDEEFF}")},
                               {"Name", std::string("Ünïcödé")},
                               {"Notes", std::string(5000, 'n')},
                               {"Blob", Bytes{1, 2, 3}},
                               {"Plain", Currency{123456789}},
                               {"Day", Date{-657434.0}}};
    struct Case {
        bool scratch;
        bool valueFrom;
    };
    for (const Case c : {Case{false, false}, Case{true, false}, Case{false, true}, Case{true, true}}) {
        SCOPED_TRACE(std::string(c.scratch ? "scratch table" : "plain table") +
                     (c.valueFrom ? ", SetValueFrom" : ", SetValue(Value())"));
        OutputFile file;
        std::vector<FieldSpec> real = fields;
        real[0].attributes = dbAutoIncrField;
        auto target = AddTable(file.db, "Real", real);
        AddIndex(target, {"PrimaryKey", {"ID"}, true});
        AddTable(file.db, "QTARTable", fields, c.scratch);

        auto source = file.db->OpenRecordset("QTARTable");
        AddRecord(source, first);
        AddRecord(source, {{"ID", int64_t{3}}});  // the other fields Null, the Yes/No No

        auto to = file.db->OpenRecordset("Real");
        ASSERT_EQ(source->RecordCount(), 2);
        int moved = 0;
        for (source->MoveFirst(); !source->EOF_(); source->MoveNext()) {
            to->AddNew();
            for (int f = 0; f < to->FieldCount(); ++f) {
                if (c.valueFrom) to->FieldItem(f)->SetValueFrom(*source->FieldItem(f));
                else to->FieldItem(f)->SetValue(source->FieldItem(f)->Value());
            }
            to->Update();
            ++moved;
        }
        EXPECT_EQ(moved, 2);
        to->Close();
        source->Close();
        file.db->DeleteTableDef("QTARTable");
        // The next table with an auto-number uses the name again.
        AddTable(file.db, "QTARTable", fields, c.scratch);
        file.db->OpenRecordset("QTARTable")->Close();
        file.db->DeleteTableDef("QTARTable");

        auto check = file.db->OpenRecordset("Real");
        check->MoveFirst();  // in key order: the auto-number is the rowid
        EXPECT_TRUE(Same(check->FieldItem("ID")->Value(), int64_t{3}));
        EXPECT_TRUE(Same(check->FieldItem("Flag")->Value(), false));
        EXPECT_TRUE(Same(check->FieldItem("Price")->Value(), std::monostate{}));
        check->MoveNext();
        for (const auto& [name, value] : first) {
            const Variant back = check->FieldItem(name)->Value();
            EXPECT_TRUE(Same(back, value)) << name << ": " << Show(back);
        }
        check->MoveNext();
        EXPECT_TRUE(check->EOF_());
        check->Close();
        file.db->Close();

        Reader reader(file.path);
        EXPECT_EQ(reader.value("SELECT count(*) FROM sqlite_master WHERE name = 'QTARTable'"), "0");
        EXPECT_EQ(reader.value("PRAGMA integrity_check"), "ok");
        // A scratch table kept apart leaves no free pages behind in the file.
        if (c.scratch) {
            EXPECT_EQ(reader.value("PRAGMA freelist_count"), "0");
        }
    }
}

TEST(Values, SetValueFromRefusesWhatSetValueRefuses) {
    // A stored value handed over as it is still meets the target's rules.
    OutputFile file;
    AddTable(file.db, "Wide", {{"Name", dbText, 40}, {"Count", dbLong}});
    AddTable(file.db, "Narrow", {{"Name", dbText, 5}, {"Count", dbByte}});
    auto source = file.db->OpenRecordset("Wide");
    AddRecord(source, {{"Name", std::string("far too long")}, {"Count", int64_t{300}}});
    source->MoveFirst();
    auto to = file.db->OpenRecordset("Narrow");
    to->AddNew();
    const auto tooLong = ErrorOf([&] { to->FieldItem("Name")->SetValueFrom(*source->FieldItem("Name")); });
    ASSERT_TRUE(tooLong);
    EXPECT_EQ(tooLong->code, kErrTooSmall);
    const auto tooLarge = ErrorOf([&] { to->FieldItem("Count")->SetValueFrom(*source->FieldItem("Count")); });
    ASSERT_TRUE(tooLarge);
    EXPECT_EQ(tooLarge->code, kErrOverflow);
    to->CancelUpdate();
    to->Close();
    source->Close();
    file.db->Close();
}

TEST(Values, AScratchTableLeftAtCloseStaysInTheFile) {
    // A stopped save leaves its scratch table, rows and all, where the user
    // finds it; a view and a relation that name it read it there.
    OutputFile file;
    auto scratch = AddTable(file.db, "QTARTable", {{"ID", dbLong}, {"Name", dbText, 20}}, true);
    AddIndex(scratch, {"ByName", {"Name"}});
    AddIndex(scratch, {"Key", {"ID"}, false, true});
    auto rs = file.db->OpenRecordset("QTARTable");
    for (int64_t id : {5, 2, 9}) AddRecord(rs, {{"ID", id}, {"Name", "row " + std::to_string(id)}});
    // The unique index refuses a duplicate while the rows come in.
    rs->AddNew();
    rs->FieldItem("ID")->SetValue(int64_t{2});
    EXPECT_TRUE(ErrorOf([&] { rs->Update(); }));
    rs->CancelUpdate();
    rs->Close();
    file.db->CreateQueryDef("Named", "SELECT Name FROM QTARTable WHERE ID > 2");
    file.db->Close();

    Reader reader(file.path);
    const std::vector<std::vector<std::string>> rows = {{"1", "5", "row 5"}, {"2", "2", "row 2"}, {"3", "9", "row 9"}};
    EXPECT_EQ(reader.rows("SELECT rowid, ID, Name FROM QTARTable ORDER BY rowid"), rows);
    EXPECT_EQ(reader.value("SELECT count(*) FROM Named"), "2");
    EXPECT_EQ(reader.value("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND tbl_name = 'QTARTable'"), "2");
    EXPECT_EQ(reader.value("PRAGMA integrity_check"), "ok");
}

}  // namespace
}  // namespace talmera::dao::test
