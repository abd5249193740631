// The save: scan a generated database, write everything into the embedded
// SQLite output, and read the output back with SQLite itself.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <functional>
#include <optional>
#include <ctime>
#include <fstream>
#include <iterator>
#include <regex>

#include "engine/run/RecoverThread.h"
#include "engine/save/OutputDatabase.h"
#include "output/dao/SqliteEngine.h"
#include "platform/Calendar.h"
#include "platform/MessageReceiver.h"
#include "tests/engine/Fixtures.h"
#include "tests/engine/SaveSupport.h"

namespace talmera::test {
namespace {

using jetwriter::Format;
namespace jw = jetwriter;


std::vector<std::string> withoutTimestamps(const std::vector<std::string>& lines) {
    static const std::regex stamp(R"((on:? ?)\w+, \w+ \d\d, \d{4}, \d\d:\d\d:\d\d [AP]M$)");
    std::vector<std::string> out;
    for (const std::string& line : lines) out.push_back(std::regex_replace(line, stamp, "$1<time>"));
    return out;
}

const std::string kSep(48, '-');


jw::Database twoTables(Format format) {
    jw::Database db;
    db.format = format;
    jw::Table customers = simpleTable("Customers", 4);
    jw::Index pk;
    pk.name = "PrimaryKey";
    pk.columns = {{0, false}};
    pk.primary = true;
    customers.indexes = {pk};
    jw::Table notes;
    notes.name = "Notes";
    notes.columns = {col("Code", jw::kText, 10), col("Body", jw::kMemo)};
    notes.rows = {{{std::string("a"), std::string("first")}}, {{std::string("b"), std::string("second")}}};
    db.tables = {customers, notes};
    jw::CatalogObject q;
    q.name = "All Customers";
    q.kind = jw::ObjectKind::Query;
    db.objects = {q};
    return db;
}

TEST(Save, LogLineByLine) {
    TempDir dir;
    const std::string path = writeDatabase(dir, "two.mdb", twoTables(Format::Jet4));
    Saved s = saveAll(path, dir);
    ASSERT_EQ(s.started, 1);
    const std::vector<std::string> expected = {
        "                  ",
        "Saving process started on:<time>",
        "Saving Table.....  Customers",
        "Total field(s) present  :  3",
        "Total record(s) Repaired  :  4",
        kSep,
        "Saving Table.....  Notes",
        "Total field(s) present  :  2",
        "Total record(s) Repaired  :  2",
        kSep,
        "Saving Queries",
        kSep,
        // The query's catalog entry has no SQL rows: the report says so.
        "Recovery report",
        "Rows lost  :  0",
        "Tables lost  :  0",
        "Queries not saved  :  1",
        "All Customers  :  its SQL text could not be rebuilt from the file",
        kSep,
        "Saving process completed on <time>",
    };
    EXPECT_EQ(withoutTimestamps(s.receiver->logLines), expected);
    EXPECT_TRUE(s.scan.app->saveSucceeded);
    EXPECT_TRUE(s.scan.app->outputStarted);
    EXPECT_EQ(s.receiver->finishedPosts, 1);
    // Every table that took part is announced as saved, by its position;
    // then the end of the whole save (savingDone), so that the tree
    // recomputes its root.
    std::vector<intptr_t> saved;
    for (const auto& ev : s.receiver->events) {
        if (ev.message == UM_OBJECT_SAVED) saved.push_back(ev.lParam);
    }
    EXPECT_EQ(saved, (std::vector<intptr_t>{0, 1, 0}));
    EXPECT_TRUE(s.scan.engine->savingDone);
}

// Tables with an auto-number column go through the scratch table and keep
// their stored numbers; the scratch table is gone afterwards.
TEST(Save, AutoNumbersKeepTheirStoredValues) {
    for (Format format : {Format::Jet3, Format::Jet4, Format::Ace}) {
        SCOPED_TRACE(formatName(format));
        jw::Database db;
        db.format = format;
        jw::Table t = simpleTable("Numbered", 0);
        for (int64_t id : {5, 9, 10, 42}) t.rows.push_back({{id, std::string("n") + std::to_string(id), 1.0}});
        db.tables = {t};
        TempDir dir;
        Saved s = saveAll(writeDatabase(dir, "n.mdb", db), dir);
        ASSERT_EQ(s.started, 1);
        const auto rows = outputRows(s.output, "Numbered", "ID");
        ASSERT_EQ(rows.size(), 4u);
        EXPECT_EQ(rows[0][0], "5");
        EXPECT_EQ(rows[3][0], "42");
        EXPECT_EQ(rows[3][1], "n42");
        EXPECT_EQ(scalar(s.output, "SELECT count(*) FROM sqlite_master WHERE name = 'QTARTable'"), "0");
    }
}

// The output engine with its bulk move hidden: every scratch table is moved
// record by record, as an engine without AppendFrom moves it.
class LoopOnlyRecordset : public dao::Recordset {
public:
    explicit LoopOnlyRecordset(dao::RecordsetPtr inner) : inner_(std::move(inner)) {}
    void AddNew() override { inner_->AddNew(); }
    int FieldCount() const override { return inner_->FieldCount(); }
    dao::FieldPtr FieldItem(int ordinal) const override { return inner_->FieldItem(ordinal); }
    dao::FieldPtr FieldItem(const std::string& name) const override { return inner_->FieldItem(name); }
    void Update(int type, bool force) override { inner_->Update(type, force); }
    void CancelUpdate(int type) override { inner_->CancelUpdate(type); }
    void Close() override { inner_->Close(); }
    void MoveFirst() override { inner_->MoveFirst(); }
    void MoveNext() override { inner_->MoveNext(); }
    bool EOF_() const override { return inner_->EOF_(); }
    long RecordCount() const override { return inner_->RecordCount(); }

private:
    dao::RecordsetPtr inner_;
};

// An output database that hands every call to another; the fixtures below
// change the calls they are about.
class ForwardingDatabase : public dao::Database {
public:
    explicit ForwardingDatabase(dao::DatabasePtr inner) : inner_(std::move(inner)) {}
    dao::TableDefPtr CreateTableDef(const std::string& name) override { return inner_->CreateTableDef(name); }
    void AppendTableDef(const dao::TableDefPtr& table) override { inner_->AppendTableDef(table); }
    dao::TableDefPtr TableDefItem(const std::string& name) const override { return inner_->TableDefItem(name); }
    int TableDefCount() const override { return inner_->TableDefCount(); }
    void DeleteTableDef(const std::string& name) override { inner_->DeleteTableDef(name); }
    void RefreshTableDefs() override { inner_->RefreshTableDefs(); }
    dao::RecordsetPtr OpenRecordset(const std::string& table, int type, int options, int lock) override {
        return inner_->OpenRecordset(table, type, options, lock);
    }
    dao::QueryDefPtr CreateQueryDef(const std::string& name, const std::string& sql) override {
        return inner_->CreateQueryDef(name, sql);
    }
    void AppendQueryDef(const dao::QueryDefPtr& query) override { inner_->AppendQueryDef(query); }
    dao::RelationPtr CreateRelation(const std::string& name, const std::string& table, const std::string& foreignTable,
                                    int32_t attributes) override {
        return inner_->CreateRelation(name, table, foreignTable, attributes);
    }
    void AppendRelation(const dao::RelationPtr& relation) override { inner_->AppendRelation(relation); }
    void SetRecoveryReport(const dao::RecoveryRows& report) override { inner_->SetRecoveryReport(report); }
    void Close() override { inner_->Close(); }

private:
    dao::DatabasePtr inner_;
};

class LoopOnlyDatabase : public ForwardingDatabase {
public:
    using ForwardingDatabase::ForwardingDatabase;
    dao::RecordsetPtr OpenRecordset(const std::string& table, int type, int options, int lock) override {
        return std::make_shared<LoopOnlyRecordset>(ForwardingDatabase::OpenRecordset(table, type, options, lock));
    }
};

class LoopOnlyEngine : public dao::Engine {
public:
    dao::DatabasePtr CreateDatabase(const std::string& path, const std::string& locale, int option) override {
        return std::make_shared<LoopOnlyDatabase>(inner_->CreateDatabase(path, locale, option));
    }

private:
    dao::EnginePtr inner_ = dao::CreateSqliteEngine();
};

// Every table of an output but the one with its creation time, each value
// with its storage class (reals exactly), in rowid order; and the schema.
std::vector<std::string> outputDump(const std::string& file) {
    std::vector<std::string> out;
    for (const auto& row : queryRows(file, "SELECT type, name, sql FROM sqlite_master ORDER BY type, name"))
        out.push_back(row[0].value_or("") + " " + row[1].value_or("") + ": " + row[2].value_or(""));
    for (const auto& table : queryRows(file, "SELECT name FROM sqlite_master WHERE type = 'table' AND name <> "
                                             "'_talmera_database' ORDER BY name")) {
        const std::string name = table[0].value_or("");
        std::string columns;
        for (const auto& c : queryRows(file, "SELECT name FROM pragma_table_info('" + name + "')")) {
            const std::string q = "\"" + c[0].value_or("") + "\"";
            columns += ", typeof(" + q + ") || ':' || CASE typeof(" + q + ") WHEN 'real' THEN printf('%!.17g', " + q +
                       ") ELSE hex(" + q + ") END";
        }
        for (const auto& row : queryRows(file, "SELECT rowid" + columns + " FROM \"" + name + "\" ORDER BY rowid")) {
            std::string line = name + ":";
            for (const auto& v : row) line += " " + v.value_or("NULL");
            out.push_back(line);
        }
    }
    return out;
}

// The save moves scratch records in bulk where the engine can; the output,
// the log and the progress messages are those of the record loop.
TEST(Save, BulkMoveGivesWhatTheRecordLoopGives) {
    struct Input {
        const char* name;
        jw::Database db;
    };
    std::vector<Input> inputs = {{"big jet4", jw::bigDatabase(Format::Jet4, 3000)},
                                 {"demo jet4", jw::demoDatabase(Format::Jet4)},
                                 {"demo ace", jw::demoDatabase(Format::Ace)}};
    {
        // A damaged unique index let duplicates in: refused on the way.
        jw::Database db;
        db.format = Format::Jet4;
        jw::Table t = simpleTable("Numbered", 0);
        for (int64_t id = 1; id <= 400; ++id) t.rows.push_back({{id, std::string("n") + std::to_string(id % 397), 1.0}});
        jw::Index unique;
        unique.name = "ByLabel";
        unique.columns = {{1, false}};
        unique.unique = true;
        t.indexes = {unique};
        db.tables = {t};
        inputs.push_back({"duplicates", db});
    }
    for (const Input& input : inputs) {
        SCOPED_TRACE(input.name);
        TempDir in, loopDir, bulkDir;
        const std::string path = writeDatabase(in, "input.mdb", input.db);
        Saved loop = saveAll(path, loopDir, -1, false, false, std::nullopt, [] { return std::make_shared<LoopOnlyEngine>(); });
        Saved bulk = saveAll(path, bulkDir, -1, false, false, std::nullopt, dao::CreateSqliteEngine);
        ASSERT_EQ(loop.started, 1);
        ASSERT_EQ(bulk.started, 1);
        EXPECT_EQ(outputDump(bulk.output), outputDump(loop.output));
        auto events = [](const Saved& s, const TempDir& dir) {
            std::vector<std::string> out;
            for (const auto& e : s.receiver->events) {
                std::string text = e.text;
                for (size_t at; (at = text.find(dir.path().string())) != std::string::npos;)
                    text.replace(at, dir.path().string().size(), "<dir>");
                out.push_back(std::to_string(e.message) + " " + std::to_string(e.wParam) + " " +
                              std::to_string(e.lParam) + " " + text);
            }
            return withoutTimestamps(out);
        };
        EXPECT_EQ(events(bulk, bulkDir), events(loop, loopDir));
        EXPECT_EQ(bulk.scan.engine->outputErrors, loop.scan.engine->outputErrors);
    }
}

// A value arrives as stored: NULL stays NULL where the field has a default
// (the default fills only columns added after a row was written), Currency
// sorts and compares as a number and gives its exact text back, and dates at
// both ends of Access's range survive.
TEST(Save, NullsDefaultsMoneyAndTheDateRange) {
    for (Format format : {Format::Jet4, Format::Ace}) {
        SCOPED_TRACE(formatName(format));
        jw::Database db;
        db.format = format;
        jw::Table t;
        t.name = "Prices";
        t.columns = {col("ID", jw::kLong), col("Label", jw::kText, 20), col("Count", jw::kLong), col("Price", jw::kCurrency),
                     col("Seen", jw::kDateTime)};
        const double year100 = -657434.0, year9999 = 2958465.0 + 86399.0 / 86400.0;
        t.rows = {{{int64_t(1), std::string("row1"), int64_t(3), int64_t(970000), year100}},
                  {{int64_t(2), std::string("more"), jw::Value{}, jw::Value{}, jw::Value{}}},
                  {{int64_t(3), std::string("big"), int64_t(1), int64_t(2635000), year9999}},
                  {{int64_t(4), std::string("huge"), int64_t(1), int64_t(9223372036854775807), jw::Value{}}},
                  {{int64_t(5), std::string("old"), int64_t(9), int64_t(1), 0.0}}};
        t.rows[4].storedColumns = 2;  // written before Count, Price and Seen were added
        t.properties = {{"Count", false, {jw::textProperty("DefaultValue", "0")}},
                        {"Price", false, {jw::textProperty("DefaultValue", "1.5")}}};
        db.tables = {t};
        TempDir dir;
        Saved s = saveAll(writeDatabase(dir, "prices.mdb", db), dir);
        ASSERT_EQ(s.started, 1);
        const auto rows = queryRows(s.output, "SELECT ID, Count, Price, typeof(Price), Seen FROM Prices ORDER BY ID");
        ASSERT_EQ(rows.size(), 5u);
        using Cells = std::vector<std::optional<std::string>>;
        EXPECT_EQ(rows[1], (Cells{"2", std::nullopt, std::nullopt, "null", std::nullopt}));
        EXPECT_EQ(rows[4], (Cells{"5", "0", "1.5", "real", std::nullopt}));
        EXPECT_EQ(rows[0][3], "integer");
        EXPECT_EQ(rows[0][4], "0100-01-01 00:00:00");
        EXPECT_EQ(rows[2][4], "9999-12-31 23:59:59");
        EXPECT_EQ(scalar(s.output, "SELECT group_concat(ID) FROM (SELECT ID FROM Prices ORDER BY Price DESC)"), "4,3,1,5,2");
        EXPECT_EQ(scalar(s.output, "SELECT count(*) FROM Prices WHERE Price > 100"), "2");
        // The exact text: printf with four decimals, or the kept text where
        // a double has too few digits.
        const std::string exact = "coalesce((SELECT value FROM _talmera_exact_values x WHERE x.table_name = 'Prices' AND "
                                  "x.field_name = 'Price' AND x.row_id = p.rowid), printf('%.4f', Price))";
        EXPECT_EQ(scalar(s.output, "SELECT group_concat(" + exact + ", ' ') FROM Prices p WHERE Price IS NOT NULL"),
                  "97.0000 263.5000 922337203685477.5807 1.5000");
    }
}

// Every type round-trips through the repair: each value of the writer's
// AllTypes table is in the output, in the output's documented form.
std::string civilText(double days, int fractionDigits = 0, int64_t units = 0) {
    // Whole seconds of the day; the integer part counts back before 1899-12-30.
    double whole = std::trunc(days);
    int64_t seconds = std::llround(std::fabs(days - whole) * 86400.0);
    if (seconds >= 86400) seconds -= 86400, whole += days < 0 ? -1 : 1;
    int y = 0, m = 0, d = 0;
    civilFromDays(static_cast<int64_t>(whole) - 25569, y, m, d);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02lld:%02lld:%02lld", y, m, d,
                  (long long)(seconds / 3600), (long long)(seconds / 60 % 60), (long long)(seconds % 60));
    std::string out = text;
    if (fractionDigits) {
        std::snprintf(text, sizeof text, ".%0*lld", fractionDigits, (long long)units);
        out += text;
    }
    return out;
}

// The exact decimal text of digits with `scale` decimals: "-12.3400".
std::string scaled(const std::string& value, int scale) {
    std::string sign, digits = value;
    if (!digits.empty() && digits[0] == '-') sign = "-", digits.erase(0, 1);
    std::string whole = digits, fraction;
    if (const size_t dot = digits.find('.'); dot != std::string::npos) whole = digits.substr(0, dot), fraction = digits.substr(dot + 1);
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size() - 1));
    if (whole.empty()) whole = "0";
    fraction.resize(static_cast<size_t>(scale), '0');
    return sign + whole + (scale ? "." + fraction : "");
}

