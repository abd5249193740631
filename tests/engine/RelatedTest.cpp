// Related objects: property blocks, relationships, linked tables, complex
// columns and attachments, read from generated databases and saved into the
// SQLite output, then read back with SQLite.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "engine/save/OutputDatabase.h"
#include "related/Related.h"
#include "tests/engine/Fixtures.h"
#include "tests/engine/SaveSupport.h"

namespace talmera::test {
namespace {

namespace jw = jetwriter;
using jw::Format;

jw::Bytes randomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    jw::Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(gen());
    return b;
}

jw::Bytes textBytes(const std::string& s) { return jw::Bytes(s.begin(), s.end()); }

std::string hex(const jw::Bytes& b) {
    static const char* d = "0123456789ABCDEF";
    std::string out;
    for (uint8_t x : b) out += {d[x >> 4], d[x & 15]};
    return out;
}

const columnInfo* findColumn(const tableInfo& t, const std::string& name) {
    for (const columnInfo& c : t.columns)
        if (c.name == name) return &c;
    return nullptr;
}

std::vector<std::pair<std::string, std::string>> props(const columnInfo& c) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const columnProperties& p : c.properties) out.emplace_back(p.name, p.value);
    return out;
}

// ---- property blocks -------------------------------------------------------------

// Customers with a table group first, then column groups; padded by a long
// Description so that the block needs one long-value page, or a chain.
jw::Table propertyTable(size_t descriptionChars) {
    jw::Table t = simpleTable("Customers");
    jw::PropertyGroup table{"Customers", true, {jw::textProperty("Description", "all customers")}};
    jw::PropertyGroup id{"ID", false, {jw::Property{"ColumnWidth", 3, {0xFF, 0xFF}, 0}, jw::byteProperty("Required", 1)}};
    jw::PropertyGroup label{"Label", false,
                            {jw::textProperty("Description", std::string(descriptionChars, 'd')),
                             jw::textProperty("Caption", "Customer name"),
                             jw::Property{"AllowMultipleValues", 1, {1, 0}, 0}}};
    jw::PropertyGroup amount{"Amount", false, {jw::longProperty("ColumnWidth", -1), jw::byteProperty("AllowMultipleValues", 1)}};
    t.properties = {table, id, label, amount};
    return t;
}

TEST(PropertyBlockTest, GroupsOnOnePageAndAcrossAChainGiveEachColumnItsProperties) {
    // 40 characters: one long-value row; 3000 (6000 bytes): a chain of pages,
    // with the Label group split between them.
    for (Format format : {Format::Jet4, Format::Ace}) {
        for (size_t chars : {size_t{40}, size_t{3000}}) {
            SCOPED_TRACE(std::string(formatName(format)) + " description of " + std::to_string(chars));
            TempDir dir;
            jw::Database db;
            db.format = format;
            db.tables = {propertyTable(chars)};
            const std::string path = writeDatabase(dir, "props.mdb", db);
            ScanResult scan = runScan(path);
            const tableInfo* t = findTable(*scan.engine, "Customers");
            ASSERT_NE(t, nullptr);
            using P = std::vector<std::pair<std::string, std::string>>;
            EXPECT_EQ(props(*findColumn(*t, "ID")), (P{{"ColumnWidth", "65535"}, {"Required", "1"}}));
            EXPECT_EQ(props(*findColumn(*t, "Label")),
                      (P{{"Description", std::string(chars, 'd')}, {"Caption", "Customer name"}, {"AllowMultipleValues", "\x01"}}));
            EXPECT_EQ(props(*findColumn(*t, "Amount")), (P{{"ColumnWidth", "-1"}, {"AllowMultipleValues", "1"}}));
            // Only a one-byte value that is not 0 allows several values.
            EXPECT_FALSE(findColumn(*t, "Label")->allowsMultipleValues);
            EXPECT_TRUE(findColumn(*t, "Amount")->allowsMultipleValues);
            EXPECT_EQ(scan.engine->relatedStatistics.propertyBlocksUnreadable, 0u);

            if (haveProgram("mdb-prop")) {
                std::string out;
                ASSERT_EQ(runCommand("mdb-prop " + shellQuote(path) + " Customers", &out), 0);
                EXPECT_NE(out.find("Caption: Customer name"), std::string::npos) << out;
            }
        }
    }
}

