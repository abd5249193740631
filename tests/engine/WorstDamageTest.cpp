// Recovery where the damage is worst, on databases written by the independent
// writer and then damaged: catalog rows lost (all of them, or one), damaged
// and repeated names, and usage maps that disagree with the live pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/engine/Fixtures.h"

namespace talmera::test {
namespace {

using jetwriter::Format;
namespace jw = jetwriter;

const Format kFormats[] = {Format::Jet3, Format::Jet4, Format::Ace};

bool hasLine(const ScanResult& scan, const std::string& line) {
    const auto& log = scan.receiver->logLines;
    return std::find(log.begin(), log.end(), line) != log.end();
}

bool hasLineStarting(const ScanResult& scan, const std::string& start) {
    for (const std::string& l : scan.receiver->logLines) {
        if (l.rfind(start, 0) == 0) return true;
    }
    return false;
}

std::vector<std::string> columnNames(const tableInfo& t) {
    std::vector<std::string> names;
    for (const columnInfo& c : t.columns) names.push_back(c.name);
    return names;
}

// The live rows' bytes of a data page: [start, end) per slot, as Access lays
// them out (the row count and offsets after the page header).
std::vector<std::pair<uint32_t, uint32_t>> pageRows(const std::vector<uint8_t>& image, uint32_t page,
                                                    uint32_t pageSize) {
    const bool jet4 = pageSize == 4096;
    const size_t base = static_cast<size_t>(page) * pageSize;
    const size_t countAt = base + (jet4 ? 12 : 8);
    const uint32_t count = image[countAt] | (image[countAt + 1] << 8);
    std::vector<std::pair<uint32_t, uint32_t>> rows;
    uint32_t end = pageSize;
    for (uint32_t k = 0; k < count; ++k) {
        const size_t at = countAt + 2 + 2 * k;
        const uint32_t raw = image[at] | (image[at + 1] << 8);
        const uint32_t start = raw & 0x1FFF;
        rows.push_back({start, end});
        end = start;
    }
    return rows;
}

std::vector<uint8_t> encodeName(const std::string& name, Format format) {
    std::vector<uint8_t> bytes;
    for (char ch : name) {
        bytes.push_back(static_cast<uint8_t>(ch));
        if (format != Format::Jet3) bytes.push_back(0);
    }
    return bytes;
}

jw::Database twoTables(Format format) {
    jw::Database db;
    db.format = format;
    jw::Table parts = simpleTable("Parts", 6);
    jw::Index pk;
    pk.name = "PrimaryKey";
    pk.columns = {{0, false}};
    pk.primary = true;
    parts.indexes = {pk};
    db.tables = {parts, simpleTable("Suppliers", 4)};
    jw::CatalogObject q;
    q.name = "All Parts";
    q.kind = jw::ObjectKind::Query;
    db.objects = {q};
    return db;
}

// Every catalog page zeroed: the tables are found from their definition
// pages, named "RecoveredTable" + a number, with their columns and rows; the
// system tables found so are not listed as the user's.
TEST(LostCatalog, ZeroedCatalogRowsLeaveTablesFoundFromTheirDefinitions) {
    for (Format format : kFormats) {
        SCOPED_TRACE(formatName(format));
        TempDir dir;
        jw::Layout layout;
        writeDatabase(dir, "probe.mdb", twoTables(format), &layout);
        jw::Damage damage;
        damage.zeroPages = layout.catalogPages;
        ScanResult scan = runScan(writeDatabase(dir, "lost.mdb", twoTables(format), nullptr, &damage));
        EXPECT_FALSE(scan.app->invalidFile);
        EXPECT_FALSE(hasLine(scan, "This file is not a valid MS Access file."));
        std::vector<std::string> names = tableNames(*scan.engine);
        std::sort(names.begin(), names.end());
        ASSERT_EQ(names, (std::vector<std::string>{"RecoveredTable0", "RecoveredTable1"}));
        EXPECT_TRUE(hasLine(scan, "Tables found without a catalog entry  :  2"));

        // Found in page order: the definitions the writer laid out first come first.
        for (size_t i = 0; i < 2; ++i) {
            const tableInfo* t = findTable(*scan.engine, "RecoveredTable" + std::to_string(i));
            ASSERT_NE(t, nullptr);
            EXPECT_TRUE(t->foundWithoutCatalog);
            EXPECT_EQ(columnNames(*t), (std::vector<std::string>{"ID", "Label", "Amount"}));
            const uint32_t expected = t->definitionPage == layout.tables[0].definitionPage ? 6u : 4u;
            EXPECT_EQ(t->recordCount, expected);
            size_t position = 0;
            while (&scan.engine->tables[position] != t) ++position;
            const auto rows = readAllRows(*scan.engine, position, true);
            ASSERT_EQ(rows.size(), expected);
            EXPECT_EQ(rows.back()[1].text, "row " + std::to_string(expected));
        }
    }
}

// A user's table whose column names are those of a system table (ID and
// Data, as MSysAccessObjects) is told apart by its column types.
TEST(LostCatalog, AUserTableNamedLikeASystemTableIsStillTheUsers) {
    for (Format format : {Format::Jet4, Format::Ace}) {
        SCOPED_TRACE(formatName(format));
        jw::Database db;
        db.format = format;
        jw::Table t;
        t.name = "Table1";
        t.columns = {col("ID", jw::kLong), col("Data", jw::kText, 255)};
        t.rows = {{{int64_t{1}, std::string("one")}}, {{int64_t{2}, std::string("two")}}};
        db.tables = {t};
        TempDir dir;
        jw::Layout layout;
        writeDatabase(dir, "probe.mdb", db, &layout);
        jw::Damage damage;
        damage.zeroPages = layout.catalogPages;
        ScanResult scan = runScan(writeDatabase(dir, "lost.mdb", db, nullptr, &damage));
        EXPECT_EQ(tableNames(*scan.engine), std::vector<std::string>{"RecoveredTable0"});
        EXPECT_EQ(scan.engine->statistics.hiddenTablesWithoutCatalog, 0u);
    }
}

// One catalog row wiped: the other tables keep their names, and the one whose
// row is gone is found from its definition.
TEST(LostCatalog, OneLostCatalogRowLeavesOneTableFoundFromItsDefinition) {
    for (Format format : kFormats) {
        SCOPED_TRACE(formatName(format));
        TempDir dir;
        jw::Layout layout;
        const jw::Database db = twoTables(format);
        std::vector<uint8_t> image = jw::write(db, &layout);
        const std::vector<uint8_t> name = encodeName("Suppliers", format);
        bool wiped = false;
        for (uint32_t page : layout.catalogPages) {
            for (auto [start, end] : pageRows(image, page, layout.pageSize)) {
                const auto first = image.begin() + static_cast<size_t>(page) * layout.pageSize;
                if (std::search(first + start, first + end, name.begin(), name.end()) == first + end) continue;
                std::fill(first + start, first + end, 0);
                wiped = true;
            }
        }
        ASSERT_TRUE(wiped);
        const std::string path = dir.file("row.mdb");
        writeFile(path, image);
        ScanResult scan = runScan(path);
        std::vector<std::string> names = tableNames(*scan.engine);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"Parts", "RecoveredTable0"}));
        const tableInfo* found = findTable(*scan.engine, "RecoveredTable0");
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->definitionPage, layout.tables[1].definitionPage);
        EXPECT_EQ(found->recordCount, 4u);
        EXPECT_EQ(scan.engine->queries.size(), 1u);
        EXPECT_TRUE(hasLine(scan, "Tables found without a catalog entry  :  1"));
    }
}

