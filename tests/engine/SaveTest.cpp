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

#include "engine/RecoverThread.h"
#include "output/dao/SqliteEngine.h"
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
struct UnclosableDatabase : dao::Database {
    explicit UnclosableDatabase(dao::DatabasePtr inner) : d(std::move(inner)) {}
    dao::TableDefPtr CreateTableDef(const std::string& n) override { return d->CreateTableDef(n); }
    void AppendTableDef(const dao::TableDefPtr& t) override { d->AppendTableDef(t); }
    dao::TableDefPtr TableDefItem(const std::string& n) const override { return d->TableDefItem(n); }
    int TableDefCount() const override { return d->TableDefCount(); }
    void DeleteTableDef(const std::string& n) override { d->DeleteTableDef(n); }
    void RefreshTableDefs() override { d->RefreshTableDefs(); }
    dao::RecordsetPtr OpenRecordset(const std::string& t, int type, int options, int lock) override {
        return d->OpenRecordset(t, type, options, lock);
    }
    dao::QueryDefPtr CreateQueryDef(const std::string& n, const std::string& sql) override {
        return d->CreateQueryDef(n, sql);
    }
    void AppendQueryDef(const dao::QueryDefPtr& q) override { d->AppendQueryDef(q); }
    dao::RelationPtr CreateRelation(const std::string& n, const std::string& t, const std::string& f,
                                    int32_t a) override {
        return d->CreateRelation(n, t, f, a);
    }
    void AppendRelation(const dao::RelationPtr& r) override { d->AppendRelation(r); }
    void Close() override {
        d->Close();
        throw dao::ComError(int32_t(0x800A0BB8), "DAO.Database", "Disk or network error.");
    }
    dao::DatabasePtr d;
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
    EXPECT_EQ(CMDBRecovery::ProposeNewLocation("/data/Repaired_Shop.sqlite", when),
              "/data/Repaired_Shop_June_07_2016 03_04_05 PM.sqlite");
    EXPECT_EQ(CMDBRecovery::ProposeNewLocation("/data/Repaired_Shop.mdb", when),
              "/data/Repaired_Shop_June_07_2016 03_04_05 PM.mdb");
    EXPECT_EQ(CMDBRecovery::ProposeNewLocation("/data/noextension", when), "/data/_June_07_2016 03_04_05 PM.sqlite");
}

}  // namespace
}  // namespace talmera::test