TEST(PropertyBlockTest, DamagedBlocksAndJet3GiveNoPropertiesAndAreCounted) {
    TempDir dir;
    jw::Database db;
    db.format = Format::Jet4;
    db.tables = {propertyTable(3000)};
    jw::Layout layout;
    const std::string path = writeDatabase(dir, "props.mdb", db, &layout);
    ScanResult clean = runScan(path);
    const tableInfo* t = findTable(*clean.engine, "Customers");
    ASSERT_NE(t, nullptr);
    // The chain's first page lost: nothing to read, and the scan goes on.
    jw::Damage damage;
    damage.zeroPages = {t->propertyPage};
    const std::string damaged = writeDatabase(dir, "damaged.mdb", db, nullptr, &damage);
    ScanResult scan = runScan(damaged);
    const tableInfo* d = findTable(*scan.engine, "Customers");
    ASSERT_NE(d, nullptr);
    for (const columnInfo& c : d->columns) EXPECT_TRUE(c.properties.empty()) << c.name;
    EXPECT_EQ(scan.engine->relatedStatistics.propertyBlocksUnreadable, 1u);

    db.format = Format::Jet3;
    db.tables[0].properties.clear();
    ScanResult jet3 = runScan(writeDatabase(dir, "jet3.mdb", db));
    for (const columnInfo& c : findTable(*jet3.engine, "Customers")->columns) EXPECT_TRUE(c.properties.empty());
}

// ---- relationships, links and complex columns: one database ------------------------

struct ComplexCase {
    const char* column;
    uint8_t type;
    std::vector<std::pair<uint32_t, jw::Value>> values;
    std::vector<std::vector<std::string>> expected;  // per key 1..3: the stored values as SQLite text
};

std::vector<ComplexCase> complexCases() {
    const jw::Bytes guid = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10};
    return {
        {"Tags", jw::kText, {{1, std::string("red")}, {1, std::string("blue")}, {2, std::string("grün")}},
         {{"red", "blue"}, {"grün"}, {}}},
        {"Sizes", jw::kLong, {{1, int64_t{10}}, {2, int64_t{-20}}, {3, int64_t{2147483647}}},
         {{"10"}, {"-20"}, {"2147483647"}}},
        {"Weights", jw::kDouble, {{3, 2.5}, {3, -0.125}}, {{}, {}, {"2.5", "-0.125"}}},
        {"Levels", jw::kByte, {{1, int64_t{255}}}, {{"255"}, {}, {}}},
        {"Codes", jw::kGuid, {{2, guid}}, {{}, {"{04030201-0605-0807-090A-0B0C0D0E0F10}"}, {}}},
        {"Prices", jw::kDecimal, {{1, std::string("-12.34")}}, {{"-12.34"}, {}, {}}},
    };
}

struct Fixture {
    jw::Database db;
    std::vector<std::pair<uint32_t, jw::Attachment>> attachments;
};