// An undamaged file finds nothing without a catalog entry, and a file with
// no Access page at all is still "not a valid MS Access file".
TEST(LostCatalog, OnlyAFileWithoutAccessPagesIsNotAnAccessFile) {
    TempDir dir;
    ScanResult whole = runScan(writeDatabase(dir, "whole.mdb", twoTables(Format::Jet4)));
    EXPECT_EQ(whole.engine->statistics.tablesWithoutCatalog, 0u);
    EXPECT_FALSE(hasLineStarting(whole, "Tables found without a catalog entry"));

    std::vector<uint8_t> text(4096 * 8);
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>("not a database, just text\n"[i % 26]);
    const std::string path = dir.file("text.mdb");
    writeFile(path, text);
    ScanResult other = runScan(path);
    EXPECT_TRUE(other.app->invalidFile);
    EXPECT_TRUE(other.engine->tables.empty());
}

// A version byte of a later Access (5 for Access 2016) on a file whose header
// names "Standard ACE DB": an ACE file, not Jet 4.
TEST(LostCatalog, AnUnknownVersionByteUnderAnAceHeaderIsAce) {
    jw::Database db = twoTables(Format::Ace);
    jw::Damage damage;
    damage.versionByte = 5;
    TempDir dir;
    ScanResult scan = runScan(writeDatabase(dir, "v5.accdb", db, nullptr, &damage));
    EXPECT_TRUE(scan.engine->jet4Layout);
    EXPECT_TRUE(scan.engine->aceFormat);
    EXPECT_NE(findTable(*scan.engine, "Parts"), nullptr);
}

