// Encrypted sources: the real password-protected and encrypted files, the
// writer's encrypted twins of plain databases (every method), damage inside
// encrypted files, and damaged protection headers.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "Fixtures.h"
#include "engine/encryption/EncryptionHeader.h"

namespace talmera::test {
namespace {

using encryption::Protection;
using jetwriter::Encryption;
using jetwriter::Format;

const std::string kPassword = "Sésame 123";

std::string cellText(const RowValue& v) {
    std::string text = std::to_string(static_cast<int>(v.state)) + ":" + std::to_string(static_cast<int>(v.kind)) + ":" +
                       std::to_string(v.integer) + ":" + std::to_string(v.real) + ":" + v.string + ":";
    static const char* kDigits = "0123456789abcdef";
    for (uint8_t b : v.bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 15]);
    }
    return text + (v.incomplete ? ":incomplete" : "");
}

using TableRows = std::map<std::string, std::vector<std::string>>;

// Every table's rows (long values read) as comparable texts.
TableRows everyRow(CMDBRecovery& engine) {
    TableRows tables;
    for (size_t i = 0; i < engine.tables.size(); ++i) {
        std::vector<std::string>& rows = tables[engine.tables[i].name];
        for (const std::vector<RowValue>& row : readAllRows(engine, i, true)) {
            std::string line;
            for (const RowValue& v : row) line += cellText(v) + "|";
            rows.push_back(line);
        }
    }
    return tables;
}

// The demo database (memos in the row, on a long-value row and chained over
// pages, OLE objects, several tables, queries) and a table of many pages.
jetwriter::Database fixture(Format format) {
    jetwriter::Database db = jetwriter::demoDatabase(format);
    jetwriter::Table ledger = simpleTable("Ledger", 1200);
    ledger.columns.push_back(col("Note", jetwriter::kMemo));
    for (size_t i = 0; i < ledger.rows.size(); ++i) {
        ledger.rows[i].values.push_back(i % 100 == 7 ? jetwriter::Value(longText(6000 + i))
                                                     : jetwriter::Value(std::string("note ") + std::to_string(i)));
    }
    db.tables.push_back(ledger);
    return db;
}

jetwriter::Database simpleDatabase(Format format) {
    jetwriter::Database db;
    db.format = format;
    db.tables = {simpleTable("Items")};
    return db;
}

struct Method {
    const char* name;
    Format format;
    Encryption method;
    uint32_t keyBits;
    const char* hash;
    Protection expected;
};

const Method kMethods[] = {
    {"Jet3Rc4", Format::Jet3, Encryption::JetRc4, 0, "", Protection::JetRc4},
    {"Jet4Rc4", Format::Jet4, Encryption::JetRc4, 0, "", Protection::JetRc4},
    {"Jet3PasswordOnly", Format::Jet3, Encryption::None, 0, "", Protection::JetPassword},
    {"Jet4PasswordOnly", Format::Jet4, Encryption::None, 0, "", Protection::JetPassword},
    {"AceRc4CryptoApi128", Format::Ace, Encryption::OfficeRc4CryptoApi, 128, "", Protection::OfficeRc4CryptoApi},
    {"AceRc4CryptoApi40", Format::Ace, Encryption::OfficeRc4CryptoApi, 40, "", Protection::OfficeRc4CryptoApi},
    {"AceAesStandard128", Format::Ace, Encryption::OfficeAesStandard, 128, "", Protection::OfficeAesStandard},
    {"AceAesStandard256", Format::Ace, Encryption::OfficeAesStandard, 256, "", Protection::OfficeAesStandard},
    {"AceAgile256Sha512", Format::Ace, Encryption::OfficeAgile, 256, "SHA512", Protection::OfficeAgile},
    {"AceAgile192Sha384", Format::Ace, Encryption::OfficeAgile, 192, "SHA384", Protection::OfficeAgile},
    {"AceAgile128Sha1", Format::Ace, Encryption::OfficeAgile, 128, "SHA1", Protection::OfficeAgile},
};

jetwriter::Database encrypted(jetwriter::Database db, const Method& m) {
    db.encryption.method = m.method;
    db.encryption.password = m.format == Format::Ace || m.method == Encryption::None ? kPassword : "";
    if (m.format == Format::Jet3) db.encryption.password = m.method == Encryption::None ? "Sesame" : "";
    db.encryption.keyBits = m.keyBits;
    if (*m.hash) db.encryption.agileHash = m.hash;
    return db;
}

class EncryptedTwin : public ::testing::TestWithParam<Method> {
protected:
    TempDir dir;
};