Fixture relatedDatabase() {
    Fixture fx;
    jw::Database& db = fx.db;
    db.format = Format::Ace;

    jw::Table customers = simpleTable("Customers");
    customers.indexes = {jw::Index{"PrimaryKey", {{0}}, true, true, false, false}};
    jw::Table regions;
    regions.name = "Regions";
    regions.columns = {col("Name", jw::kText, 20), col("Code", jw::kLong)};
    regions.rows = {{{std::string("North"), int64_t{1}}}, {{std::string("South"), int64_t{2}}}};
    regions.indexes = {jw::Index{"NameCode", {{0}, {1}}, false, true, false, false}};
    jw::Table tagList;
    tagList.name = "TagList";
    tagList.columns = {col("Tag", jw::kText, 20)};
    tagList.rows = {{{std::string("red")}}};
    tagList.indexes = {jw::Index{"PrimaryKey", {{0}}, true, true, false, false}};

    jw::Table orders;
    orders.name = "Orders";
    orders.columns = {col("OrderID", jw::kLong), col("CustomerID", jw::kLong), col("Region", jw::kText, 20),
                      col("RegionCode", jw::kLong), col("Files", jw::kComplex)};
    orders.columns[0].autoNumber = true;
    orders.indexes = {jw::Index{"PrimaryKey", {{0}}, true, true, false, false}};
    const std::vector<ComplexCase> cases = complexCases();
    for (const ComplexCase& c : cases) orders.columns.push_back(col(c.column, jw::kComplex));
    for (int64_t k = 1; k <= 3; ++k) {
        jw::Row r;
        r.values = {k, k, std::string(k == 2 ? "South" : "North"), int64_t{k == 2 ? 2 : 1}, k};
        for (size_t c = 0; c < cases.size(); ++c) r.values.push_back(k);
        orders.rows.push_back(r);
    }
    // Multi-valued Tags: the value table's own "Value" properties reach it.
    orders.properties = {{"Tags", false, {jw::byteProperty("AllowMultipleValues", 1)}}};
    db.tables = {customers, regions, tagList, orders};

    fx.attachments = {
        {1, {"notes.txt", textBytes(std::string(300, 'n') + "end"), true}},
        {1, {"photo.bin", randomBytes(300, 1), false}},   // two attachments in one row
        {2, {"tiny.txt", textBytes("hi"), true}},          // kept in the value row itself
        {2, {"big.dat", randomBytes(20000, 2), true}},      // deflated, still over several pages
        {3, {"raw.dat", randomBytes(9000, 3), false}},      // stored as it is, over several pages
    };
    db.tables.push_back(jw::attachmentValueTable("Orders", "Files", fx.attachments));
    db.complexColumns.push_back({"Orders", "Files", db.tables.back().name});
    for (const ComplexCase& c : cases) {
        db.tables.push_back(jw::multiValueTable("Orders", c.column, c.type, c.values));
        db.complexColumns.push_back({"Orders", c.column, db.tables.back().name});
    }
    db.tables.back().properties.clear();
    for (jw::Table& t : db.tables)
        if (t.name == "f_Orders_Tags") t.properties = {{"Value", false, {jw::textProperty("Caption", "Tag")}}};

    db.relationships = {
        {"CustomersOrders", "Orders", "CustomerID", "Customers", "ID", 0x1100, 1, 0, false},
        {"RegionsOrders", "Orders", "Region", "Regions", "Name", 0, 2, 0, false},
        {"RegionsOrders", "Orders", "RegionCode", "Regions", "Code", 0, 2, 1, false},
        {"Loose", "Orders", "CustomerID", "Customers", "ID", 2 | 0x01000000, 1, 0, false},
        // A row Access marked deleted (0xC000) is no relationship any more.
        {"Gone", "Orders", "CustomerID", "Customers", "ID", 0, 1, 0, true},
        // Two identical rows make one field pair.
        {"Twice", "Orders", "RegionCode", "Regions", "Code", 2, 2, 0, false},
        {"Twice", "Orders", "RegionCode", "Regions", "Code", 2, 2, 1, false},
        // No column count: passed over, and the save goes on.
        {"Broken", "Orders", "CustomerID", "Customers", "ID", 0, 0, 0, false},
        // To a complex column's value table: made against the owning column.
        // It claims three rows and is the last: the missing ones are passed over.
        {"TagListOrders", "f_Orders_Tags", "Value", "TagList", "Tag", 2, 3, 0, false},
    };

    auto link = [&](const std::string& name, jw::ObjectKind kind, const std::string& path, const std::string& connect,
                    const std::string& foreign) {
        jw::CatalogObject o;
        o.name = name;
        o.kind = kind;
        o.linkPath = path;
        o.connect = connect;
        o.foreignName = foreign;
        db.objects.push_back(o);
    };
    link("Sales", jw::ObjectKind::LinkedTable, "C:\\Data\\Sales.accdb", ";DATABASE=C:\\Data\\Sales.accdb", "SalesData");
    link("Prices", jw::ObjectKind::LinkedTable, "C:\\Text", "Text;DSN=Prices;FMT=Delimited;HDR=NO;DATABASE=C:\\Text",
         "prices#csv");
    link("Sheet", jw::ObjectKind::LinkedTable, "C:\\Books\\Q1.xls", "Excel 8.0;HDR=YES;IMEX=2;DATABASE=C:\\Books\\Q1.xls", "");
    link("Inbox", jw::ObjectKind::LinkedTable, "C:\\Mail\\box.pst", "Outlook 9.0;MAPILEVEL=Inbox|;TABLETYPE=0;", "Inbox");
    link("LongPath", jw::ObjectKind::LinkedTable, "C:\\" + std::string(1100, 'p') + "\\far.mdb", ";DATABASE=", "");
    const char* odbc[] = {"DRIVER=SQL Server;SERVER=s1", "DRIVER=SQL Native Client;SERVER=s2", "DSN=ora;SERVER=ORCL",
                          "DSN=Visual FoxPro Database;UID=a", "DSN=Visual FoxPro Tables;UID=b", "DSN=fox;SourceType=DBC"};
    for (int k = 0; k < 6; ++k)
        link("Remote" + std::to_string(k), jw::ObjectKind::OdbcLink, odbc[k], "ODBC;DSN=whatever", "dbo.T" + std::to_string(k));
    // As Access keeps most ODBC links: no Database value, the whole
    // connection in Connect.
    link("Billing", jw::ObjectKind::OdbcLink, "", "ODBC;DSN=Invoices;UID=clerk;DATABASE=billing", "dbo.Invoices");
    // An Access link with a path and no Connect value.
    link("Plain", jw::ObjectKind::LinkedTable, "C:\\Data\\Plain.mdb", "", "Stock");
    return fx;
}

