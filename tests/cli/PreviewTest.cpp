// The preview command on databases written by jetwriter: the exact lines of
// both formats, tables of deleted records, a table name the file lacks, as
// many rows as the catalog counts, and the same cells as mdb-export.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/Catalog.h"
#include "tests/cli/CliFixtures.h"
#include "tests/cli/CliTestSupport.h"
#include "tests/support/TestSupport.h"

namespace talmera::cli::test {
namespace {

using json = nlohmann::json;
using jetwriter::Format;
using talmera::test::TempDir;

const std::pair<Format, const char*> kFormats[] = {
    {Format::Jet3, "jet3"}, {Format::Jet4, "jet4"}, {Format::Ace, "ace"}};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

// The cells of a tab-separated line, unescaped.
std::vector<std::string> tsvCells(const std::string& line) {
    std::vector<std::string> cells(1);
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\t') {
            cells.emplace_back();
        } else if (line[i] == '\\' && i + 1 < line.size()) {
            const char c = line[++i];
            cells.back() += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        } else {
            cells.back() += line[i];
        }
    }
    return cells;
}

// NULLs, Yes/No values, a memo, the characters tsv escapes, and a row stored
// before the last two columns were added (a Yes/No then reads No).
TEST(PreviewCommandTest, PrintsTheRowsAsTsvAndJson) {
    jetwriter::Table notes;
    notes.name = "Notes";
    notes.columns = {column("ID", jetwriter::kLong),     column("Name", jetwriter::kText, 40),
                     column("Done", jetwriter::kBool),   column("Body", jetwriter::kMemo),
                     column("Added", jetwriter::kText, 20), column("Checked", jetwriter::kBool)};
    jetwriter::Row older{{int64_t{1}, std::string("plain"), true, std::string("short memo"), std::monostate{},
                          std::monostate{}}};
    older.storedColumns = 4;
    notes.rows = {
        older,
        {{int64_t{2}, std::monostate{}, false, std::monostate{}, std::string("x"), true}},
        {{int64_t{3}, std::string("tab\there"), true, std::string("two\nlines\r\nand a back\\slash"),
          std::string("C:\\dir"), false}},
    };
    const std::string tsv =
        "ID\tName\tDone\tBody\tAdded\tChecked\n"
        "1\tplain\tYes\tshort memo\t\tNo\n"
        "2\t \t \t \tx\tYes\n"
        "3\ttab\\there\tYes\ttwo\\nlines\\r\\nand a back\\\\slash\tC:\\\\dir\t \n";
    const std::string jsonLines =
        R"(["ID","Name","Done","Body","Added","Checked"])" "\n"
        R"(["1","plain","Yes","short memo","","No"])" "\n"
        R"(["2"," "," "," ","x","Yes"])" "\n"
        R"(["3","tab\there","Yes","two\nlines\r\nand a back\\slash","C:\\dir"," "])" "\n";

    for (const auto& [format, name] : kFormats) {
        SCOPED_TRACE(name);
        jetwriter::Database db;
        db.format = format;
        db.tables = {notes};
        TempDir dir;
        const std::string path = writeDatabase(dir, "notes.mdb", db);
        for (const auto& [args, expected] : {std::pair<std::vector<std::string>, std::string>{{}, tsv},
                                             {{"--format", "tsv"}, tsv},
                                             {{"--format", "json"}, jsonLines}}) {
            std::vector<std::string> command{"preview", path, "Notes"};
            command.insert(command.end(), args.begin(), args.end());
            const CommandResult r = runTool(command);
            EXPECT_EQ(r.status, kExitOk) << r.err;
            EXPECT_EQ(r.out, expected);
            EXPECT_EQ(r.err, "");
        }
    }
}

// Dates at both ends of Access's range, 1 January 100 and 31 December 9999,
// show with their four-digit years (the C locale's short date), as does a time
// before 30 December 1899.
TEST(PreviewCommandTest, DatesAtBothEndsOfTheRange) {
    jetwriter::Table t;
    t.name = "Dates";
    t.columns = {column("ID", jetwriter::kLong), column("When", jetwriter::kDateTime)};
    t.rows = {{{int64_t{1}, -657434.0}},
              {{int64_t{2}, 2958465.0 + 86399.0 / 86400.0}},
              {{int64_t{3}, -1.25}}};
    for (const auto& [format, name] : kFormats) {
        SCOPED_TRACE(name);
        jetwriter::Database db;
        db.format = format;
        db.tables = {t};
        TempDir dir;
        const CommandResult r = runTool({"preview", writeDatabase(dir, "dates.mdb", db), "Dates"});
        EXPECT_EQ(r.status, kExitOk) << r.err;
        EXPECT_EQ(r.out, "ID\tWhen\n1\t01/01/0100 00:00:00\n2\t12/31/9999 23:59:59\n3\t12/29/1899 06:00:00\n");
    }
}

