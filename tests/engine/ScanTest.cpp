// The catalog scan on databases written by the independent writer: every
// format, both layout attempts, stale pages, damaged catalogs and definitions,
// and the scan's log, line by line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <regex>

#include "platform/MessageReceiver.h"
#include "tests/engine/Fixtures.h"

namespace talmera::test {
namespace {

using jetwriter::Format;
namespace jw = jetwriter;

const Format kFormats[] = {Format::Jet3, Format::Jet4, Format::Ace};

jw::Database richDatabase(Format format) {
    jw::Database db;
    db.format = format;
    jw::Table customers;
    customers.name = "Customers";
    customers.columns = {col("ID", jw::kLong),        col("Name", jw::kText, 40), col("Born", jw::kDateTime),
                         col("Balance", jw::kCurrency), col("Active", jw::kBool),   col("Notes", jw::kMemo),
                         col("Photo", jw::kOle),        col("Ratio", jw::kSingle),  col("Small", jw::kInt),
                         col("Tiny", jw::kByte),        col("Big", jw::kDouble),    col("Raw", jw::kBinary, 16)};
    customers.columns[0].autoNumber = true;
    if (format != Format::Jet3) {
        customers.columns.push_back(col("Key", jw::kGuid));
        jw::Column dec = col("Price", jw::kDecimal);
        dec.precision = 10;
        dec.scale = 2;
        customers.columns.push_back(dec);
    }
    for (int i = 0; i < 4; ++i) {
        jw::Row row;
        for (size_t c = 0; c < customers.columns.size(); ++c) row.values.push_back(std::monostate{});
        row.values[0] = int64_t{i + 1};
        row.values[1] = std::string("Customer ") + std::to_string(i);
        customers.rows.push_back(row);
    }
    jw::Index pk;
    pk.name = "PrimaryKey";
    pk.columns = {{0, false}};
    pk.primary = true;
    jw::Index byName;
    byName.name = "ByName";
    byName.columns = {{1, true}};
    byName.unique = true;
    customers.indexes = {pk, byName};
    db.tables = {customers, simpleTable("Orders", 5)};

    auto object = [](const std::string& name, jw::ObjectKind kind) {
        jw::CatalogObject o;
        o.name = name;
        o.kind = kind;
        return o;
    };
    jw::CatalogObject link = object("Remote", jw::ObjectKind::LinkedTable);
    link.linkPath = "C:\\data\\remote.mdb";
    link.foreignName = "RemoteTable";
    db.objects = {object("All Customers", jw::ObjectKind::Query),
                  object("~sq_fMain", jw::ObjectKind::Query),
                  link,
                  object("Main Form", jw::ObjectKind::Form),
                  object("Sales Report", jw::ObjectKind::Report),
                  object("AutoExec", jw::ObjectKind::Macro),
                  object("Tidy Up", jw::ObjectKind::Macro),
                  object("Utilities", jw::ObjectKind::Module)};
    return db;
}

class EveryFormat : public ::testing::TestWithParam<Format> {};

TEST_P(EveryFormat, CatalogListsEveryObject) {
    const Format format = GetParam();
    TempDir dir;
    const std::string path = writeDatabase(dir, "rich.mdb", richDatabase(format));
    ScanResult scan = runScan(path);
    const CMDBRecovery& e = *scan.engine;

    EXPECT_EQ(e.jet4Layout, format != Format::Jet3);
    EXPECT_EQ(e.aceFormat, format == Format::Ace);
    EXPECT_EQ(e.pageSize, format == Format::Jet3 ? 2048 : 4096);
    EXPECT_EQ(e.statistics.layoutAttempts, 1);

    std::vector<std::string> names = tableNames(e);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Customers", "Orders"}));

    const tableInfo* customers = findTable(e, "Customers");
    ASSERT_NE(customers, nullptr);
    const jw::Database description = richDatabase(format);
    const jw::Table& written = description.tables[0];
    ASSERT_EQ(customers->columns.size(), written.columns.size());
    std::map<std::string, const columnInfo*> byName;
    for (const columnInfo& c : customers->columns) byName[c.name] = &c;
    for (const jw::Column& w : written.columns) {
        SCOPED_TRACE(w.name);
        ASSERT_TRUE(byName.count(w.name));
        EXPECT_EQ(byName[w.name]->type, w.type);
    }
    EXPECT_EQ(byName["Name"]->length, format == Format::Jet3 ? 40 : 80);
    // Both layouts carry the column flags.
    EXPECT_TRUE(byName["ID"]->isAutoNumber);
    EXPECT_TRUE(customers->hasAutoNumber);
    EXPECT_TRUE(byName["ID"]->isFixed);
    EXPECT_TRUE(byName["Born"]->isFixed);
    EXPECT_TRUE(byName["Name"]->isVariable);
    EXPECT_FALSE(byName["Small"]->isAutoNumber);
    if (format != Format::Jet3) {
        EXPECT_EQ(byName["Price"]->precision, 10);
        EXPECT_EQ(byName["Price"]->scale, 2);
    }
    EXPECT_EQ(customers->recordCount, 4u);
    EXPECT_EQ(findTable(e, "Orders")->recordCount, 5u);
    EXPECT_FALSE(customers->pages.empty());

    // Indexes: the primary key on ID, a unique descending index on Name.
    const indexInfo* primary = nullptr;
    const indexInfo* unique = nullptr;
    for (const indexInfo& i : customers->indexes) {
        if (i.isPrimary) primary = &i;
        if (i.isUnique) unique = &i;
    }
    ASSERT_NE(primary, nullptr);
    ASSERT_NE(unique, nullptr);
    EXPECT_EQ(primary->columnNumbers, std::vector<uint16_t>{byName["ID"]->columnNumber});
    EXPECT_EQ(primary->indexNames, std::vector<std::string>{"PrimaryKey"});
    EXPECT_EQ(unique->columnNumbers, std::vector<uint16_t>{byName["Name"]->columnNumber});
    EXPECT_EQ(unique->indexNames, std::vector<std::string>{"ByName"});

    ASSERT_EQ(e.queries.size(), 1u);
    EXPECT_EQ(e.queries[0].name, "All Customers");
    ASSERT_EQ(e.linkedTables.size(), 1u);
    EXPECT_EQ(e.linkedTables[0].linkName, "Remote");
    if (format != Format::Jet3) {
        EXPECT_EQ(e.linkedTables[0].foreignName, "RemoteTable");
        EXPECT_EQ(e.linkedTables[0].databasePath, "C:\\data\\remote.mdb");
    }
    EXPECT_EQ(scan.app->formNames, std::vector<std::string>{"Main Form"});
    EXPECT_EQ(scan.app->reportNames, std::vector<std::string>{"Sales Report"});
    EXPECT_EQ(scan.app->moduleNames, std::vector<std::string>{"Utilities"});
    // The database's own entry is counted among the macros but not listed.
    EXPECT_EQ(scan.app->macroNames, (std::vector<std::string>{"AutoExec", "Tidy Up"}));
    EXPECT_EQ(scan.app->macroCount, 3);
    EXPECT_FALSE(scan.app->invalidFile);
}

INSTANTIATE_TEST_SUITE_P(Formats, EveryFormat, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(formatName(info.param)); });

// A damaged version byte: the first attempt reads with the wrong layout, finds
// nothing that verifies, and the second attempt reads the catalog.
TEST(LayoutAttempts, WrongVersionByteFallsBackToTheOtherLayout) {
    struct Case {
        Format format;
        uint8_t version;
        bool jet4;
    };
    const Case cases[] = {{Format::Jet4, 0, true}, {Format::Jet4, 7, true}, {Format::Jet3, 1, false},
                          {Format::Jet3, 3, false}, {Format::Ace, 0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(formatName(c.format)) + " with version byte " + std::to_string(c.version));
        TempDir dir;
        jw::Damage damage;
        damage.versionByte = c.version;
        const std::string path = writeDatabase(dir, "v.mdb", richDatabase(c.format), nullptr, &damage);
        ScanResult scan = runScan(path);
        EXPECT_EQ(scan.engine->jet4Layout, c.jet4);
        EXPECT_EQ(scan.engine->statistics.layoutAttempts, 2);
        std::vector<std::string> names = tableNames(*scan.engine);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"Customers", "Orders"}));
        EXPECT_EQ(scan.engine->queries.size(), 1u);
        EXPECT_EQ(scan.engine->linkedTables.size(), 1u);
        EXPECT_EQ(scan.app->formNames, std::vector<std::string>{"Main Form"});
    }
}