// A flipped bit in one column name's length: the names after it are read
// again from the next plausible name, the damaged one gets "Field" + its
// position, and the log shows its bytes.
TEST(DamagedNames, AFlippedNameLengthIsResynchronised) {
    for (Format format : kFormats) {
        SCOPED_TRACE(formatName(format));
        jw::Database db;
        db.format = format;
        jw::Table t = simpleTable("Stock", 3);
        t.columns.push_back(col("Warehouse", jw::kText, 30));
        t.columns.push_back(col("Shelf", jw::kText, 10));
        for (jw::Row& r : t.rows) {
            r.values.push_back(std::string("North"));
            r.values.push_back(std::string("A1"));
        }
        db.tables = {t};
        TempDir dir;
        jw::Layout layout;
        writeDatabase(dir, "probe.mdb", db, &layout);
        const jw::TableLayout& tl = layout.tables[0];
        // The second name's length ("Label"): after the first name "ID".
        const size_t width = format == Format::Jet3 ? 1 : 2;
        const size_t unit = format == Format::Jet3 ? 1 : 2;
        const uint64_t at = static_cast<uint64_t>(tl.definitionPage) * layout.pageSize + tl.columnNamesOffset +
                            width + 2 * unit;
        jw::Damage damage;
        damage.flips = {{at, 0x40}};
        ScanResult scan = runScan(writeDatabase(dir, "flip.mdb", db, nullptr, &damage));
        const tableInfo* stock = findTable(*scan.engine, "Stock");
        ASSERT_NE(stock, nullptr);
        EXPECT_EQ(columnNames(*stock),
                  (std::vector<std::string>{"ID", "Field2", "Amount", "Warehouse", "Shelf"}));
        EXPECT_EQ(stock->columns[1].nameRepair, NameRepair::Generated);
        EXPECT_TRUE(stock->columnNamesResynchronised);
        EXPECT_TRUE(hasLineStarting(scan, "Stock  :  damaged column name (bytes "));
        EXPECT_TRUE(hasLine(scan, "Stock  :  column names read again from the next readable name"));
        EXPECT_EQ(stock->recordCount, 3u);
    }
}

// A NUL in a table, a column and an index name: each gets a generated name
// and the log names the stored bytes.
TEST(DamagedNames, NulInTableColumnAndIndexNamesIsReplaced) {
    for (Format format : kFormats) {
        SCOPED_TRACE(formatName(format));
        jw::Database db;
        db.format = format;
        jw::Table t = simpleTable(std::string("Ord\0ers", 7), 2);
        t.columns[1].name = std::string("La\0bel", 6);
        jw::Index byLabel;
        byLabel.name = std::string("By\0Label", 8);
        byLabel.columns = {{1, false}};
        t.indexes = {byLabel};
        db.tables = {t, simpleTable("Clean", 1)};
        TempDir dir;
        ScanResult scan = runScan(writeDatabase(dir, "nul.mdb", db));
        std::vector<std::string> names = tableNames(*scan.engine);
        std::sort(names.begin(), names.end());
        ASSERT_EQ(names, (std::vector<std::string>{"Clean", "RecoveredTable0"}));
        const tableInfo* t0 = findTable(*scan.engine, "RecoveredTable0");
        EXPECT_EQ(t0->nameRepair, NameRepair::Generated);
        EXPECT_EQ(columnNames(*t0), (std::vector<std::string>{"ID", "Field2", "Amount"}));
        EXPECT_EQ(t0->recordCount, 2u);
        ASSERT_EQ(t0->repairedIndexNames.size(), 1u);
        EXPECT_EQ(t0->repairedIndexNames[0].generated, "Index1");
        const std::string label = format == Format::Jet3 ? "4C 61 00 62 65 6C" : "4C 00 61 00 00 00 62 00 65 00 6C 00";
        EXPECT_TRUE(hasLine(scan, "RecoveredTable0  :  damaged column name (bytes " + label + ") replaced by Field2"));
        EXPECT_TRUE(hasLineStarting(scan, "RecoveredTable0  :  damaged table name (bytes "));
        EXPECT_TRUE(hasLineStarting(scan, "RecoveredTable0  :  damaged index name (bytes "));
    }
}