// A table of deleted records is shown only with --deleted, with just the rows
// that were deleted; the catalog reports its deleted-row list.
TEST(PreviewCommandTest, ShowsTheDeletedRecordsWithTheOption) {
    for (const auto& [format, name] : {kFormats[1], kFormats[2]}) {
        SCOPED_TRACE(name);
        jetwriter::Table people;
        people.name = "People";
        people.columns = {column("ID", jetwriter::kLong), column("Label", jetwriter::kText, 50)};
        for (int64_t i = 1; i <= 5; ++i) {
            people.rows.push_back({.values = {i, "row " + std::to_string(i)}, .deleted = i == 2 || i == 3});
        }
        jetwriter::Database db;
        db.format = format;
        db.tables = {people};
        TempDir dir;
        const std::string path = writeDatabase(dir, "people.mdb", db);
        const std::string deletedName = "People" + std::string(kDeletedRecordsMarker);

        CommandResult r = runTool({"preview", path, deletedName, "--deleted"});
        EXPECT_EQ(r.status, kExitOk) << r.err;
        EXPECT_EQ(r.out, "ID\tLabel\n2\trow 2\n3\trow 3\n");
        r = runTool({"preview", path, "People", "--deleted"});
        EXPECT_EQ(r.out, "ID\tLabel\n1\trow 1\n4\trow 4\n5\trow 5\n");

        r = runTool({"preview", path, deletedName});
        EXPECT_EQ(r.status, kExitNoSuchTable);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "talmera-repair: no table '" + deletedName + "' in '" + path +
                             "' (it is a table of deleted records: add --deleted); its tables:\n  People\n");

        r = runTool({"catalog", "--json", "--deleted", path});
        ASSERT_EQ(r.status, kExitOk) << r.err;
        const json tables = json::parse(r.out)["tables"];
        ASSERT_EQ(tables.size(), 2u);
        EXPECT_EQ(tables[0]["deletedRows"], 0);
        EXPECT_EQ(tables[1]["name"], deletedName);
        EXPECT_GE(tables[1]["deletedRows"].get<int>(), 2) << "the list holds at least the two deleted slots";
    }
}

TEST(PreviewCommandTest, NamesTheTablesOfTheFileForAnUnknownTable) {
    TempDir dir;
    const std::string demo = writeDatabase(dir, "demo.mdb", jetwriter::demoDatabase(Format::Jet4));
    jetwriter::Database queryOnly;
    jetwriter::CatalogObject query;
    query.name = "Totals";
    query.kind = jetwriter::ObjectKind::Query;
    queryOnly.objects = {query};
    const std::string noTables = writeDatabase(dir, "query.mdb", queryOnly);

    struct Case {
        std::string path;
        std::string table;
        std::string err;
    };
    const Case cases[] = {
        {demo, "Invoices", "talmera-repair: no table 'Invoices' in '" + demo + "'; its tables:\n  Customers\n  Orders\n"},
        // Names are matched exactly.
        {demo, "customers", "talmera-repair: no table 'customers' in '" + demo + "'; its tables:\n  Customers\n  Orders\n"},
        {noTables, "Totals", "talmera-repair: no table 'Totals' in '" + noTables + "'; it has no readable tables\n"},
    };
    for (const Case& c : cases) {
        for (const char* format : {"tsv", "json"}) {
            const CommandResult r = runTool({"preview", c.path, c.table, "--format", format});
            EXPECT_EQ(r.status, kExitNoSuchTable) << c.table;
            EXPECT_EQ(r.out, "") << c.table;
            EXPECT_EQ(r.err, c.err);
        }
    }
}

