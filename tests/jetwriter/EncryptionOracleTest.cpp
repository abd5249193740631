// The encrypted files the writer makes, read by independent readers: mdb-reader
// (npm, where installed) reads every method it knows with the same password
// and finds what it finds in the plain twin; mdbtools reads the Jet ones.
#include <gtest/gtest.h>

#include <filesystem>

#include "Fixtures.h"
#include "Helpers.h"

namespace jwtest {
namespace {

using namespace jetwriter;

const std::string kPassword = "Geheim-2024";

bool haveMdbReader() {
    static const bool have = std::filesystem::exists(TALMERA_MDB_READER) && run("command -v node >/dev/null 2>&1") == 0;
    return have;
}

// mdb-reader's reading of every table, one JSON line each; empty when it
// refuses the file.
std::string mdbReaderRows(const std::string& file, const std::string& password) {
    std::string out;
    const int status = run("node " + quote(MDB_READER_SCRIPT) + " " + quote(TALMERA_MDB_READER) + " " + quote(file) +
                               (password.empty() ? "" : " " + quote(password)) + " 2>/dev/null",
                           &out);
    return status == 0 ? out : std::string();
}

// Several tables with memos inline, on one long-value row and chained over
// pages, OLE objects of every size, and a table over many pages.
Database fixture(Format format) {
    Database db;
    db.format = format;
    db.tables = {longValuesTable(), wideRowsTable()};
    Table orders;
    orders.name = "Orders";
    orders.columns = {column("OrderID", kLong), column("Item", kText, 40), column("Price", kDouble)};
    for (int i = 0; i < 700; ++i) orders.rows.push_back({{int64_t{i}, "item " + std::to_string(i % 37), i * 0.25}});
    db.tables.push_back(orders);
    return db;
}

struct Method {
    const char* name;
    Format format;
    Encryption method;
    uint32_t keyBits;
    const char* hash;
};

class EncryptedFilesRead : public ::testing::TestWithParam<Method> {
protected:
    std::string save(const Database& db, const std::string& name) {
        const std::string path = dir.file(name + (GetParam().format == Format::Ace ? ".accdb" : ".mdb"));
        saveFile(path, write(db));
        return path;
    }
    Database encrypted() const {
        const Method& m = GetParam();
        Database db = fixture(m.format);
        db.encryption.method = m.method;
        db.encryption.password = m.format == Format::Jet3 ? "Geheim" : kPassword;
        db.encryption.keyBits = m.keyBits;
        if (*m.hash) db.encryption.agileHash = m.hash;
        return db;
    }
    TempDir dir;
};

TEST_P(EncryptedFilesRead, ByMdbReaderAsThePlainTwin) {
    if (!haveMdbReader()) GTEST_SKIP() << "mdb-reader is not installed (" << TALMERA_MDB_READER << ")";
    const std::string plain = mdbReaderRows(save(fixture(GetParam().format), "plain"), "");
    ASSERT_NE(plain, "");
    const std::string file = save(encrypted(), "encrypted");
    EXPECT_EQ(mdbReaderRows(file, GetParam().format == Format::Jet3 ? "Geheim" : kPassword), plain);
    if (GetParam().format == Format::Ace) EXPECT_EQ(mdbReaderRows(file, "wrong"), "");
}

// The methods mdb-reader reads: it lacks AES standard, agile keys of 192
// bits and agile with SHA-1, which the engine's own tests cover.
const Method kMethods[] = {
    {"Jet3Rc4", Format::Jet3, Encryption::JetRc4, 0, ""},
    {"Jet4Rc4", Format::Jet4, Encryption::JetRc4, 0, ""},
    {"Jet4PasswordOnly", Format::Jet4, Encryption::None, 0, ""},
    {"AceRc4CryptoApi", Format::Ace, Encryption::OfficeRc4CryptoApi, 128, ""},
    {"AceAgile256Sha512", Format::Ace, Encryption::OfficeAgile, 256, "SHA512"},
    {"AceAgile128Sha256", Format::Ace, Encryption::OfficeAgile, 128, "SHA256"},
};

INSTANTIATE_TEST_SUITE_P(Methods, EncryptedFilesRead, ::testing::ValuesIn(kMethods),
                         [](const auto& info) { return std::string(info.param.name); });

// mdbtools decodes Jet RC4 pages too: what it exports is what was described.
TEST(EncryptedJetFiles, ReadByMdbToolsAsDescribed) {
    if (!haveMdbTools()) GTEST_SKIP() << "mdbtools is not installed";
    TempDir dir;
    for (const Method& m : kMethods) {
        if (m.format == Format::Ace) continue;
        SCOPED_TRACE(m.name);
        Database db = fixture(m.format);
        db.encryption.method = m.method;
        db.encryption.password = "Geheim";
        const std::string file = dir.file(std::string(m.name) + ".mdb");
        saveFile(file, write(db));
        for (const Table& t : db.tables) {
            SCOPED_TRACE(t.name);
            EXPECT_EQ(mdbExport(file, t.name), expectedRows(db.format, t));
        }
    }
}

// Settings the format cannot hold are refused.
TEST(EncryptionSettings, ImpossibleOnesAreRefused) {
    struct Case {
        const char* name;
        Format format;
        Encryption method;
        std::string password;
        uint32_t keyBits;
    };
    const Case cases[] = {
        {"RC4 pages in ACE", Format::Ace, Encryption::JetRc4, "", 0},
        {"an Office method in Jet 4", Format::Jet4, Encryption::OfficeAgile, "x", 0},
        {"an ACE password without encryption", Format::Ace, Encryption::None, "x", 0},
        {"a Jet password of 21 characters", Format::Jet4, Encryption::None, std::string(21, 'p'), 0},
        {"an agile key of 100 bits", Format::Ace, Encryption::OfficeAgile, "x", 100},
        {"an RC4 key of 256 bits", Format::Ace, Encryption::OfficeRc4CryptoApi, "x", 256},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Database db = fixture(c.format);
        db.encryption.method = c.method;
        db.encryption.password = c.password;
        db.encryption.keyBits = c.keyBits;
        EXPECT_THROW(write(db), std::invalid_argument);
    }
}

}  // namespace
}  // namespace jwtest