TEST(RelatedObjectsTest, ScanReadsRelationshipsLinksAndComplexColumns) {
    TempDir dir;
    Fixture fx = relatedDatabase();
    const std::string path = writeDatabase(dir, "related.accdb", fx.db);
    ScanResult scan = runScan(path);
    CMDBRecovery& e = *scan.engine;

    // Every row but the deleted one and the one without a column count.
    std::vector<std::string> names;
    for (const RelationInfo& r : e.relations) names.push_back(r.relationName);
    EXPECT_EQ(names, (std::vector<std::string>{"CustomersOrders", "RegionsOrders", "RegionsOrders", "Loose", "Twice",
                                               "Twice", "TagListOrders"}));
    EXPECT_EQ(e.relatedStatistics.relationRowsSkipped, 1u);
    const RelationInfo& first = e.relations[0];
    EXPECT_EQ(first.tableName, "Customers");
    EXPECT_EQ(first.columnName, "ID");
    EXPECT_EQ(first.foreignTableName, "Orders");
    EXPECT_EQ(first.foreignColumnName, "CustomerID");
    EXPECT_EQ(first.columnCount, 1);
    EXPECT_TRUE(first.enforceIntegrity && first.cascadeUpdates && first.cascadeDeletes && first.innerJoin);
    EXPECT_TRUE(!e.relations[3].enforceIntegrity && e.relations[3].leftJoin);

    ASSERT_EQ(e.linkedTables.size(), 13u);
    EXPECT_EQ(e.linkedTables[4].databasePath, "C:\\" + std::string(1100, 'p') + "\\far.mdb");  // out of the row
    EXPECT_EQ(RelatedReader(e).ReadConnectValue(e.linkedTables[3].connectPosition), "Outlook 9.0;MAPILEVEL=Inbox|;TABLETYPE=0;");

    ASSERT_EQ(e.complexColumns.size(), 7u);
    const tableInfo* orders = findTable(e, "Orders");
    ASSERT_NE(orders, nullptr);
    const columnInfo* files = findColumn(*orders, "Files");
    ASSERT_EQ(files->attachments.size(), fx.attachments.size());
    EXPECT_EQ(files->attachments[0].fileName, "notes.txt");
    EXPECT_EQ(files->attachments[1].key, 1u);
    EXPECT_EQ(findColumn(*orders, "Tags")->complexValues.size(), 3u);
    EXPECT_TRUE(findColumn(*orders, "Tags")->allowsMultipleValues);
    EXPECT_EQ(e.relatedStatistics.complexRowsSkipped, 0u);

    // The value types of the output fields.
    const std::pair<const char*, int> types[] = {{"Files", 101}, {"Tags", 109}, {"Sizes", 104}, {"Weights", 106},
                                                 {"Levels", 102}, {"Codes", 107}, {"Prices", 108}};
    for (auto [name, type] : types) {
        EXPECT_EQ(OutputOf(e).ComplexFieldType(orders->definitionPage, name, const_cast<tableInfo&>(*orders)), type) << name;
    }
    // A column MSysComplexColumns does not list is an attachment column.
    EXPECT_EQ(OutputOf(e).ComplexFieldType(orders->definitionPage, "Missing", const_cast<tableInfo&>(*orders)), 101);

    if (haveProgram("mdb-export")) {
        EXPECT_EQ(mdbExportRows(path, "MSysRelationships").size(), fx.db.relationships.size() - 1);  // not the deleted
        std::vector<std::string> tags;
        for (const auto& row : mdbExportRows(path, "f_Orders_Tags")) tags.push_back(row[0].value_or("NULL"));
        EXPECT_EQ(tags, (std::vector<std::string>{"red", "blue", "grün"}));
        EXPECT_EQ(mdbExportRows(path, "f_Orders_Files").size(), fx.attachments.size());
        EXPECT_EQ(mdbExportRows(path, "Orders").size(), 3u);
    }
}

