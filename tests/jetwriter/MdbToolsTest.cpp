// mdbtools as the independent judge: every undamaged file the writer makes must
// read back through mdb-tables, mdb-export and mdb-schema with the tables,
// columns and rows we described.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <iostream>
#include <set>

#include "Fixtures.h"
#include "Helpers.h"
#include "MdbReader.h"

namespace jwtest {
namespace {

using namespace jetwriter;

class MdbToolsReads : public ::testing::TestWithParam<Format> {
protected:
    void SetUp() override {
        if (!haveMdbTools()) GTEST_SKIP() << "mdbtools (mdb-export, mdb-tables, mdb-schema) is not installed";
        if (!oracle::haveMdbReader()) std::cerr << "Only mdbtools reads the files: " << oracle::mdbReaderMissing() << "\n";
    }

    // Writes the database and returns the file's path.
    std::string save(const Database& db, Layout* layout = nullptr, const std::string& name = "test") {
        std::string path = dir.file(name + (GetParam() == Format::Ace ? ".accdb" : ".mdb"));
        saveFile(path, write(db, layout));
        return path;
    }

    // Compares mdb-export with the description. Tables with overflow rows are
    // compared as sets: mdbtools meets a moved row where it is stored.
    void expectRows(const std::string& file, const Table& t) {
        SCOPED_TRACE("table " + t.name);
        if (oracle::haveMdbReader()) {
            const nlohmann::json dump = oracle::mdbReaderDump(file, {t.name});
            const bool moved = std::any_of(t.rows.begin(), t.rows.end(), [](const Row& r) { return r.overflow; });
            expectReaderRows(dump["tables"][t.name], t, moved);
        }
        Rows expected = expectedRows(GetParam(), t);
        Rows actual = mdbExport(file, t.name);
        bool moved = std::any_of(t.rows.begin(), t.rows.end(), [](const Row& r) { return r.overflow; });
        if (moved) {
            std::sort(expected.begin(), expected.end());
            std::sort(actual.begin(), actual.end());
        }
        ASSERT_EQ(actual.size(), expected.size());
        std::vector<std::string> names;
        for (const Column& c : t.columns) names.push_back(c.name);
        for (size_t i = 0; i < actual.size(); ++i) {
            ASSERT_EQ(actual[i].size(), expected[i].size()) << "row " << i;
            for (size_t k = 0; k < actual[i].size(); ++k) {
                // mdbtools reads a calculated value's header as the value.
                if (t.columns[k].calculated) continue;
                EXPECT_EQ(actual[i][k], expected[i][k]) << "row " << i << ", column " << names[k];
            }
        }
        EXPECT_EQ(mdbExportHeader(file, t.name), names);
    }

