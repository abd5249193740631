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

struct QueryCase {
    const char* name;
    uint32_t flags;  // catalog flags of the query (read in the Jet 4 layout)
    std::vector<jw::QueryRow> rows;
    std::string sql;
};

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

// Every statement kind, each with the exact text the rules give.
std::vector<QueryCase> statementCases() {
    // The usual head of a stored query: its own row, the end row, the type row.
    auto head = [](int type) { return std::vector<jw::QueryRow>{row(0, 0), row(255), row(1, type)}; };
    auto with = [](std::vector<jw::QueryRow> a, std::vector<jw::QueryRow> b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    return {
        // Live rows after a deleted one are read whole.
        {"One Table", 0, with(head(1), {row(3, 0), deleted(row(6, 0, "Orders.Secret")), table("Orders")}),
         "SELECT * FROM [Orders]  ;"},
        {"Columns", 0,
         with(head(1), {table("Orders"), row(6, 0, "Orders.CustomerID"), row(6, 0, "Sum(Orders.Amount)", "Total"),
                        row(6, 0, "[Amount] * 2", "Twice Amount"), row(6, 0, "Unit Price")}),
         "SELECT Orders.CustomerID,Sum(Orders.Amount)  AS [Total],[Amount] * 2 AS [Twice Amount],[Unit Price] FROM "
         "[Orders]  ;"},
        {"Table Alias", 0,
         with(head(1), {row(5, {}, {}, "Products", "Product List"), row(6, 0, "[Product List].ProductName")}),
         "SELECT [Product List].ProductName  FROM Products AS [Product List] ;"},
        {"Long Column", 0, with(head(1), {table("Orders"), row(6, 0, longColumn())}),
         "SELECT " + longColumn() + "  FROM [Orders]  ;"},
        {"Inner Join", 0,
         with(head(1), {table("Customers"), table("Orders"), row(6, 0, "Customers.Name"),
                        row(7, 1, "Customers.ID = Orders.CustomerID", "Customers", "Orders")}),
         "SELECT Customers.Name  FROM [Customers] ,[Orders]  ,[Customers] INNER JOIN [Orders] ON Customers.ID = "
         "Orders.CustomerID ;"},
        {"Outer Joins", 0,
         with(head(1), {table("A"), table("B"), table("C"), row(7, 2, "A.k = B.k", "A", "B"),
                        row(7, 3, "B.j = C.j", "B", "C")}),
         "SELECT * FROM [A] ,[B] ,[C]  ,[A] LEFT JOIN [B] ON A.k = B.k,[B] RIGHT JOIN [C] ON B.j = C.j ;"},
        // A row behind an overflow pointer is read where the pointer leads.
        {"Grouped", 0,
         with(head(1), {table("Orders"), row(6, 0, "Orders.CustomerID"), row(6, 0, "Sum(Orders.Amount)", "Total"),
                        moved(row(8, {}, "Orders.Amount > 0")), row(9, 0, "Orders.CustomerID"),
                        row(10, {}, "Sum(Orders.Amount) > 100"), row(11, {}, "Sum(Orders.Amount)", "D"),
                        row(11, {}, "Orders.CustomerID")}),
         "SELECT Orders.CustomerID,Sum(Orders.Amount)  AS [Total]  FROM [Orders]   WHERE Orders.Amount > 0  Group BY "
         "Orders.CustomerID  HAVING Sum(Orders.Amount) > 100  ORDER BY Sum(Orders.Amount)  DESC ,Orders.CustomerID ;"},
        {"Top", 0, with(head(1), {row(3, 0x10, {}, "10"), table("Products"), row(6, 0, "Products.Name")}),
         "SELECT  TOP 10  Products.Name  FROM [Products]  ;"},
        {"Top Percent", 0, with(head(1), {row(3, 0x30, {}, "25"), table("Products"), row(6, 0, "Products.Name")}),
         "SELECT  TOP PERCENT 25 Products.Name  FROM [Products]  ;"},
        {"Distinct", 0, with(head(1), {row(3, 0x02), table("Customers"), row(6, 0, "Customers.City")}),
         "SELECT  DISTINCT Customers.City  FROM [Customers]  ;"},
        {"Distinct Row", 0, with(head(1), {row(3, 0x0C), table("Customers"), row(6, 0, "Customers.City")}),
         "SELECT  DISTINCTROW Customers.City  FROM [Customers]   WITH OWNERACCESS OPTION ;"},
        {"Parameters", 0,
         with(head(1), {row(2, 8, {}, "Start Date"), row(2, 4, {}, "MinQty"), table("Orders"),
                        row(6, 0, "Orders.OrderID"), row(8, {}, "Orders.OrderDate >= [Start Date]")}),
         " PARAMETERS [Start Date] DateTime,[MinQty], LONG; SELECT Orders.OrderID  FROM [Orders]   WHERE "
         "Orders.OrderDate >= [Start Date] ;"},
        {"Make Table", 80,
         {row(0, 0), row(255), row(1, 2, {}, "Archive"), table("Orders"), row(6, 0, "Orders.OrderID"),
          row(8, {}, "Orders.Amount > 1000")},
         " SELECT Orders.OrderID  INTO [Archive]  FROM [Orders]   WHERE Orders.Amount > 1000 ;"},
        {"Append Select", 64,
         {row(0, 0), row(255), row(1, 3, {}, "Archive"), table("Orders"), row(6, 0, "Orders.OrderID", "OrderID"),
          row(6, 0, "Orders.Amount", "Total")},
         "INSERT INTO [Archive]( AS [OrderID], AS [Total]) SELECT Orders.OrderID,Orders.Amount FROM [Orders] ;"},
        {"Append Values", 64,
         {row(0, 0), row(255), row(1, 3, {}, "Archive"), row(6, 0, "1", "OrderID"), row(6, 0, "'none'", "Note")},
         "INSERT INTO [Archive]( AS [OrderID], AS [Note]) VALUES(1,'none');"},
        {"Update", 48,
         with(head(4), {table("Products"), row(6, 0, "[Price] * 1.1", "Products.Price"),
                        row(6, 0, "0", "[Products].Stock"), row(6, 0, "1", "Products.[Rank]"), row(6, 0, "'x'", "Note"),
                        row(8, {}, "Products.Discontinued = True")}),
         "UPDATE [Products]  SET [Products].[Price]=[Price] * 1.1,[Products].[Stock]=0,[Products].[Rank]=1,Note='x'  "
         "WHERE Products.Discontinued = True "},
        {"Delete", 32, with(head(5), {table("Orders"), row(6, 0, "Orders.*"), row(8, {}, "Orders.Amount = 0")}),
         "DELETE Orders.*  FROM [Orders]  WHERE Orders.Amount = 0 "},
        {"Crosstab", 16,
         with(head(6), {table("Orders"), row(6, 2, "Orders.CustomerID"), row(6, 1, "Year(Orders.OrderDate)"),
                        row(6, 0, "Sum(Orders.Amount)", "Total"), row(9, 2, "Orders.CustomerID"),
                        row(9, 1, "Year(Orders.OrderDate)")}),
         " TRANSFORM Sum(Orders.Amount),[Total]SELECT Orders.CustomerID  FROM [Orders]   Group BY Orders.CustomerID  "
         "PIVOT Year(Orders.OrderDate) ;"},
        {"Union", 128,
         with(head(9), {row(3, 3), row(5, {}, "SELECT City FROM Customers", {}, "X7YZ_____1"),
                        row(5, {}, "SELECT City FROM Suppliers", {}, "X7YZ_____2"), row(11, {}, "City")}),
         "SELECT City FROM Customers UNION SELECT City FROM Suppliers ORDER BY City ;"},
        // A union with one part cannot be built: no text, and the queries
        // after it are still rebuilt.
        {"Broken Union", 128, with(head(9), {row(5, {}, "SELECT City FROM Customers", {}, "X7YZ_____1")}), ""},
        {"Union All", 128,
         with(head(9), {row(3, 1), row(5, {}, "SELECT City FROM Customers", {}, "X7YZ_____1"),
                        row(5, {}, "SELECT City FROM Suppliers", {}, "X7YZ_____2")}),
         "SELECT City FROM Customers UNION ALL SELECT City FROM Suppliers;"},
        {"Data Definition", 96, {row(0, 0), row(255), row(1, 7, "CREATE TABLE Notes (ID LONG, Body TEXT)")},
         "CREATE TABLE Notes (ID LONG, Body TEXT) "},
        {"Pass Through", 112,
         {row(0, 0), row(255), row(1, 8, "SELECT * FROM dbo.Invoices", "ODBC;DSN=Billing")},
         "SELECT * FROM dbo.Invoices,"},
        // The end row after some of the query's rows and the type row last:
        // the type row is taken first, so the parameter row decides the kind.
        {"Type Row Last", 0, {row(2, 4, {}, "Limit"), table("Orders"), row(255), row(1, 1)},
         " PARAMETERS [Limit], LONG; SELECT * FROM [Orders]  ;"},
        // The end row first: the rows are taken as stored.
        {"End Row First", 0, {row(255), row(2, 4, {}, "Limit"), table("Orders"), row(1, 1)},
         "SELECT * FROM [Orders]  ;"},
        // A value over several long-value pages is read along its chain.
        {"Chained Condition", 0, with(head(1), {table("Orders"), row(8, {}, chainedCondition())}),
         "SELECT * FROM [Orders]   WHERE " + chainedCondition() + " ;"},
        {"Accents", 0,
         with(head(1), {table("Größe"), row(6, 0, "Größe.Maß"), row(8, {}, "Größe.Währung = '€'")}),
         "SELECT Größe.Maß  FROM [Größe]   WHERE Größe.Währung = '€' ;"},
        {"No Rows", 0, {}, ""},
        {"No Values", 0, with(head(1), {row(3, 0)}), ""},
    };
}

jw::Database casesDatabase(Format format, const std::vector<QueryCase>& cases, int rowsPerPage) {
    jw::Database db;
    db.format = format;
    db.tables = {simpleTable("Orders", 2)};
    db.queryRowsPerPage = rowsPerPage;
    for (const QueryCase& c : cases) {
        jw::CatalogObject o;
        o.name = c.name;
        o.kind = jw::ObjectKind::Query;
        o.queryRows = c.rows;
        o.queryFlags = c.flags;
        db.objects.push_back(o);
    }
    return db;
}

std::map<std::string, std::string> textsByName(const CMDBRecovery& engine) {
    std::map<std::string, std::string> texts;
    for (const queryInfo& q : engine.queries) texts[q.name] = q.sqlText;
    return texts;
}

// Every kind in every format; once with as many rows per page as fit, once
// with two rows per page, so that most queries lie on several catalog pages.
TEST(SavedQueries, EveryStatementKindInEveryFormatAndLayout) {
    const std::vector<QueryCase> cases = statementCases();
    for (Format format : kFormats) {
        for (int rowsPerPage : {0, 2}) {
            SCOPED_TRACE(std::string(formatName(format)) + ", rows per page " + std::to_string(rowsPerPage));
            TempDir dir;
            jw::Layout layout;
            const std::string path = writeDatabase(dir, "q.mdb", casesDatabase(format, cases, rowsPerPage), &layout);
            if (rowsPerPage) {
                ASSERT_GT(layout.queryPages.size(), cases.size());
            }
            ScanResult scan = runScan(path);
            const std::map<std::string, std::string> texts = textsByName(*scan.engine);
            ASSERT_EQ(texts.size(), cases.size());
            for (const QueryCase& c : cases) {
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
        if (name == "Grouped" || name == "Long Column" || name == "Chained Condition" || name == "Union") cases.push_back(c);
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
    EXPECT_EQ(anchors["Current Product List"],
              "SELECT [Product List].ProductID,[Product List].ProductName  FROM Products AS [Product List]  WHERE "
              "((([Product List].Discontinued)=No))  ORDER BY [Product List].ProductName ;");
}

}  // namespace
}  // namespace talmera::test
