// The commands on files they cannot use, their command line, and the filter
// of deleted-records tables. Needs no database fixture.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "cli/Catalog.h"
#include "cli/Repair.h"
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
// but the scan's own log of a file that is no Access database, and no output
// written.
void expectRefused(const std::string& path, int status, const std::string& reason) {
    const std::vector<std::vector<std::string>> commands = {
        {"scan"}, {"catalog"}, {"catalog", "--json"}, {"preview"}, {"queries"}, {"repair"}};
    for (std::vector<std::string> args : commands) {
        const std::string command = args[0] + (args.size() > 1 ? " " + args[1] : "");
        args.push_back(path);
        if (args[0] == "preview") args.push_back("Orders");
        const CommandResult r = runTool(args);
        EXPECT_EQ(r.status, status) << command << " " << path << "\n" << r.err;
        EXPECT_TRUE(contains(r.err, "talmera-repair: " + reason)) << command << "\n" << r.err;
        if ((args[0] != "scan" && args[0] != "repair") || status == kExitUnreadable) {
            EXPECT_EQ(r.out, "") << command << " " << path;
        }
    }
    const std::filesystem::path source(path);
    const auto output = source.parent_path() / ("Repaired_" + source.stem().string() + ".sqlite");
    EXPECT_FALSE(std::filesystem::exists(output)) << output;
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
        {noise, kExitNotAccess, "'" + noise + "' is not an Access database: it starts with the bytes "},
        {empty, kExitNotAccess, "'" + empty + "' is empty (0 bytes): it is not an Access database"},
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
        {{"exprot", "x.mdb"}, kExitUsage, {}, "unknown command 'exprot' (commands: repair, scan, catalog, queries, preview, export"},
        {{"export", "x.mdb", "--format", "xml"}, kExitUsage, {}, "xml not in {csv,tsv,jsonl,sql}"},
        {{"export", "x.mdb", "--output", "a", "--output-dir", "b"}, kExitUsage, {}, "excludes"},
        {{"help", "export"}, kExitOk, {"--format csv|tsv|jsonl|sql", "--ole raw|unwrap", "-I,--insert", "Examples:", "-0,--null"}, ""},
        {{"help"}, kExitOk, {"export", "--no-progress", "--quiet"}, ""},
        {{"repair", "x.mdb", "--overwrite", "--rename"}, kExitUsage, {}, "--overwrite excludes --rename"},
        {{"repair", "x.mdb", "--only"}, kExitUsage, {}, "--only"},
        {{"queries", "x.mdb", "--deleted"}, kExitUsage, {}, "--deleted"},
        {{"scan"}, kExitUsage, {}, "FILE is required"},
        {{"scan", "x.mdb", "--codepage", "99999"}, kExitUsage, {}, "unknown code page 99999"},
        {{"catalog", "x.mdb", "--codepage", "cyrillic"}, kExitUsage, {}, "code page must be a number"},
        {{"scan", "x.mdb", "--json"}, kExitUsage, {}, "--json"},
        {{"preview", "x.mdb"}, kExitUsage, {}, "TABLE is required"},
        {{"preview", "x.mdb", "Orders", "--format", "csv"}, kExitUsage, {}, "csv not in {tsv,json}"},
        {{"catalog", "x.mdb", "--format", "json"}, kExitUsage, {}, "--format"},
        {{"--version"}, kExitOk, {"talmera-repair " TALMERA_VERSION "\n"}, ""},
        {{"--help"}, kExitOk, {"repair", "scan", "catalog", "queries", "preview", "Exit status", "3 (preview)", "4 (repair)", "74 standard output"}, ""},
        {{"repair", "--help"}, kExitOk, {"--output-dir DIR", "--only NAME", "--overwrite", "--rename", "--log REPORT", "--deleted", "File saved at the location  : PATH", "4 the output or the report exists"}, ""},
        {{"queries", "--help"}, kExitOk, {"--json", "--codepage", "\\n", "Exit status"}, ""},
        {{"scan", "--help"}, kExitOk, {"--deleted", "--codepage", "--include-unlisted-pages", "[message] ", "Exit status"}, ""},
        {{"catalog", "--help"}, kExitOk, {"--json", "--deleted", "--codepage", "Exit status"}, ""},
        {{"preview", "--help"}, kExitOk, {"FILE TABLE", "--format tsv|json", "--deleted", "\\t", "3 the file has no table"}, ""},
    };
    for (const Case& c : cases) {
        std::string command;
        for (const std::string& a : c.args) command += a + " ";
        const CommandResult r = runTool(c.args);
        EXPECT_EQ(r.status, c.status) << command << "\n" << r.out << r.err;
        // The help is wrapped to the terminal's width: the words count, not where the lines break.
        const auto flat = [](const std::string& text) {
            std::string out;
            for (char ch : text) {
                const bool space = ch == ' ' || ch == '\n';
                if (!(space && !out.empty() && out.back() == ' ')) out += space ? ' ' : ch;
            }
            return out;
        };
        for (const std::string& part : c.out) EXPECT_TRUE(contains(flat(r.out), flat(part))) << command << "lacks " << part;
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
    deletedOrders.deletedRecords = true;
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

TEST(LogReportTest, NameEndsInLog) {
    const std::pair<std::string, std::string> cases[] = {
        {"report", "report.log"},
        {"report.log", "report.log"},
        {"dir/Report.LoG", "dir/Report.LoG"},
        {"report.txt", "report.txt.log"},
        {"report.log.txt", "report.log.txt.log"},
        {"log", "log.log"},
    };
    for (const auto& [requested, path] : cases) EXPECT_EQ(logReportPath(requested), path) << requested;
}

// UTF-16LE without a byte-order mark, CR LF after every line, the header
// first; what is not UTF-8 becomes U+FFFD, control characters stay.
TEST(LogReportTest, Bytes) {
    using namespace std::string_literals;
    std::string header;
    for (char c : kLogReportHeader) header += c + "\0"s;
    header += "\r\0\n\0"s;
    EXPECT_EQ(logReportBytes({}), header);

    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"Ab 1", "A\0b\0 \0001\0"s},
        {"\t\x01\x7f", "\t\0\x01\0\x7f\0"s},
        {"\xC3\xA9\xE2\x82\xAC", "\xE9\0\xAC\x20"s},          // é €
        {"\xF0\x9F\x98\x80", "\x3D\xD8\x00\xDE"s},              // U+1F600 as a surrogate pair
        {"a\xFFz", "a\0\xFD\xFFz\0"s},                          // a byte that starts nothing
        {"\xC3z", "\xFD\xFFz\0"s},                              // a sequence cut short
        {"\xC0\x80", "\xFD\xFF\xFD\xFF"s},                      // an overlong zero
        {"\xED\xA0\x80", "\xFD\xFF\xFD\xFF\xFD\xFF"s},          // an encoded surrogate
        {"\xE2\x82", "\xFD\xFF\xFD\xFF"s},                      // cut at the end
    };
    for (const auto& [line, bytes] : cases) {
        EXPECT_EQ(logReportBytes({line, "x"}), header + bytes + "\r\0\n\0x\0\r\0\n\0"s) << line;
    }
}

// Names and SQL texts are escaped as preview's cells are, so that every
// query is one line; JSON keeps them as they are.
TEST(QueriesOutputTest, OneLinePerQuery) {
    CQuorvinAccessRecoveryApp app;
    CMDBRecovery engine(app);
    queryInfo& first = engine.queries.emplace_back();
    first.name = "Tab\there";
    first.sqlText = "SELECT *\r\nFROM [C:\\x]\tWHERE 1;";
    engine.queries.emplace_back().name = "No text";

    std::ostringstream tsv;
    printQueries(tsv, engine, false);
    EXPECT_EQ(tsv.str(), "Tab\\there\tSELECT *\\r\\nFROM [C:\\\\x]\\tWHERE 1;\nNo text\t\n");

    std::ostringstream json;
    printQueries(json, engine, true);
    EXPECT_EQ(nlohmann::json::parse(json.str()),
              nlohmann::json::parse(R"([{"name": "Tab\there", "sql": "SELECT *\r\nFROM [C:\\x]\tWHERE 1;"},
                                        {"name": "No text", "sql": ""}])"));
}

}  // namespace
}  // namespace talmera::cli::test