// Freed pages keep their old owner number. A readable usage map sets them
// aside (unless asked for); a damaged one leaves every page of the owner in.
TEST(StalePages, UsageMapDecidesWhichPagesBelongToTheTable) {
    for (Format format : kFormats) {
        SCOPED_TRACE(formatName(format));
        jw::Database db;
        db.format = format;
        jw::Table t = simpleTable("Ledger", 7);
        t.stalePages = 2;
        t.staleRowsPerPage = 4;
        db.tables = {t};
        TempDir dir;
        jw::Layout layout;
        const std::string clean = writeDatabase(dir, "clean.mdb", db, &layout);
        ASSERT_EQ(layout.tables.size(), 1u);
        ASSERT_EQ(layout.tables[0].stalePages.size(), 2u);

        ScanResult scan = runScan(clean);
        const tableInfo* ledger = findTable(*scan.engine, "Ledger");
        ASSERT_NE(ledger, nullptr);
        EXPECT_TRUE(ledger->usageMapRead);
        EXPECT_EQ(ledger->recordCount, 7u);
        EXPECT_EQ(ledger->pages.size(), layout.tables[0].dataPages.size());
        EXPECT_EQ(ledger->unlistedPages.size(), 2u);
        EXPECT_EQ(ledger->unlistedRecordCount, 8u);
        const auto& log = scan.receiver->logLines;
        EXPECT_NE(std::find(log.begin(), log.end(),
                            "Ledger  :  2 page(s) not listed in the table's usage map set aside (8 Record(s))"),
                  log.end());

        ScanResult included = runScan(clean, false, true);
        EXPECT_EQ(findTable(*included.engine, "Ledger")->recordCount, 15u);

        // Zero the page that holds the usage map: every page of the owner is taken.
        jw::Damage damage;
        damage.zeroPages = {layout.tables[0].usageMapPage};
        const std::string broken = writeDatabase(dir, "broken.mdb", db, nullptr, &damage);
        ScanResult fallback = runScan(broken);
        const tableInfo* all = findTable(*fallback.engine, "Ledger");
        ASSERT_NE(all, nullptr);
        EXPECT_FALSE(all->usageMapRead);
        EXPECT_EQ(all->recordCount, 15u);
        EXPECT_TRUE(all->unlistedPages.empty());
    }
}

