// Encrypted databases on the command line: --password for every command that
// reads a file, the question at the terminal, the two refusals, and the shared
// encrypted files through catalog, preview and repair.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include "tests/cli/CliFixtures.h"
#include "tests/cli/CliTestSupport.h"
#include "tests/support/TestSupport.h"

namespace talmera::cli::test {
namespace {

using talmera::test::TempDir;
namespace fs = std::filesystem;

const std::string kPassword = "open sesame";

std::string agileFile(const TempDir& dir) {
    jetwriter::Table items;
    items.name = "Items";
    items.columns = {column("ID", jetwriter::kLong), column("Name", jetwriter::kText, 40)};
    for (int i = 1; i <= 3; ++i) items.rows.push_back({{int64_t{i}, "item " + std::to_string(i)}});
    jetwriter::Database db;
    db.format = jetwriter::Format::Ace;
    db.tables = {items};
    db.encryption.method = jetwriter::Encryption::OfficeAgile;
    db.encryption.password = kPassword;
    return writeDatabase(dir, "locked.accdb", db);
}

// The rows of one table of a repaired SQLite file, "a|b" per row.
std::vector<std::string> savedRows(const std::string& file, const std::string& table) {
    sqlite3* db = nullptr;
    std::vector<std::string> rows;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return rows;
    sqlite3_stmt* statement = nullptr;
    const std::string sql = "SELECT * FROM \"" + table + "\"";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            std::string row;
            for (int c = 0; c < sqlite3_column_count(statement); ++c) {
                const unsigned char* text = sqlite3_column_text(statement, c);
                row += (c ? "|" : "") + std::string(text ? reinterpret_cast<const char*>(text) : "NULL");
            }
            rows.push_back(row);
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

// Off a terminal, every command that reads a file refuses an encrypted one
// without its password, and a wrong one, with status 2 and the reason.
TEST(EncryptedCommandsTest, EveryCommandNeedsTheRightPassword) {
    TempDir dir;
    const std::string file = agileFile(dir);
    const std::vector<std::vector<std::string>> commands = {
        {"scan", file}, {"catalog", file}, {"catalog", file, "--json"}, {"queries", file},
        {"preview", file, "Items"}, {"attachments", file, "Items"}, {"objects", file},
        {"repair", file, "--output-dir", dir.path().string()},
    };
    for (const std::vector<std::string>& command : commands) {
        SCOPED_TRACE(command[0]);
        CommandResult missing = runTool(command);
        EXPECT_EQ(missing.status, kExitEncrypted);
        EXPECT_TRUE(contains(missing.err, "'" + file + "' is encrypted: give its password with --password")) << missing.err;
        EXPECT_FALSE(contains(missing.err, "not an Access database"));

        std::vector<std::string> wrong = command;
        wrong.insert(wrong.end(), {"--password", "sesame"});
        CommandResult refused = runTool(wrong);
        EXPECT_EQ(refused.status, kExitEncrypted);
        EXPECT_TRUE(contains(refused.err, "'" + file + "': the password is not correct")) << refused.err;

        std::vector<std::string> right = command;
        right.insert(right.end(), {"--password", kPassword});
        EXPECT_EQ(runTool(right).status, kExitOk) << runTool(right).err;
    }
    EXPECT_FALSE(fs::exists(dir.file("Repaired_locked.sqlite.part")));
}

// At a terminal the password is asked for; a wrong one is asked again, up to
// three times, and the end of input is no answer.
TEST(EncryptedCommandsTest, TheTerminalAsksForThePassword) {
    TempDir dir;
    const std::string file = agileFile(dir);
    const std::string prompt = "Password for '" + file + "': ";

    const std::string secondTime = "wrong\n" + kPassword + "\n";
    CommandResult asked = runTool({"preview", file, "Items"}, &secondTime);
    EXPECT_EQ(asked.status, kExitOk) << asked.err;
    EXPECT_EQ(asked.out, "ID\tName\n1\titem 1\n2\titem 2\n3\titem 3\n");
    EXPECT_EQ(asked.err, prompt + "\nThe password is not correct.\n" + prompt + "\n");

    const std::string threeWrong = "a\nb\nc\n" + kPassword + "\n";
    CommandResult refused = runTool({"catalog", file}, &threeWrong);
    EXPECT_EQ(refused.status, kExitEncrypted);
    EXPECT_TRUE(contains(refused.err, "'" + file + "': the password is not correct")) << refused.err;

    const std::string none;
    CommandResult ended = runTool({"catalog", file}, &none);
    EXPECT_EQ(ended.status, kExitEncrypted);
    EXPECT_TRUE(contains(ended.err, "is encrypted: give its password with --password")) << ended.err;

    // A password on the command line is not asked for.
    CommandResult given = runTool({"catalog", file, "--password", kPassword}, &none);
    EXPECT_EQ(given.status, kExitOk);
    EXPECT_FALSE(contains(given.err, "Password for"));
}

// The repair of an encrypted file: the log names the method, the output is a
// plain SQLite database, and so is its log report.
TEST(EncryptedCommandsTest, RepairLogsTheMethodAndSavesAPlainDatabase) {
    TempDir dir;
    const std::string file = agileFile(dir);
    CommandResult repair =
        runTool({"repair", file, "--password", kPassword, "--output-dir", dir.path().string(), "--log", dir.file("report")});
    ASSERT_EQ(repair.status, kExitOk) << repair.err;
    EXPECT_TRUE(contains(repair.out,
                         "Protection of the file  :  Office agile encryption (AES-256, SHA512); the pages were decoded "
                         "with the password\n"))
        << repair.out;
    const std::string output = dir.file("Repaired_locked.sqlite");
    std::ifstream in(output, std::ios::binary);
    char magic[16] = {};
    in.read(magic, sizeof magic);
    EXPECT_EQ(std::string(magic, 15), "SQLite format 3");
    EXPECT_EQ(savedRows(output, "Items"), (std::vector<std::string>{"1|item 1", "2|item 2", "3|item 3"}));
}

// A file whose header says it is an Access database is never called "not an
// Access database", however little of it can be read.
TEST(EncryptedCommandsTest, AnAccessHeaderIsNeverNotAnAccessDatabase) {
    TempDir dir;
    jetwriter::Database db;
    db.format = jetwriter::Format::Jet4;
    jetwriter::Table t;
    t.name = "T";
    t.columns = {column("A", jetwriter::kLong)};
    db.tables = {t};
    std::vector<uint8_t> image = jetwriter::write(db);
    // Every page but the header is lost.
    std::fill(image.begin() + 4096, image.end(), 0);
    const std::string file = dir.file("headeronly.mdb");
    talmera::test::writeFile(file, image);
    CommandResult result = runTool({"catalog", file});
    EXPECT_EQ(result.status, kExitNotAccess);
    EXPECT_TRUE(contains(result.err, "'" + file + "' has the header of an Access database, but no readable catalog"))
        << result.err;
}

// The shared files, password "password": Table1 holds (1, One), (2, Two),
// (3, Three) through catalog, preview and repair.
TEST(EncryptedCommandsTest, SharedEncryptedFiles) {
    const fs::path folder = talmera::test::encryptedDir();
    if (folder.empty()) GTEST_SKIP() << "no shared encrypted files";
    TempDir dir;
    for (const char* name : {"V2000_with-password.mdb", "V2003_with-password.mdb", "V2010_with-password.accdb",
                             "office-agile-4.2.accdb", "office-agile-4.4.accdb"}) {
        SCOPED_TRACE(name);
        const std::string file = (folder / name).string();
        CommandResult catalog = runTool({"catalog", file, "--password", "password"});
        EXPECT_EQ(catalog.status, kExitOk) << catalog.err;
        EXPECT_TRUE(contains(catalog.out, "Table: Table1\n  Records: 3\n")) << catalog.out;

        CommandResult preview = runTool({"preview", file, "Table1", "--password", "password"});
        EXPECT_EQ(preview.status, kExitOk) << preview.err;
        EXPECT_EQ(preview.out, "ID\tData\n1\tOne\n2\tTwo\n3\tThree\n");

        CommandResult repair = runTool({"repair", file, "--password", "password", "--output-dir", dir.path().string()});
        EXPECT_EQ(repair.status, kExitOk) << repair.err;
        const std::string output = dir.file("Repaired_" + fs::path(name).stem().string() + ".sqlite");
        EXPECT_EQ(savedRows(output, "Table1"), (std::vector<std::string>{"1|One", "2|Two", "3|Three"}));

        // The Jet files keep only a database password: they read without it.
        const bool jet = fs::path(name).extension() == ".mdb";
        CommandResult without = runTool({"preview", file, "Table1"});
        EXPECT_EQ(without.status, jet ? kExitOk : kExitEncrypted) << without.err;
        if (!jet) {
            EXPECT_TRUE(contains(without.err, "is encrypted: give its password with --password"));
            CommandResult wrong = runTool({"preview", file, "Table1", "--password", "Password"});
            EXPECT_EQ(wrong.status, kExitEncrypted);
            EXPECT_TRUE(contains(wrong.err, "the password is not correct"));
        }
    }
}

}  // namespace
}  // namespace talmera::cli::test