    TempDir dir;
};

std::string schemaType(const Column& c) {
    switch (c.type) {
        case kBool: return "Boolean";
        case kByte: return "Byte";
        case kInt: return "Integer";
        case kLong: return "Long Integer";
        case kCurrency: return "Currency";
        case kSingle: return "Single";
        case kDouble: return "Double";
        case kDateTime: return "DateTime";
        case kBinary: return "Binary";
        case kText: return "Text (" + std::to_string(c.length ? c.length : 255) + ")";
        case kOle: return "OLE";
        case kMemo: return "Memo/Hyperlink";
        case kGuid: return "Replication ID";
        case kDecimal: return "Numeric (" + std::to_string(c.precision) + ", " + std::to_string(c.scale) + ")";
        default: return "";
    }
}

TEST_P(MdbToolsReads, DemoDatabase) {
    Database db = demoDatabase(GetParam());
    std::string file = save(db);
    EXPECT_EQ(mdbTables(file), (std::vector<std::string>{"Customers", "Orders"}));
    for (const Table& t : db.tables) expectRows(file, t);
    if (GetParam() == Format::Ace && oracle::haveMdbReader()) {
        // mdb-reader follows the attachment column to its value table.
        const nlohmann::json customers = oracle::mdbReaderDump(file, {"Customers"})["tables"]["Customers"];
        const size_t labels = db.tables[0].columns.size() - 1;
        const nlohmann::json& first = customers["rows"][0][labels];
        ASSERT_TRUE(first.contains("attachments")) << first.dump();
        ASSERT_EQ(first["attachments"].size(), 1u);
        EXPECT_EQ(first["attachments"][0]["name"], "note.txt");
        EXPECT_EQ(first["attachments"][0]["hex"], "48656C6C6F0D0A");
        EXPECT_EQ(customers["rows"][1][labels]["attachments"].size(), 2u);
        EXPECT_EQ(customers["rows"][1][labels]["attachments"][0]["hex"], "89504E470D0A1A0A");
        EXPECT_EQ(customers["rows"][2][labels]["attachments"].size(), 0u);
    }

    std::string schema = mdbSchema(file, "Customers");
    for (const Column& c : db.tables[0].columns) {
        std::string type = schemaType(c);
        if (!type.empty()) {
            EXPECT_NE(schema.find("[" + c.name + "]\t\t\t" + type), std::string::npos) << c.name << "\n" << schema;
        }
    }
    std::string pg = mdbSchema(file, "Customers", "postgres");
    EXPECT_NE(pg.find("PRIMARY KEY (\"customerid\")"), std::string::npos) << pg;
    EXPECT_NE(pg.find("CREATE UNIQUE INDEX \"customers_name_idx\" ON \"customers\" (\"name\")"), std::string::npos) << pg;
    EXPECT_NE(pg.find("(\"city\", \"joined\" DESC)"), std::string::npos) << pg;
}

TEST_P(MdbToolsReads, EveryColumnType) {
    for (bool compress : {false, true}) {
        if (compress && GetParam() == Format::Jet3) continue;
        SCOPED_TRACE(compress ? "compressed text" : "plain text");
        Database db;
        db.format = GetParam();
        db.compressText = compress;
        addTypeTables(db);
        std::string file = save(db, nullptr, compress ? "compressed" : "plain");
        std::vector<std::string> names;
        for (const Table& t : db.tables) names.push_back(t.name);
        EXPECT_EQ(mdbTables(file), names);
        for (const Table& t : db.tables) {
            expectRows(file, t);
            std::string type = schemaType(t.columns[1]);
            if (!type.empty()) {
                EXPECT_NE(mdbSchema(file, t.name).find("[Value]\t\t\t" + type), std::string::npos) << t.name;
            }
        }
    }
}

// Every type in one table, at its extremes, NULL, and in several scripts:
// both oracles read the values the writer stored.
TEST_P(MdbToolsReads, EveryTypeInOneTable) {
    Database db;
    db.format = GetParam();
    db.compressText = GetParam() != Format::Jet3;
    db.tables = {allTypesTable(GetParam())};
    const std::string file = save(db, nullptr, "alltypes");
    expectRows(file, db.tables[0]);
}

TEST_P(MdbToolsReads, EditedRowsStalePagesLongValuesAndWideRows) {
    Database db;
    db.format = GetParam();
    db.tables = {editedTable(), longValuesTable(), wideRowsTable()};
    Layout layout;
    std::string file = save(db, &layout);
    for (const Table& t : db.tables) expectRows(file, t);

    // Stale pages carry the table's owner yet stay out of its usage map.
    const TableLayout& edited = layout.tables[0];
    ASSERT_EQ(edited.stalePages.size(), 2u);
    EXPECT_GE(edited.dataPages.size(), 5u);
    for (uint32_t p : edited.stalePages)
        EXPECT_EQ(std::count(edited.dataPages.begin(), edited.dataPages.end(), p), 0) << "stale page " << p << " listed";
    for (const auto& row : mdbExport(file, "Edited"))
        EXPECT_NE(row[1].value_or("").rfind("stale", 0), 0u) << "a stale row was read";
}

TEST_P(MdbToolsReads, DefinitionOverSeveralPages) {
    Database db;
    db.format = GetParam();
    // Enough columns that a page boundary falls inside the column entries, and
    // names long enough that a later one falls inside a name.
    const int columns = GetParam() == Format::Jet3 ? 140 : 200;
    db.tables = {manyColumnsTable(columns)};
    Layout layout;
    std::string file = save(db, &layout);
    const TableLayout& t = layout.tables[0];
    ASSERT_GE(t.definitionPages.size(), 3u);

    // Page boundaries in stream offsets: the first page holds pageSize bytes,
    // each continuation pageSize - 8.
    std::vector<size_t> breaks;
    for (size_t k = 1, at = layout.pageSize; k < t.definitionPages.size(); ++k, at += layout.pageSize - 8) breaks.push_back(at);
    const size_t entriesEnd = t.columnEntriesOffset + t.columnEntrySize * size_t(columns);
    bool inEntry = false, inName = false;
    for (size_t b : breaks) {
        if (b > t.columnEntriesOffset && b < entriesEnd && (b - t.columnEntriesOffset) % t.columnEntrySize != 0) inEntry = true;
        size_t at = t.columnNamesOffset;
        const size_t width = GetParam() == Format::Jet3 ? 1 : 2, unit = GetParam() == Format::Jet3 ? 1 : 2;
        for (const Column& c : db.tables[0].columns) {
            size_t end = at + width + c.name.size() * unit;
            if (b > at + width && b < end) inName = true;
            at = end;
        }
    }
    EXPECT_TRUE(inEntry) << "no page boundary inside a column entry";
    EXPECT_TRUE(inName) << "no page boundary inside a column name";

    expectRows(file, db.tables[0]);
    std::string schema = mdbSchema(file, "ManyColumns");
    for (const Column& c : db.tables[0].columns) EXPECT_NE(schema.find("[" + c.name + "]"), std::string::npos) << c.name;
}

TEST_P(MdbToolsReads, CatalogEntries) {
    Database db = demoDatabase(GetParam());
    std::string file = save(db);
    std::vector<std::string> all = mdbTables(file, true);
    std::set<std::string> names(all.begin(), all.end());
    for (const char* sys : {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"})
        EXPECT_EQ(names.count(sys), 1u) << sys;

    // Name -> (Type, Id, Database, Connect, ForeignName) as MSysObjects holds them.
    std::map<std::string, std::vector<Cell>> byName;
    for (const auto& row : mdbExport(file, "MSysObjects"))
        byName[row[2].value_or("")] = {row[3], row[0], row[8], row[9], row[10]};
    struct Expect {
        const char* name;
        const char* type;
        bool counterId;
    };
    for (const Expect& e : std::vector<Expect>{{"Customer List", "5", true},
                                               {"Linked Suppliers", "6", true},
                                               {"Remote Invoices", "4", true},
                                               {"Customer Form", "-32768", true},
                                               {"Sales Report", "-32764", true},
                                               {"AutoExec", "-32766", true},
                                               {"Utilities", "-32761", true},
                                               {"MSysDb", "2", false},
                                               {"Customers", "1", false}}) {
        ASSERT_EQ(byName.count(e.name), 1u) << e.name;
        EXPECT_EQ(byName[e.name][0], Cell(e.type)) << e.name;
        // Objects without a definition page take ids with the top bit set.
        EXPECT_EQ(byName[e.name][1].value_or("").rfind('-', 0) == 0, e.counterId) << e.name;
    }
    EXPECT_EQ(byName["Linked Suppliers"][2], Cell("C:\\Data\\Suppliers.mdb"));
    EXPECT_EQ(byName["Linked Suppliers"][4], Cell("Suppliers"));
    EXPECT_EQ(byName["Remote Invoices"][3], Cell("ODBC;DSN=Invoices;DATABASE=billing"));
    EXPECT_EQ(byName["Remote Invoices"][4], Cell("dbo.Invoices"));
    if (oracle::haveMdbReader()) {
        const std::vector<std::string> columns = {"Id", "Name", "Type", "Flags", "Database", "Connect", "ForeignName", "ParentId"};
        EXPECT_EQ(mdbReaderColumns(file, "MSysObjects", columns), mdbExportColumns(file, "MSysObjects", columns));
    }
}

// Saved queries: their MSysQueries rows, owned by page 4 as in Access files,
// with NULLs, explicit and counted Order values, a deleted row, a moved row,
// expressions in the row, on a long-value row, chained over pages, and with a
// character beyond Latin-1; spread over pages of two rows.
TEST_P(MdbToolsReads, QueryRows) {
    const bool jet3 = GetParam() == Format::Jet3;
    auto queryRow = [](uint8_t attribute, std::optional<int> flag, std::optional<std::string> expression = {},
                       std::optional<std::string> name1 = {}, std::optional<std::string> name2 = {}) {
        QueryRow r;
        r.attribute = attribute;
        r.flag = flag;
        r.expression = std::move(expression);
        r.name1 = std::move(name1);
        r.name2 = std::move(name2);
        return r;
    };
    std::string chained = "Orders.Amount In (0";
    for (int i = 1; chained.size() < 3000; ++i) chained += "," + std::to_string(i);
    chained += ")";
    const std::string single(300, 'x');
    Database db;
    db.format = GetParam();
    db.queryRowsPerPage = 2;
    CatalogObject first;
    first.name = "Orders Query";
    first.kind = ObjectKind::Query;
    first.queryRows = {queryRow(0, 0), queryRow(255, {}), queryRow(1, 1), queryRow(5, {}, {}, "Orders", "O"),
                       queryRow(6, 0, "O.Amount", "Amount"), queryRow(6, 0, "Sum(O.Amount)"),
                       queryRow(8, {}, chained), queryRow(11, {}, single, "D"), queryRow(8, {}, "O.Currency = '€'")};
    first.queryRows[4].order = Bytes{0xAB, 0xCD};
    first.queryRows[5].deleted = true;
    first.queryRows[7].overflow = true;
    if (!jet3) first.queryRows[2].lvExtra = 7;
    CatalogObject second;
    second.name = "Union Query";
    second.kind = ObjectKind::Query;
    second.queryFlags = 128;
    second.queryRows = {queryRow(1, 9), queryRow(5, {}, "SELECT 1", {}, "X1"), queryRow(5, {}, "SELECT 2", {}, "X2")};
    db.objects = {first, second};
    Layout layout;
    const std::string file = save(db, &layout);
    ASSERT_GT(layout.queryPages.size(), 3u);

    std::map<std::string, std::vector<Cell>> byName;  // Name -> (Id, Flags)
    for (const auto& row : mdbExport(file, "MSysObjects")) byName[row[2].value_or("")] = {row[0], row[7]};
    EXPECT_EQ(byName["MSysACEs"][0], Cell("3"));
    EXPECT_EQ(byName["MSysQueries"][0], Cell("4"));
    EXPECT_EQ(byName["MSysRelationships"][0], Cell("5"));
    EXPECT_EQ(byName["Union Query"][1], Cell("128"));
    const Cell firstId = byName["Orders Query"][0], secondId = byName["Union Query"][0];

    // mdb-export prints a binary value that begins with a zero byte as
    // nothing, as it does for the counted Order values of Access's own
    // files; only the explicit Order shows.
    auto expect = [&](const Cell& id, int attribute, const char* order, Cell name1, Cell name2, Cell expression,
                      Cell flag, Cell lvExtra = std::nullopt) {
        const Cell shown = order[0] == '0' && order[1] == '0' ? Cell() : Cell(order);
        std::vector<Cell> r = {id, std::to_string(attribute), shown, name1, name2, expression, flag};
        if (!jet3) r.push_back(lvExtra);
        return r;
    };
    const Cell none;
    Rows expected = {
        expect(firstId, 0, "00000001", none, none, none, "0"),
        expect(firstId, 255, "00000001", none, none, none, none),
        expect(firstId, 1, "00000001", none, none, none, "1", jet3 ? none : Cell("7")),
        expect(firstId, 5, "00000001", "Orders", "O", none, none),
        expect(firstId, 6, "ABCD", "Amount", none, "O.Amount", "0"),
        expect(firstId, 8, "00000001", none, none, chained, none),
        expect(firstId, 11, "00000001", "D", none, single, none),
        expect(firstId, 8, "00000002", none, none, "O.Currency = '€'", none),
        expect(secondId, 1, "00000001", none, none, none, "9"),
        expect(secondId, 5, "00000001", none, "X1", "SELECT 1", none),
        expect(secondId, 5, "00000002", none, "X2", "SELECT 2", none),
    };
    Rows actual = mdbExport(file, "MSysQueries");
    std::sort(expected.begin(), expected.end());
    std::sort(actual.begin(), actual.end());
    EXPECT_EQ(actual, expected);
    if (oracle::haveMdbReader()) {
        // Order is left out: mdb-export prints a binary value only up to its first zero byte.
        std::vector<std::string> columns = {"ObjectId", "Attribute", "Name1", "Name2", "Expression", "Flag"};
        if (!jet3) columns.push_back("LvExtra");
        EXPECT_EQ(mdbReaderColumns(file, "MSysQueries", columns), mdbExportColumns(file, "MSysQueries", columns));
    }
}

// More pages than an inline usage map covers: the map becomes a list of
// bitmap pages.
TEST_P(MdbToolsReads, TableBeyondAnInlineUsageMap) {
    Database db;
    db.format = GetParam();
    Table t;
    t.name = "Spread";
    t.columns = {column("ID", kLong), column("Label", kText, 20)};
    t.rowsPerPage = 1;
    const size_t rows = GetParam() == Format::Jet3 ? 1100 : 600;  // inline maps cover 1024 / 512 pages
    t.generatedRows = rows;
    t.rowSource = [](size_t i, Row& r) { r.values = {int64_t(i), "label " + std::to_string(i)}; };
    db.tables = {t};
    Layout layout;
    std::string path = dir.file("spread.mdb");
    std::vector<uint8_t> image = write(db, &layout);
    saveFile(path, image);
    const TableLayout& tl = layout.tables[0];
    ASSERT_EQ(tl.dataPages.size(), rows);
    // The map row's type byte: 1 = list of bitmap pages.
    const size_t ps = layout.pageSize, slots = GetParam() == Format::Jet3 ? 10 : 14;
    const uint8_t* page = image.data() + size_t(tl.usageMapPage) * ps;
    size_t rowStart = (page[slots + 2 * tl.usageMapRow] | page[slots + 1 + 2 * tl.usageMapRow] << 8) & 0x1FFF;
    EXPECT_EQ(page[rowStart], 1);
    Rows actual = mdbExport(path, "Spread");
    ASSERT_EQ(actual.size(), rows);
    EXPECT_EQ(actual.back(), (std::vector<Cell>{std::to_string(rows - 1), "label " + std::to_string(rows - 1)}));
    if (oracle::haveMdbReader()) {
        SCOPED_TRACE("mdb-reader");
        expectReaderRows(oracle::mdbReaderDump(path, {"Spread"})["tables"]["Spread"], db.tables[0], false);
    }
}

// An append-only memo's hidden version-history column: both oracles read the
// owner table and the value table with the rows the writer stored.
TEST(MdbToolsReadsAce, AppendOnlyMemoHistory) {
    if (!haveMdbTools()) GTEST_SKIP() << "mdbtools not installed";
    TempDir dir;
    const Database db = appendOnlyMemoDatabase();
    const std::string path = dir.file("history.accdb");
    saveFile(path, write(db));
    const Table& notes = db.tables[0];
    const Table& history = db.tables[1];
    EXPECT_EQ(mdbTables(path), (std::vector<std::string>{"Notes"}));
    const std::vector<std::string> system = mdbTables(path, true);
    EXPECT_NE(std::find(system.begin(), system.end(), history.name), system.end());
    EXPECT_EQ(mdbExport(path, notes.name), expectedRows(db.format, notes));
    EXPECT_EQ(mdbExport(path, history.name), expectedRows(db.format, history));
    if (oracle::haveMdbReader()) {
        SCOPED_TRACE("mdb-reader");
        expectReaderRows(oracle::mdbReaderDump(path, {history.name}, true)["tables"][history.name], history, false);
        // mdb-reader reads complex columns as attachments only: the owner
        // table's other columns are read, the hidden column is marked.
        const nlohmann::json owner = oracle::mdbReaderDump(path, {notes.name})["tables"][notes.name];
        ASSERT_EQ(owner["rows"].size(), notes.rows.size());
        for (size_t r = 0; r < notes.rows.size(); ++r) {
            EXPECT_EQ(owner["rows"][r][0], std::get<int64_t>(notes.rows[r].values[0]));
            EXPECT_EQ(owner["rows"][r][1], expectedReaderCell(notes.columns[1], notes.rows[r].values[1]));
            EXPECT_TRUE(owner["rows"][r][2].contains("error")) << owner["rows"][r][2].dump();
        }
    }
}

// The object storage's table: the chunk rows (Jet 3, Jet 4) or the storage
// rows (ACE) are rows mdbtools reads like any other.
TEST_P(MdbToolsReads, ObjectStorageTable) {
    Database db;
    db.format = GetParam();
    db.objectStorage = demoObjectStorage();
    Layout layout;
    std::string path = dir.file(GetParam() == Format::Ace ? "storage.accdb" : "storage.mdb");
    saveFile(path, write(db, &layout));
    const bool ace = GetParam() == Format::Ace;
    const std::string table = ace ? "MSysAccessStorage" : "MSysAccessObjects";
    const std::vector<std::string> tables = mdbTables(path, true);
    ASSERT_NE(std::find(tables.begin(), tables.end(), table), tables.end());
    Rows rows = mdbExport(path, table);
    if (oracle::haveMdbReader()) {
        // mdb-export prints a binary value only up to its first zero byte:
        // the chunks are compared whole with what the writer laid down.
        const std::vector<std::string> columns =
            ace ? std::vector<std::string>{"Id", "Lv", "Name", "ParentId", "Type"} : std::vector<std::string>{"ID"};
        EXPECT_EQ(mdbReaderColumns(path, table, columns), mdbExportColumns(path, table, columns));
        if (!ace) {
            std::map<int, std::string> chunks;
            for (const auto& r : mdbReaderColumns(path, table, {"ID", "Data"}))
                if (r[0] && r[1]) chunks[std::stoi(*r[0])] = *r[1];
            std::string joined;
            for (const auto& [id, data] : chunks)
                if (id > 0) joined += data;
            EXPECT_EQ(joined.substr(0, 2 * layout.compoundFile.size()), hex(layout.compoundFile));
        }
    }
    if (ace) {
        // The root, the scratch entry, then a row per storage and stream.
        std::set<std::string> paths;
        for (const StorageNode& n : db.objectStorage) {
            std::string prefix;
            size_t from = 0;
            while (true) {
                const size_t to = n.path.find('/', from);
                prefix = n.path.substr(0, to);
                paths.insert(prefix);
                if (to == std::string::npos) break;
                from = to + 1;
            }
        }
        ASSERT_EQ(rows.size(), paths.size() + 2);
        EXPECT_EQ(mdbExportHeader(path, table),
                  (std::vector<std::string>{"DateCreate", "DateUpdate", "Id", "Lv", "Name", "ParentId", "Type"}));
        EXPECT_EQ(rows[0][4], Cell("MSysAccessStorage_ROOT"));
        EXPECT_EQ(rows[2][4], Cell("Forms"));
        EXPECT_EQ(rows[2][5], Cell("1"));
    } else {
        const size_t chunk = GetParam() == Format::Jet3 ? 241 : 3992;
        const size_t chunks = (layout.compoundFile.size() + chunk - 1) / chunk;
        ASSERT_EQ(rows.size(), chunks + 1);
        std::set<std::string> ids;
        for (const auto& r : rows) ids.insert(*r[1]);
        EXPECT_EQ(ids.size(), chunks + 1);
        EXPECT_TRUE(ids.count("1") && ids.count(std::to_string(chunks)));
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, MdbToolsReads, ::testing::Values(Format::Jet3, Format::Jet4, Format::Ace),
                         [](const auto& info) { return std::string(formatName(info.param)); });

}  // namespace
}  // namespace jwtest
