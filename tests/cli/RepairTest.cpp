// The repair command on databases written by jetwriter: what it saves (read
// back with SQLite itself), what --only selects, how an existing output or
// report is treated, the log report's bytes, a stop during the save, and the
// queries command.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/Catalog.h"
#include "cli/Repair.h"
#include "tests/cli/CliFixtures.h"
#include "tests/cli/CliTestSupport.h"
#include "tests/support/TestSupport.h"

namespace talmera::cli::test {
namespace {

using json = nlohmann::json;
using jetwriter::Format;
using talmera::test::TempDir;
namespace fs = std::filesystem;

const std::string kLongNote(3000, 'n');

// Items: an auto-number, a text with a unique index, a memo (one too long for
// the row), a deleted row. Other: plain rows. A query and a form.
jetwriter::Database shop(Format format, const std::string& itemsName = "Items") {
    jetwriter::Table items;
    items.name = itemsName;
    items.columns = {column("ID", jetwriter::kLong), column("Name", jetwriter::kText, 40),
                     column("Notes", jetwriter::kMemo)};
    items.columns[0].autoNumber = true;
    jetwriter::Index key;
    key.name = "PrimaryKey";
    key.columns = {{0, false}};
    key.primary = true;
    jetwriter::Index byName;
    byName.name = "ByName";
    byName.columns = {{1, false}};
    byName.unique = true;
    items.indexes = {key, byName};
    items.rows = {
        {{int64_t{3}, std::string("bolt"), std::string("short note")}},
        {{int64_t{7}, std::string("nut"), kLongNote}},
        {{int64_t{8}, std::string("gone"), std::monostate{}}, -1, true},
        {{int64_t{12}, std::string("washer"), std::monostate{}}},
    };
    jetwriter::Table other;
    other.name = "Other";
    other.columns = {column("Code", jetwriter::kText, 10)};
    for (const char* code : {"a", "b", "c"}) other.rows.push_back({{std::string(code)}});

    jetwriter::Database db;
    db.format = format;
    db.tables = {items, other};
    // Item List: a select the repair makes a view of.
    auto queryRow = [](uint8_t attribute, std::optional<int> flag, std::optional<std::string> expression = {},
                       std::optional<std::string> name1 = {}) {
        jetwriter::QueryRow r;
        r.attribute = attribute;
        r.flag = flag;
        r.expression = std::move(expression);
        r.name1 = std::move(name1);
        return r;
    };
    jetwriter::CatalogObject query;
    query.name = "Item List";
    query.kind = jetwriter::ObjectKind::Query;
    query.queryRows = {queryRow(0, 0),  queryRow(255, {}), queryRow(1, 1), queryRow(3, 0),
                       queryRow(5, {}, {}, "Items"), queryRow(6, 0, "Items.Name"),
                       queryRow(8, {}, "Items.ID > 5")};
    // The form is listed in the catalog, but the file stores no definition of
    // it (no object storage): a repair that selects it saves with that loss.
    jetwriter::CatalogObject form;
    form.name = "Item Form";
    form.kind = jetwriter::ObjectKind::Form;
    db.objects = {query, form};
    return db;
}

// The status of a repair of the whole shop: its form cannot be saved.
constexpr int kShopSaved = kExitPartial;
const char kSavedWithLosses[] = "talmera-repair: saved with losses; the recovery report in the log says what was lost\n";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> filesIn(const TempDir& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) names.insert(entry.path().filename().string());
    return names;
}

// An output database opened read-only with SQLite itself.
class Output {
public:
    explicit Output(const std::string& path) {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << "SQLite cannot open " << path;
        }
    }
    ~Output() { sqlite3_close(db_); }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // The first column of every result row, as text ("NULL" for NULL).
    std::vector<std::string> column(const std::string& sql) const {
        std::vector<std::string> values;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(db_) << " in " << sql;
            return values;
        }
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
            values.push_back(text ? text : "NULL");
        }
        sqlite3_finalize(statement);
        return values;
    }
    std::string value(const std::string& sql) const {
        const std::vector<std::string> values = column(sql);
        return values.empty() ? "" : values[0];
    }
    // The tables of the recovered data, without SQLite's and the engine's own.
    std::set<std::string> tables() const {
        const std::vector<std::string> names = column(
            "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
            "AND name NOT LIKE '\\_talmera\\_%' ESCAPE '\\'");
        return {names.begin(), names.end()};
    }
    int64_t count(const std::string& table) const {
        return std::stoll(value("SELECT count(*) FROM \"" + table + "\""));
    }

