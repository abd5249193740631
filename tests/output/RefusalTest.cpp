// What the engine refuses, as DAO does: definitions that cannot exist, and
// records that do not fit their table. A refused record is never half-stored
// and stays pending until it is fixed or cancelled.
#include <gtest/gtest.h>

#include <fstream>

#include "Support.h"

namespace talmera::dao::test {
namespace {

struct DefinitionCase {
    const char* what;
    std::function<void(OutputFile&)> call;
    int32_t code;
};

TEST(Refusals, DefinitionsDaoRefuses) {
    auto people = [](OutputFile& f) {
        auto t = AddTable(f.db, "People", {{"ID", dbLong}, {"Name", dbText, 20}});
        AddIndex(t, {"PrimaryKey", {"ID"}, true});
        return t;
    };
    const DefinitionCase cases[] = {
        {"a second table of the same name, in other letter case",
         [&](OutputFile& f) {
             people(f);
             AddTable(f.db, "PEOPLE", {{"X", dbLong}});
         },
         kErrObjectExists},
        {"a query named like a table",
         [&](OutputFile& f) {
             people(f);
             f.db->CreateQueryDef("people", "SELECT * FROM People");
         },
         kErrObjectExists},
        {"a field name used twice, in other letter case",
         [](OutputFile& f) { AddTable(f.db, "T", {{"Name", dbText}, {"NAME", dbLong}}); }, kErrObjectExists},
        {"a table without fields", [](OutputFile& f) { AddTable(f.db, "Empty", {}); }, kErrInvalidOperation},
        {"an index on a field the table does not have",
         [&](OutputFile& f) { AddIndex(people(f), {"ByAge", {"Age"}}); }, kErrNotFound},
        {"an index without fields", [&](OutputFile& f) { AddIndex(people(f), {"Nothing", {}}); },
         kErrInvalidOperation},
        {"a second primary key", [&](OutputFile& f) { AddIndex(people(f), {"Other", {"Name"}, true}); },
         kErrObjectExists},
        {"two indexes of one name", [&](OutputFile& f) { AddIndex(people(f), {"primarykey", {"Name"}}); },
         kErrObjectExists},
        {"a text longer than 255 characters",
         [](OutputFile& f) { f.db->CreateTableDef("T")->CreateField("Name", dbText)->SetSize(256); },
         kErrInvalidOperation},
        {"a new size once the table is appended",
         [&](OutputFile& f) { people(f)->FieldItem("Name")->SetSize(30); }, kErrInvalidOperation},
        {"new attributes once the table is appended",
         [&](OutputFile& f) { people(f)->FieldItem("ID")->SetAttributes(dbFixedField); }, kErrInvalidOperation},
        {"an unknown field type", [](OutputFile& f) { AddTable(f.db, "T", {{"X", 99}}); }, kErrInvalidOperation},
        {"a query without SQL",
         [](OutputFile& f) {
             auto q = f.db->CreateQueryDef("", "");
             q->SetName("Q");
             f.db->AppendQueryDef(q);
         },
         kErrInvalidOperation},
        {"a user property named like a built-in one",
         [&](OutputFile& f) {
             auto field = people(f)->FieldItem("Name");
             field->AppendProperty(field->CreateProperty("required", dbBoolean, true, false));
         },
         kErrObjectExists},
        {"a property value that does not convert to the property's type",
         [&](OutputFile& f) { people(f)->FieldItem("Name")->CreateProperty("ShowDatePicker", dbInteger, std::string("Never"), false); },
         kErrConversion},
        {"a relation to a table that does not exist",
         [&](OutputFile& f) {
             people(f);
             auto r = f.db->CreateRelation("R", "People", "Orders", 0);
             auto rf = r->CreateField("ID");
             r->SetForeignName(rf, "PersonID");
             r->AppendField(rf);
             f.db->AppendRelation(r);
         },
         kErrNotFound},
        {"a relation on a field the foreign table does not have",
         [&](OutputFile& f) {
             people(f);
             AddTable(f.db, "Orders", {{"OrderID", dbLong}});
             auto r = f.db->CreateRelation("R", "People", "Orders", 0);
             auto rf = r->CreateField("ID");
             r->SetForeignName(rf, "PersonID");
             r->AppendField(rf);
             f.db->AppendRelation(r);
         },
         kErrNotFound},
        {"an enforced relation without a unique index on the primary side",
         [&](OutputFile& f) {
             people(f);
             AddTable(f.db, "Orders", {{"PersonName", dbText, 20}});
             auto r = f.db->CreateRelation("R", "People", "Orders", 0);
             auto rf = r->CreateField("Name");
             r->SetForeignName(rf, "PersonName");
             r->AppendField(rf);
             f.db->AppendRelation(r);
         },
         kErrInvalidOperation},
        {"an enforced relation whose records already break it",
         [&](OutputFile& f) {
             auto t = people(f);
             AddTable(f.db, "Orders", {{"PersonID", dbLong}});
             auto rs = f.db->OpenRecordset("People");
             AddRecord(rs, {{"ID", int64_t{1}}});
             rs->Close();
             rs = f.db->OpenRecordset("Orders");
             AddRecord(rs, {{"PersonID", int64_t{2}}});
             rs->Close();
             auto r = f.db->CreateRelation("R", "People", "Orders", 0);
             auto rf = r->CreateField("ID");
             r->SetForeignName(rf, "PersonID");
             r->AppendField(rf);
             f.db->AppendRelation(r);
         },
         kErrInvalidOperation},
        {"deleting a table a relation uses",
         [&](OutputFile& f) {
             people(f);
             AddTable(f.db, "Orders", {{"PersonID", dbLong}});
             auto r = f.db->CreateRelation("R", "People", "Orders", 2);
             auto rf = r->CreateField("ID");
             r->SetForeignName(rf, "PersonID");
             r->AppendField(rf);
             f.db->AppendRelation(r);
             f.db->DeleteTableDef("Orders");
         },
         kErrInvalidOperation},
        {"deleting a table an open recordset uses",
         [&](OutputFile& f) {
             people(f);
             auto rs = f.db->OpenRecordset("People");
             f.db->DeleteTableDef("People");
         },
         kErrInvalidOperation},
        {"a recordset on a table that does not exist", [](OutputFile& f) { f.db->OpenRecordset("Nowhere"); },
         kErrNotFound},
        {"a recordset on a linked table",
         [](OutputFile& f) {
             auto t = f.db->CreateTableDef("Linked");
             t->SetConnect(";DATABASE=/data/other.mdb");
             t->SetSourceTableName("Remote");
             f.db->AppendTableDef(t);
             f.db->OpenRecordset("Linked");
         },
         kErrInvalidOperation},
        {"a field name holding U+0000", [](OutputFile& f) { AddTable(f.db, "T", {{std::string("a\0b", 3), dbLong}}); },
         kErrInvalidOperation},
        {"a table name holding U+0000", [](OutputFile& f) { AddTable(f.db, std::string("T\0", 2), {{"X", dbLong}}); },
         kErrInvalidOperation},
        {"an index name holding U+0000",
         [&](OutputFile& f) { AddIndex(people(f), {std::string("By\0Name", 7), {"Name"}}); }, kErrInvalidOperation},
        {"a query name holding U+0000",
         [&](OutputFile& f) {
             people(f);
             f.db->AppendQueryDef(f.db->CreateQueryDef(std::string("Q\0", 2), "SELECT * FROM People"));
         },
         kErrInvalidOperation},
        {"a relation name holding U+0000",
         [&](OutputFile& f) {
             people(f);
             AddTable(f.db, "Orders", {{"PersonID", dbLong}});
             auto r = f.db->CreateRelation(std::string("R\0", 2), "People", "Orders", 2);
             auto rf = r->CreateField("ID");
             r->SetForeignName(rf, "PersonID");
             r->AppendField(rf);
             f.db->AppendRelation(r);
         },
         kErrInvalidOperation},
        {"any call after Close",
         [](OutputFile& f) {
             f.db->Close();
             f.db->CreateTableDef("Late");
         },
         kErrInvalidOperation},
    };
    for (const DefinitionCase& c : cases) {
        SCOPED_TRACE(c.what);
        OutputFile file;
        auto error = ErrorOf([&] { c.call(file); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, c.code) << error->description;
        EXPECT_FALSE(error->source.empty());
    }
}

// A name SQLite cannot hold (a damaged definition's column name with a zero
// character in it) is refused with its field alone: the table is made with
// its other fields and keeps its records. (Accepted, it used to end the SQL
// that makes the table, and the whole table was lost at Close.)
TEST(Refusals, AFieldNameTheFileCannotHoldLeavesTheTableWhole) {
    std::string path;
    OutputFile file;
    path = file.path;
    auto table = file.db->CreateTableDef("Items");
    table->AppendField(table->CreateField("ID", dbLong));
    EXPECT_TRUE(ErrorOf([&] { table->AppendField(table->CreateField(std::string("Na\0me", 6), dbText)); }));
    table->AppendField(table->CreateField("Label", dbText));
    file.db->AppendTableDef(table);
    auto rs = file.db->OpenRecordset("Items");
    AddRecord(rs, {{"ID", int64_t{1}}, {"Label", std::string("one")}});
    AddRecord(rs, {{"ID", int64_t{2}}, {"Label", std::string("two")}});
    rs->Close();
    file.db->Close();
    Reader reader(path);
    EXPECT_EQ(reader.rows("SELECT ID, Label FROM Items ORDER BY ID"),
              (std::vector<std::vector<std::string>>{{"1", "one"}, {"2", "two"}}));
    EXPECT_EQ(reader.value("SELECT count(*) FROM _talmera_fields WHERE table_name = 'Items'"), "2");
}

// A validation rule or a default value whose text holds U+0000 (damaged
// properties) cannot go into the schema's SQL: the table is made without that
// constraint, keeps its records, and the rule and default stay as text in the
// field's description. (In the schema they ended the SQL that makes the
// table, and the whole table was lost at Close.)
TEST(Refusals, ARuleOrDefaultHoldingU0000LeavesTheTableWhole) {
    OutputFile file;
    const std::string path = file.path;
    auto table = file.db->CreateTableDef("Items");
    table->AppendField(table->CreateField("ID", dbLong));
    auto label = table->CreateField("Label", dbText);
    table->AppendField(label);
    label->SetValidationRule(std::string("<> 'a\0b'", 8));
    label->SetDefaultValue(std::string("'x\0y'", 5));
    file.db->AppendTableDef(table);
    auto rs = file.db->OpenRecordset("Items");
    AddRecord(rs, {{"ID", int64_t{1}}, {"Label", std::string("one")}});
    AddRecord(rs, {{"ID", int64_t{2}}});
    rs->Close();
    file.db->Close();
    Reader reader(path);
    EXPECT_EQ(reader.rows("SELECT ID, hex(Label) FROM Items ORDER BY ID"),
              (std::vector<std::vector<std::string>>{{"1", "6F6E65"}, {"2", "780079"}}));
    EXPECT_EQ(reader.value("SELECT hex(validation_rule) FROM _talmera_fields WHERE name = 'Label'"),
              "3C3E202761006227");
}

TEST(Refusals, CreateDatabaseRefusesAnExistingFileAndABadPath) {
    TempFolder folder;
    const std::string existing = (folder.path() / "there.sqlite").string();
    std::ofstream(existing) << "not a database";
    auto engine = CreateSqliteEngine();

    auto error = ErrorOf([&] { engine->CreateDatabase(existing, "", dbVersion40); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, kErrDatabaseExists);
    EXPECT_NE(error->description.find(existing), std::string::npos) << error->description;
    std::ifstream in(existing);
    std::string kept((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(kept, "not a database");  // never overwritten

    const std::string nowhere = (folder.path() / "missing" / "out.sqlite").string();
    error = ErrorOf([&] { engine->CreateDatabase(nowhere, "", dbVersion40); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, kErrBadPath);
    EXPECT_NE(error->description.find(nowhere), std::string::npos) << error->description;
}

// One record that fits, and one change to it per case that does not.
struct RecordCase {
    const char* what;
    std::string field;
    Variant bad;            // std::monostate: the field is left unassigned
    int32_t code;
    bool refusedOnAssignment;  // the assignment itself raises the error too
    Variant fix;
};

TEST(Refusals, RecordsThatDoNotFitAreRefusedWholeAndStayPending) {
    OutputFile file;
    auto t = AddTable(file.db, "Stock",
                      {{"ID", dbLong},
                       {"Name", dbText, 5},
                       {"Qty", dbInteger},
                       {"Small", dbByte},
                       {"Price", dbCurrency},
                       {"Received", dbDate},
                       {"Note", dbText, 10},
                       {"Score", dbLong},
                       {"Code", dbText, 3},
                       {"Tag", dbGUID}});
    AddIndex(t, {"PrimaryKey", {"ID"}, true});
    AddIndex(t, {"ByCode", {"Code"}, false, true});
    t->FieldItem("Note")->SetRequired(true);
    t->FieldItem("Score")->SetValidationRule(">=0 And <=100");
    t->FieldItem("Score")->SetValidationText("Score must be between 0 and 100.");

    auto rs = file.db->OpenRecordset("Stock");
    const Assignments good = {{"ID", int64_t{1}},
                              {"Name", std::string("Nut")},
                              {"Qty", int64_t{3}},
                              {"Small", int64_t{7}},
                              {"Price", Currency{12500}},
                              {"Received", std::string("2024-01-31")},
                              {"Note", std::string("ok")},
                              {"Score", int64_t{50}},
                              {"Code", std::string("ABC")},
                              {"Tag", std::string("{6F9619FF-8B86-D011-B42D-00C04FC964FF}")}};
    AddRecord(rs, good);

    const std::monostate unassigned;
    const RecordCase cases[] = {
        {"a primary key value already stored", "ID", int64_t{1}, kErrDuplicate, false, int64_t{101}},
        {"a unique index value already stored, in other letter case", "Code", std::string("abc"), kErrDuplicate,
         false, std::string("XYZ")},
        {"a text longer than the field's size", "Name", std::string("Washer"), kErrTooSmall, true,
         std::string("Bolt")},
        {"a zero-length text where the field allows none", "Name", std::string(""), kErrZeroLength, false,
         std::string("Bolt")},
        {"an Integer out of range", "Qty", int64_t{40000}, kErrOverflow, true, int64_t{4}},
        {"a Byte below zero", "Small", int64_t{-1}, kErrOverflow, true, int64_t{4}},
        {"a Currency beyond its range", "Price", std::string("922337203685478"), kErrOverflow, true,
         std::string("1.25")},
        {"a text that is not a number", "Qty", std::string("12 pcs"), kErrConversion, true, std::string("12")},
        {"a text that is not a date", "Received", std::string("31/31/2024"), kErrConversion, true,
         std::string("2024-02-29")},
        {"a date beyond 9999", "Received", Date{3.0e6}, kErrOverflow, true, Date{45000}},
        {"a GUID without braces", "Tag", std::string("6F9619FF-8B86-D011-B42D-00C04FC964FF"), kErrConversion, true,
         std::string("{00000000-0000-0000-0000-000000000001}")},
        {"a required field left unassigned", "Note", unassigned, kErrRequired, false, std::string("n")},
        {"a primary key left unassigned", "ID", unassigned, kErrRequired, false, int64_t{102}},
        {"a value the validation rule refuses", "Score", int64_t{101}, kErrValidation, false, int64_t{100}},
    };
    int64_t nextId = 10;
    for (const RecordCase& c : cases) {
        SCOPED_TRACE(c.what);
        rs->AddNew();
        for (const auto& [name, value] : good) {
            Variant v = value;
            if (name == "ID") v = nextId++;
            if (name == "Code") v = std::string("C") + std::to_string(nextId);
            if (name != c.field) rs->FieldItem(name)->SetValue(v);
        }
        if (!std::holds_alternative<std::monostate>(c.bad)) {
            auto assigned = [&] { rs->FieldItem(c.field)->SetValue(c.bad); };
            if (c.refusedOnAssignment) {
                auto error = ErrorOf(assigned);
                ASSERT_TRUE(error);
                EXPECT_EQ(error->code, c.code) << error->description;
            } else {
                assigned();
            }
        }
        const long before = rs->RecordCount();
        // Callers of DAO often ignore the assignment's result: the refusal
        // must still stop the record.
        auto error = ErrorOf([&] { rs->Update(); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, c.code) << error->description;
        if (c.code == kErrValidation) {
            EXPECT_EQ(error->description, "Score must be between 0 and 100.");
        }
        EXPECT_EQ(rs->RecordCount(), before);

        // Still pending: the fixed record goes in with its other values.
        rs->FieldItem(c.field)->SetValue(c.fix);
        rs->Update();
        EXPECT_EQ(rs->RecordCount(), before + 1);
    }

    // A cancelled record is gone: its Update is refused and nothing is stored.
    const long before = rs->RecordCount();
    rs->AddNew();
    rs->FieldItem("ID")->SetValue(int64_t{999});
    rs->CancelUpdate();
    auto error = ErrorOf([&] { rs->Update(); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, kErrInvalidOperation);
    EXPECT_EQ(rs->RecordCount(), before);
    rs->Close();
    file.db->Close();

    Reader reader(file.path);
    EXPECT_EQ(reader.value("SELECT count(*) FROM Stock WHERE ID = 999"), "0");
    // Every stored record has all of its values: none was written in part.
    EXPECT_EQ(reader.value("SELECT count(*) FROM Stock WHERE Note IS NULL OR Name IS NULL OR Tag IS NULL"), "0");
}

}  // namespace
}  // namespace talmera::dao::test
