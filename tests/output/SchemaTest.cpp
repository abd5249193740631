// The schema the file gets: constraints that arrive after TableDefs.Append,
// indexes, relations as foreign keys, queries as views, links and properties
// in the metadata tables.
#include <gtest/gtest.h>

#include "Support.h"

namespace talmera::dao::test {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// Statement through a second, writing client; its SQLite result code.
int Execute(const std::string& path, const std::string& sql, bool foreignKeys = false) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    if (foreignKeys) sqlite3_exec(db, "PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr);
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return rc;
}

TEST(Schema, ConstraintsSetAfterAppendArePartOfTheTable) {
    OutputFile file;
    AddTable(file.db, "Items", {{"ID", dbLong}, {"Name", dbText, 20}, {"Qty", dbLong}, {"Price", dbCurrency}});
    AddTable(file.db, "Empty", {{"ID", dbLong}});
    // As the field-properties pass sets them: through TableDefs.Item and Fields.Item.
    auto items = file.db->TableDefItem("items");
    items->FieldItem("name")->SetRequired(true);
    items->FieldItem("Qty")->SetDefaultValue("1");
    items->FieldItem("Qty")->SetValidationRule(">0");
    items->FieldItem("Price")->SetValidationRule("Between 0 And 1000");
    items->FieldItem("Price")->SetValidationText("A price runs from 0 to 1000.");

    auto rs = file.db->OpenRecordset("Items");
    AddRecord(rs, {{"ID", int64_t{1}}, {"Name", std::string("Nut")}, {"Price", std::string("999.99")}});
    auto error = ErrorOf([&] { AddRecord(rs, {{"ID", int64_t{2}}, {"Name", std::string("Gold")}, {"Price", int64_t{1001}}}); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, kErrValidation);
    EXPECT_EQ(error->description, "A price runs from 0 to 1000.");
    rs->CancelUpdate();
    rs->Close();
    // Set once rows exist: kept in the metadata, not checked against them.
    items->FieldItem("ID")->SetRequired(true);
    // A field appended once rows exist: a Yes/No is No in them, never Null.
    items->AppendField(items->CreateField("Checked", dbBoolean));
    // Set on a table that is in the file but has no rows: the table takes it.
    auto emptyRs = file.db->OpenRecordset("Empty");
    emptyRs->Close();
    file.db->TableDefItem("Empty")->FieldItem("ID")->SetRequired(true);
    file.db->Close();

    // The file enforces them for every client.
    EXPECT_EQ(Execute(file.path, "INSERT INTO Items (ID, Price) VALUES (3, '1.0000')"), SQLITE_CONSTRAINT);    // Name
    EXPECT_EQ(Execute(file.path, "INSERT INTO Items (ID, Name, Qty) VALUES (3, 'x', 0)"), SQLITE_CONSTRAINT);  // Qty > 0
    EXPECT_EQ(Execute(file.path, "INSERT INTO Items (ID, Name, Price) VALUES (3, 'x', '1000.0001')"), SQLITE_CONSTRAINT);
    EXPECT_EQ(Execute(file.path, "INSERT INTO Items (Name) VALUES ('no id')"), SQLITE_OK);
    EXPECT_EQ(Execute(file.path, "INSERT INTO Empty (ID) VALUES (NULL)"), SQLITE_CONSTRAINT);

    Reader reader(file.path);
    EXPECT_EQ(reader.value("SELECT Qty || '/' || Checked FROM Items WHERE ID = 1"), "1/0");
    const Rows fields = reader.rows(
        "SELECT name, required, not_null_in_schema, default_value, default_in_schema, validation_rule, rule_in_schema "
        "FROM _talmera_fields WHERE table_name = 'Items' ORDER BY position");
    const Rows expected = {{"ID", "1", "0", "NULL", "0", "NULL", "0"},
                           {"Name", "1", "1", "NULL", "0", "NULL", "0"},
                           {"Qty", "0", "0", "1", "1", ">0", "1"},
                           {"Price", "0", "0", "NULL", "0", "Between 0 And 1000", "1"},
                           {"Checked", "0", "1", "NULL", "0", "NULL", "0"}};
    EXPECT_EQ(fields, expected);
}

TEST(Schema, IndexesArePrimaryKeysUniqueDescendingAndPartialIndexes) {
    OutputFile file;
    auto t = AddTable(file.db, "Parts", {{"Maker", dbText, 10}, {"No", dbLong}, {"Serial", dbText, 10}, {"Weight", dbDouble}});
    AddIndex(t, {"PrimaryKey", {"Maker", "-No"}, true});
    AddIndex(t, {"BySerial", {"Serial"}, false, true, true});
    AddIndex(t, {"Heaviest", {"-Weight"}});
    auto rs = file.db->OpenRecordset("Parts");
    AddRecord(rs, {{"Maker", std::string("acme")}, {"No", int64_t{1}}, {"Weight", 2.5}});
    AddRecord(rs, {{"Maker", std::string("acme")}, {"No", int64_t{2}}, {"Weight", 2.5}});  // two Null serials
    rs->Close();
    // An index appended once rows exist is checked against them.
    auto error = ErrorOf([&] { AddIndex(t, {"OneWeight", {"Weight"}, false, true}); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, kErrDuplicate);
    AddIndex(t, {"ByNo", {"No"}, false, true});
    file.db->Close();

    Reader reader(file.path);
    EXPECT_EQ(reader.rows("SELECT name, pk FROM pragma_table_info('Parts') WHERE pk > 0 ORDER BY pk"),
              (Rows{{"Maker", "1"}, {"No", "2"}}));
    EXPECT_EQ(reader.rows("SELECT name, \"unique\", partial FROM pragma_index_list('Parts') WHERE origin = 'c' ORDER BY name"),
              (Rows{{"Parts.ByNo", "1", "0"}, {"Parts.BySerial", "1", "1"}, {"Parts.Heaviest", "0", "0"}}));
    EXPECT_EQ(reader.value("SELECT desc FROM pragma_index_xinfo('Parts.Heaviest') WHERE name = 'Weight'"), "1");
    EXPECT_EQ(reader.rows("SELECT name, desc FROM pragma_index_xinfo((SELECT name FROM pragma_index_list('Parts') "
                          "WHERE origin = 'pk')) WHERE key = 1 ORDER BY seqno"),
              (Rows{{"Maker", "0"}, {"No", "1"}}));
    EXPECT_EQ(reader.rows("SELECT name, sqlite_name, is_primary, is_unique, ignore_nulls FROM _talmera_indexes ORDER BY name"),
              (Rows{{"ByNo", "Parts.ByNo", "0", "1", "0"},
                    {"BySerial", "Parts.BySerial", "0", "1", "1"},
                    {"Heaviest", "Parts.Heaviest", "0", "0", "0"},
                    {"PrimaryKey", "NULL", "1", "1", "0"}}));
    EXPECT_EQ(reader.rows("SELECT field_name, descending FROM _talmera_index_fields WHERE index_name = 'PrimaryKey' "
                          "ORDER BY position"),
              (Rows{{"Maker", "0"}, {"No", "1"}}));
}

TEST(Schema, RelationsBecomeForeignKeysAndTheRowsStay) {
    OutputFile file;
    auto customers = AddTable(file.db, "Customers", {{"ID", dbLong, 0, dbAutoIncrField}, {"Name", dbText, 30}});
    AddIndex(customers, {"PrimaryKey", {"ID"}, true});
    auto orders = AddTable(file.db, "Orders",
                           {{"OrderNo", dbText, 10}, {"CustomerID", dbLong}, {"Amount", dbCurrency}, {"Contact", dbText, 30}});
    AddIndex(orders, {"PrimaryKey", {"OrderNo"}, true});
    auto rs = file.db->OpenRecordset("Customers");
    AddRecord(rs, {{"Name", std::string("Ann")}});
    AddRecord(rs, {{"Name", std::string("Bob")}});
    rs->Close();
    rs = file.db->OpenRecordset("Orders");
    AddRecord(rs, {{"OrderNo", std::string("A-1")}, {"CustomerID", int64_t{1}}, {"Amount", std::string("10.5")}});
    AddRecord(rs, {{"OrderNo", std::string("A-2")}, {"CustomerID", int64_t{2}}, {"Amount", std::string("0.0001")}});
    AddRecord(rs, {{"OrderNo", std::string("A-3")}, {"CustomerID", int64_t{1}}, {"Contact", std::string("Zed")}});
    AddRecord(rs, {{"OrderNo", std::string("A-4")}});  // no customer: allowed
    rs->Close();

    auto relation = [&](const char* name, const char* field, const char* foreign, int32_t attributes) {
        auto r = file.db->CreateRelation(name, "Customers", "Orders", 0);
        auto f = r->CreateField(field);
        r->AppendField(f);
        r->SetForeignName(f, foreign);
        r->SetAttributes(attributes);
        file.db->AppendRelation(r);
    };
    relation("CustomersOrders", "ID", "CustomerID", 0x100 | 0x1000);  // cascading updates and deletes
    relation("ByContact", "Name", "Contact", 2);                       // not enforced
    file.db->Close();

    Reader reader(file.path);
    EXPECT_EQ(reader.rows("SELECT \"table\", \"from\", \"to\", on_update, on_delete FROM pragma_foreign_key_list('Orders')"),
              (Rows{{"Customers", "CustomerID", "ID", "CASCADE", "CASCADE"}}));
    EXPECT_TRUE(reader.rows("PRAGMA foreign_key_check").empty());
    EXPECT_EQ(reader.rows("SELECT rowid, OrderNo, CustomerID, Amount, Contact FROM Orders ORDER BY rowid"),
              (Rows{{"1", "A-1", "1", "10.5", "NULL"},
                    {"2", "A-2", "2", "0.0001", "NULL"},
                    {"3", "A-3", "1", "NULL", "Zed"},
                    {"4", "A-4", "NULL", "NULL", "NULL"}}));
    // The primary key and the many side's index came through the rebuild.
    EXPECT_EQ(reader.value("SELECT count(*) FROM pragma_index_list('Orders') WHERE origin = 'pk'"), "1");
    EXPECT_EQ(reader.value("SELECT count(*) FROM pragma_index_list('Orders') l JOIN pragma_index_info(l.name) i "
                           "WHERE i.seqno = 0 AND i.name = 'CustomerID'"),
              "1");
    EXPECT_EQ(reader.rows("SELECT name, table_name, foreign_table_name, enforced, foreign_key_in_schema, cascade_updates, "
                          "cascade_deletes FROM _talmera_relationships ORDER BY name"),
              (Rows{{"ByContact", "Customers", "Orders", "0", "0", "0", "0"},
                    {"CustomersOrders", "Customers", "Orders", "1", "1", "1", "1"}}));
    EXPECT_EQ(reader.rows("SELECT field_name, foreign_field_name FROM _talmera_relationship_fields "
                          "WHERE relationship_name = 'CustomersOrders'"),
              (Rows{{"ID", "CustomerID"}}));
    // And the keys work: deleting a customer takes its orders along.
    EXPECT_EQ(Execute(file.path, "DELETE FROM Customers WHERE ID = 1", true), SQLITE_OK);
    EXPECT_EQ(reader.rows("SELECT OrderNo FROM Orders ORDER BY OrderNo"), (Rows{{"A-2"}, {"A-4"}}));
    EXPECT_EQ(Execute(file.path, "INSERT INTO Orders (OrderNo, CustomerID) VALUES ('A-9', 77)", true), SQLITE_CONSTRAINT);
}

// Every query keeps its Access text; it is also a view when its translation
// gives the rows Access gives, and the metadata says why not otherwise.
TEST(Schema, QueriesAreKeptAsTextAndAsViewsWhereTheyTranslate) {
    OutputFile file;
    AddTable(file.db, "Items", {{"ID", dbLong}, {"Name", dbText, 20}, {"Price", dbCurrency}, {"Added", dbDate}});
    AddTable(file.db, "Scratch", {{"ID", dbLong}});
    auto rs = file.db->OpenRecordset("Items");
    AddRecord(rs, {{"ID", int64_t{1}}, {"Name", std::string("Nut")}, {"Price", std::string("9.5")},
                   {"Added", std::string("2019-06-01")}});
    AddRecord(rs, {{"ID", int64_t{2}}, {"Name", std::string("Bolt")}, {"Price", std::string("10")},
                   {"Added", std::string("2021-03-04")}});
    rs->Close();

    struct QueryCase {
        const char* name;
        const char* sql;
        const char* reason;  // empty: a view
        Rows rows = {};
    };
    const QueryCase queries[] = {
        {"Named", "SELECT [Items].[Name], [Price] FROM [Items] WHERE [ID] > 1 ORDER BY [Name];", "", {{"Bolt", "10"}}},
        {"DoubleQuoted", "SELECT Name FROM Items WHERE Name = \"nut\"", "", {{"Nut"}}},
        {"OnQuery", "SELECT * FROM [Later] ORDER BY ID", "", {{"1"}, {"2"}}},  // names a query appended after it
        {"Later", "SELECT ID FROM Items", "", {{"1"}, {"2"}}},
        {"DateLiteral", "SELECT Name FROM Items WHERE Added > #1/1/2020#", "", {{"Bolt"}}},
        {"Pattern", "SELECT Name FROM Items WHERE Name Like 'N*'", "", {{"Nut"}}},
        // Currency is a number in the file; the view compares the numbers.
        {"PriceCompared", "SELECT Name FROM Items WHERE Price > 9.75", "", {{"Bolt"}}},
        {"Top", "SELECT TOP 1 Name FROM Items ORDER BY Price DESC", "", {{"Bolt"}}},
        {"AccessFunction", "SELECT Nz(Name, '') & '!' AS Shout FROM Items ORDER BY ID", "", {{"Nut!"}, {"Bolt!"}}},
        {"Action", "DELETE FROM Items", "is a delete query: it changes data"},
        {"Parameter", "SELECT Name FROM Items WHERE Price > [Least]",
         "asks for the parameter [Least] when it runs (no source has such a field)"},
        {"VbaFunction", "SELECT TaxOf(Price) FROM Items", "calls TaxOf, a function of the database's VBA code"},
        {"PassThrough", "SELECT * FROM Items", "is a pass-through query: its SQL runs on its ODBC source"},
        {"OnScratch", "SELECT ID FROM Scratch", "reads [Scratch], which the database does not have"},  // deleted below
    };
    for (const QueryCase& q : queries) {
        auto def = file.db->CreateQueryDef("", "");
        def->SetName(q.name);
        def->SetSQL(q.sql);
        if (std::string(q.name) == "PassThrough") def->SetConnect("ODBC;DSN=Stock");
        file.db->AppendQueryDef(def);
    }
    file.db->DeleteTableDef("Scratch");
    file.db->Close();

    Reader reader(file.path);
    for (const QueryCase& q : queries) {
        SCOPED_TRACE(q.name);
        const std::string where = std::string(" FROM _talmera_queries WHERE name = '") + q.name + "'";
        const bool view = !*q.reason;
        EXPECT_EQ(reader.value("SELECT sql || '|' || view_created" + where), std::string(q.sql) + "|" + (view ? "1" : "0"));
        EXPECT_EQ(reader.value("SELECT ifnull(no_view_reason, '')" + where), q.reason);
        EXPECT_EQ(reader.value("SELECT view_sql IS NOT NULL" + where), view ? "1" : "0");
        EXPECT_EQ(reader.value(std::string("SELECT count(*) FROM sqlite_master WHERE type = 'view' AND name = '") +
                               q.name + "'"),
                  view ? "1" : "0");
        if (view) {
            EXPECT_EQ(reader.rows(std::string("SELECT * FROM \"") + q.name + "\""), q.rows);
        }
    }
    EXPECT_EQ(reader.value("SELECT connect FROM _talmera_queries WHERE name = 'PassThrough'"), "ODBC;DSN=Stock");
}

TEST(Schema, LinksPropertiesAndTheDatabaseRowAreInTheMetadata) {
    OutputFile file(dbVersion120);
    auto link = file.db->CreateTableDef("Remote Orders");
    link->SetConnect(";DATABASE=C:\\Data\\Sales.accdb");
    link->SetSourceTableName("Orders");
    file.db->AppendTableDef(link);

    auto t = AddTable(file.db, "Items", {{"Name", dbText, 20}, {"Weight", dbDecimal}});
    auto name = t->FieldItem("Name");
    name->AppendProperty(name->CreateProperty("Caption", dbText, std::string("Item name"), false));
    name->AppendProperty(name->CreateProperty("ColumnWidth", dbInteger, int64_t{2400}, false));
    name->AppendProperty(name->CreateProperty("DecimalPlaces", dbByte, std::string("255"), false));  // converted
    name->AppendProperty(name->CreateProperty("ColumnHidden", dbBoolean, int64_t{1}, false));
    auto weight = t->FieldItem("Weight");
    weight->AppendProperty(weight->CreateProperty("Precision", dbInteger, int64_t{18}, true));
    weight->AppendProperty(weight->CreateProperty("Scale", dbInteger, int64_t{3}, true));
    t->AppendProperty(t->CreateProperty("Description", dbText, std::string("Stock items"), false));
    EXPECT_EQ(std::get<std::string>(name->PropertyItem("caption")->Value()), "Item name");
    EXPECT_TRUE(std::get<bool>(name->PropertyItem("AllowZeroLength")->Value()) == false);
    name->PropertyItem("AllowZeroLength")->SetValue(true);  // a built-in property sets the field
    EXPECT_TRUE(name->AllowZeroLength());

    // A deleted table leaves nothing behind.
    AddTable(file.db, "QTARTable", {{"Name", dbText, 20}});
    auto scratch = file.db->TableDefItem("QTARTable")->FieldItem("Name");
    scratch->AppendProperty(scratch->CreateProperty("Caption", dbText, std::string("x"), false));
    file.db->OpenRecordset("QTARTable")->Close();
    file.db->DeleteTableDef("QTARTable");
    EXPECT_EQ(file.db->TableDefCount(), 2);
    file.db->Close();

    Reader reader(file.path);
    EXPECT_EQ(reader.rows("SELECT name, connect, source_table_name FROM _talmera_links"),
              (Rows{{"Remote Orders", ";DATABASE=C:\\Data\\Sales.accdb", "Orders"}}));
    EXPECT_EQ(reader.value("SELECT count(*) FROM sqlite_master WHERE name IN ('Remote Orders', 'QTARTable')"), "0");
    EXPECT_EQ(reader.rows("SELECT table_name, field_name, name, type, typeof(value), value, ddl FROM _talmera_properties "
                          "ORDER BY table_name, field_name, position"),
              (Rows{{"Items", "", "Description", "10", "text", "Stock items", "0"},
                    {"Items", "Name", "Caption", "10", "text", "Item name", "0"},
                    {"Items", "Name", "ColumnWidth", "3", "integer", "2400", "0"},
                    {"Items", "Name", "DecimalPlaces", "2", "integer", "255", "0"},
                    {"Items", "Name", "ColumnHidden", "1", "integer", "1", "0"},
                    {"Items", "Weight", "Precision", "3", "integer", "18", "1"},
                    {"Items", "Weight", "Scale", "3", "integer", "3", "1"}}));
    EXPECT_EQ(reader.rows("SELECT name, allow_zero_length, sqlite_type FROM _talmera_fields ORDER BY position"),
              (Rows{{"Name", "1", "VARCHAR(20)"}, {"Weight", "0", "DECIMAL(18,3)"}}));
    EXPECT_EQ(reader.value("SELECT count(*) FROM _talmera_tables"), "1");
    EXPECT_EQ(reader.rows("SELECT key, value FROM _talmera_database WHERE key IN ('format', 'format_option', 'locale') "
                          "ORDER BY key"),
              (Rows{{"format", "ACE"}, {"format_option", "128"}, {"locale", ";LANGID=0x0419;CP=1251;COUNTRY=7;"}}));
}

}  // namespace
}  // namespace talmera::dao::test
