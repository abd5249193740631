// The scratch-table move in bulk (Recordset::AppendFrom) against the record
// loop it stands in for: for every case the file written with the bulk move
// (and the loop where the engine declines a range) is the file the loop alone
// writes, byte for byte in every value and table, with the same records moved
// and refused and the same errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "Support.h"

namespace talmera::dao::test {
namespace {

struct MoveResult {
    long moved = 0, refused = 0;
    long inBulk = 0;  // of moved: those the engine stored in bulk
    std::vector<std::string> errors;
};

// The move as the save makes it: AddNew, SetValueFrom field by field (a
// refusal ignored), Update (a refusal counted); with `bulk`, ranges are asked
// of the engine first, smaller after one is declined.
MoveResult Move(Recordset& source, Recordset& target, bool bulk) {
    MoveResult r;
    source.MoveFirst();
    long range = 512;
    while (!source.EOF_()) {
        if (bulk) {
            const long stored = target.AppendFrom(source, range);
            if (stored > 0) {
                r.moved += stored;
                r.inBulk += stored;
                range = std::min(range * 2, 512L);
                continue;
            }
            if (range > 4) {
                range /= 4;
                continue;
            }
        }
        for (long k = 0; (!bulk || k < range) && !source.EOF_(); ++k) {
            target.AddNew();
            for (int f = 0; f < target.FieldCount(); ++f) {
                try {
                    target.FieldItem(f)->SetValueFrom(*source.FieldItem(f));
                } catch (const ComError& e) {
                    r.errors.push_back(e.description);
                }
            }
            try {
                target.Update();
                ++r.moved;
            } catch (const ComError& e) {
                r.errors.push_back(e.description);
                target.CancelUpdate();
                ++r.refused;
            }
            source.MoveNext();
        }
    }
    return r;
}

// Every table of the file but the one that holds its creation time: its
// schema, then each row in rowid order, each value with its storage class.
std::vector<std::string> Dump(const std::string& path) {
    Reader reader(path);
    std::vector<std::string> out;
    for (const auto& row : reader.rows("SELECT type, name, sql FROM sqlite_master ORDER BY type, name")) {
        out.push_back(row[0] + " " + row[1] + ": " + row[2]);
    }
    for (const auto& table : reader.rows("SELECT name FROM sqlite_master WHERE type = 'table' AND name <> "
                                         "'_talmera_database' ORDER BY name")) {
        sqlite3_stmt* s = nullptr;
        const std::string sql = "SELECT rowid, * FROM \"" + table[0] + "\" ORDER BY rowid";
        if (sqlite3_prepare_v2(reader.handle(), sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sql;
            continue;
        }
        while (sqlite3_step(s) == SQLITE_ROW) {
            std::string line = table[0] + ":";
            for (int c = 0; c < sqlite3_column_count(s); ++c) {
                const int type = sqlite3_column_type(s, c);
                line += " " + std::to_string(type) + "/";
                if (type == SQLITE_FLOAT) {
                    char buf[40];
                    std::snprintf(buf, sizeof buf, "%a", sqlite3_column_double(s, c));
                    line += buf;
                } else if (type != SQLITE_NULL) {
                    const auto* b = static_cast<const unsigned char*>(type == SQLITE_BLOB ? sqlite3_column_blob(s, c)
                                                                                         : sqlite3_column_text(s, c));
                    line.append(reinterpret_cast<const char*>(b), static_cast<size_t>(sqlite3_column_bytes(s, c)));
                }
            }
            out.push_back(line);
        }
        sqlite3_finalize(s);
    }
    return out;
}

using Setup = std::function<void(const TableDefPtr&)>;

struct MoveCase {
    const char* name;
    std::vector<FieldSpec> fields;  // the scratch table's; the real table's are the same, "ID" an auto-number
    std::vector<Assignments> rows;  // into the scratch table
    Setup scratch = nullptr, real = nullptr;  // after TableDefs.Append
    bool idKey = true;                       // "ID" is the real table's primary key
    bool numberedFirst = false;              // the real table takes a record with a new number first
    long refused = 0;
    bool inBulk = true;                      // some records are moved in bulk
    std::vector<FieldSpec> realFields = {};  // when the real table's differ (beside "ID")
};

std::vector<Assignments> Numbered(int n, const std::function<void(int, Assignments&)>& more = nullptr) {
    std::vector<Assignments> rows;
    for (int i = 0; i < n; ++i) {
        Assignments row = {{"ID", int64_t{i * 3 + 10}}};
        if (more) more(i, row);
        rows.push_back(row);
    }
    return rows;
}

void RunMove(const MoveCase& c, bool bulk, const DatabasePtr& db, MoveResult& result) {
    std::vector<FieldSpec> real = c.realFields.empty() ? c.fields : c.realFields;
    real[0].attributes = dbAutoIncrField;
    auto target = AddTable(db, "Real", real);
    if (c.idKey) AddIndex(target, {"PrimaryKey", {"ID"}, true});
    if (c.real) c.real(target);
    auto scratchDef = AddTable(db, "QTARTable", c.fields, true);
    if (c.scratch) c.scratch(scratchDef);
    auto source = db->OpenRecordset("QTARTable");
    for (const Assignments& row : c.rows) AddRecord(source, row);
    if (c.numberedFirst) {
        auto first = db->OpenRecordset("Real");
        AddRecord(first, {});
        first->Close();
    }
    auto to = db->OpenRecordset("Real");
    result = Move(*source, *to, bulk);
    // The counter goes on from the numbers moved.
    try {
        AddRecord(to, {});
    } catch (const ComError& e) {
        result.errors.push_back("a record after the move: " + e.description);
        to->CancelUpdate();
    }
    to->Close();
    source->Close();
    db->DeleteTableDef("QTARTable");
    db->Close();
}

TEST(BulkMove, GivesWhatTheRecordLoopGives) {
    const std::vector<FieldSpec> everyType = {
        {"ID", dbLong},         {"Flag", dbBoolean},   {"Small", dbByte},  {"Count", dbInteger},
        {"Price", dbCurrency},  {"Ratio", dbSingle},   {"Big", dbDouble},  {"Exact", dbDecimal},
        {"When", dbDate},       {"Tag", dbGUID},       {"Name", dbText, 6}, {"Notes", dbMemo},
        {"Ole", dbLongBinary},  {"Bin", dbBinary, 4},  {"Huge", dbBigInt}};
    const std::vector<FieldSpec> coded = {{"ID", dbLong}, {"Code", dbText, 10}, {"Amount", dbCurrency}};
    auto allowEmpty = [](const TableDefPtr& t) { t->FieldItem("Code")->SetAllowZeroLength(true); };
    const std::vector<MoveCase> cases = {
        {"every type, Nulls, a text at its size in UTF-16 units",
         everyType,
         {{{"ID", int64_t{7}},
           {"Flag", true},
           {"Small", int64_t{200}},
           {"Count", int64_t{-32768}},
           {"Price", Currency{-9223372036854775807LL}},
           {"Ratio", 0.3},
           {"Big", 1e300},
           {"Exact", Decimal{"12.5"}},
           {"When", Date{45000.123456789}},
           {"Tag", std::string("{00112233-4455-6677-8899-AABBCCDDEEFF}")},
           {"Name", std::string("\xF0\x9F\x98\x80" "abcd")},  // a surrogate pair and four: six units
           {"Notes", std::string(70000, 'n')},
           {"Ole", Bytes(100000, 0xAB)},
           {"Bin", Bytes{0, 1, 2}},
           {"Huge", int64_t{9007199254740993LL}}},
          {{"ID", int64_t{3}}},
          {{"ID", int64_t{4}}, {"When", Date{-657434.0}}, {"Price", Currency{123456789}}, {"Ole", Bytes{}}}}},
        {"a decimal whose exact text is kept apart",
         everyType,
         {{{"ID", int64_t{1}}, {"Exact", Decimal{"98765432109876543210.12345678"}}},
          {{"ID", int64_t{2}}, {"Exact", Decimal{"1.5"}}},
          {{"ID", int64_t{3}}, {"Price", Currency{1}}}},
         nullptr,
         nullptr,
         true,
         false,
         0,
         false},
        {"duplicates refused by a unique index the scratch table does not have",
         coded,
         Numbered(3000,
                  [](int i, Assignments& row) {
                      row.push_back({"Code", "c" + std::to_string(i == 1500 || i == 2999 ? 7 : i)});
                      row.push_back({"Amount", Currency{int64_t{i} * 10000}});
                  }),
         nullptr,
         [](const TableDefPtr& t) { AddIndex(t, {"ByCode", {"Code"}, false, true}); },
         true,
         false,
         2},
        {"a required field without a value",
         coded,
         Numbered(700, [](int i, Assignments& row) {
             if (i != 600) row.push_back({"Code", std::string("x")});
         }),
         nullptr,
         [](const TableDefPtr& t) { t->FieldItem("Code")->SetRequired(true); },
         true,
         false,
         1},
        {"an empty text the real field does not allow",
         coded,
         Numbered(50, [](int i, Assignments& row) { row.push_back({"Code", std::string(i == 20 ? "" : "y")}); }),
         allowEmpty,
         nullptr,
         true,
         false,
         1},
        {"a text longer than the real field",
         {{"ID", dbLong}, {"Code", dbText, 50}},
         Numbered(40, [](int i, Assignments& row) { row.push_back({"Code", std::string(i == 30 ? 20 : 3, 'z')}); }),
         nullptr,
         nullptr,
         true,
         false,
         1,
         true,
         {{"ID", dbLong}, {"Code", dbText, 10}}},
        {"a validation rule of the real table",
         coded,
         Numbered(300, [](int i, Assignments& row) { row.push_back({"Amount", Currency{i == 150 ? -1 : 1}}); }),
         nullptr,
         [](const TableDefPtr& t) { t->FieldItem("Amount")->SetValidationRule(">=0"); },
         true,
         false,
         1},
        {"numbers out of order and no primary key: rowids as the loop gives them",
         coded,
         {{{"ID", int64_t{9}}}, {{"ID", int64_t{3}}}, {{"ID", int64_t{7}}}},
         nullptr,
         nullptr,
         false},
        {"a counter already counting when the records come",
         coded,
         Numbered(20),
         nullptr,
         nullptr,
         true,
         true},
    };
    for (const MoveCase& c : cases) {
        SCOPED_TRACE(c.name);
        MoveResult loop, bulk;
        OutputFile loopFile, bulkFile;
        RunMove(c, false, loopFile.db, loop);
        RunMove(c, true, bulkFile.db, bulk);
        EXPECT_EQ(loop.inBulk, 0);
        EXPECT_EQ(bulk.moved, loop.moved);
        EXPECT_EQ(bulk.refused, loop.refused);
        EXPECT_EQ(loop.refused, c.refused);
        EXPECT_EQ(loop.moved + loop.refused, static_cast<long>(c.rows.size()));
        EXPECT_EQ(bulk.errors, loop.errors);
        if (c.inBulk) {
            EXPECT_GT(bulk.inBulk, 0);
        }
        EXPECT_EQ(Dump(bulkFile.path), Dump(loopFile.path));
    }
}

TEST(BulkMove, DeclinesWhatItCannotPair) {
    // Fields paired by ordinal must have the same names and types; complex
    // fields and a recordset of another engine take the loop.
    OutputFile file;
    AddTable(file.db, "Real", {{"ID", dbLong, 0, dbAutoIncrField}, {"Name", dbText, 20}});
    AddTable(file.db, "Renamed", {{"ID", dbLong}, {"Label", dbText, 20}}, true);
    AddTable(file.db, "Retyped", {{"ID", dbLong}, {"Name", dbMemo}}, true);
    AddTable(file.db, "Wider", {{"ID", dbLong}, {"Name", dbText, 20}, {"More", dbLong}}, true);
    auto to = file.db->OpenRecordset("Real");
    for (const char* name : {"Renamed", "Retyped", "Wider"}) {
        SCOPED_TRACE(name);
        auto source = file.db->OpenRecordset(name);
        AddRecord(source, {{"ID", int64_t{1}}});
        source->MoveFirst();
        EXPECT_EQ(to->AppendFrom(*source, 100), 0);
        EXPECT_FALSE(source->EOF_());
        source->Close();
    }
    // At the end of the source there is nothing to move.
    auto same = AddTable(file.db, "Same", {{"ID", dbLong}, {"Name", dbText, 20}}, true);
    auto source = file.db->OpenRecordset("Same");
    AddRecord(source, {{"ID", int64_t{1}}, {"Name", std::string("one")}});
    source->MoveFirst();
    EXPECT_EQ(to->AppendFrom(*source, 100), 1);
    EXPECT_TRUE(source->EOF_());
    EXPECT_EQ(to->AppendFrom(*source, 100), 0);
    EXPECT_EQ(to->RecordCount(), 1);
    source->Close();
    to->Close();
    file.db->Close();
}

}  // namespace
}  // namespace talmera::dao::test