// The catalog's own definition (page 2) is not needed: its rows are read with
// the layout built in.
TEST(DamagedCatalog, ZeroedCatalogDefinitionStillYieldsEveryTable) {
    for (Format format : kFormats) {
        SCOPED_TRACE(formatName(format));
        jw::Damage damage;
        damage.zeroCatalogDefinition = true;
        TempDir dir;
        const std::string path = writeDatabase(dir, "z.mdb", richDatabase(format), nullptr, &damage);
        ScanResult scan = runScan(path);
        std::vector<std::string> names = tableNames(*scan.engine);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"Customers", "Orders"}));
        EXPECT_EQ(findTable(*scan.engine, "Customers")->columns.size(),
                  richDatabase(format).tables[0].columns.size());
    }
}

// Definitions longer than a page continue on further pages, and Access fills
// each page to its end, so entries and names are split wherever the boundary
// falls. With a first page of 4096 (2048) bytes and a 63-byte (43-byte)
// header, entry 161 (111) of a wide table straddles the boundary; with 100
// columns of 10-character names, a name does.
TEST(TableDefinition, DefinitionsAcrossPagesSplitEntriesAndNames) {
    struct Case {
        int columns;
        const char* pattern;
        size_t jet4Cut;  // columns kept when the second page is lost
        size_t jet3Cut;
    };
    const Case cases[] = {{170, "C%03d", 161, 111}, {100, "Column%04d", 100, 100}};
    for (Format format : kFormats) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(formatName(format)) + " " + std::to_string(c.columns) + " columns");
            jw::Database db;
            db.format = format;
            jw::Table t;
            t.name = "Wide";
            for (int i = 0; i < c.columns; ++i) {
                char name[32];
                std::snprintf(name, sizeof name, c.pattern, i);
                t.columns.push_back(col(name, i % 3 == 0 ? jw::kText : jw::kLong, i % 3 == 0 ? 20 : 0));
            }
            jw::Row row;
            for (int i = 0; i < c.columns; ++i) {
                row.values.push_back(i % 3 == 0 ? jw::Value(std::string("t")) : jw::Value(int64_t{i}));
            }
            t.rows = {row, row};
            db.tables = {t};
            TempDir dir;
            jw::Layout layout;
            const std::string path = writeDatabase(dir, "wide.mdb", db, &layout);
            ASSERT_GE(layout.tables[0].definitionPages.size(), 2u);

            ScanResult scan = runScan(path);
            const tableInfo* wide = findTable(*scan.engine, "Wide");
            ASSERT_NE(wide, nullptr);
            ASSERT_EQ(wide->columns.size(), t.columns.size());
            for (size_t i = 0; i < t.columns.size(); ++i) {
                EXPECT_EQ(wide->columns[i].name, t.columns[i].name);
                EXPECT_EQ(wide->columns[i].type, t.columns[i].type);
            }
            EXPECT_EQ(wide->recordCount, 2u);
            EXPECT_FALSE(wide->pages.empty());

            // Lose the second definition page: the columns before the cut stay;
            // when the cut is inside the columns, no pages are taken.
            jw::Damage damage;
            damage.zeroPages = {layout.tables[0].definitionPages[1]};
            ScanResult cut = runScan(writeDatabase(dir, "cut.mdb", db, nullptr, &damage));
            const tableInfo* kept = findTable(*cut.engine, "Wide");
            ASSERT_NE(kept, nullptr);
            const size_t expected = format == Format::Jet3 ? c.jet3Cut : c.jet4Cut;
            EXPECT_EQ(kept->columns.size(), expected);
            EXPECT_EQ(kept->pages.empty(), expected < t.columns.size());
            EXPECT_EQ(cut.engine->statistics.definitionsCut, expected < t.columns.size() ? 1u : 0u);
        }
    }
}

