// The commands on databases written by jetwriter: what catalog reports must
// match the description the file was written from, the options must reach
// the scan, and the built program must behave as the in-process commands do.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/Catalog.h"
#include "jetwriter/JetWriter.h"
#include "tests/cli/CliFixtures.h"
#include "tests/cli/CliTestSupport.h"
#include "tests/support/TestSupport.h"

namespace talmera::cli::test {
namespace {

using json = nlohmann::ordered_json;
using talmera::test::TempDir;

json catalogOf(std::vector<std::string> args) {
    args.insert(args.begin(), {"catalog", "--json"});
    const CommandResult r = runTool(args);
    EXPECT_EQ(r.status, kExitOk) << r.err;
    EXPECT_EQ(r.err, "");
    return json::parse(r.out);
}

bool isUserTable(const jetwriter::Table& table) { return !table.system && table.tableType == 0x4E; }

std::vector<std::string> objectNames(const jetwriter::Database& db, jetwriter::ObjectKind kind) {
    std::vector<std::string> names;
    for (const auto& object : db.objects) {
        if (object.kind == kind && !object.system) names.push_back(object.name);
    }
    return names;
}

std::multiset<std::string> sorted(const json& names) { return {names.begin(), names.end()}; }

std::multiset<std::string> namesOf(const json& list, const char* key = "name") {
    std::multiset<std::string> names;
    for (const json& item : list) names.insert(item.at(key).get<std::string>());
    return names;
}

TEST(CatalogCommandTest, JsonDescribesTheDemoDatabase) {
    struct Case {
        jetwriter::Format format;
        const char* name;
        int pageSize;
    };
    for (const Case c : {Case{jetwriter::Format::Jet3, "jet3", 2048}, Case{jetwriter::Format::Jet4, "jet4", 4096},
                         Case{jetwriter::Format::Ace, "ace", 4096}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const jetwriter::Database db = jetwriter::demoDatabase(c.format);
        const json catalog = catalogOf({writeDatabase(dir, "demo.mdb", db)});

        std::vector<std::string> keys;
        for (const auto& item : catalog.items()) keys.push_back(item.key());
        EXPECT_EQ(keys, (std::vector<std::string>{"format", "pageSize", "tables", "queries", "linkedTables", "relations",
                                                  "forms", "reports", "macros", "modules"}));
        EXPECT_EQ(catalog["format"], c.name);
        EXPECT_EQ(catalog["pageSize"], c.pageSize);

        std::map<std::string, json> tables;
        for (const json& table : catalog["tables"]) tables[table["name"]] = table;
        size_t userTables = 0;
        for (const jetwriter::Table& expected : db.tables) {
            if (!isUserTable(expected)) continue;
            ++userTables;
            SCOPED_TRACE(expected.name);
            ASSERT_TRUE(tables.count(expected.name)) << catalog["tables"].dump();
            const json& table = tables[expected.name];

            uint32_t liveRows = 0;
            for (const jetwriter::Row& row : expected.rows) liveRows += row.deleted ? 0 : 1;
            EXPECT_EQ(table["recordCount"], liveRows);
            if (!expected.rows.empty()) {
                EXPECT_GT(table["pages"].get<size_t>(), 0u);
            }
            EXPECT_EQ(table["unlistedPages"], expected.stalePages);

            std::vector<std::tuple<std::string, int, bool, bool>> want, got;
            for (const jetwriter::Column& column : expected.columns) {
                if (!column.skipped) want.emplace_back(column.name, column.type, column.autoNumber, column.hyperlink);
            }
            for (const json& column : table["columns"]) {
                got.emplace_back(column["name"], column["type"], column["autoNumber"], column["hyperlink"]);
            }
            EXPECT_EQ(got, want) << table["columns"].dump();

            std::map<std::string, json> indexes;
            for (const json& index : table["indexes"]) {
                for (const json& name : index["names"]) indexes[name] = index;
            }
            for (const jetwriter::Index& index : expected.indexes) {
                ASSERT_TRUE(indexes.count(index.name)) << index.name << " in " << table["indexes"].dump();
                EXPECT_EQ(indexes[index.name]["primary"], index.primary) << index.name;
                // Whether a primary key also carries the unique flag is the
                // writer's choice; other indexes must keep theirs.
                if (!index.primary) {
                    EXPECT_EQ(indexes[index.name]["unique"], index.unique) << index.name;
                }
                EXPECT_EQ(indexes[index.name]["columns"].size(), index.columns.size()) << index.name;
            }
        }
        EXPECT_EQ(catalog["tables"].size(), userTables);

        using jetwriter::ObjectKind;
        EXPECT_EQ(namesOf(catalog["queries"]), sorted(objectNames(db, ObjectKind::Query)));
        // Both kinds of link are links; an ODBC link (type 0x0004) is no
        // report (type 0x8004).
        std::vector<std::string> links = objectNames(db, ObjectKind::LinkedTable);
        for (const std::string& name : objectNames(db, ObjectKind::OdbcLink)) links.push_back(name);
        EXPECT_EQ(namesOf(catalog["linkedTables"]), sorted(links));
        EXPECT_EQ(sorted(catalog["reports"]), sorted(objectNames(db, ObjectKind::Report)));
        EXPECT_EQ(sorted(catalog["forms"]), sorted(objectNames(db, ObjectKind::Form)));
        EXPECT_EQ(sorted(catalog["macros"]), sorted(objectNames(db, ObjectKind::Macro)));
        EXPECT_EQ(sorted(catalog["modules"]), sorted(objectNames(db, ObjectKind::Module)));
    }
}

TEST(CatalogCommandTest, ListingShowsEachTableWithItsColumns) {
    TempDir dir;
    const jetwriter::Database db = jetwriter::demoDatabase(jetwriter::Format::Jet4);
    const CommandResult r = runTool({"catalog", writeDatabase(dir, "demo.mdb", db)});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    EXPECT_TRUE(contains(r.out, "Format: Jet 4, page size 4096\n")) << r.out;
    for (const jetwriter::Table& table : db.tables) {
        if (!isUserTable(table)) continue;
        uint32_t liveRows = 0;
        for (const jetwriter::Row& row : table.rows) liveRows += row.deleted ? 0 : 1;
        EXPECT_TRUE(contains(r.out, "\nTable: " + table.name + "\n  Records: " + std::to_string(liveRows) + "\n"))
            << table.name << "\n" << r.out;
        for (const jetwriter::Column& column : table.columns) {
            if (column.skipped) continue;
            EXPECT_TRUE(contains(r.out, "\n    " + column.name + ": " + columnTypeName(column.type)))
                << column.name << "\n" << r.out;
        }
    }
}

// --codepage decodes Access 97 names; --deleted adds the table of deleted
// rows; --include-unlisted-pages takes the pages a table's usage map no
// longer lists.
TEST(CatalogCommandTest, OptionsReachTheScan) {
    TempDir dir;
    jetwriter::Database cyrillic;
    cyrillic.format = jetwriter::Format::Jet3;
    cyrillic.codePage = 1251;
    jetwriter::Table clients;
    clients.name = "Клиенты";
    clients.columns.push_back(column("Имя", jetwriter::kText, 40));
    clients.rows.push_back({.values = {std::string("Анна")}});
    cyrillic.tables.push_back(clients);
    const std::string cyrillicPath = writeDatabase(dir, "cyrillic.mdb", cyrillic);

    const json asCyrillic = catalogOf({cyrillicPath, "--codepage", "1251"});
    ASSERT_EQ(asCyrillic["tables"].size(), 1u);
    EXPECT_EQ(asCyrillic["tables"][0]["name"], "Клиенты");
    EXPECT_EQ(asCyrillic["tables"][0]["columns"][0]["name"], "Имя");
    const json asWestern = catalogOf({cyrillicPath});
    ASSERT_EQ(asWestern["tables"].size(), 1u);
    EXPECT_NE(asWestern["tables"][0]["name"], "Клиенты") << "the default code page is 1252";

    jetwriter::Database stale;
    jetwriter::Table orders;
    orders.name = "Orders";
    orders.columns.push_back(column("ID", jetwriter::kLong));
    for (int64_t id = 1; id <= 3; ++id) orders.rows.push_back({.values = {id}});
    orders.stalePages = 2;
    orders.staleRowsPerPage = 5;
    stale.tables.push_back(orders);
    const std::string stalePath = writeDatabase(dir, "stale.mdb", stale);

    jetwriter::Database withDeleted;
    jetwriter::Table staff;
    staff.name = "Staff";
    staff.columns.push_back(column("ID", jetwriter::kLong));
    for (int64_t id = 1; id <= 4; ++id) staff.rows.push_back({.values = {id}, .deleted = id % 2 == 0});
    withDeleted.tables.push_back(staff);
    const std::string deletedPath = writeDatabase(dir, "deleted.mdb", withDeleted);
    EXPECT_EQ(namesOf(catalogOf({deletedPath})["tables"]), (std::multiset<std::string>{"Staff"}));
    // How many rows the deleted-records table counts is the engine's affair;
    // here it must appear, and only with the option.
    const json recovered = catalogOf({deletedPath, "--deleted"})["tables"];
    ASSERT_EQ(recovered.size(), 2u) << recovered.dump();
    EXPECT_EQ(recovered[0]["name"], "Staff");
    EXPECT_EQ(recovered[0]["recordCount"], 2);
    EXPECT_TRUE(contains(recovered[1]["name"], kDeletedRecordsMarker)) << recovered[1]["name"];

    const json setAside = catalogOf({stalePath})["tables"][0];
    const json included = catalogOf({stalePath, "--include-unlisted-pages"})["tables"][0];
    EXPECT_EQ(setAside["recordCount"], 3);
    EXPECT_EQ(included["recordCount"], 3 + 2 * 5);
    EXPECT_EQ(setAside["unlistedPages"], 2);
    EXPECT_EQ(included["pages"].get<int>(), setAside["pages"].get<int>() + 2);
}

// The built program: main wires the same commands to the real streams, and
// draws no progress bar when standard error is not a terminal.
TEST(ProgramTest, RunsTheCommands) {
    TempDir dir;
    const std::string demo = writeDatabase(dir, "demo.mdb", jetwriter::demoDatabase(jetwriter::Format::Ace));
    const std::string program = talmera::test::shellQuote(TALMERA_REPAIR_PROGRAM);
    const std::string errFile = dir.file("stderr.txt");
    auto errText = [&] {
        std::ifstream in(errFile);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };

    std::string out;
    int status = talmera::test::runCommand(
        program + " catalog --json " + talmera::test::shellQuote(demo) + " 2>" + talmera::test::shellQuote(errFile),
        &out);
    EXPECT_EQ(status, kExitOk);
    EXPECT_EQ(out, runTool({"catalog", "--json", demo}).out);
    EXPECT_EQ(errText(), "");

    // Rows go out in blocks, flushed at the end: all of them arrive.
    status = talmera::test::runCommand(program + " preview --format json " + talmera::test::shellQuote(demo) +
                                           " Orders 2>" + talmera::test::shellQuote(errFile),
                                       &out);
    EXPECT_EQ(status, kExitOk);
    EXPECT_EQ(out, runTool({"preview", "--format", "json", demo, "Orders"}).out);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 301);
    EXPECT_EQ(errText(), "");

    status = talmera::test::runCommand(
        program + " scan " + talmera::test::shellQuote(demo) + " 2>" + talmera::test::shellQuote(errFile), &out);
    EXPECT_EQ(status, kExitOk);
    EXPECT_TRUE(contains(out, "\n[message] ")) << out;
    EXPECT_EQ(errText(), "") << "progress drawn on a standard error that is no terminal";

    status = talmera::test::runCommand(program + " scan " + talmera::test::shellQuote(dir.file("gone.mdb")) + " 2>&1",
                                       &out);
    EXPECT_EQ(status, kExitUnreadable);
    EXPECT_EQ(out, "talmera-repair: cannot read '" + dir.file("gone.mdb") + "': No such file or directory\n");
}

}  // namespace
}  // namespace talmera::cli::test