TEST(RelatedObjectsTest, SaveWritesForeignKeysLinksAttachmentsAndValues) {
    TempDir dir;
    Fixture fx = relatedDatabase();
    const std::string path = writeDatabase(dir, "related.accdb", fx.db);
    Saved s = saveAll(path, dir, -1, false, true);
    ASSERT_TRUE(s.started);
    const std::string& out = s.output;

    // Relationships: real foreign keys that the rows satisfy, and the metadata.
    EXPECT_TRUE(queryRows(out, "PRAGMA foreign_key_check").empty());
    using Rows = std::vector<std::vector<std::optional<std::string>>>;
    EXPECT_EQ(queryRows(out, "SELECT name, table_name, foreign_table_name, enforced, cascade_updates, cascade_deletes, "
                             "join_type FROM _talmera_relationships ORDER BY name"),
              (Rows{{"CustomersOrders", "Customers", "Orders", "1", "1", "1", "inner"},
                    {"Loose", "Customers", "Orders", "0", "0", "0", "left"},
                    {"RegionsOrders", "Regions", "Orders", "1", "0", "0", "inner"},
                    {"TagListOrders", "TagList", "Orders", "0", "0", "0", "inner"},
                    {"Twice", "Regions", "Orders", "0", "0", "0", "inner"}}));
    EXPECT_EQ(queryRows(out, "SELECT relationship_name, field_name, foreign_field_name FROM "
                             "_talmera_relationship_fields ORDER BY relationship_name, position"),
              (Rows{{"CustomersOrders", "ID", "CustomerID"},
                    {"Loose", "ID", "CustomerID"},
                    {"RegionsOrders", "Name", "Region"},
                    {"RegionsOrders", "Code", "RegionCode"},
                    {"TagListOrders", "Tag", "Tags"},
                    {"Twice", "Code", "RegionCode"}}));
    EXPECT_EQ(queryRows(out, "SELECT \"table\", \"from\", \"to\", on_update, on_delete FROM "
                             "pragma_foreign_key_list('Orders') ORDER BY \"table\", seq"),
              (Rows{{"Customers", "CustomerID", "ID", "CASCADE", "CASCADE"},
                    {"Regions", "Region", "Name", "NO ACTION", "NO ACTION"},
                    {"Regions", "RegionCode", "Code", "NO ACTION", "NO ACTION"}}));

    // Links: the rebuilt connect text and the source table name.
    const std::string longPath = "C:\\" + std::string(1100, 'p') + "\\far.mdb";
    Rows links = {{"Billing", "ODBC;DSN=Invoices;UID=clerk;DATABASE=billing", "dbo.Invoices"},
                  {"Inbox", "Outlook 9.0;MAPILEVEL=Inbox|;TABLETYPE=0;DATABASE=C:\\Mail\\box.pst", "Inbox"},
                  {"LongPath", ";DATABASE=" + longPath, "LongPath"},
                  {"Plain", ";DATABASE=C:\\Data\\Plain.mdb", "Stock"},
                  {"Prices", "Text;DATABASE=C:\\Text", "prices#csv"},
                  {"Sales", ";DATABASE=C:\\Data\\Sales.accdb", "SalesData"},
                  {"Sheet", "Excel 8.0;DATABASE=C:\\Books\\Q1.xls", "Sheet"}};
    const char* odbc[] = {"DRIVER=SQL Server;SERVER=s1", "DRIVER=SQL Native Client;SERVER=s2", "DSN=ora;SERVER=ORCL",
                          "DSN=Visual FoxPro Database;UID=a", "DSN=Visual FoxPro Tables;UID=b", "DSN=fox;SourceType=DBC"};
    for (int k = 0; k < 6; ++k) {
        const std::string source = "dbo.T" + std::to_string(k);
        links.push_back({"Remote" + std::to_string(k), "ODBC;" + std::string(odbc[k]) + ";DATABASE=;TABLE=" + source, source});
    }
    std::sort(links.begin(), links.end());
    EXPECT_EQ(queryRows(out, "SELECT name, connect, source_table_name FROM _talmera_links ORDER BY name"), links);
    int linkLines = 0;
    for (const std::string& line : s.receiver->logLines) linkLines += line.rfind("Saving Link Table.....  ", 0) == 0;
    EXPECT_EQ(linkLines, 13);

    // Attachments come back byte for byte, in order, keyed by the record.
    Rows expected;
    std::map<uint32_t, int> position;
    for (const auto& [key, a] : fx.attachments)
        expected.push_back({std::to_string(key), std::to_string(position[key]++), a.fileName, hex(a.content)});
    EXPECT_EQ(queryRows(out, "SELECT row_id, position, file_name, hex(file_data) FROM _talmera_attachments "
                             "WHERE table_name = 'Orders' AND field_name = 'Files' ORDER BY row_id, position"),
              expected);
    // The same rows through the field's own child view.
    EXPECT_EQ(queryRows(out, "SELECT row_id, position, file_name, hex(file_data) FROM \"Orders.Files\" "
                             "ORDER BY row_id, position"),
              expected);
    // Multi-valued values, in their type.
    for (const ComplexCase& c : complexCases()) {
        Rows values;
        for (size_t key = 0; key < c.expected.size(); ++key)
            for (const std::string& v : c.expected[key]) values.push_back({std::to_string(key + 1), v});
        EXPECT_EQ(queryRows(out, std::string("SELECT row_id, value FROM _talmera_complex_values WHERE table_name = "
                                             "'Orders' AND field_name = '") + c.column + "' ORDER BY row_id, position"),
                  values)
            << c.column;
        EXPECT_EQ(queryRows(out, std::string("SELECT row_id, value FROM \"Orders.") + c.column +
                                     "\" ORDER BY row_id, position"),
                  values)
            << c.column;
    }
    // Nothing left of the scratch table, and the value table's Caption on its column.
    EXPECT_EQ(scalar(out, "SELECT count(*) FROM _talmera_attachments WHERE table_name <> 'Orders'"), "0");
    EXPECT_EQ(scalar(out, "SELECT value FROM _talmera_properties WHERE table_name = 'Orders' AND field_name = 'Tags' "
                          "AND name = 'Caption'"),
              "Tag");
    EXPECT_EQ(scalar(out, "SELECT type FROM _talmera_fields WHERE table_name = 'Orders' AND name = 'Files'"), "101");
}