private:
    sqlite3* db_ = nullptr;
};

std::string savedAt(const std::string& path) { return std::string(kSavedAtPrefix) + path; }

// Every table the catalog lists is in the output with as many records as it
// counts; the last line names the output.
TEST(RepairCommandTest, SavesEveryTableIntoSqlite) {
    for (Format format : {Format::Jet3, Format::Jet4, Format::Ace}) {
        for (bool deleted : {false, true}) {
            SCOPED_TRACE(std::string(format == Format::Jet3 ? "jet3" : format == Format::Jet4 ? "jet4" : "ace") +
                         (deleted ? " --deleted" : ""));
            TempDir dir;
            const std::string path = writeDatabase(dir, "shop.mdb", shop(format));
            fs::create_directory(dir.file("out"));
            std::vector<std::string> args{"repair", path, "--output-dir", dir.file("out")};
            std::vector<std::string> catalogArgs{"catalog", "--json", path};
            if (deleted) {
                args.push_back("--deleted");
                catalogArgs.push_back("--deleted");
            }
            const CommandResult catalog = runTool(catalogArgs);
            ASSERT_EQ(catalog.status, kExitOk) << catalog.err;
            std::map<std::string, int64_t> expected;
            const json tables = json::parse(catalog.out)["tables"];
            for (const json& table : tables) {
                expected[table["name"]] = table["recordCount"];
            }
            // Deleted records are recovered from Jet 4 and ACE files only.
            ASSERT_EQ(expected.size(), deleted && format != Format::Jet3 ? 3u : 2u) << catalog.out;

            const CommandResult r = runTool(args);
            ASSERT_EQ(r.status, kShopSaved) << r.err;
            EXPECT_EQ(r.err, kSavedWithLosses);
            const std::string output = dir.file("out/Repaired_shop.sqlite");
            const std::vector<std::string> printed = lines(r.out);
            ASSERT_FALSE(printed.empty());
            EXPECT_EQ(printed.back(), savedAt(output));
            EXPECT_TRUE(contains(r.out, "\nFile selected for repair  : " + path + "\n")) << "the scan's log";
            EXPECT_TRUE(contains(r.out, "\nSaving Table.....  Items\n")) << "the save's log";
            EXPECT_EQ(filesIn(dir), (std::set<std::string>{"shop.mdb", "out"})) << "nothing beside the source";

            Output db(output);
            std::set<std::string> names;
            for (const auto& [name, count] : expected) names.insert(name);
            EXPECT_EQ(db.tables(), names);
            for (const auto& [name, count] : expected) EXPECT_EQ(db.count(name), count) << name;
            // A save reads long values whole, where a preview shows placeholders.
            EXPECT_EQ(db.value("SELECT Notes FROM Items WHERE ID = 7"), kLongNote);
            EXPECT_EQ(db.column("SELECT ID FROM Items ORDER BY ID"), (std::vector<std::string>{"3", "7", "12"}));
        }
    }
}

