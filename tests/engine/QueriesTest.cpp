// Saved queries rebuilt from their MSysQueries rows: one generated database
// holds a query of every statement kind, written in every format and in two
// page layouts; each query's text must be exactly the statement the clause
// rules give. Then the faults a damaged catalog brings, the query writer, and
// the real files of the corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "platform/MessageReceiver.h"
#include "queries/Queries.h"
#include "queries/SqlClauses.h"
#include "related/Related.h"
#include "tests/engine/Fixtures.h"

namespace talmera::test {
namespace {

using jetwriter::Format;
namespace jw = jetwriter;

const Format kFormats[] = {Format::Jet3, Format::Jet4, Format::Ace};

// One MSysQueries row: Attribute, Flag (absent: NULL), Expression, Name1, Name2.
jw::QueryRow row(uint8_t attribute, std::optional<int> flag = {}, std::optional<std::string> expression = {},
                 std::optional<std::string> name1 = {}, std::optional<std::string> name2 = {}) {
    jw::QueryRow r;
    r.attribute = attribute;
    r.flag = flag;
    r.expression = std::move(expression);
    r.name1 = std::move(name1);
    r.name2 = std::move(name2);
    return r;
}
jw::QueryRow table(const std::string& name) { return row(5, {}, {}, name); }
jw::QueryRow deleted(jw::QueryRow r) {
    r.deleted = true;
    return r;
}
jw::QueryRow moved(jw::QueryRow r) {
    r.overflow = true;
    return r;
}

// Query types of the type row's Flag, and the catalog flags Access gives
// each kind.
enum QueryType { kSelect = 1, kMakeTable = 2, kAppend = 3, kUpdate = 4, kDelete = 5, kCrosstab = 6, kDdl = 7,
                 kPassThrough = 8, kUnion = 9 };
uint32_t catalogFlags(int type) {
    switch (type) {
        case kMakeTable: return 80;
        case kAppend: return 64;
        case kUpdate: return 48;
        case kDelete: return 32;
        case kCrosstab: return 16;
        case kDdl: return 96;
        case kPassThrough: return 112;
        case kUnion: return 128;
        default: return 0;
    }
}

// Options row bits (Flag of Attribute 3).
constexpr int kAllColumns = 0x01, kDistinct = 0x02, kOwnerAccess = 0x04, kDistinctRow = 0x08, kTop = 0x10,
              kPercent = 0x20;

struct QueryCase {
    const char* name;
    int type;                      // of the type row
    int options;                   // of the options row
    std::vector<jw::QueryRow> rows;  // after the query's own row, the end row, the type and options rows
    std::string sql;
    std::optional<std::string> top = {};  // TOP value (Name1 of the options row)
};

// The rows Access writes before a query's clauses: its own row, the end
// row, the type row and the options row. Access 2007 and later (ACE) leave
// out the type row of a select query and an options row without options.
std::vector<jw::QueryRow> headRows(Format format, const QueryCase& c) {
    std::vector<jw::QueryRow> rows;
    rows.push_back(format == Format::Jet3 ? row(0) : row(0, 0));
    rows.push_back(row(255));
    const bool ace = format == Format::Ace;
    if (!ace || c.type != kSelect) rows.push_back(row(1, c.type));
    if (!ace || c.options != 0 || c.top) rows.push_back(row(3, c.options, {}, c.top));
    return rows;
}

// An expression longer than a long-value page: stored as a chain of pages.
std::string chainedCondition() {
    std::string s = "Orders.Amount In (0";
    for (int i = 1; s.size() < 3000; ++i) s += ", " + std::to_string(i);
    return s + ")";
}

// An expression longer than a row keeps: stored on one long-value row.
std::string longColumn() {
    std::string s = "Orders.Amount";
    for (int i = 1; s.size() < 200; ++i) s += "+Orders.Amount*" + std::to_string(i);
    return s;
}

jw::QueryRow column(const std::string& expression, std::optional<std::string> alias = {}) {
    return row(6, 0, expression, std::move(alias));
}
jw::QueryRow join(int kind, const std::string& on, const std::string& left, const std::string& right) {
    return row(7, kind, on, left, right);
}
jw::QueryRow where(const std::string& condition) { return row(8, {}, condition); }

// Every kind of statement and every shape of join, each with its rows as
// Access writes them and the exact text the rebuild gives.
std::vector<QueryCase> statementCases() {
    return {
        // Live rows after a deleted one are read whole.
        {"One Table", kSelect, 0, {deleted(column("Orders.Secret")), table("Orders")}, "SELECT * FROM [Orders]  ;"},
        // An expression keeps its meaning; a name with a space is bracketed.
        {"Columns", kSelect, 0,
         {table("Orders"), column("Orders.CustomerID"), column("Sum(Orders.Amount)", "Total"),
          column("[Amount] * 2", "Twice Amount"), column("Amount * 3"), column("Unit Price")},
         "SELECT Orders.CustomerID,Sum(Orders.Amount)  AS [Total],[Amount] * 2 AS [Twice Amount],Amount * 3,[Unit "
         "Price] FROM [Orders]  ;"},
        {"Long Column", kSelect, 0, {table("Orders"), column(longColumn())},
         "SELECT " + longColumn() + "  FROM [Orders]  ;"},
        {"Table Alias", kSelect, 0,
         {row(5, {}, {}, "Products", "Product List"), column("[Product List].ProductName")},
         "SELECT [Product List].ProductName  FROM Products AS [Product List] ;"},
        {"Subquery Source", kSelect, 0,
         {row(5, {}, "SELECT CustomerID FROM Orders WHERE Amount > 10", {}, "Big"), column("Big.CustomerID")},
         "SELECT Big.CustomerID  FROM (SELECT CustomerID FROM Orders WHERE Amount > 10) AS [Big]  ;"},
        {"Query Source", kSelect, 0, {table("Big Orders"), column("[Big Orders].Amount")},
         "SELECT [Big Orders].Amount  FROM [Big Orders] ;"},
        {"Other Database", kSelect, 0, {table("Orders"), row(4, 0, "dBASE IV;", "C:\\Data\\It's here")},
         "SELECT * FROM [Orders]  IN 'C:\\Data\\It''s here' [dBASE IV;] ;"},
        // A row behind an overflow pointer is read where the pointer leads.
        {"Grouped", kSelect, 0,
         {table("Orders"), column("Orders.CustomerID"), column("Sum(Orders.Amount)", "Total"),
          moved(where("Orders.Amount > 0")), row(9, 0, "Orders.CustomerID"), row(10, {}, "Sum(Orders.Amount) > 100"),
          row(11, {}, "Sum(Orders.Amount)", "D"), row(11, {}, "Orders.CustomerID")},
         "SELECT Orders.CustomerID,Sum(Orders.Amount)  AS [Total]  FROM [Orders]   WHERE Orders.Amount > 0  Group BY "
         "Orders.CustomerID  HAVING Sum(Orders.Amount) > 100  ORDER BY Sum(Orders.Amount)  DESC ,Orders.CustomerID ;"},
        {"Top", kSelect, kTop, {table("Products"), column("Products.Name")},
         "SELECT  TOP 10  Products.Name  FROM [Products]  ;", "10"},
        {"Top Percent", kSelect, kTop | kPercent, {table("Products"), column("Products.Name")},
         "SELECT  TOP 25 PERCENT Products.Name  FROM [Products]  ;", "25"},
        {"Distinct", kSelect, kDistinct, {table("Customers"), column("Customers.City")},
         "SELECT  DISTINCT Customers.City  FROM [Customers]  ;"},
        {"Distinct Row", kSelect, kDistinctRow | kOwnerAccess, {table("Customers"), column("Customers.City")},
         "SELECT  DISTINCTROW Customers.City  FROM [Customers]   WITH OWNERACCESS OPTION ;"},
        {"All Columns", kSelect, kAllColumns, {table("Orders"), column("Orders.Amount * 2", "Twice")},
         "SELECT Orders.Amount * 2  AS [Twice],*  FROM [Orders]  ;"},
        {"Parameters", kSelect, kDistinctRow | kTop | kPercent,
         {row(2, 8, {}, "Start Date"), row(2, 4, {}, "MinQty"), row(2, 10, {}, "Forms!Order Form!Customer"),
          table("Orders"), column("Orders.OrderID"), where("Orders.OrderDate >= [Start Date]")},
         " PARAMETERS [Start Date] DateTime,[MinQty] Long,[Forms]![Order Form]![Customer] Text ( 255 ); SELECT  "
         "DISTINCTROW  TOP 5 PERCENT Orders.OrderID  FROM [Orders]   WHERE Orders.OrderDate >= [Start Date] ;",
         "5"},

        // Joins: each source once, nested as the join rows give them.
        {"Two Tables", kSelect, 0,
         {table("Customers"), table("Orders"), column("Customers.Name"),
          join(1, "Customers.ID = Orders.CustomerID", "Customers", "Orders")},
         "SELECT Customers.Name  FROM [Customers] INNER JOIN [Orders] ON Customers.ID = Orders.CustomerID ;"},
        {"Chain Of Three", kSelect, 0,
         {table("Customers"), table("Orders"), table("Order Details"), column("Customers.Name"),
          join(1, "Customers.ID = Orders.CustomerID", "Customers", "Orders"),
          join(1, "Orders.ID = [Order Details].OrderID", "Orders", "Order Details")},
         "SELECT Customers.Name  FROM ([Customers] INNER JOIN [Orders] ON Customers.ID = Orders.CustomerID) INNER "
         "JOIN [Order Details] ON Orders.ID = [Order Details].OrderID ;"},
        {"Left Join", kSelect, 0,
         {table("Customers"), table("Orders"), join(2, "Customers.ID = Orders.CustomerID", "Customers", "Orders")},
         "SELECT * FROM [Customers] LEFT JOIN [Orders] ON Customers.ID = Orders.CustomerID ;"},
        {"Right Join", kSelect, 0,
         {table("Customers"), table("Orders"), join(3, "Customers.ID = Orders.CustomerID", "Customers", "Orders")},
         "SELECT * FROM [Customers] RIGHT JOIN [Orders] ON Customers.ID = Orders.CustomerID ;"},
        // Access keeps the conditions of one join last first.
        {"Two Columns", kSelect, 0,
         {table("Orders"), table("Shipments"),
          join(1, "Orders.Line = Shipments.Line", "Orders", "Shipments"),
          join(1, "Orders.ID = Shipments.OrderID", "Orders", "Shipments")},
         "SELECT * FROM [Orders] INNER JOIN [Shipments] ON (Orders.ID = Shipments.OrderID) AND (Orders.Line = "
         "Shipments.Line) ;"},
        {"Self Join", kSelect, 0,
         {table("Employees"), row(5, {}, {}, "Employees", "Boss"), column("Employees.Name"),
          column("Boss.Name", "Reports To"), join(2, "Employees.BossID = Boss.ID", "Employees", "Boss")},
         "SELECT Employees.Name,Boss.Name  AS [Reports To]  FROM [Employees] LEFT JOIN Employees AS [Boss] ON "
         "Employees.BossID = Boss.ID ;"},
        // Sources in no join come first, then the joins.
        {"Unjoined Source", kSelect, 0,
         {table("Settings"), table("Customers"), table("Orders"),
          join(1, "Customers.ID = Orders.CustomerID", "Customers", "Orders")},
         "SELECT * FROM [Settings] ,[Customers] INNER JOIN [Orders] ON Customers.ID = Orders.CustomerID ;"},

        {"Make Table", kMakeTable, kDistinct,
         {table("Orders"), column("Orders.OrderID"), where("Orders.Amount > 1000")},
         " SELECT  DISTINCT Orders.OrderID  INTO [Archive]  FROM [Orders]   WHERE Orders.Amount > 1000 ;"},
        {"Make Table Elsewhere", kMakeTable, 0, {table("Orders"), column("Orders.OrderID", "Number")},
         " SELECT Orders.OrderID  AS [Number]  INTO [Old Orders] IN 'C:\\Archive.mdb'  FROM [Orders]  ;"},
        {"Append Select", kAppend, 0,
         {table("Orders"), table("Customers"), row(6, 0, "Orders.OrderID", {}, "OrderID"),
          row(6, 0, "Customers.Name", {}, "Customer Name"), row(6, 0, "Orders.Amount * 2", "Twice", "Total"),
          join(1, "Customers.ID = Orders.CustomerID", "Customers", "Orders"), where("Orders.Amount > 0")},
         "INSERT INTO [Archive]([OrderID],[Customer Name],[Total]) SELECT Orders.OrderID,Customers.Name,Orders.Amount "
         "* 2 AS [Twice] FROM [Customers] INNER JOIN [Orders] ON Customers.ID = Orders.CustomerID WHERE Orders.Amount "
         "> 0 ;"},
        {"Append Values", kAppend, 0, {row(6, 0, "1", {}, "OrderID"), row(6, 0, "'none'", {}, "Note")},
         "INSERT INTO [Archive]([OrderID],[Note]) VALUES(1,'none');"},
        {"Update", kUpdate, 0,
         {table("Products"), row(6, 0, "[Price] * 1.1", {}, "Products.Price"), row(6, 0, "0", {}, "[Products].Stock"),
          row(6, 0, "1", {}, "Products.[Rank]"), row(6, 0, "'x'", {}, "Note"), row(6, 0, "Null", {}, "Unit Price"),
          where("Products.Discontinued = True")},
         "UPDATE [Products]  SET [Products].[Price]=[Price] * 1.1,[Products].[Stock]=0,[Products].[Rank]=1,Note='x',"
         "[Unit Price]=Null  WHERE Products.Discontinued = True "},
        {"Update Join", kUpdate, kDistinctRow,
         {table("Products"), table("Suppliers"), row(6, 0, "0", {}, "Products.Stock"),
          join(1, "Suppliers.ID = Products.SupplierID", "Suppliers", "Products"), where("Suppliers.Closed")},
         "UPDATE  DISTINCTROW [Suppliers] INNER JOIN [Products] ON Suppliers.ID = Products.SupplierID SET "
         "[Products].[Stock]=0  WHERE Suppliers.Closed "},
        {"Delete", kDelete, 0, {table("Orders"), column("Orders.*"), where("Orders.Amount = 0")},
         "DELETE Orders.*  FROM [Orders]  WHERE Orders.Amount = 0 "},
        {"Delete Join", kDelete, kDistinctRow,
         {table("Customers"), table("Orders"), column("Orders.*"),
          join(1, "Customers.ID = Orders.CustomerID", "Customers", "Orders"), where("Customers.Closed")},
         "DELETE  DISTINCTROW Orders.*  FROM [Customers] INNER JOIN [Orders] ON Customers.ID = Orders.CustomerID WHERE "
         "Customers.Closed "},
        {"Crosstab", kCrosstab, kDistinctRow,
         {table("Orders"), row(6, 2, "Orders.CustomerID"), row(6, 2, "Year(Orders.OrderDate)", "OrderYear"),
          row(6, 1, "\"Q\" & DatePart(\"q\",Orders.OrderDate) In (\"Q1\",\"Q2\")", "Quarters"),
          row(6, 0, "Sum(Orders.Amount)", "Total"), row(9, 2, "Orders.CustomerID"),
          row(9, 2, "Year(Orders.OrderDate)"), row(9, 1, "\"Q\" & DatePart(\"q\",Orders.OrderDate)")},
         " TRANSFORM Sum(Orders.Amount)  AS [Total] SELECT  DISTINCTROW Orders.CustomerID,Year(Orders.OrderDate)  AS "
         "[OrderYear]  FROM [Orders]   Group BY Orders.CustomerID,Year(Orders.OrderDate)  PIVOT \"Q\" & "
         "DatePart(\"q\",Orders.OrderDate) In (\"Q1\",\"Q2\") ;"},
        {"Union", kUnion, kAllColumns | kDistinct,
         {row(5, {}, "SELECT [City] FROM [Customers]", {}, "X7YZ_____1"),
          row(5, {}, "SELECT [City] FROM [Suppliers]", {}, "X7YZ_____2"), row(11, {}, "City", "D")},
         "SELECT [City] FROM [Customers] UNION SELECT [City] FROM [Suppliers] ORDER BY City  DESC  ;"},
        // A union with one part cannot be built: no text, and the queries
        // after it are still rebuilt.
        {"Broken Union", kUnion, kAllColumns | kDistinct,
         {row(5, {}, "SELECT City FROM Customers", {}, "X7YZ_____1")}, ""},
        // The parts in the order of their names.
        {"Union All", kUnion, kAllColumns,
         {row(5, {}, "SELECT City FROM Suppliers", {}, "X7YZ_____2"),
          row(5, {}, "SELECT City FROM Customers", {}, "X7YZ_____1")},
         "SELECT City FROM Customers UNION ALL SELECT City FROM Suppliers;"},
        // Stored as written, with the NUL Access ends them with.
        {"Data Definition", kDdl, 0, {}, "CREATE TABLE Notes (ID LONG, Body TEXT);"},
        {"Pass Through", kPassThrough, 0, {}, "SELECT * FROM dbo.Invoices"},
        // A value over several long-value pages is read along its chain.
        {"Chained Condition", kSelect, 0, {table("Orders"), where(chainedCondition())},
         "SELECT * FROM [Orders]   WHERE " + chainedCondition() + " ;"},
        {"Accents", kSelect, 0, {table("Größe"), column("Größe.Maß"), where("Größe.Währung = '€'")},
         "SELECT Größe.Maß  FROM [Größe]   WHERE Größe.Währung = '€' ;"},
    };
}

// The rows of a case in one format.
std::vector<jw::QueryRow> caseRows(Format format, const QueryCase& c) {
    std::vector<jw::QueryRow> rows = headRows(format, c);
    // The target table, its database, and the statements of data-definition
    // and pass-through queries are values of the type row.
    for (jw::QueryRow& r : rows) {
        if (r.attribute != 1) continue;
        const std::string name = c.name;
        if (name == "Make Table" || name.rfind("Append", 0) == 0) r.name1 = "Archive";
        if (name == "Make Table Elsewhere") r.name1 = "Old Orders", r.name2 = "C:\\Archive.mdb";
        if (name == "Data Definition") r.expression = std::string("CREATE TABLE Notes (ID LONG, Body TEXT);") + '\0';
        if (name == "Pass Through") r.expression = "SELECT * FROM dbo.Invoices", r.name1 = "ODBC;DSN=Billing";
    }
    rows.insert(rows.end(), c.rows.begin(), c.rows.end());
    return rows;
}

// Rows out of the usual order, and queries whose rows give nothing.
struct OddCase {
    const char* name;
    std::vector<jw::QueryRow> rows;
    std::string sql;
};
std::vector<OddCase> oddCases() {
    return {
        // The end row after some of the query's rows and the type row last:
        // the type row is taken first.
        {"Type Row Last", {row(2, 4, {}, "Limit"), table("Orders"), row(255), row(1, 1)},
         " PARAMETERS [Limit] Long; SELECT * FROM [Orders]  ;"},
        // The end row first: the rows are taken as stored; a parameter before
        // the type row is declared all the same.
        {"End Row First", {row(255), row(2, 4, {}, "Limit"), table("Orders"), row(1, 1)},
         " PARAMETERS [Limit] Long; SELECT * FROM [Orders]  ;"},
        {"No Rows", {}, ""},
        {"No Values", {row(0, 0), row(255), row(1, 1), row(3, 0)}, ""},
    };
}

jw::Database casesDatabase(Format format, const std::vector<QueryCase>& cases, int rowsPerPage,
                           const std::vector<OddCase>& odd = {}) {
    jw::Database db;
    db.format = format;
    db.tables = {simpleTable("Orders", 2)};
    db.queryRowsPerPage = rowsPerPage;
    auto add = [&](const std::string& name, std::vector<jw::QueryRow> rows, uint32_t flags) {
        jw::CatalogObject o;
        o.name = name;
        o.kind = jw::ObjectKind::Query;
        o.queryRows = std::move(rows);
        o.queryFlags = flags;
        db.objects.push_back(o);
    };
    for (const QueryCase& c : cases) add(c.name, caseRows(format, c), catalogFlags(c.type));
    for (const OddCase& c : odd) add(c.name, c.rows, 0);
    return db;
}

std::map<std::string, std::string> textsByName(const CMDBRecovery& engine) {
    std::map<std::string, std::string> texts;
    for (const queryInfo& q : engine.queries) texts[q.name] = q.sqlText;
    return texts;
}

// Every kind and join shape in every format; once with as many rows per
// page as fit, once with two rows per page, so that most queries lie on
// several catalog pages.
TEST(SavedQueries, EveryStatementKindInEveryFormatAndLayout) {
    const std::vector<QueryCase> cases = statementCases();
    const std::vector<OddCase> odd = oddCases();
    for (Format format : kFormats) {
        for (int rowsPerPage : {0, 2}) {
            SCOPED_TRACE(std::string(formatName(format)) + ", rows per page " + std::to_string(rowsPerPage));
            TempDir dir;
            jw::Layout layout;
            const std::string path =
                writeDatabase(dir, "q.mdb", casesDatabase(format, cases, rowsPerPage, odd), &layout);
            if (rowsPerPage) {
                ASSERT_GT(layout.queryPages.size(), cases.size());
            }
            ScanResult scan = runScan(path);
            const std::map<std::string, std::string> texts = textsByName(*scan.engine);
            ASSERT_EQ(texts.size(), cases.size() + odd.size());
            for (const QueryCase& c : cases) {
                SCOPED_TRACE(c.name);
                ASSERT_TRUE(texts.count(c.name));
                EXPECT_EQ(texts.at(c.name), c.sql);
            }
            for (const OddCase& c : odd) {
                SCOPED_TRACE(c.name);
                ASSERT_TRUE(texts.count(c.name));
                EXPECT_EQ(texts.at(c.name), c.sql);
            }
            // The broken union is logged by name, and only it.
            ASSERT_EQ(scan.engine->queryRebuildNotes.size(), 1u);
            EXPECT_NE(scan.engine->queryRebuildNotes[0].find("Broken Union"), std::string::npos);
            EXPECT_EQ(std::count(scan.receiver->logLines.begin(), scan.receiver->logLines.end(),
                                 scan.engine->queryRebuildNotes[0]),
                      1);
        }
    }
}

// A silent re-reading writes no log line, not even for a query it cannot rebuild.
TEST(SavedQueries, SilentRescanLogsNothing) {
    std::vector<QueryCase> cases;
    for (const QueryCase& c : statementCases())
        if (std::string(c.name) == "Broken Union") cases.push_back(c);
    TempDir dir;
    const std::string path = writeDatabase(dir, "q.mdb", casesDatabase(Format::Jet4, cases, 0));
    CQuorvinAccessRecoveryApp app;
    RecordingReceiver receiver(app);
    app.rescan = true;
    app.engine = std::make_shared<CMDBRecovery>(app);
    app.engine->sourcePath = path;
    app.engine->mainWindow = &receiver;
    InstallRelatedReaders(*app.engine);
    ASSERT_NE(app.engine->ScanFile(), 0);
    QueryReader(*app.engine).ReadSavedQueries();
    EXPECT_EQ(app.engine->queryRebuildNotes.size(), 1u);
    EXPECT_TRUE(receiver.logLines.empty());
}

// Damaged catalog pages: every byte of each MSysQueries page is flipped in
// turn, in bounded steps; the scan must survive (the sanitizers watch every
// read), and what is rebuilt is text.
TEST(SavedQueries, DamagedQueryPagesAreReadWithinBounds) {
    std::vector<QueryCase> cases;
    for (const QueryCase& c : statementCases()) {
        const std::string name = c.name;
        if (name == "Grouped" || name == "Long Column" || name == "Chained Condition" || name == "Union" ||
            name == "Chain Of Three" || name == "Parameters")
            cases.push_back(c);
    }
    for (Format format : {Format::Jet3, Format::Jet4}) {
        SCOPED_TRACE(formatName(format));
        jw::Layout layout;
        const std::vector<uint8_t> clean = jw::write(casesDatabase(format, cases, 0), &layout);
        ASSERT_FALSE(layout.queryPages.empty());
        TempDir dir;
        const uint64_t page = static_cast<uint64_t>(layout.queryPages[0]) * layout.pageSize;
        // The page header, the slot table, and the rows' trailers near the page end.
        std::vector<uint64_t> offsets;
        for (uint64_t k = 0; k < 64; ++k) offsets.push_back(k);
        for (uint64_t k = layout.pageSize - 160; k < layout.pageSize; ++k) offsets.push_back(k);
        for (uint64_t offset : offsets) {
            for (uint8_t mask : {uint8_t(0xFF), uint8_t(0x80), uint8_t(0x0F)}) {
                std::vector<uint8_t> image = clean;
                image[page + offset] ^= mask;
                const std::string path = dir.file("d.mdb");
                writeFile(path, image);
                ScanResult scan = runScan(path);
                for (const queryInfo& q : scan.engine->queries)
                    ASSERT_LE(q.sqlText.size(), 1u << 22) << "offset " << offset;
            }
        }
    }
}

// The real files: every saved query gets a text; two of them, one per
// layout, exactly as the rules give it.
TEST(SavedQueriesCorpus, EveryQueryGetsAText) {
    const std::filesystem::path corpus = corpusDir();
    if (corpus.empty()) GTEST_SKIP() << "no corpus";
    size_t total = 0;
    std::map<std::string, std::string> anchors;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(corpus)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".mdb" && ext != ".accdb") continue;
        SCOPED_TRACE(entry.path().string());
        ScanResult scan = runScan(entry.path().string());
        for (const queryInfo& q : scan.engine->queries) {
            EXPECT_FALSE(q.sqlText.empty()) << q.name;
            anchors[q.name] = q.sqlText;
            ++total;
        }
        EXPECT_TRUE(scan.engine->queryRebuildNotes.empty());
    }
    EXPECT_GE(total, 25u);
    EXPECT_EQ(anchors["qryCostsSummedByOwner"],
              "SELECT [Asset Items].[Owner],[Asset Items].[Asset Category],Sum([Asset Items].[Cost])  AS [SumOfCost]  "
              "FROM [Asset Items]  Group BY [Asset Items].[Owner],[Asset Items].[Asset Category] ;");
    // Joins nested as the join rows give them, a crosstab, parameters that
    // name form controls, and a union, as nwind.mdb stores them.
    EXPECT_EQ(anchors["Invoices"].substr(anchors["Invoices"].find(" FROM ")),
              " FROM [Shippers] INNER JOIN ([Products] INNER JOIN (([Employees] INNER JOIN ([Customers] INNER JOIN "
              "[Orders] ON Customers.CustomerID = Orders.CustomerID) ON Employees.EmployeeID = Orders.EmployeeID) INNER "
              "JOIN [Order Details] ON Orders.OrderID = [Order Details].OrderID) ON Products.ProductID = [Order "
              "Details].ProductID) ON Shippers.ShipperID = Orders.ShipVia ;");
    EXPECT_EQ(anchors["Quarterly Orders by Product"],
              " TRANSFORM Sum(CCur([Order Details].[UnitPrice]*[Quantity]*(1-[Discount])/100)*100)  AS [ProductAmount] "
              "SELECT  DISTINCTROW Products.ProductName,Orders.CustomerID,Year([OrderDate])  AS [OrderYear]  FROM "
              "[Products] INNER JOIN ([Orders] INNER JOIN [Order Details] ON Orders.OrderID = [Order Details].OrderID) "
              "ON Products.ProductID = [Order Details].ProductID  WHERE (((Orders.OrderDate) Between #1/1/95# And "
              "#12/31/95#))  Group BY Products.ProductName,Orders.CustomerID,Year([OrderDate])  PIVOT \"Qtr \" & "
              "DatePart(\"q\",[OrderDate],1,0) In (\"Qtr 1\",\"Qtr 2\",\"Qtr 3\",\"Qtr 4\") ;");
    EXPECT_EQ(anchors["Sales by Year"].substr(0, anchors["Sales by Year"].find(" SELECT ")),
              " PARAMETERS [Forms]![Sales by Year Dialog]![BeginningDate] DateTime,[Forms]![Sales by Year "
              "Dialog]![EndingDate] DateTime;");
    EXPECT_EQ(anchors["Customers and Suppliers by City"],
              "SELECT City, CompanyName, ContactName, \"Customers\" AS [Relationship] \r\nFROM Customers\r\n UNION "
              "SELECT City, CompanyName, ContactName, \"Suppliers\"\r\nFROM Suppliers ORDER BY City,CompanyName ;");
    EXPECT_EQ(anchors["Current Product List"],
              "SELECT [Product List].ProductID,[Product List].ProductName  FROM Products AS [Product List]  WHERE "
              "((([Product List].Discontinued)=No))  ORDER BY [Product List].ProductName ;");
}

}  // namespace
}  // namespace talmera::test