TEST(RelatedObjectsTest, AnAttachmentThatDoesNotInflateKeepsWhatWasInflatedAndIsLogged) {
    TempDir dir;
    jw::Database db;
    db.format = Format::Ace;
    jw::Table docs;
    docs.name = "Docs";
    docs.columns = {col("ID", jw::kLong), col("Files", jw::kComplex)};
    docs.rows = {{{int64_t{1}, int64_t{1}}}};
    jw::Attachment cut{"report.txt", textBytes(std::string(5000, 'r') + std::string(5000, 's')), true};
    jw::Attachment whole = cut;
    cut.deflatedBytesKept = 20;
    db.tables = {docs, jw::attachmentValueTable("Docs", "Files", {{1, cut}, {1, whole}})};
    db.complexColumns = {{"Docs", "Files", db.tables[1].name}};
    Saved s = saveAll(writeDatabase(dir, "cut.accdb", db), dir);
    ASSERT_TRUE(s.started);
    const auto rows = queryRows(s.output, "SELECT file_name, file_data FROM _talmera_attachments ORDER BY position");
    ASSERT_EQ(rows.size(), 2u);
    const std::string kept = rows[0][1].value_or("");
    EXPECT_LT(kept.size(), 10000u);
    EXPECT_EQ(kept, std::string(kept.size(), 'r'));  // a true beginning of the file
    EXPECT_EQ(rows[1][1].value_or(""), std::string(5000, 'r') + std::string(5000, 's'));
    EXPECT_EQ(s.scan.engine->relatedStatistics.attachmentsIncomplete, 1u);
    int logged = 0;
    for (const std::string& line : s.receiver->logLines) logged += line == "Attachment stored incomplete  : Files : report.txt";
    EXPECT_EQ(logged, 1);
}

