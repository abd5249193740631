// The commands on files they cannot use, their command line, and the filter
// of deleted-records tables. Needs no database fixture.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "cli/Catalog.h"
#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "tests/cli/CliTestSupport.h"
#include "tests/support/TestSupport.h"

namespace talmera::cli::test {
namespace {

using talmera::test::TempDir;
using talmera::test::writeFile;

// Every command refuses a file it cannot use the same way: the status, the
// file's name and the reason on standard error, nothing on standard output
// but the scan's own log of a file that is no Access database.
void expectRefused(const std::string& path, int status, const std::string& reason) {
    const std::vector<std::vector<std::string>> commands = {
        {"scan"}, {"catalog"}, {"catalog", "--json"}, {"preview"}};
    for (std::vector<std::string> args : commands) {
        const std::string command = args[0] + (args.size() > 1 ? " " + args[1] : "");
        args.push_back(path);
        if (args[0] == "preview") args.push_back("Orders");
        const CommandResult r = runTool(args);
        EXPECT_EQ(r.status, status) << command << " " << path << "\n" << r.err;
        EXPECT_TRUE(contains(r.err, "talmera-repair: " + reason)) << command << "\n" << r.err;
        if (args[0] != "scan" || status == kExitUnreadable) {
            EXPECT_EQ(r.out, "") << command << " " << path;
        }
    }
}

TEST(CommandsTest, RefusesUnreadableAndForeignFiles) {
    TempDir dir;
    const std::string missing = dir.file("missing.mdb");
    const std::string folder = dir.file("folder.mdb");
    std::filesystem::create_directory(folder);
    const std::string noise = dir.file("noise.mdb");
    std::vector<uint8_t> bytes(64 * 1024);
    std::mt19937 random(7);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    writeFile(noise, bytes);
    const std::string empty = dir.file("empty.mdb");
    writeFile(empty, {});

    struct Case {
        std::string path;
        int status;
        std::string reason;
    };
    const Case cases[] = {
        {missing, kExitUnreadable, "cannot read '" + missing + "': No such file or directory"},
        {folder, kExitUnreadable, "cannot read '" + folder + "': Is a directory"},
        {noise, kExitNotAccess, "'" + noise + "' is not an Access database"},
        {empty, kExitNotAccess, "'" + empty + "' is not an Access database"},
    };
    for (const Case& c : cases) expectRefused(c.path, c.status, c.reason);
}

TEST(CommandsTest, RefusesAFileWithoutReadPermission) {
    TempDir dir;
    const std::string locked = dir.file("locked.mdb");
    writeFile(locked, std::vector<uint8_t>(4096, 0));
    chmod(locked.c_str(), 0);
    const std::string message = "talmera-repair: cannot read '" + locked + "': Permission denied";
    if (access(locked.c_str(), R_OK) != 0) {
        expectRefused(locked, kExitUnreadable, message);
        return;
    }
    // Root reads anything: run the built program as an unprivileged user instead.
    const std::string asNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups " +
                                 talmera::test::shellQuote(TALMERA_REPAIR_PROGRAM) + " ";
    if (!talmera::test::haveProgram("setpriv") ||
        talmera::test::runCommand(asNobody + "--version >/dev/null 2>&1", nullptr) != 0) {
        GTEST_SKIP() << "running as root, and the program cannot be run as an unprivileged user";
    }
    chmod(dir.path().c_str(), 0755);
    for (const char* command : {"scan", "catalog --json"}) {
        std::string output;
        const int status = talmera::test::runCommand(
            asNobody + command + " " + talmera::test::shellQuote(locked) + " 2>&1", &output);
        EXPECT_EQ(status, kExitUnreadable) << command;
        EXPECT_EQ(output, message + "\n") << command;
    }
}

TEST(CommandsTest, CommandLine) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> out;  // parts of standard output
        std::string err;               // part of standard error
    };
    const Case cases[] = {
        {{}, kExitUsage, {}, "A subcommand is required"},
        {{"repair", "x.mdb"}, kExitUsage, {}, "unknown command 'repair'"},
        {{"scan"}, kExitUsage, {}, "FILE is required"},
        {{"scan", "x.mdb", "--codepage", "99999"}, kExitUsage, {}, "unknown code page 99999"},
        {{"catalog", "x.mdb", "--codepage", "cyrillic"}, kExitUsage, {}, "code page must be a number"},
        {{"scan", "x.mdb", "--json"}, kExitUsage, {}, "--json"},
        {{"preview", "x.mdb"}, kExitUsage, {}, "TABLE is required"},
        {{"preview", "x.mdb", "Orders", "--format", "csv"}, kExitUsage, {}, "csv not in {tsv,json}"},
        {{"catalog", "x.mdb", "--format", "json"}, kExitUsage, {}, "--format"},
        {{"--version"}, kExitOk, {"talmera-repair " TALMERA_VERSION "\n"}, ""},
        {{"--help"}, kExitOk, {"scan", "catalog", "preview", "Exit status", "3 (preview)"}, ""},
        {{"scan", "--help"}, kExitOk, {"--deleted", "--codepage", "--include-unlisted-pages", "[message] ", "Exit status"}, ""},
        {{"catalog", "--help"}, kExitOk, {"--json", "--deleted", "--codepage", "Exit status"}, ""},
        {{"preview", "--help"}, kExitOk, {"FILE TABLE", "--format tsv|json", "--deleted", "\\t", "3 the file has no table"}, ""},
    };
    for (const Case& c : cases) {
        std::string command;
        for (const std::string& a : c.args) command += a + " ";
        const CommandResult r = runTool(c.args);
        EXPECT_EQ(r.status, c.status) << command << "\n" << r.out << r.err;
        for (const std::string& part : c.out) EXPECT_TRUE(contains(r.out, part)) << command << "lacks " << part;
        EXPECT_TRUE(contains(r.err, c.err)) << command << "\n" << r.err;
    }
}

// The deleted-records pass adds tables of its own; they appear only on
// request, with the length of their deleted-row list.
TEST(CatalogOutputTest, ListsDeletedRecordsTablesOnlyOnRequest) {
    CQuorvinAccessRecoveryApp app;
    CMDBRecovery engine(app);
    engine.tables.emplace_back().name = "Orders";
    tableInfo& deletedOrders = engine.tables.emplace_back();
    deletedOrders.name = "Orders (deleted records)";
    deletedOrders.deletedRows.resize(3);
    engine.tables.emplace_back().name = "Staff";
    for (bool deleted : {false, true}) {
        std::vector<std::string> names;
        const auto catalog = catalogJson(engine, app, deleted);
        for (const auto& table : catalog["tables"]) {
            names.push_back(table["name"]);
            EXPECT_EQ(table["deletedRows"], table["name"] == "Orders (deleted records)" ? 3 : 0);
        }
        const std::vector<std::string> expected =
            deleted ? std::vector<std::string>{"Orders", "Orders (deleted records)", "Staff"}
                    : std::vector<std::string>{"Orders", "Staff"};
        EXPECT_EQ(names, expected);

        std::ostringstream listing;
        printCatalogListing(listing, engine, app, deleted);
        EXPECT_EQ(contains(listing.str(), "Table: Orders (deleted records)\n  Records: 0\n  Deleted-row entries: 3\n"),
                  deleted)
            << listing.str();
        EXPECT_TRUE(contains(listing.str(), "Table: Staff\n  Records: 0\n  Deleted-row entries: 0\n")) << listing.str();
    }
}

}  // namespace
}  // namespace talmera::cli::test