// Two columns of one name: the second is made unique, its values stay its own.
TEST(DamagedNames, RepeatedColumnNamesAreMadeUnique) {
    for (Format format : kFormats) {
        SCOPED_TRACE(formatName(format));
        jw::Database db;
        db.format = format;
        jw::Table t = simpleTable("Twice", 2);
        t.columns[2].name = "label";
        t.columns.push_back(col("Label_2", jw::kText, 10));
        for (jw::Row& r : t.rows) r.values.push_back(std::string("third"));
        db.tables = {t};
        TempDir dir;
        ScanResult scan = runScan(writeDatabase(dir, "twice.mdb", db));
        const tableInfo* twice = findTable(*scan.engine, "Twice");
        ASSERT_NE(twice, nullptr);
        EXPECT_EQ(columnNames(*twice), (std::vector<std::string>{"ID", "Label", "label_3", "Label_2"}));
        EXPECT_EQ(twice->columns[2].nameRepair, NameRepair::MadeUnique);
        EXPECT_TRUE(hasLine(scan, "Twice  :  repeated column name label made unique as label_3"));
        const auto rows = readAllRows(*scan.engine, 0, true);
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[1][1].text, "row 2");
        EXPECT_EQ(rows[1][3].text, "third");
    }
}

// One usage-map bit cleared over a live page: the page's rows are no copies
// of listed rows and the listed pages lack rows the definition counts, so it
// is read (and the log says so).
TEST(UnlistedPages, ALivePageWhoseMapBitIsClearedIsRead) {
    for (Format format : kFormats) {
        SCOPED_TRACE(formatName(format));
        jw::Database db;
        db.format = format;
        jw::Table t = simpleTable("Ledger", 30);
        t.rowsPerPage = 10;
        jw::Index pk;
        pk.name = "PrimaryKey";
        pk.columns = {{0, false}};
        pk.primary = true;
        t.indexes = {pk};
        t.stalePages = 1;
        t.staleRowsPerPage = 3;
        db.tables = {t};
        TempDir dir;
        jw::Layout layout;
        std::vector<uint8_t> image = jw::write(db, &layout);
        const jw::TableLayout& tl = layout.tables[0];
        ASSERT_EQ(tl.dataPages.size(), 3u);
        // The inline map: type 0, the first page, then one bit per page.
        const auto rows = pageRows(image, tl.usageMapPage, layout.pageSize);
        ASSERT_GT(rows.size(), tl.usageMapRow);
        const size_t map = static_cast<size_t>(tl.usageMapPage) * layout.pageSize + rows[tl.usageMapRow].first;
        ASSERT_EQ(image[map], 0);
        const uint32_t first = image[map + 1] | (image[map + 2] << 8) | (image[map + 3] << 16) |
                               (static_cast<uint32_t>(image[map + 4]) << 24);
        const uint32_t cleared = tl.dataPages[1] - first;
        image[map + 5 + cleared / 8] &= static_cast<uint8_t>(~(1u << (cleared % 8)));
        const std::string path = dir.file("bit.mdb");
        writeFile(path, image);

        ScanResult scan = runScan(path);
        const tableInfo* ledger = findTable(*scan.engine, "Ledger");
        ASSERT_NE(ledger, nullptr);
        EXPECT_TRUE(ledger->usageMapRead);
        EXPECT_EQ(ledger->recordCount, 30u);
        EXPECT_EQ(ledger->pagesChosen(PageChoice::NotCopies).pages, 1u);
        EXPECT_TRUE(hasLineStarting(scan, "Ledger  :  1 page(s) not listed in the table's usage map included (10 Record(s))"));
        // The stale page stays out: the definition's row count is reached.
        EXPECT_EQ(ledger->pagesChosen(PageChoice::RowCountReached).pages, 1u);
    }
}

}  // namespace
}  // namespace talmera::test