std::string hexOf(const jw::Bytes& b) {
    std::string out;
    char two[3];
    for (uint8_t x : b) std::snprintf(two, sizeof two, "%02X", x), out += two;
    return out;
}

// The SQL that reads a column in its comparable text, and that text for a value.
std::string readBack(const jw::Column& c, const std::string& table) {
    const std::string q = "\"" + c.name + "\"";
    const std::string exact = "(SELECT value FROM _talmera_exact_values x WHERE x.table_name = '" + table +
                              "' AND x.field_name = '" + c.name + "' AND x.row_id = t.rowid)";
    auto unlessNull = [&](const std::string& form) { return "CASE WHEN " + q + " IS NULL THEN NULL ELSE " + form + " END"; };
    switch (c.type) {
        case jw::kCurrency: return unlessNull("coalesce(" + exact + ", printf('%.4f', " + q + "))");
        case jw::kDecimal: return unlessNull("coalesce(" + exact + ", printf('%." + std::to_string(c.scale) + "f', " + q + "))");
        case jw::kSingle: case jw::kDouble: return unlessNull("quote(" + q + ")");  // 21 digits: every double exactly
        case jw::kBinary: case jw::kOle: return unlessNull("hex(" + q + ")");
        default: return q;
    }
}

std::optional<std::string> expectedBack(const jw::Column& c, const jw::Value& v) {
    if (c.type == jw::kBool) return std::string(std::holds_alternative<bool>(v) && std::get<bool>(v) ? "1" : "0");
    if (std::holds_alternative<std::monostate>(v)) return std::nullopt;
    switch (c.type) {
        case jw::kByte: case jw::kInt: case jw::kLong: case jw::kBigInt: return std::to_string(std::get<int64_t>(v));
        case jw::kCurrency: {
            const int64_t x = std::get<int64_t>(v);
            const uint64_t a = x < 0 ? uint64_t(0) - uint64_t(x) : uint64_t(x);
            return (x < 0 ? "-" : "") + std::to_string(a / 10000) + "." + scaled("0." + std::to_string(10000 + a % 10000).substr(1), 4).substr(2);
        }
        case jw::kDecimal: return scaled(std::get<std::string>(v), c.scale);
        case jw::kSingle: case jw::kDouble: return "(number)";
        case jw::kDateTime: return civilText(std::get<double>(v));
        case jw::kDateTimeExt: {
            std::string t = std::get<std::string>(v);
            if (t.size() == 19) t += ".";
            t.resize(27, '0');
            return t;
        }
        case jw::kBinary: case jw::kOle: return hexOf(std::get<jw::Bytes>(v));
        case jw::kGuid: {
            const jw::Bytes& g = std::get<jw::Bytes>(v);
            char t[64];
            std::snprintf(t, sizeof t, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g[3], g[2], g[1],
                          g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
            return std::string(t);
        }
        default: {
            // A zero-length text is kept only where the field allows one
            // (AllowZeroLength); these fields do not.
            const std::string& text = std::get<std::string>(v);
            if (text.empty()) return std::nullopt;
            return text;
        }
    }
}

TEST(Save, EveryTypeRoundTrips) {
    for (Format format : {Format::Jet3, Format::Jet4, Format::Ace}) {
        SCOPED_TRACE(formatName(format));
        jw::Database db;
        db.format = format;
        db.compressText = format != Format::Jet3;
        db.tables = {jw::allTypesTable(format)};
        const jw::Table& t = db.tables[0];
        TempDir dir;
        Saved s = saveAll(writeDatabase(dir, "alltypes.mdb", db), dir);
        ASSERT_EQ(s.started, 1);
        std::string select;
        for (const jw::Column& c : t.columns) select += (select.empty() ? "" : ", ") + readBack(c, t.name);
        const auto rows = queryRows(s.output, "SELECT " + select + " FROM \"" + t.name + "\" t ORDER BY ID");
        ASSERT_EQ(rows.size(), t.rows.size());
        for (size_t r = 0; r < rows.size(); ++r) {
            for (size_t k = 0; k < t.columns.size(); ++k) {
                const jw::Column& c = t.columns[k];
                const jw::Value& v = t.rows[r].values[k];
                const std::optional<std::string> want = expectedBack(c, v);
                const std::optional<std::string>& got = rows[r][k];
                if (want && *want == "(number)" && got) {
                    const double back = std::strtod(got->c_str(), nullptr), stored = std::get<double>(v);
                    if (c.type == jw::kSingle) EXPECT_EQ(float(back), float(stored)) << "row " << r << ", " << c.name;
                    else EXPECT_EQ(back, stored) << "row " << r << ", " << c.name;
                    continue;
                }
                EXPECT_EQ(got, want) << "row " << r << ", " << c.name;
            }
        }
        // Calculated columns keep their expression and their result type.
        if (format == Format::Ace) {
            EXPECT_EQ(scalar(s.output, "SELECT expression FROM _talmera_fields WHERE table_name = 'AllTypes' AND name = 'CalcName'"),
                      "[Name] & \"!\"");
            EXPECT_EQ(scalar(s.output, "SELECT type_name FROM _talmera_fields WHERE table_name = 'AllTypes' AND name = 'CalcDec'"),
                      "Decimal");
            EXPECT_EQ(scalar(s.output, "SELECT type_name FROM _talmera_fields WHERE table_name = 'AllTypes' AND name = 'CalcNotes'"),
                      "Memo");
        }
    }
}

// A row the output refuses (a duplicate in a unique index) costs that row only,
// and the log says so.
TEST(Save, RefusedRowCostsOnlyItself) {
    jw::Database db;
    db.format = Format::Jet4;
    jw::Table t;
    t.name = "Codes";
    t.columns = {col("Code", jw::kText, 10), col("Label", jw::kText, 20)};
    jw::Index unique;
    unique.name = "ByCode";
    unique.columns = {{0, false}};
    unique.unique = true;
    t.indexes = {unique};
    // A damaged unique index lets duplicates into the source; the output refuses the second.
    t.rows = {{{std::string("A"), std::string("one")}}, {{std::string("A"), std::string("two")}},
              {{std::string("B"), std::string("three")}}};
    db.tables = {t};
    TempDir dir;
    Saved s = saveAll(writeDatabase(dir, "codes.mdb", db), dir);
    ASSERT_EQ(s.started, 1);
    const auto rows = outputRows(s.output, "Codes");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1][1], "three");
    const auto& log = s.receiver->logLines;
    EXPECT_NE(std::find(log.begin(), log.end(), "Total record(s) Repaired  :  2"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "Record(s) refused by the output database  :  1"), log.end());
}