// Every table the catalog lists yields as many rows as it counts, each with
// a cell per column: tables over several pages, rows of pages the usage map
// no longer lists, deleted records.
TEST(PreviewCommandTest, PrintsAsManyRowsAsTheCatalogCounts) {
    TempDir dir;
    jetwriter::Database stale;
    jetwriter::Table orders;
    orders.name = "Orders";
    orders.columns = {column("ID", jetwriter::kLong), column("Item", jetwriter::kText, 30)};
    for (int64_t id = 1; id <= 40; ++id) orders.rows.push_back({.values = {id, "item " + std::to_string(id)}});
    orders.rows[7].deleted = true;
    orders.rows[20].overflow = true;
    orders.stalePages = 2;
    orders.staleRowsPerPage = 5;
    stale.tables = {orders};
    const std::string stalePath = writeDatabase(dir, "stale.mdb", stale);

    std::vector<std::vector<std::string>> runs = {
        {stalePath, "--deleted"},
        {stalePath, "--deleted", "--include-unlisted-pages"},
    };
    for (const auto& [format, name] : kFormats) {
        runs.push_back({writeDatabase(dir, std::string(name) + ".mdb", jetwriter::demoDatabase(format)), "--deleted"});
    }
    for (const std::vector<std::string>& options : runs) {
        std::vector<std::string> catalogArgs{"catalog", "--json"};
        catalogArgs.insert(catalogArgs.end(), options.begin(), options.end());
        const CommandResult catalog = runTool(catalogArgs);
        ASSERT_EQ(catalog.status, kExitOk) << catalog.err;
        const json tables = json::parse(catalog.out)["tables"];
        ASSERT_FALSE(tables.empty());
        for (const json& table : tables) {
            const std::string tableName = table["name"];
            SCOPED_TRACE(options[0] + " " + tableName + (options.size() > 2 ? " " + options[2] : ""));
            std::vector<std::string> args{"preview", options[0], tableName, "--format", "json"};
            args.insert(args.end(), options.begin() + 1, options.end());
            const CommandResult r = runTool(args);
            ASSERT_EQ(r.status, kExitOk) << r.err;
            const std::vector<std::string> output = lines(r.out);
            ASSERT_FALSE(output.empty());
            EXPECT_EQ(output.size() - 1, table["recordCount"].get<size_t>());
            std::vector<std::string> columns;
            for (const json& c : table["columns"]) columns.push_back(c["name"]);
            EXPECT_EQ(json::parse(output[0]), json(columns));
            for (size_t i = 1; i < output.size(); ++i) {
                EXPECT_EQ(json::parse(output[i]).size(), columns.size()) << output[i];
            }
        }
    }
}

// mdb-export reads the same file: the text and integer cells must agree,
// NULL (a single space in the preview) included.
TEST(PreviewCommandTest, AgreesWithMdbExport) {
    if (!talmera::test::haveProgram("mdb-export")) GTEST_SKIP() << "mdbtools is not installed";
    for (const auto& [format, name] : kFormats) {
        SCOPED_TRACE(name);
        TempDir dir;
        const jetwriter::Database db = jetwriter::demoDatabase(format);
        const std::string path = writeDatabase(dir, "demo.mdb", db);
        for (const jetwriter::Table& table : db.tables) {
            if (table.system) continue;  // a value table is no table of the catalog's list
            SCOPED_TRACE(table.name);
            const CommandResult r = runTool({"preview", path, table.name});
            ASSERT_EQ(r.status, kExitOk) << r.err;
            const std::vector<std::string> output = lines(r.out);
            const auto theirs = talmera::test::mdbExportRows(path, table.name);
            ASSERT_EQ(output.size(), theirs.size() + 1);
            ASSERT_EQ(tsvCells(output[0]).size(), table.columns.size());
            size_t compared = 0;
            for (size_t row = 0; row < theirs.size(); ++row) {
                const std::vector<std::string> ours = tsvCells(output[row + 1]);
                ASSERT_EQ(ours.size(), table.columns.size()) << output[row + 1];
                ASSERT_EQ(theirs[row].size(), table.columns.size());
                for (size_t c = 0; c < table.columns.size(); ++c) {
                    const uint8_t type = table.columns[c].type;
                    if (type != jetwriter::kText && type != jetwriter::kByte && type != jetwriter::kInt &&
                        type != jetwriter::kLong) {
                        continue;
                    }
                    const std::optional<std::string>& cell = theirs[row][c];
                    EXPECT_EQ(ours[c], cell ? *cell : " ") << table.columns[c].name << " of row " << row + 1;
                    ++compared;
                }
            }
            EXPECT_GT(compared, 0u);
        }
    }
}

}  // namespace
}  // namespace talmera::cli::test