// Read with its password, an encrypted file gives exactly what its plain twin gives.
TEST_P(EncryptedTwin, ReadsAsItsPlainTwin) {
    const Method& m = GetParam();
    const jetwriter::Database plain = fixture(m.format);
    ScanResult expected = runScan(writeDatabase(dir, "plain.db", plain));
    ScanResult scan = runScan(writeDatabase(dir, "encrypted.db", encrypted(plain, m)), false, false, {kPassword});

    const SourceProtection& protection = scan.engine->protection;
    EXPECT_EQ(protection.facts.protection, m.expected);
    EXPECT_FALSE(protection.locked());
    EXPECT_EQ(scan.engine->databaseFile.decoded(), m.method != Encryption::None);
    EXPECT_EQ(scan.receiver->passwordQuestions, encryption::needsPassword(m.expected) ? 1 : 0);
    const auto& log = scan.receiver->logLines;
    EXPECT_NE(std::find(log.begin(), log.end(), protection.logLine()), log.end());
    EXPECT_EQ(tableNames(*scan.engine), tableNames(*expected.engine));
    EXPECT_EQ(scan.engine->queries.size(), expected.engine->queries.size());
    const TableRows rows = everyRow(*scan.engine);
    EXPECT_EQ(rows, everyRow(*expected.engine));
    EXPECT_EQ(rows.at("Ledger").size(), 1200u);
}

INSTANTIATE_TEST_SUITE_P(Methods, EncryptedTwin, ::testing::ValuesIn(kMethods),
                         [](const auto& info) { return std::string(info.param.name); });

// Without the password, or with a wrong one, nothing is read and the log says
// why; the file is not called invalid. A second answer is asked for and taken.
TEST(EncryptedSource, MissingAndWrongPasswords) {
    TempDir dir;
    for (const Method& m : kMethods) {
        if (!encryption::needsPassword(m.expected)) continue;
        SCOPED_TRACE(m.name);
        const std::string path = writeDatabase(dir, std::string(m.name) + ".accdb", encrypted(simpleDatabase(m.format), m));

        struct Case {
            std::vector<std::string> answers;
            SourceLock lock;
            std::string reason;
        };
        const Case cases[] = {
            {{}, SourceLock::PasswordMissing, "This file is encrypted: a password is needed."},
            {{"wrong"}, SourceLock::PasswordRejected, "This file is encrypted: the password is not correct."},
            {{"wrong", kPassword}, SourceLock::Open, ""},
        };
        for (const Case& c : cases) {
            ScanResult scan = runScan(path, false, false, c.answers);
            EXPECT_EQ(scan.engine->protection.lock, c.lock);
            EXPECT_FALSE(scan.app->invalidFile);
            const auto& log = scan.receiver->logLines;
            ASSERT_FALSE(log.empty());
            if (c.lock == SourceLock::Open) {
                EXPECT_NE(findTable(*scan.engine, "Items"), nullptr);
                EXPECT_EQ(scan.receiver->passwordQuestions, 2);
            } else {
                EXPECT_EQ(log.back(), c.reason);
                EXPECT_EQ(scan.receiver->boxes, std::vector<std::string>{c.reason + "|"});
                for (const std::string& line : log) EXPECT_EQ(line.find("not a valid"), std::string::npos) << line;
            }
        }
    }
}

// A page zeroed or a bit flipped inside an encrypted file costs that page's
// rows only: every other table reads as the plain twin, and the damaged table
// keeps every row of its other pages.
TEST(EncryptedSource, DamageCostsOnlyTheDamagedPage) {
    TempDir dir;
    for (const Method& m : kMethods) {
        if (m.method == Encryption::None) continue;
        SCOPED_TRACE(m.name);
        const jetwriter::Database plain = fixture(m.format);
        jetwriter::Layout layout;
        const std::vector<uint8_t> image = jetwriter::write(encrypted(plain, m), &layout);
        const jetwriter::TableLayout& ledger = layout.tables.back();
        ASSERT_EQ(ledger.name, "Ledger");
        ASSERT_GT(ledger.dataPages.size(), 4u);
        const uint32_t page = ledger.dataPages[ledger.dataPages.size() / 2];

        jetwriter::Damage lost;
        lost.zeroPages = {page};
        ScanResult reference = runScan(writeDatabase(dir, "plain-lost.db", plain, nullptr, &lost));
        const TableRows expected = everyRow(*reference.engine);

        jetwriter::Damage zeroed, flipped;
        zeroed.zeroPages = {page};
        flipped.flips = {{uint64_t(page) * layout.pageSize + layout.pageSize / 2, 0x10}};
        for (const jetwriter::Damage& damage : {zeroed, flipped}) {
            std::vector<uint8_t> broken = image;
            jetwriter::applyDamage(broken, damage, layout);
            const std::string path = dir.file("broken.db");
            writeFile(path, broken);
            ScanResult scan = runScan(path, false, false, {kPassword});
            const TableRows rows = everyRow(*scan.engine);
            for (const auto& [name, tableRows] : expected) {
                SCOPED_TRACE(name);
                ASSERT_TRUE(rows.count(name));
                if (name != "Ledger") {
                    EXPECT_EQ(rows.at(name), tableRows);
                    continue;
                }
                const std::set<std::string> kept(rows.at(name).begin(), rows.at(name).end());
                for (const std::string& row : tableRows) EXPECT_TRUE(kept.count(row)) << row;
                EXPECT_LT(tableRows.size(), 1200u);
            }
        }
    }
}