// A memo whose chain breaks is saved with the text read so far, and the log
// says that a value was only partly recovered.
TEST(Save, BrokenMemoKeepsItsStartAndIsLogged) {
    const ChainedMemo memo = chainedMemo({{{int64_t{2}, std::string("short")}}});
    const std::string& body = memo.body;
    ASSERT_GE(memo.chain.size(), 3u);
    TempDir dir;
    writeFile(dir.file("broken.mdb"), memo.withChainPageZeroed(1));
    Saved s = saveAll(dir.file("broken.mdb"), dir);
    ASSERT_EQ(s.started, 1);
    const auto rows = outputRows(s.output, "Memos", "ID");
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_TRUE(rows[0][1]);
    EXPECT_FALSE(rows[0][1]->empty());
    EXPECT_LT(rows[0][1]->size(), body.size());
    EXPECT_EQ(body.rfind(*rows[0][1], 0), 0u);
    EXPECT_EQ(rows[1][1], "short");
    const auto& log = s.receiver->logLines;
    EXPECT_NE(std::find(log.begin(), log.end(), "Long value(s) only partly recovered  :  1"), log.end());
}

// The rows are decoded ahead of their writing: a long value found broken in a
// row that a stop kept from being written is not counted, neither in the
// table's report nor in the decoder's count; written, it is.
TEST(Save, IncompleteValuesCountOnlyForRowsWritten) {
    std::vector<jw::Row> more;
    for (int64_t i = 2; i <= 40; ++i) more.push_back({{i, std::string("short")}});
    const ChainedMemo memo = chainedMemo(more);
    ASSERT_GE(memo.chain.size(), 3u);
    for (const bool stopFirst : {true, false}) {
        SCOPED_TRACE(stopFirst ? "stopped before the first row" : "saved whole");
        TempDir dir;
        writeFile(dir.file("broken.mdb"), memo.withChainPageZeroed(1));
        // The schema step sends one step; then one per row.
        Saved s = saveAll(dir.file("broken.mdb"), dir, stopFirst ? 1 : -1);
        ASSERT_EQ(s.started, 1);
        EXPECT_EQ(outputRows(s.output, "Memos", "ID").size(), stopFirst ? 0u : 40u);
        EXPECT_EQ(s.scan.engine->statistics.valuesIncomplete, stopFirst ? 0u : 1u);
        ASSERT_TRUE(s.scan.app->recoveryReport);
        uint64_t partial = 0;
        for (const auto& t : s.scan.app->recoveryReport->tables) partial += t.partialValues;
        EXPECT_EQ(partial, stopFirst ? 0u : 1u);
    }
}