// An append-only memo: its current value in its own field, each earlier
// version with its date in the hidden version-history field, NULL kept.
TEST(RelatedObjectsTest, AppendOnlyMemoKeepsItsVersionHistory) {
    TempDir dir;
    const jw::Database db = jw::appendOnlyMemoDatabase();
    const std::string history = db.tables[0].columns[2].name;
    Saved s = saveAll(writeDatabase(dir, "history.accdb", db), dir);
    ASSERT_TRUE(s.started);
    const std::string& out = s.output;
    using Rows = std::vector<std::vector<std::optional<std::string>>>;
    const std::string longText = std::get<std::string>(db.tables[0].rows[3].values[1]);
    EXPECT_EQ(queryRows(out, "SELECT rowid, ID, Remarks FROM Notes ORDER BY ID"),
              (Rows{{"1", "1", "third"}, {"2", "2", std::nullopt}, {"3", "3", "never changed"}, {"4", "4", longText}}));
    const Rows versions = {{"1", "0", "first", "2023-03-15 06:00:00"},
                           {"1", "1", "second", "2023-03-16 12:00:00"},
                           {"1", "2", "third", "2023-03-17 18:00:00"},
                           {"2", "0", "was here", "2023-03-25 00:00:00"},
                           {"2", "1", std::nullopt, "2023-03-26 03:00:00"},
                           {"4", "0", longText, "2023-04-04 00:00:00"}};
    EXPECT_EQ(queryRows(out, "SELECT row_id, position, value, modified FROM _talmera_complex_values WHERE "
                             "table_name = 'Notes' AND field_name = '" + history + "' ORDER BY row_id, position"),
              versions);
    // The field's own child view gives the same rows; row 3 has none.
    EXPECT_EQ(queryRows(out, "SELECT row_id, position, value, modified FROM \"Notes." + history +
                                 "\" ORDER BY row_id, position"),
              versions);
    EXPECT_EQ(scalar(out, "SELECT count(*) FROM _talmera_complex_values WHERE row_id = 3"), "0");
    EXPECT_EQ(scalar(out, "SELECT type FROM _talmera_fields WHERE table_name = 'Notes' AND name = '" + history + "'"),
              "110");
    EXPECT_EQ(scalar(out, "SELECT count(*) FROM _talmera_complex_values WHERE table_name <> 'Notes'"), "0");
    EXPECT_EQ(s.scan.engine->relatedStatistics.complexRowsSkipped, 0u);
}