// Entries whose second flags byte is 0x20 are no columns; their names are
// dropped and the next name goes to the next taken column. A column without a
// name is called after its entry ordinal.
TEST(TableDefinition, SkippedEntriesAndEmptyColumnNames) {
    for (Format format : {Format::Jet4, Format::Ace}) {
        SCOPED_TRACE(formatName(format));
        jw::Database db;
        db.format = format;
        jw::Table t;
        t.name = "Wide";
        t.columns = {col("A", jw::kLong), col("Gone", jw::kLong), col("B", jw::kText, 10), col("", jw::kLong)};
        t.columns[1].skipped = true;
        t.rows = {{{int64_t{1}, std::monostate{}, std::string("x"), int64_t{2}}}};
        db.tables = {t};
        TempDir dir;
        ScanResult scan = runScan(writeDatabase(dir, "w.mdb", db));
        const tableInfo* wide = findTable(*scan.engine, "Wide");
        ASSERT_NE(wide, nullptr);
        std::vector<std::string> names;
        for (const columnInfo& c : wide->columns) names.push_back(c.name);
        EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "Column#3"}));
        EXPECT_EQ(wide->columnCount, 3u);
    }
}

// Names the user-table check rejects, and names it lets through.
TEST(CatalogNames, SystemNamesAreRejectedOthersKept) {
    for (Format format : kFormats) {
        SCOPED_TRACE(formatName(format));
        jw::Database db;
        db.format = format;
        for (const char* name : {"MSysWhatever", "msysobjects", "MSYSACCESSSTORAGE", "fVersionHistory",
                                 "~TMPCLP1234", "msysMine", "Msys Notes", "Plain"}) {
            db.tables.push_back(simpleTable(name, 1));
        }
        TempDir dir;
        ScanResult scan = runScan(writeDatabase(dir, "n.mdb", db));
        std::vector<std::string> names = tableNames(*scan.engine);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"Msys Notes", "Plain", "msysMine"}));
    }
}