// A stop between two records leaves the records already stored.
TEST(Save, StopKeepsWhatWasWritten) {
    // Also for a table with an auto-number column, whose rows go through the
    // scratch table: they are moved into the table before the output closes.
    for (const bool autoNumber : {false, true}) {
        SCOPED_TRACE(autoNumber ? "auto-number" : "plain");
        jw::Database db;
        db.format = Format::Jet4;
        jw::Table t;
        t.name = "Plain";
        t.columns = {col("N", jw::kLong), col("Label", jw::kText, 20)};
        t.columns[0].autoNumber = autoNumber;
        for (int64_t i = 0; i < 20; ++i) t.rows.push_back({{i + 1, std::string("r") + std::to_string(i + 1)}});
        db.tables = {t};
        TempDir dir;
        // The schema step sends one step per table; then one per row.
        Saved s = saveAll(writeDatabase(dir, "plain.mdb", db), dir, 1 + 7);
        ASSERT_EQ(s.started, 1);
        const auto rows = outputRows(s.output, "Plain");
        ASSERT_EQ(rows.size(), 7u);
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i][0], std::to_string(i + 1));
            EXPECT_EQ(rows[i][1], "r" + std::to_string(i + 1));
        }
        EXPECT_EQ(scalar(s.output, "SELECT count(*) FROM sqlite_master WHERE name = 'QTARTable'"), "0");
        EXPECT_FALSE(s.scan.app->saveSucceeded);
        for (const std::string& line : s.receiver->logLines) EXPECT_EQ(line.find("Total record(s) Repaired"), std::string::npos);
        EXPECT_EQ(s.receiver->finishedPosts, 1);
    }
}

