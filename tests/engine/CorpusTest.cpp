// Real Access files: the catalog the engine reads must list the same user
// tables, columns and column types as mdbtools does. Skips when the corpus
// folder or mdbtools is absent.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "tests/support/TestSupport.h"

namespace talmera::test {
namespace {

std::vector<std::filesystem::path> corpusFiles() {
    std::vector<std::filesystem::path> files;
    const auto dir = corpusDir();
    if (dir.empty()) return files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        const auto ext = entry.path().extension();
        if (ext == ".mdb" || ext == ".accdb") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// mdb-schema's type words for the type codes.
int typeCode(const std::string& word) {
    static const std::map<std::string, int> codes = {
        {"Boolean", 0x01}, {"Byte", 0x02}, {"Integer", 0x03}, {"Long Integer", 0x04},
        {"Currency", 0x05}, {"Single", 0x06}, {"Double", 0x07}, {"DateTime", 0x08},
        {"Binary", 0x09}, {"Text", 0x0A}, {"OLE", 0x0B}, {"Memo/Hyperlink", 0x0C},
        {"Replication ID", 0x0F}, {"Numeric", 0x10}};
    auto it = codes.find(word);
    if (it != codes.end()) return it->second;
    if (word.rfind("Unknown_", 0) == 0) return std::stoi(word.substr(8), nullptr, 16);
    return -1;
}

// (name, type code) of every column mdb-schema lists for a table.
std::multiset<std::pair<std::string, int>> mdbtoolsColumns(const std::filesystem::path& file,
                                                           const std::string& table) {
    std::string out;
    runCommand("mdb-schema --no-indexes --no-relations --no-drop-table -T " + shellQuote(table) + " " +
                   shellQuote(file.string()) + " 2>/dev/null",
               &out);
    std::multiset<std::pair<std::string, int>> columns;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() < 2 || line[0] != '\t' || line[1] != '[') continue;
        const size_t close = line.find(']');
        const std::string name = line.substr(2, close - 2);
        std::string type = line.substr(line.find_first_not_of('\t', close + 1));
        for (const char* cut : {" (", ",", " NOT NULL"}) {
            const size_t at = type.find(cut);
            if (at != std::string::npos) type.resize(at);
        }
        while (!type.empty() && type.back() == ' ') type.pop_back();
        columns.insert({name, typeCode(type)});
    }
    return columns;
}

TEST(Corpus, CatalogMatchesMdbtools) {
    const auto files = corpusFiles();
    if (files.empty()) GTEST_SKIP() << "no corpus folder at " << TALMERA_CORPUS_DIR;
    if (!haveProgram("mdb-tables")) GTEST_SKIP() << "mdbtools is not installed";
    for (const auto& file : files) {
        SCOPED_TRACE(file.string());
        std::string out;
        ASSERT_EQ(runCommand("mdb-tables -1 " + shellQuote(file.string()), &out), 0);
        std::set<std::string> expected;
        std::istringstream names(out);
        std::string name;
        while (std::getline(names, name)) {
            if (name.empty() || name[0] == '~' || IsSystemTableName(name)) continue;
            expected.insert(name);
        }

        ScanResult scan = runScan(file.string());
        std::set<std::string> found;
        for (const tableInfo& t : scan.engine->tables) {
            if (t.deletedRows.empty()) found.insert(t.name);
        }
        EXPECT_EQ(found, expected);

        for (const tableInfo& t : scan.engine->tables) {
            if (!expected.count(t.name)) continue;
            SCOPED_TRACE(t.name);
            std::multiset<std::pair<std::string, int>> ours;
            for (const columnInfo& c : t.columns) ours.insert({c.name, c.type});
            EXPECT_EQ(ours, mdbtoolsColumns(file, t.name));
        }
    }
}

// The Access 97 sample keeps 257 freed pages of its "Umsätze" table with their
// old owner number; the table's usage map lists only the 51 current ones.
TEST(Corpus, StalePagesOfNorthwindAreSetAside) {
    const auto dir = corpusDir();
    const auto file = dir / "mdbtestdata" / "nwind.mdb";
    if (dir.empty() || !std::filesystem::exists(file)) GTEST_SKIP() << "no corpus";
    for (bool include : {false, true}) {
        ScanResult scan = runScan(file.string(), false, include);
        auto it = std::find_if(scan.engine->tables.begin(), scan.engine->tables.end(),
                               [](const tableInfo& t) { return t.name == "Umsätze"; });
        ASSERT_NE(it, scan.engine->tables.end());
        EXPECT_EQ(it->unlistedPages.size(), 257u);
        EXPECT_EQ(it->unlistedRecordCount, 2049u);
        EXPECT_EQ(it->pages.size(), include ? 308u : 51u);
        EXPECT_EQ(it->recordCount, include ? 830u + 2049u : 830u);
    }
}

}  // namespace
}  // namespace talmera::test

namespace talmera::test {
namespace {

// A damaged version byte only misleads the first layout attempt: the other
// layout is tried and the one whose tables verify is kept, without phantom
// links or queries from garbage rows.
TEST(Corpus, DamagedVersionByteStillFindsEveryTable) {
    const auto dir = corpusDir();
    if (dir.empty()) GTEST_SKIP() << "no corpus";
    struct Case {
        const char* file;
        uint8_t version;
        bool jet4;
        size_t tables;
        size_t queries;
    };
    const Case cases[] = {
        {"mdbtestdata/nwind.mdb", 1, false, 9, 22},
        {"mdbtestdata/nwind.mdb", 2, false, 9, 22},
        {"mdbreader/creation-date/data/V2000.mdb", 0, true, 1, 0},
        {"mdbreader/data/real/ASampleDatabase.accdb", 0, true, 1, 3},
    };
    TempDir tmp;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " version " + std::to_string(c.version));
        std::ifstream in(dir / c.file, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_GT(bytes.size(), 20u);
        bytes[20] = c.version;
        const std::string path = tmp.file("damaged.mdb");
        writeFile(path, bytes);
        ScanResult scan = runScan(path);
        EXPECT_EQ(scan.engine->jet4Layout, c.jet4);
        EXPECT_EQ(scan.engine->tables.size(), c.tables);
        EXPECT_EQ(scan.engine->queries.size(), c.queries);
        EXPECT_TRUE(scan.engine->linkedTables.empty());
        for (const tableInfo& t : scan.engine->tables) EXPECT_EQ(t.name.rfind("RecoveredTable", 0), std::string::npos);
    }
}

}  // namespace
}  // namespace talmera::test