// A table entry without a name becomes "RecoveredTable" and a number; the
// numbers go on across catalog pages.
TEST(CatalogNames, EmptyTableNamesAreNumbered) {
    for (Format format : kFormats) {
        SCOPED_TRACE(formatName(format));
        jw::Database db;
        db.format = format;
        db.tables.push_back(simpleTable("", 2));
        // Enough other entries to push the second nameless table onto a later catalog page.
        for (int i = 0; i < 120; ++i) {
            jw::CatalogObject form;
            form.name = "Form number " + std::to_string(i);
            form.kind = jw::ObjectKind::Form;
            db.objects.push_back(form);
        }
        db.tables.push_back(simpleTable("", 3));
        TempDir dir;
        jw::Layout layout;
        ScanResult scan = runScan(writeDatabase(dir, "e.mdb", db, &layout));
        EXPECT_GE(layout.catalogPages.size(), 2u);
        std::vector<std::string> names = tableNames(*scan.engine);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"RecoveredTable0", "RecoveredTable1"}));
        EXPECT_EQ(scan.app->formCount, 120);
    }
}

std::vector<std::string> withoutTimestamps(const std::vector<std::string>& lines) {
    static const std::regex stamp(R"((on: )\w+, \w+ \d\d, \d{4}, \d\d:\d\d:\d\d [AP]M$)");
    std::vector<std::string> out;
    for (const std::string& line : lines) out.push_back(std::regex_replace(line, stamp, "$1<time>"));
    return out;
}

const std::string kSep(48, '-');

TEST(ScanLog, FullSummaryLineByLine) {
    TempDir dir;
    const std::string path = writeDatabase(dir, "log.mdb", richDatabase(Format::Jet4));
    ScanResult scan = runScan(path);
    const std::vector<std::string> expected = {
        "                  ",
        "Repairing process started on: <time>",
        "File selected for repair  : " + path,
        "Repairing file...",
        "Total table(s) present  :  2",
        "                  ",
        "Customers  :  4 Record(s)",
        "Orders  :  5 Record(s)",
        kSep,
        "Total linked table(s) present :  1",
        kSep,
        "Total queries present :   1",
        kSep,
        "Total forms present :   1",
        kSep,
        "Total reports present :   1",
        kSep,
        "Total macros present :   2",
        kSep,
        "Total modules present :   1",
        kSep,
        "Repairing process completed on: <time>",
        // The query's catalog entry has no SQL rows: its text is lost.
        "Completed with losses: 1 other object unreadable",
    };
    EXPECT_EQ(withoutTimestamps(scan.receiver->logLines), expected);
    EXPECT_EQ(scan.receiver->boxes, std::vector<std::string>{"\n\nRepairing process successfully completed.|"});
    EXPECT_EQ(scan.receiver->finishedPosts, 1);
    EXPECT_FALSE(scan.app->treeLocked);
    EXPECT_FALSE(scan.app->scanRun);
    int trees = 0;
    for (const auto& ev : scan.receiver->events) trees += ev.message == UM_BUILD_TREE;
    EXPECT_EQ(trees, 1);
    EXPECT_EQ(scan.receiver->events.back().message, UM_RUN_FINISHED);
}

TEST(ScanLog, CatalogWithoutTablesGivesTheShortSummary) {
    jw::Database db;
    db.format = Format::Jet4;
    jw::CatalogObject form;
    form.name = "Lonely Form";
    form.kind = jw::ObjectKind::Form;
    db.objects = {form};
    TempDir dir;
    ScanResult scan = runScan(writeDatabase(dir, "short.mdb", db));
    const std::vector<std::string> expected = {
        "                  ",
        "Repairing process started on: <time>",
        "File selected for repair  : " + dir.file("short.mdb"),
        "Repairing file...",
        "Total table(s) present  :  0",
        kSep,
        kSep,
        "Total forms present : ",
        kSep,
        "Repairing process completed on: <time>",
    };
    EXPECT_EQ(withoutTimestamps(scan.receiver->logLines), expected);
    EXPECT_TRUE(scan.receiver->boxes.empty());
    EXPECT_FALSE(scan.app->invalidFile);
}