TEST(RelatedObjectsTest, Jet3RelationshipsAreReadToo) {
    TempDir dir;
    jw::Database db;
    db.format = Format::Jet3;
    jw::Table orders = simpleTable("Orders");
    orders.name = "Orders";
    db.tables = {simpleTable("Customers"), orders};
    db.relationships = {{"CustomersOrders", "Orders", "Amount", "Customers", "ID", 0x1000, 1, 0, false},
                        {"Gone", "Orders", "Label", "Customers", "Label", 0, 1, 0, true}};
    ScanResult scan = runScan(writeDatabase(dir, "jet3.mdb", db));
    ASSERT_EQ(scan.engine->relations.size(), 1u);
    const RelationInfo& r = scan.engine->relations[0];
    EXPECT_EQ(r.relationName, "CustomersOrders");
    EXPECT_EQ(r.tableName, "Customers");
    EXPECT_EQ(r.columnName, "ID");
    EXPECT_EQ(r.foreignTableName, "Orders");
    EXPECT_EQ(r.foreignColumnName, "Amount");
    EXPECT_TRUE(r.cascadeDeletes && !r.cascadeUpdates);
}

// ---- the real files ------------------------------------------------------------------

TEST(RelatedCorpusTest, FindsEveryRelationshipLinkAndAttachment) {
    const auto corpus = corpusDir();
    if (corpus.empty()) GTEST_SKIP() << "no corpus";
    struct Expect {
        const char* file;
        size_t relations;
        size_t attachments;
    };
    // Every MSysRelationships row (mdb-export lists the same), and the
    // attachments of attachments.accdb.
    const Expect expected[] = {
        {"mdbtestdata/nwind.mdb", 7, 0},
        {"mdbtestdata/DateTestDatabase.mdb", 2, 0},
        {"mdbreader/creation-date/data/V2000.mdb", 2, 0},
        {"mdbreader/creation-date/data/V2010.accdb", 2, 0},
        {"mdbreader/data/real/ASampleDatabase.accdb", 1, 0},
        {"mdbreader/data/V2016/attachments.accdb", 2, 4},
    };
    for (const Expect& x : expected) {
        SCOPED_TRACE(x.file);
        ScanResult scan = runScan((corpus / x.file).string());
        EXPECT_EQ(scan.engine->relations.size(), x.relations);
        size_t attachments = 0;
        for (const tableInfo& t : scan.engine->tables)
            for (const columnInfo& c : t.columns) attachments += c.attachments.size();
        EXPECT_EQ(attachments, x.attachments);
        EXPECT_TRUE(scan.engine->linkedTables.empty());
    }
    // Northwind's relationships (Jet 3) become foreign keys its rows satisfy.
    TempDir dir;
    Saved nwind = saveAll((corpus / "mdbtestdata/nwind.mdb").string(), dir);
    EXPECT_TRUE(queryRows(nwind.output, "PRAGMA foreign_key_check").empty());
    EXPECT_EQ(scalar(nwind.output, "SELECT count(*) FROM _talmera_relationships WHERE foreign_key_in_schema = 1"), "7");
    // The attached files of attachments.accdb, saved.
    std::filesystem::remove(nwind.output);
    Saved s = saveAll((corpus / "mdbreader/data/V2016/attachments.accdb").string(), dir);
    using Rows = std::vector<std::vector<std::optional<std::string>>>;
    EXPECT_EQ(queryRows(s.output, "SELECT row_id, file_name, file_data FROM _talmera_attachments ORDER BY row_id, position"),
              (Rows{{"2", "attachment1.txt", "Attachment 1"},
                    {"3", "attachment1.txt", "Attachment 1"},
                    {"3", "attachment2.txt", "Attachment 2"},
                    {"3", "attachment3.txt", "Attachment 3"}}));
}

}  // namespace
}  // namespace talmera::test