// Two tables of one name (a damaged catalog) become two output tables, and no
// table is written twice however often it is selected.
TEST(Save, SameNameTwiceGivesTwoTablesWrittenOnce) {
    jw::Database db;
    db.format = Format::Jet4;
    db.tables = {simpleTable("Twin", 2), simpleTable("Twin", 3)};
    TempDir dir;
    const std::string path = writeDatabase(dir, "twin.mdb", db);
    Saved s = saveAll(path, dir);
    ASSERT_EQ(s.started, 1);
    EXPECT_EQ(outputRows(s.output, "Twin").size(), 2u);
    EXPECT_EQ(outputRows(s.output, "Twin_2").size(), 3u);
    const auto& log = s.receiver->logLines;
    EXPECT_NE(std::find(log.begin(), log.end(), "Table name already in use, saved as  : Twin_2"), log.end());
}

// An existing output is never replaced without asking: the answer No leads to
// a new, time-stamped name beside it.
TEST(Save, ExistingOutputGetsANewName) {
    TempDir dir;
    const std::string path = writeDatabase(dir, "two.mdb", twoTables(Format::Jet4));
    writeFile(dir.file("Repaired_out.sqlite"), {'k', 'e', 'e', 'p'});
    Saved s = saveAll(path, dir);
    ASSERT_EQ(s.started, 1);
    EXPECT_NE(s.output, dir.file("Repaired_out.sqlite"));
    EXPECT_EQ(s.output.rfind(dir.file("Repaired_out_"), 0), 0u) << s.output;
    EXPECT_EQ(outputRows(s.output, "Notes").size(), 2u);
    std::ifstream kept(dir.file("Repaired_out.sqlite"));
    std::string content((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "keep");
}

// A cancelled question, or a receiver that keeps naming the existing file,
// ends the save before anything is written, without replacing the file and
// without asking forever.
TEST(Save, ExistingOutputWithoutANewName) {
    struct Case {
        std::string answer;
        int questions;
    };
    for (const Case& c : {Case{"", 1}, Case{"<existing>", 20}}) {
        SCOPED_TRACE(c.answer);
        TempDir dir;
        const std::string path = writeDatabase(dir, "two.mdb", twoTables(Format::Jet4));
        writeFile(dir.file("Repaired_out.sqlite"), {'k', 'e', 'e', 'p'});
        Saved s = saveAll(path, dir, -1, false, false, c.answer);
        EXPECT_EQ(s.started, 0);
        EXPECT_EQ(s.receiver->locationQuestions, c.questions);
        ASSERT_FALSE(s.scan.engine->outputErrors.empty());
        EXPECT_NE(s.scan.engine->outputErrors.back().find(dir.file("Repaired_out.sqlite")), std::string::npos);
        std::ifstream kept(dir.file("Repaired_out.sqlite"));
        std::string content((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
        EXPECT_EQ(content, "keep");
    }
}

// An output database whose final close fails: the run must not say it saved.
struct UnclosableDatabase : ForwardingDatabase {
    using ForwardingDatabase::ForwardingDatabase;
    void Close() override {
        ForwardingDatabase::Close();
        throw dao::ComError(int32_t(0x800A0BB8), "DAO.Database", "Disk or network error.");
    }
};

TEST(Save, FailedCloseIsNotReportedAsSaved) {
    struct Engine : dao::Engine {
        dao::DatabasePtr CreateDatabase(const std::string& path, const std::string& locale, int option) override {
            return std::make_shared<UnclosableDatabase>(dao::CreateSqliteEngine()->CreateDatabase(path, locale, option));
        }
    };
    TempDir dir;
    const std::string path = writeDatabase(dir, "two.mdb", twoTables(Format::Jet4));
    Saved s = saveAll(path, dir, -1, false, false, std::nullopt, [] { return std::make_shared<Engine>(); });
    ASSERT_EQ(s.started, 1);
    EXPECT_FALSE(s.scan.app->saveSucceeded);
    const auto& log = s.receiver->logLines;
    for (const std::string& line : log) EXPECT_EQ(line.find("Saving process completed"), std::string::npos);
    const auto& boxes = s.receiver->boxes;
    EXPECT_NE(std::find(boxes.begin(), boxes.end(), "Unable to save repaired database file.  |" + std::string(18, ' ')),
              boxes.end());
    EXPECT_EQ(s.receiver->finishedPosts, 1);
}

TEST(Save, ProposedNameKeepsTheFolderAndExtension) {
    std::tm tm{};
    tm.tm_year = 116;
    tm.tm_mon = 5;
    tm.tm_mday = 7;
    tm.tm_hour = 15;
    tm.tm_min = 4;
    tm.tm_sec = 5;
    tm.tm_isdst = -1;
    const std::time_t when = std::mktime(&tm);
    EXPECT_EQ(COutputDatabase::ProposeNewLocation("/data/Repaired_Shop.sqlite", when),
              "/data/Repaired_Shop_June_07_2016 03_04_05 PM.sqlite");
    EXPECT_EQ(COutputDatabase::ProposeNewLocation("/data/Repaired_Shop.mdb", when),
              "/data/Repaired_Shop_June_07_2016 03_04_05 PM.mdb");
    EXPECT_EQ(COutputDatabase::ProposeNewLocation("/data/noextension", when), "/data/_June_07_2016 03_04_05 PM.sqlite");
}

}  // namespace
}  // namespace talmera::test