TEST(ScanLog, DeletedRecordsOptionWithoutDeletedRows) {
    for (Format format : kFormats) {
        SCOPED_TRACE(formatName(format));
        jw::Database db;
        db.format = format;
        db.tables = {simpleTable("Plain", 2)};
        TempDir dir;
        ScanResult scan = runScan(writeDatabase(dir, "d.mdb", db), true);
        std::vector<std::string> expected;
        if (format != Format::Jet3) expected.push_back("There is no deleted record(s) in database.|");
        expected.push_back("\n\nRepairing process successfully completed.|");
        EXPECT_EQ(scan.receiver->boxes, expected);
    }
}

TEST(InvalidInput, NotAnAccessFileAndUnreadableFiles) {
    TempDir dir;
    std::vector<uint8_t> noise(64 * 1024);
    uint32_t x = 12345;
    for (auto& b : noise) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16);
    writeFile(dir.file("noise.mdb"), noise);
    writeFile(dir.file("empty.mdb"), {});

    for (const char* name : {"noise.mdb", "empty.mdb"}) {
        SCOPED_TRACE(name);
        ScanResult scan = runScan(dir.file(name));
        EXPECT_TRUE(scan.app->invalidFile);
        EXPECT_EQ(scan.receiver->logLines.back(), "This file is not a valid MS Access file.");
        EXPECT_EQ(scan.receiver->boxes,
                  std::vector<std::string>{"This file is not a valid MS Access file.|                  "});
    }

    // A missing file or a folder is not "in use": the message says why.
    struct Case {
        std::string path;
        std::string reason;
    };
    const Case unreadable[] = {{dir.file("missing.mdb"), "No such file or directory"},
                               {dir.path().string(), "Is a directory"}};
    for (const Case& c : unreadable) {
        SCOPED_TRACE(c.path);
        ScanResult scan = runScan(c.path);
        EXPECT_TRUE(scan.app->invalidFile);
        const std::string expected = "This file cannot be opened: " + c.path + ": " + c.reason + ".";
        EXPECT_EQ(scan.receiver->boxes, std::vector<std::string>{"platform:" + expected});
        const auto& log = scan.receiver->logLines;
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[log.size() - 2], expected);
        EXPECT_EQ(log.back(), "This file is not a valid MS Access file.");
        for (const std::string& line : log) EXPECT_EQ(line.find("already in use"), std::string::npos);
    }
}

// A file whose length is not a whole number of pages: the partial last page
// is not read, and what lies in the whole pages is recovered.
TEST(DamagedFile, PartialLastPageIsNotRead) {
    jw::Database db = richDatabase(Format::Jet4);
    TempDir dir;
    jw::Layout layout;
    std::vector<uint8_t> image = jw::write(db, &layout);
    image.insert(image.end(), 100, 0x01);  // looks like a data page's start
    writeFile(dir.file("tail.mdb"), image);
    ScanResult scan = runScan(dir.file("tail.mdb"));
    EXPECT_EQ(scan.engine->statistics.partialPageBytes, 100u);
    EXPECT_EQ(scan.engine->statistics.pagesScanned, layout.pageCount);
    const tableInfo* t = findTable(*scan.engine, "Customers");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->recordCount, 4u);
    const auto& log = scan.receiver->logLines;
    EXPECT_NE(std::find(log.begin(), log.end(), "Bytes of an incomplete last page not read :  100"), log.end());

    // Cut in the middle of the last page: no crash, the cut page is not read.
    jw::Damage damage;
    damage.truncateTo = static_cast<uint64_t>(layout.pageCount - 1) * layout.pageSize + 100;
    ScanResult cut = runScan(writeDatabase(dir, "cut.mdb", db, nullptr, &damage));
    EXPECT_EQ(cut.engine->statistics.partialPageBytes, 100u);
    EXPECT_EQ(cut.engine->statistics.pagesScanned, layout.pageCount - 1);
}

}  // namespace
}  // namespace talmera::test