// A header whose page key was damaged while the pages are stored plainly is
// read as it is: decoding plain pages would lose the whole file.
TEST(EncryptedSource, DamagedPageKeyOverPlainPagesIsReadAsStored) {
    TempDir dir;
    for (Format format : {Format::Jet3, Format::Jet4, Format::Ace}) {
        SCOPED_TRACE(formatName(format));
        const jetwriter::Database db = fixture(format);
        std::vector<uint8_t> image = jetwriter::write(db);
        image[0x3E] ^= 0x5A;  // inside the masked block: the page key reads as not 0
        ScanResult expected = runScan(writeDatabase(dir, "plain.db", db));
        const std::string path = dir.file("damaged.db");
        writeFile(path, image);
        ScanResult scan = runScan(path);
        EXPECT_TRUE(scan.engine->protection.pagesStoredPlainly);
        EXPECT_FALSE(scan.engine->protection.locked());
        EXPECT_EQ(everyRow(*scan.engine), everyRow(*expected.engine));
    }
}

// An RC4-encoded Jet 4 file whose version byte reads Jet 3 is decoded with
// the page size that yields pages, and read in the layout that verifies.
TEST(EncryptedSource, Jet4Rc4WithADamagedVersionByte) {
    TempDir dir;
    const jetwriter::Database plain = fixture(Format::Jet4);
    jetwriter::Damage damage;
    damage.versionByte = 0;
    ScanResult expected = runScan(writeDatabase(dir, "plain.mdb", plain));
    ScanResult scan = runScan(writeDatabase(dir, "rc4.mdb", encrypted(plain, kMethods[1]), nullptr, &damage));
    EXPECT_EQ(scan.engine->protection.facts.protection, Protection::JetRc4);
    EXPECT_EQ(everyRow(*scan.engine), everyRow(*expected.engine));
}

