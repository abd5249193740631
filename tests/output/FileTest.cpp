// The file as a whole: any SQLite client opens it, it passes SQLite's own
// checks, and it carries nothing of the writing session (no journal, no
// exclusive lock, no write-ahead log).
#include <gtest/gtest.h>

#include "Support.h"

namespace talmera::dao::test {
namespace {

// A small database with something of everything the engine writes.
void WriteSample(OutputFile& file) {
    auto people = AddTable(file.db, "People", {{"ID", dbLong, 0, dbAutoIncrField},
                                               {"Name", dbText, 40},
                                               {"Active", dbBoolean},
                                               {"Born", dbDate},
                                               {"Salary", dbCurrency},
                                               {"Height", dbSingle},
                                               {"Photo", dbLongBinary},
                                               {"Notes", dbMemo},
                                               {"Key", dbGUID},
                                               {"Exact", dbDecimal}});
    AddIndex(people, {"PrimaryKey", {"ID"}, true});
    AddIndex(people, {"ByName", {"Name"}, false, true, true});
    people->FieldItem("Name")->SetValidationRule("<>'nobody'");
    auto pets = AddTable(file.db, "Pets", {{"Owner", dbLong}, {"Pet Name", dbText, 20}});
    auto rs = file.db->OpenRecordset("People");
    for (int i = 0; i < 50; ++i) {
        AddRecord(rs, {{"Name", "Person \"" + std::to_string(i) + "'"},
                       {"Active", i % 2 == 0},
                       {"Born", Date{20000.0 + i}},
                       {"Salary", Currency{i * 12345}},
                       {"Height", 1.5 + i / 100.0},
                       {"Photo", Bytes(static_cast<size_t>(i), 0xAB)},
                       {"Notes", std::string(static_cast<size_t>(i + 1) * 10, 'x')},
                       {"Key", std::string("{00000000-0000-0000-0000-0000000000") + (i < 10 ? "0" : "") + std::to_string(i) + "}"},
                       {"Exact", Decimal{"0." + std::to_string(i)}}});
    }
    rs->Close();
    rs = file.db->OpenRecordset("Pets");
    for (int i = 1; i <= 20; ++i) AddRecord(rs, {{"Owner", int64_t{i}}, {"Pet Name", std::string("Rex")}});
    rs->Close();
    auto link = file.db->CreateTableDef("Elsewhere");
    link->SetConnect(";DATABASE=/srv/other.mdb");
    file.db->AppendTableDef(link);
    file.db->CreateQueryDef("Owners", "SELECT People.Name, [Pet Name] FROM People INNER JOIN Pets ON People.ID = Pets.Owner");
    auto r = file.db->CreateRelation("PeoplePets", "People", "Pets", 0);
    auto f = r->CreateField("ID");
    r->SetForeignName(f, "Owner");
    r->AppendField(f);
    file.db->AppendRelation(r);
    file.db->Close();
}

TEST(File, OtherClientsOpenItAndSQLiteFindsItSound) {
    OutputFile file;
    WriteSample(file);

    Reader reader(file.path);
    EXPECT_EQ(reader.value("PRAGMA integrity_check"), "ok");
    EXPECT_TRUE(reader.rows("PRAGMA foreign_key_check").empty());
    EXPECT_EQ(reader.value("PRAGMA journal_mode"), "delete");
    EXPECT_EQ(reader.value("PRAGMA application_id"), std::to_string(0x54414C4D));
    EXPECT_EQ(reader.value("SELECT count(*) FROM Owners"), "20");
    EXPECT_FALSE(std::filesystem::exists(file.path + "-journal"));
    EXPECT_FALSE(std::filesystem::exists(file.path + "-wal"));

    if (RunCommand("command -v sqlite3 >/dev/null").first != 0) GTEST_SKIP() << "the sqlite3 shell is not installed";
    const std::string quoted = "'" + file.path + "'";
    auto [status, schema] = RunCommand("sqlite3 -bail " + quoted + " .schema 2>&1");
    EXPECT_EQ(status, 0) << schema;
    EXPECT_NE(schema.find("CREATE TABLE IF NOT EXISTS \"People\""), std::string::npos) << schema;
    EXPECT_NE(schema.find("CREATE VIEW \"Owners\""), std::string::npos) << schema;
    auto [checkStatus, check] = RunCommand("sqlite3 -bail " + quoted + " 'PRAGMA integrity_check' 2>&1");
    EXPECT_EQ(checkStatus, 0);
    EXPECT_EQ(check, "ok\n");
    // A full dump reads back into a new database unchanged.
    const std::string copy = (file.folder.path() / "copy.sqlite").string();
    auto [dumpStatus, dumpOutput] =
        RunCommand("sqlite3 -bail " + quoted + " .dump | sqlite3 -bail '" + copy + "' 2>&1");
    EXPECT_EQ(dumpStatus, 0) << dumpOutput;
    Reader again(copy);
    EXPECT_EQ(again.value("SELECT group_concat(Salary || '/' || Exact || '/' || Born, ';') FROM People"),
              reader.value("SELECT group_concat(Salary || '/' || Exact || '/' || Born, ';') FROM People"));
}

}  // namespace
}  // namespace talmera::dao::test