TEST(RepairCommandTest, OnlySavesTheNamedObjects) {
    struct Case {
        std::vector<std::string> options;
        int status;
        std::set<std::string> tables;  // of the output, when saved
        std::string err;               // part of standard error
    };
    const std::string deletedItems = "Items" + std::string(kDeletedRecordsMarker);
    const Case cases[] = {
        {{"--only", "Other"}, kExitOk, {"Other"}, ""},
        // A name given twice, a query beside a table.
        {{"--only", "Items", "--only", "Item List", "--only", "Items"}, kExitOk, {"Items"}, ""},
        // A form is selected but cannot be written without Microsoft Access.
        {{"--only", "Item Form"}, kExitPartial, {}, "saved with losses"},
        {{"--only", deletedItems, "--deleted"}, kExitOk, {deletedItems}, ""},
        {{"--only", "Nope", "--only", "Other", "--only", "Gone"}, kExitNoSuchTable, {},
         "talmera-repair: no object 'Nope' in '"},
        {{"--only", "items"}, kExitNoSuchTable, {}, "no object 'items'"},
        {{"--only", deletedItems}, kExitNoSuchTable, {},
         "no object '" + deletedItems + "' in '%s' (it is a table of deleted records: add --deleted)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options[1]);
        TempDir dir;
        const std::string path = writeDatabase(dir, "shop.mdb", shop(Format::Jet4));
        std::vector<std::string> args{"repair", path};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const CommandResult r = runTool(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        std::string err = c.err;
        if (const size_t at = err.find("%s"); at != std::string::npos) err.replace(at, 2, path);
        EXPECT_TRUE(contains(r.err, err)) << r.err;
        const std::string output = dir.file("Repaired_shop.sqlite");
        if (c.status != kExitOk && c.status != kExitPartial) {
            EXPECT_FALSE(fs::exists(output)) << "written before the names were checked";
            if (c.options[1] == "Nope") {
                EXPECT_TRUE(contains(r.err, "no object 'Gone'")) << "every unknown name is named";
                EXPECT_FALSE(contains(r.err, "'Other'"));
            }
            continue;
        }
        EXPECT_EQ(Output(output).tables(), c.tables);
    }
}

// An existing output is replaced or renamed only when the command line or the
// person at the terminal says so; otherwise nothing at all is written.
TEST(RepairCommandTest, AnExistingOutputIsKeptUnlessAllowed) {
    enum class Result { Refused, Replaced, Beside };
    struct Case {
        std::vector<std::string> options;
        const char* answers;  // null: no terminal
        Result result;
        bool askedOverwrite;
        bool askedNewName;
    };
    const Case cases[] = {
        {{}, nullptr, Result::Refused, false, false},
        {{"--overwrite"}, nullptr, Result::Replaced, false, false},
        {{"--rename"}, nullptr, Result::Beside, false, false},
        {{}, "y\n", Result::Replaced, true, false},
        {{}, " YES \n", Result::Replaced, true, false},
        {{}, "n\ny\n", Result::Beside, true, true},
        {{}, "\nn\n", Result::Refused, true, true},
        // End of input is a no, and ends the questions.
        {{}, "", Result::Refused, true, false},
        // The options answer before anyone is asked.
        {{"--rename"}, "y\n", Result::Beside, false, false},
        {{"--overwrite"}, "n\n", Result::Replaced, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.options.empty() ? "" : c.options[0]) + " answers: " + (c.answers ? c.answers : "(none)"));
        TempDir dir;
        const std::string path = writeDatabase(dir, "shop.mdb", shop(Format::Jet4));
        const std::string output = dir.file("Repaired_shop.sqlite");
        talmera::test::writeFile(output, {'k', 'e', 'e', 'p'});
        std::vector<std::string> args{"repair", path};
        args.insert(args.end(), c.options.begin(), c.options.end());
        std::string answers = c.answers ? c.answers : "";
        const CommandResult r = runTool(args, c.answers ? &answers : nullptr);

        std::set<std::string> others = filesIn(dir);
        others.erase("shop.mdb");
        others.erase("Repaired_shop.sqlite");
        EXPECT_LE(others.size(), 1u);
        const std::string beside = others.empty() ? "" : dir.file(*others.begin());

        const std::string overwriteQuestion = "Overwrite " + output + "? [y/N] ";
        EXPECT_EQ(r.err.rfind(overwriteQuestion, 0) == 0, c.askedOverwrite) << r.err;
        EXPECT_EQ(contains(r.err, "Save as " + dir.file("Repaired_shop_")), c.askedNewName) << r.err;
        if (!c.askedOverwrite && !c.askedNewName) {
            EXPECT_FALSE(contains(r.err, "[y/N]")) << r.err;
        }

        switch (c.result) {
            case Result::Refused:
                EXPECT_EQ(r.status, kExitExists);
                EXPECT_EQ(readFile(output), "keep");
                EXPECT_TRUE(others.empty());
                EXPECT_TRUE(contains(r.err, "'" + output + "'")) << r.err;
                if (!c.answers) {
                    EXPECT_TRUE(contains(r.err, "--overwrite") && contains(r.err, "--rename")) << r.err;
                    EXPECT_EQ(r.out, "") << "refused before the scan";
                }
                break;
            case Result::Replaced:
                EXPECT_EQ(r.status, kShopSaved) << r.err;
                EXPECT_TRUE(others.empty());
                EXPECT_EQ(lines(r.out).back(), savedAt(output));
                EXPECT_EQ(Output(output).count("Items"), 3);
                break;
            case Result::Beside:
                EXPECT_EQ(r.status, kShopSaved) << r.err;
                EXPECT_EQ(readFile(output), "keep");
                EXPECT_TRUE(std::regex_match(
                    beside, std::regex(R"(.*/Repaired_shop_[A-Z][a-z]+_\d\d_\d{4} \d\d_\d\d_\d\d [AP]M\.sqlite)")))
                    << beside;
                if (c.askedNewName) {
                    EXPECT_TRUE(contains(r.err, "Save as " + beside + " instead? [y/N] ")) << r.err;
                }
                EXPECT_EQ(lines(r.out).back(), savedAt(beside));
                EXPECT_EQ(Output(beside).count("Items"), 3);
                break;
        }
    }
}

TEST(RepairCommandTest, AnExistingReportIsReplacedOnlyWithOverwrite) {
    TempDir dir;
    const std::string path = writeDatabase(dir, "shop.mdb", shop(Format::Jet4));
    const std::string report = dir.file("report.log");
    talmera::test::writeFile(report, {'o', 'l', 'd'});

    CommandResult r = runTool({"repair", path, "--log", dir.file("report")});
    EXPECT_EQ(r.status, kExitExists);
    EXPECT_TRUE(contains(r.err, "'" + report + "'")) << r.err;
    EXPECT_EQ(readFile(report), "old");
    EXPECT_EQ(filesIn(dir), (std::set<std::string>{"shop.mdb", "report.log"})) << "nothing written";

    r = runTool({"repair", path, "--log", report, "--overwrite"});
    EXPECT_EQ(r.status, kShopSaved) << r.err;
    EXPECT_NE(readFile(report), "old");
}

// An output or report that cannot be written is status 1; a missing folder is
// found before the scan, whatever else the output's creation refuses after it.
TEST(RepairCommandTest, RefusesAnOutputItCannotWrite) {
    struct Case {
        std::vector<std::string> options;
        std::string err;
        bool scanned;
    };
    const Case cases[] = {
        {{"--output-dir", "%d/missing"}, "talmera-repair: cannot write '%d/missing/Repaired_shop.sqlite': No such file or directory\n", false},
        {{"--output-dir", "%d/shop.mdb"}, "talmera-repair: cannot write '%d/shop.mdb/Repaired_shop.sqlite': Not a directory\n", false},
        {{"--log", "%d/missing/report"}, "talmera-repair: cannot write '%d/missing/report.log': No such file or directory\n", false},
        // A folder in the output's place cannot be replaced.
        {{"--output-dir", "%d/out", "--overwrite"},
         "talmera-repair: cannot create the output '%d/out/Repaired_shop.sqlite'\n  The existing output %d/out/Repaired_shop.sqlite cannot be replaced: Is a directory\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options[1]);
        TempDir dir;
        const std::string path = writeDatabase(dir, "shop.mdb", shop(Format::Jet4));
        fs::create_directories(dir.file("out/Repaired_shop.sqlite"));
        const auto expand = [&](std::string text) {
            for (size_t at = text.find("%d"); at != std::string::npos; at = text.find("%d")) {
                text.replace(at, 2, dir.path().string());
            }
            return text;
        };
        std::vector<std::string> args{"repair", path};
        for (const std::string& option : c.options) args.push_back(expand(option));
        const CommandResult r = runTool(args);
        EXPECT_EQ(r.status, kExitUnreadable);
        EXPECT_EQ(r.err, expand(c.err));
        EXPECT_EQ(!r.out.empty(), c.scanned) << r.out;
        EXPECT_EQ(filesIn(dir), (std::set<std::string>{"shop.mdb", "out"}));
    }
}

// UTF-16LE back to UTF-8, independently of the program's encoder.
std::string fromUtf16(const std::string& bytes) {
    std::string text;
    auto put = [&](uint32_t c) {
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text += static_cast<char>(0xE0 | (c >> 12));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (c >> 18));
            text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        uint32_t unit = static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8;
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
            const uint32_t low = static_cast<uint8_t>(bytes[i + 2]) | static_cast<uint8_t>(bytes[i + 3]) << 8;
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        put(unit);
    }
    return text;
}

// The report's text expected after a run that printed `out`: the header, then
// the log lines (standard output without the message boxes and the location).
std::string expectedReport(const std::string& out) {
    std::string text = std::string(kLogReportHeader) + "\r\n";
    for (const std::string& line : lines(out)) {
        if (line.rfind(kMessagePrefix, 0) != 0 && line.rfind(kSavedAtPrefix, 0) != 0) text += line + "\r\n";
    }
    return text;
}

// The report: UTF-16LE without a byte-order mark, CR LF after every line, the
// header first, then the very log lines standard output showed.
TEST(RepairCommandTest, WritesTheLogReport) {
    for (const char* requested : {"report", "report.LOG"}) {
        SCOPED_TRACE(requested);
        TempDir dir;
        const std::string path = writeDatabase(dir, "shop.mdb", shop(Format::Ace, "Prix € Ärger"));
        const CommandResult r = runTool({"repair", path, "--log", dir.file(requested)});
        ASSERT_EQ(r.status, kShopSaved) << r.err;
        const std::string reportName = std::string(requested) == "report" ? "report.log" : requested;
        EXPECT_EQ(filesIn(dir), (std::set<std::string>{"shop.mdb", "Repaired_shop.sqlite", reportName}));

        const std::string bytes = readFile(dir.file(reportName));
        ASSERT_EQ(bytes.size() % 2, 0u);
        ASSERT_GE(bytes.size(), 2u);
        EXPECT_EQ(bytes.substr(0, 2), std::string("Q\0", 2)) << "no byte-order mark";
        EXPECT_EQ(bytes.substr(bytes.size() - 4), std::string("\r\0\n\0", 4));

        EXPECT_TRUE(contains(r.out, "\nSaving Table.....  Prix € Ärger\n")) << r.out;
        EXPECT_EQ(fromUtf16(bytes), expectedReport(r.out));
    }
}

// Raises SIGINT, as Ctrl-C does, when the save announces its second table.
class InterruptingBuffer : public std::stringbuf {
protected:
    int sync() override {
        if (!raised_ && str().find("Saving Table.....") != str().rfind("Saving Table.....")) {
            raised_ = true;
            std::raise(SIGINT);
        }
        return 0;
    }

private:
    bool raised_ = false;
};

// A stop during the save keeps the tables written so far in a sound output,
// and the report of what was logged until then.
TEST(RepairCommandTest, StopDuringTheSaveKeepsWhatWasWritten) {
    TempDir dir;
    const std::string path = writeDatabase(dir, "shop.mdb", shop(Format::Jet4));
    const std::string report = dir.file("report.log");
    InterruptingBuffer buffer;
    std::ostream out(&buffer);
    out << std::unitbuf;  // the buffer looks at every line as it is written
    std::ostringstream err;
    installInterruptHandler();
    const std::vector<const char*> argv{"talmera-repair", "repair", path.c_str(), "--log", report.c_str()};
    const int status = runCommandLine(static_cast<int>(argv.size()), argv.data(), Terminal{out, err, false});
    std::signal(SIGINT, SIG_DFL);

    EXPECT_EQ(status, kExitInterrupted) << err.str();
    const std::string output = dir.file("Repaired_shop.sqlite");
    EXPECT_TRUE(contains(err.str(), "stopped; '" + output + "' keeps what was written")) << err.str();
    EXPECT_FALSE(contains(buffer.str(), std::string(kSavedAtPrefix)));
    // Two tables announced; the second one's records never counted.
    std::vector<std::string> saved;
    bool secondCounted = false;
    for (const std::string& line : lines(buffer.str())) {
        if (line.rfind("Saving Table.....  ", 0) == 0) saved.push_back(line.substr(19));
        if (saved.size() == 2 && line.rfind("Total record(s) Repaired", 0) == 0) secondCounted = true;
    }
    ASSERT_EQ(saved.size(), 2u) << buffer.str();
    EXPECT_FALSE(secondCounted) << buffer.str();

    Output db(output);
    EXPECT_EQ(db.value("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(db.count(saved[0]), 3) << "the first table is complete";
    EXPECT_EQ(db.count(saved[1]), 0);
    EXPECT_EQ(fromUtf16(readFile(report)), expectedReport(buffer.str()));
}

// The recovery report of the demo with a data page of Orders and the
// definition page of Customers zeroed: status 5, Orders 300 claimed and 232
// recovered, Customers lost with its reason, and every number of the report
// equal to what the output holds. The undamaged demo: status 0, complete.
TEST(RepairCommandTest, TheRecoveryReportSaysWhatWasLost) {
    struct Case {
        std::vector<uint32_t> zeroPages;
        int status;
    };
    for (const Case& c : {Case{{25, 12}, kExitPartial}, Case{{}, kExitOk}}) {
        SCOPED_TRACE(c.zeroPages.empty() ? "undamaged" : "pages 25 and 12 zeroed");
        TempDir dir;
        jetwriter::Database db = jetwriter::demoDatabase(Format::Jet4);
        // As `talmera-jetwriter demo` writes it; undamaged, with its object
        // storage, so that its form, report, macro and module are saved too.
        if (c.zeroPages.empty()) db.objectStorage = jetwriter::demoObjectStorage();
        jetwriter::Layout layout;
        jetwriter::Bytes image = jetwriter::write(db, &layout);
        jetwriter::Damage damage;
        damage.zeroPages = c.zeroPages;
        jetwriter::applyDamage(image, damage, layout);
        const std::string path = dir.file("hurt.mdb");
        jetwriter::saveFile(path, image);
        const std::string reportPath = dir.file("report.json");
        const CommandResult r = runTool({"repair", path, "--report-json", reportPath});
        ASSERT_EQ(r.status, c.status) << r.err << r.out;
        const json report = json::parse(readFile(reportPath));
        const std::string output = dir.file("Repaired_hurt.sqlite");
        EXPECT_EQ(report["output"], output);
        EXPECT_EQ(report["complete"], c.zeroPages.empty());
        Output db2(output);
        EXPECT_EQ(db2.value("SELECT value FROM _talmera_report WHERE key = 'complete'"), c.zeroPages.empty() ? "1" : "0");
        // What the report counts is what the output holds.
        for (const auto& table : report["tables"]) {
            SCOPED_TRACE(table["name"].get<std::string>());
            if (!table["saved"].get<bool>()) continue;
            EXPECT_EQ(db2.count(table["outputName"].get<std::string>()), table["recoveredRows"].get<int64_t>());
        }
        if (c.zeroPages.empty()) {
            EXPECT_FALSE(contains(r.out, "Recovery report")) << r.out;
            EXPECT_FALSE(contains(r.out, "Completed with losses")) << r.out;
            EXPECT_EQ(report["rowsLost"], 0);
            continue;
        }
        std::map<std::string, json> tables;
        for (const auto& table : report["tables"]) tables[table["name"]] = table;
        ASSERT_TRUE(tables.count("Orders") && tables.count("Customers")) << report.dump(2);
        EXPECT_EQ(tables["Orders"]["expectedRows"], 300);
        EXPECT_EQ(tables["Orders"]["recoveredRows"], 232);
        EXPECT_EQ(tables["Orders"]["lostRows"], 68);
        EXPECT_EQ(tables["Orders"]["unreadablePages"], 1);
        EXPECT_EQ(tables["Customers"]["saved"], false);
        EXPECT_EQ(tables["Customers"]["problems"][0],
                  "its definition page 12 is zeroed: its columns and rows cannot be read");
        EXPECT_EQ(db2.value("SELECT lost_rows FROM _talmera_report_tables WHERE name = 'Orders'"), "68");
        // The log: the losses line after the scan's final message, the
        // summary section after the save's lines.
        EXPECT_TRUE(contains(r.out, "Repairing process successfully completed.\n"
                                    "Completed with losses: 68 rows in 1 table, 1 table unreadable\n")) << r.out;
        EXPECT_TRUE(contains(r.out, "Recovery report\nRows lost  :  68\nTables lost  :  1\n"
                                    "Customers  :  its definition page 12 is zeroed")) << r.out;
    }
}

TEST(QueriesCommandTest, PrintsOneLinePerQuery) {
    jetwriter::Database db = shop(Format::Jet4);
    jetwriter::CatalogObject second;
    second.name = "Totals by Name";
    second.kind = jetwriter::ObjectKind::Query;
    db.objects.push_back(second);
    TempDir dir;
    const std::string path = writeDatabase(dir, "shop.mdb", db);

    CommandResult r = runTool({"queries", path});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> printed = lines(r.out);
    ASSERT_EQ(printed.size(), 2u) << r.out;
    std::set<std::string> names;
    for (const std::string& line : printed) {
        const size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        EXPECT_EQ(line.find('\t', tab + 1), std::string::npos) << "the SQL's tabs are escaped: " << line;
        names.insert(line.substr(0, tab));
    }
    EXPECT_EQ(names, (std::set<std::string>{"Item List", "Totals by Name"}));

    r = runTool({"queries", "--json", path});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    const json queries = json::parse(r.out);
    ASSERT_EQ(queries.size(), 2u);
    for (const json& query : queries) {
        EXPECT_TRUE(names.count(query["name"])) << query;
        EXPECT_TRUE(query["sql"].is_string()) << query;
    }
    // The view's SELECT where the repair makes one: the very text of the
    // repaired database's view.
    EXPECT_EQ(queries[0]["sql"], "SELECT Items.Name  FROM [Items]   WHERE Items.ID > 5 ;");
    EXPECT_EQ(queries[0]["sqlite"], "SELECT \"Items\".\"Name\" AS \"Name\" FROM \"Items\" AS \"Items\" WHERE (\"Items\".\"ID\" > 5)");
    EXPECT_EQ(queries[1].size(), 2u) << "no text, no view";
    r = runTool({"repair", path, "--output-dir", dir.path().string()});
    ASSERT_EQ(r.status, kShopSaved) << r.err;
    Output output(dir.file("Repaired_shop.sqlite"));
    EXPECT_EQ(output.value("SELECT view_sql FROM _talmera_queries WHERE name = 'Item List'"), queries[0]["sqlite"]);
    EXPECT_EQ(output.column("SELECT * FROM \"Item List\""), (std::vector<std::string>{"nut", "washer"}));
}

// Runs the built program with standard output on `outFd`, standard input
// from /dev/null and standard error into `errPath`; returns the exit status.
int runProgram(const std::vector<std::string>& args, int outFd, const std::string& errPath) {
    std::vector<std::string> words{TALMERA_REPAIR_PROGRAM};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A full disk or a reader that went away is reported, with a status of its
// own; the repair's product is its output file, which stays saved.
TEST(ProgramTest, ReportsAFailedStandardOutput) {
    TempDir dir;
    // Enough rows that a preview fails while the rows are still being read.
    const std::string path = writeDatabase(dir, "big.mdb", jetwriter::bigDatabase(Format::Jet4, 4000));
    const std::string withQueries = writeDatabase(dir, "shop.mdb", shop(Format::Jet4));
    const std::string errPath = dir.file("stderr.txt");
    struct Target {
        const char* name;
        std::string reason;
    };
    const Target targets[] = {{"/dev/full", "No space left on device"}, {"a closed pipe", "Broken pipe"}};
    const std::vector<std::vector<std::string>> commands = {
        {"scan", path}, {"catalog", path}, {"catalog", "--json", path}, {"queries", withQueries},
        {"preview", path, "Events"}, {"preview", "--format", "json", path, "Accounts"}};
    for (const Target& target : targets) {
        const auto run = [&](const std::vector<std::string>& args) {
            int fd = -1;
            if (target.name[0] == '/') {
                fd = ::open(target.name, O_WRONLY);
            } else {
                int ends[2];
                if (::pipe(ends) == 0) {
                    ::close(ends[0]);
                    fd = ends[1];
                }
            }
            EXPECT_GE(fd, 0);
            const int status = runProgram(args, fd, errPath);
            ::close(fd);
            return status;
        };
        // A closed pipe ends the program as it ends other tools: by SIGPIPE,
        // with nothing said (runProgram gives -1 for a signal).
        const bool pipe = target.name[0] != '/';
        for (const std::vector<std::string>& args : commands) {
            SCOPED_TRACE(std::string(target.name) + ": " + args[0] + " " + args[1]);
            EXPECT_EQ(run(args), pipe ? -1 : kExitOutputFailed);
            EXPECT_EQ(readFile(errPath), pipe ? "" : "talmera-repair: cannot write to standard output: " + target.reason + "\n");
        }
        SCOPED_TRACE(std::string(target.name) + ": repair");
        EXPECT_EQ(run({"repair", path, "--overwrite"}), kExitOk);
        EXPECT_EQ(readFile(errPath), pipe ? "" : "talmera-repair: cannot write to standard output: " + target.reason +
                                         "\ntalmera-repair: the log above is incomplete; the output was saved all "
                                         "the same\n");
        EXPECT_EQ(Output(dir.file("Repaired_big.sqlite")).count("Events"), 4000);
    }
}

// Standard input is no terminal: nobody can be asked, so nothing is replaced.
TEST(ProgramTest, RepairWithoutATerminalKeepsAnExistingOutput) {
    TempDir dir;
    const std::string path = writeDatabase(dir, "shop.mdb", shop(Format::Jet4));
    const std::string output = dir.file("Repaired_shop.sqlite");
    talmera::test::writeFile(output, {'k', 'e', 'e', 'p'});
    const std::string errPath = dir.file("stderr.txt");
    const int out = ::open(dir.file("stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(out, 0);
    EXPECT_EQ(runProgram({"repair", path}, out, errPath), kExitExists);
    ::close(out);
    EXPECT_EQ(readFile(output), "keep");
    EXPECT_EQ(readFile(dir.file("stdout.txt")), "");
    EXPECT_EQ(readFile(errPath), "talmera-repair: the output '" + output +
                                     "' exists already; nothing was written. Add --overwrite to replace it, or "
                                     "--rename to save beside it under a time-stamped name.\n");
}

}  // namespace
}  // namespace talmera::cli::test