// Damaged encryption provider blocks are named unreadable, never crash, and
// leave the file unread with that reason.
TEST(EncryptedSource, DamagedProviderBlocks) {
    TempDir dir;
    const Method& agile = kMethods[8];
    const Method& binary = kMethods[4];
    const std::vector<uint8_t> agileImage = jetwriter::write(encrypted(simpleDatabase(Format::Ace), agile));
    const std::vector<uint8_t> binaryImage = jetwriter::write(encrypted(simpleDatabase(Format::Ace), binary));
    constexpr size_t kLengthAt = 0x299, kBlockAt = 0x29B;

    struct Case {
        const char* name;
        std::vector<uint8_t> image;
    };
    std::vector<Case> cases;
    const auto edited = [](std::vector<uint8_t> image, size_t at, std::vector<uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), image.begin() + long(at));
        return image;
    };
    const auto withText = [&](const char* name, const std::string& from, const std::string& to) {
        ASSERT_EQ(from.size(), to.size());
        std::vector<uint8_t> image = agileImage;
        const std::string page(image.begin(), image.begin() + 4096);
        const size_t at = page.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        std::copy(to.begin(), to.end(), image.begin() + long(at));
        cases.push_back({name, image});
    };
    cases.push_back({"length cut into the descriptor", edited(agileImage, kLengthAt, {0x40, 0x00})});
    cases.push_back({"no block", edited(agileImage, kLengthAt, {0x00, 0x00})});
    cases.push_back({"unknown provider version", edited(agileImage, kBlockAt, {0x09, 0x00, 0x09, 0x00})});
    cases.push_back({"extensible provider", edited(agileImage, kBlockAt, {0x04, 0x00, 0x03, 0x00})});
    cases.push_back({"binary RC4 provider", edited(agileImage, kBlockAt, {0x01, 0x00, 0x01, 0x00})});
    cases.push_back({"agile reserved value", edited(agileImage, kBlockAt + 4, {0x41})});
    withText("key size", "keyBits=\"256\"", "keyBits=\"255\"");
    withText("cipher", "cipherAlgorithm=\"AES\"", "cipherAlgorithm=\"DES\"");
    withText("chaining", "ChainingModeCBC", "ChainingModeCFB");
    withText("hash", "hashAlgorithm=\"SHA512\"", "hashAlgorithm=\"SHA999\"");
    withText("spin count", "spinCount=\"100000\"", "spinCount=\"1x0000\"");
    {
        std::vector<uint8_t> image = agileImage;
        const std::string page(image.begin(), image.begin() + 4096);
        const size_t at = page.find("saltValue=\"");
        ASSERT_NE(at, std::string::npos);
        image[at + 11] = '!';  // not base64
        cases.push_back({"base64", image});
    }
    const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>";
    std::string entity = "<!DOCTYPE encryption [<!ENTITY a \"";
    entity += std::string(declaration.size() - entity.size() - 4, 'a') + "\">]>";
    withText("entity", declaration, entity);
    cases.push_back({"binary header size", edited(binaryImage, kBlockAt + 8, {0xFF, 0xFF, 0x00, 0x00})});
    cases.push_back({"binary cipher", edited(binaryImage, kBlockAt + 12 + 8, {0x99, 0x99})});
    cases.push_back({"binary salt size", edited(binaryImage, kBlockAt + 12 + 0x7E, {0x11})});
    cases.push_back({"binary flags", edited(binaryImage, kBlockAt + 4, {0x00})});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const encryption::EncryptionFacts facts = encryption::ReadEncryptionFacts(c.image.data(), 4096);
        EXPECT_EQ(facts.protection, Protection::OfficeUnreadable);
        EXPECT_FALSE(facts.unreadableReason.empty());
        const std::string path = dir.file("damaged.accdb");
        writeFile(path, c.image);
        ScanResult scan = runScan(path, false, false, {kPassword});
        EXPECT_EQ(scan.engine->protection.lock, SourceLock::MethodUnknown);
        EXPECT_FALSE(scan.app->invalidFile);
        EXPECT_EQ(scan.receiver->logLines.back().rfind("This file is encrypted with a method this tool cannot read (", 0), 0u)
            << scan.receiver->logLines.back();
    }

    // A block length beyond the page is bounded by it: the descriptor still reads.
    const std::vector<uint8_t> long_ = edited(agileImage, kLengthAt, {0xFF, 0xFF});
    EXPECT_EQ(encryption::ReadEncryptionFacts(long_.data(), 4096).protection, Protection::OfficeAgile);

    // A header cut short anywhere reads without reading past what it was given.
    for (size_t size : {size_t(0), size_t(0x20), size_t(0x2A0), size_t(0x400)}) {
        const encryption::EncryptionFacts facts = encryption::ReadEncryptionFacts(agileImage.data(), size);
        EXPECT_NE(facts.protection, Protection::OfficeAgile) << size;
    }
}

// The five files of the shared folder: Jet 4 files with a database password
// read without one; the ACE files with the password.
TEST(EncryptedSource, SharedEncryptedFiles) {
    const std::filesystem::path folder = encryptedDir();
    if (folder.empty()) GTEST_SKIP() << "no shared encrypted files";
    struct File {
        const char* name;
        Protection protection;
    };
    const File files[] = {
        {"V2000_with-password.mdb", Protection::JetPassword},
        {"V2003_with-password.mdb", Protection::JetPassword},
        {"V2010_with-password.accdb", Protection::OfficeAgile},
        {"office-agile-4.2.accdb", Protection::OfficeRc4CryptoApi},
        {"office-agile-4.4.accdb", Protection::OfficeAgile},
    };
    for (const File& f : files) {
        SCOPED_TRACE(f.name);
        const std::string path = (folder / f.name).string();
        const bool needed = encryption::needsPassword(f.protection);
        ScanResult scan = runScan(path, false, false, needed ? std::vector<std::string>{"password"} : std::vector<std::string>{});
        EXPECT_EQ(scan.engine->protection.facts.protection, f.protection);
        const tableInfo* table = findTable(*scan.engine, "Table1");
        ASSERT_NE(table, nullptr);
        std::vector<std::pair<int64_t, std::string>> rows;
        for (const auto& row : readAllRows(*scan.engine, static_cast<size_t>(table - &scan.engine->tables[0]), true)) {
            ASSERT_EQ(row.size(), 2u);
            rows.emplace_back(row[0].integer, row[1].string);
        }
        EXPECT_EQ(rows, (std::vector<std::pair<int64_t, std::string>>{{1, "One"}, {2, "Two"}, {3, "Three"}}));
        if (!needed) continue;
        EXPECT_EQ(runScan(path).engine->protection.lock, SourceLock::PasswordMissing);
        EXPECT_EQ(runScan(path, false, false, {"Password"}).engine->protection.lock, SourceLock::PasswordRejected);
    }
}

}  // namespace
}  // namespace talmera::test
