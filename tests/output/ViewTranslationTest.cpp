// Saved queries as views: each Access statement is translated and run over
// tables stored as the output file stores them (Currency as exact text,
// dates as ISO text, Yes/No as 1 and 0), and must give the rows Access gives;
// what has no SQLite equal is refused with its reason. A few translations are
// checked as text, the forms the rest build on.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "output/dao/AccessSql.h"
#include "output/dao/Dao.h"
#include "output/dao/ViewTranslation.h"

namespace talmera::dao::sqlite {
namespace {

using Rows = std::vector<std::vector<std::string>>;

struct TestTable {
    std::string name;
    std::vector<ViewColumn> columns;
    std::vector<std::string> rows;  // each the SQL values of one row
};

// Items and Orders as the output stores them.
std::vector<TestTable> tables() {
    const ValueKind I = ValueKind::Integer, T = ValueKind::Text, C = ValueKind::Currency, D = ValueKind::Date,
                    B = ValueKind::Boolean, R = ValueKind::Real;
    return {
        {"Items",
         {{"ID", I}, {"Name", T}, {"Price", C}, {"Added", D}, {"Stock", B}, {"Weight", R}, {"Code", T}},
         {"1, 'Nut', '9.5000', '2019-06-01 00:00:00', 1, 2.5, 'a1'",
          "2, 'bolt', '10.0000', '2021-03-04 10:30:00', 0, 3.5, 'B2'",
          "3, 'Washer', '9.5000', NULL, 1, NULL, NULL",
          "4, NULL, '100.0000', '2020-02-29 00:00:00', 0, 0.5, 'c3'",
          "5, NULL, NULL, NULL, 0, NULL, NULL"}},
        {"Order Lines", {{"OrderID", I}, {"ItemID", I}, {"Qty", I}}, {"10, 1, 5", "11, 1, 7", "12, 2, 1", "13, 9, 2"}},
    };
}

class Database {
public:
    Database() {
        sqlite3_open(":memory:", &db_);
        for (const TestTable& t : tables()) {
            std::string columns;
            for (const ViewColumn& c : t.columns) columns += (columns.empty() ? "\"" : ", \"") + c.name + "\"";
            run("CREATE TABLE \"" + t.name + "\" (" + columns + ")");
            for (const std::string& r : t.rows) run("INSERT INTO \"" + t.name + "\" VALUES (" + r + ")");
        }
    }
    ~Database() { sqlite3_close(db_); }
    void run(const std::string& sql) { ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql; }

    // The rows of a SELECT, NULL written "NULL".
    Rows rows(const std::string& sql) {
        Rows out;
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(db_) << " in " << sql;
            return out;
        }
        while (sqlite3_step(st) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                const unsigned char* text = sqlite3_column_text(st, c);
                row.push_back(text ? reinterpret_cast<const char*>(text) : "NULL");
            }
            out.push_back(row);
        }
        sqlite3_finalize(st);
        return out;
    }

    // Translates; the views made so far are sources too.
    ViewTranslation translate(const std::string& accessSql) {
        return TranslateQueryToView(accessSql, [&](const std::string& name) -> std::optional<ViewSource> {
            for (const TestTable& t : tables()) {
                if (sqlite3_stricmp(t.name.c_str(), name.c_str()) != 0) continue;
                ViewSource s;
                s.sqliteName = t.name;
                s.columns = t.columns;
                return s;
            }
            for (const auto& [view, columns] : views_) {
                if (sqlite3_stricmp(view.c_str(), name.c_str()) != 0) continue;
                ViewSource s;
                s.state = ViewSource::View;
                s.sqliteName = view;
                s.columns = columns;
                return s;
            }
            if (sqlite3_stricmp(name.c_str(), "Remote") == 0) {
                ViewSource s;
                s.state = ViewSource::LinkedTable;
                return s;
            }
            return std::nullopt;
        });
    }

    // Translates, makes the view and returns its rows.
    Rows view(const std::string& name, const std::string& accessSql) {
        ViewTranslation t = translate(accessSql);
        if (t.select.empty()) {
            ADD_FAILURE() << "no view: " << t.reason;
            return {};
        }
        run("CREATE VIEW \"" + name + "\" AS " + t.select);
        views_.emplace_back(name, t.columns);
        EXPECT_FALSE(RunsView(db_, name)) << t.select;
        return rows("SELECT * FROM \"" + name + "\"");
    }

private:
    sqlite3* db_ = nullptr;
    std::vector<std::pair<std::string, std::vector<ViewColumn>>> views_;
};

struct RowsCase {
    const char* what;
    const char* sql;
    Rows rows;
};

// Each statement gives the rows Access gives over the same data.
TEST(ViewTranslation, ViewsGiveTheRowsAccessGives) {
    const RowsCase cases[] = {
        // Currency is exact text: compared and sorted as numbers.
        {"currency compared", "SELECT Name FROM Items WHERE Price > 9.75 ORDER BY Price", {{"bolt"}, {"NULL"}}},
        {"currency sorted", "SELECT ID FROM Items WHERE Price Is Not Null ORDER BY Price DESC, ID",
         {{"4"}, {"2"}, {"1"}, {"3"}}},
        {"currency averaged", "SELECT ID FROM Items WHERE Price > (SELECT Avg(Price) FROM Items)", {{"4"}}},
        // Text compares and sorts without regard to case; Null sorts first.
        {"text compared", "SELECT ID FROM Items WHERE Name = 'BOLT'", {{"2"}}},
        {"text sorted", "SELECT ID FROM Items WHERE ID < 5 ORDER BY Name", {{"4"}, {"2"}, {"1"}, {"3"}}},
        {"text in a list", "SELECT ID FROM Items WHERE Code In ('A1', 'c3')", {{"1"}, {"4"}}},
        // TOP keeps the rows that tie with the last one; PERCENT rounds up.
        {"top with ties", "SELECT TOP 1 ID FROM Items WHERE Price Is Not Null ORDER BY Price", {{"1"}, {"3"}}},
        {"top percent", "SELECT TOP 50 PERCENT ID FROM Items ORDER BY ID", {{"1"}, {"2"}, {"3"}}},
        {"top distinct", "SELECT DISTINCT TOP 1 Price FROM Items WHERE Price Is Not Null ORDER BY Price", {{"9.5000"}}},
        // & takes Null as "", and is Null only when every part is.
        {"text joined", "SELECT Name & '-' & Code AS X FROM Items ORDER BY ID",
         {{"Nut-a1"}, {"bolt-B2"}, {"Washer-"}, {"-c3"}, {"-"}}},
        {"nulls joined", "SELECT Name & Code AS X FROM Items WHERE ID >= 3 ORDER BY ID", {{"Washer"}, {"c3"}, {"NULL"}}},
        {"a number joined", "SELECT 'No ' & ID AS X FROM Items WHERE ID = 2", {{"No 2"}}},
        // Like: * ? #, character lists, both sides without case.
        {"like", "SELECT ID FROM Items WHERE Name Like 'n*'", {{"1"}}},
        {"like a list", "SELECT ID FROM Items WHERE Name Like '[!a-m]*' ORDER BY ID", {{"1"}, {"3"}}},
        {"like a digit", "SELECT ID FROM Items WHERE Code Like '?#' ORDER BY ID", {{"1"}, {"2"}, {"4"}}},
        {"not like", "SELECT ID FROM Items WHERE Name Not Like '*t' ORDER BY ID", {{"3"}}},
        // Dates: literals in the file's form, the date functions on it.
        {"date literal", "SELECT ID FROM Items WHERE Added > #1/1/2020# ORDER BY ID", {{"2"}, {"4"}}},
        {"date between", "SELECT ID FROM Items WHERE Added Between #2021-03-04# And #6/1/19# ORDER BY ID", {{"1"}, {"4"}}},
        {"date parts", "SELECT Year(Added), Month(Added), Day(Added), Hour(Added), Minute(Added) FROM Items WHERE ID = 2",
         {{"2021", "3", "4", "10", "30"}}},
        {"date part", "SELECT DatePart(\"q\", Added), DatePart(\"y\", Added), Weekday(Added) FROM Items WHERE ID = 4",
         {{"1", "60", "7"}}},
        {"date format", "SELECT Format(Added, \"yyyy-mm\"), Format(Added, \"d/m/yy h:nn\") FROM Items WHERE ID = 2",
         {{"2021-03", "4/3/21 10:30"}}},
        {"date serial", "SELECT DateSerial(2020, 2, 30), DateSerial(95, 13, 1) FROM Items WHERE ID = 1",
         {{"2020-03-01 00:00:00", "1996-01-01 00:00:00"}}},
        {"date arithmetic", "SELECT Added + 1, DateDiff(\"d\", Added, #3/1/2020#), DateAdd(\"ww\", 1, Added) FROM Items WHERE ID = 4",
         {{"2020-03-01 00:00:00", "1", "2020-03-07 00:00:00"}}},
        // Yes/No: True is -1 in Access's arithmetic, and sorts first.
        {"yes/no compared", "SELECT ID FROM Items WHERE Stock = True ORDER BY ID", {{"1"}, {"3"}}},
        {"yes/no condition", "SELECT ID FROM Items WHERE Stock And ID > 1", {{"3"}}},
        {"yes/no summed", "SELECT Sum(Stock) AS Total FROM Items", {{"-2"}}},
        {"yes/no sorted", "SELECT ID FROM Items ORDER BY Stock, ID", {{"1"}, {"3"}, {"2"}, {"4"}, {"5"}}},
        // Numbers: / in floating point, \ and Mod on whole numbers, rounding half to even.
        {"division", "SELECT 7 / 2, 7 \\ 2, 7 Mod 3, -7 Mod 3 FROM Items WHERE ID = 1", {{"3.5", "3", "1", "-1"}}},
        {"rounding", "SELECT Round(2.5), Round(3.5), Round(-2.5), CInt(0.5), CLng(1.5), Round(1.25, 1), CCur(0.12345) FROM Items WHERE ID = 1",
         {{"2", "4", "-2", "0", "2", "1.2", "0.1234"}}},
        {"whole parts", "SELECT Int(-2.5), Fix(-2.5), Int(2.5), Abs(-3), Sgn(-4) FROM Items WHERE ID = 1",
         {{"-3", "-2", "2", "3", "-1"}}},
        // Between takes its bounds in either order.
        {"between", "SELECT ID FROM Items WHERE ID Between 3 And 1 ORDER BY ID", {{"1"}, {"2"}, {"3"}}},
        {"between columns", "SELECT ID FROM Items WHERE 3 Between ID And Weight ORDER BY ID", {{"2"}, {"4"}}},
        // Text functions.
        {"text functions", "SELECT Left('abc', 2), Right('abc', 0), Right('abc', 5), Right('abc', 2), Mid('abcdef', 2, 3), Len('abc'), InStr('Hello', 'L'), UCase('ab'), Trim('  x ') FROM Items WHERE ID = 1",
         {{"ab", "", "abc", "bc", "bcd", "3", "3", "AB", "x"}}},
        {"nz and iif", "SELECT Nz(Weight, 0), Nz(Code), IIf(Price > 9.75, 'high', 'low'), IsNull(Code) FROM Items WHERE ID = 3",
         {{"0", "", "low", "1"}}},
        {"switch and choose", "SELECT Switch(ID = 1, 'one', ID = 2, 'two'), Choose(ID, 'a', 'b') FROM Items WHERE ID = 2",
         {{"two", "b"}}},
        // Joins nested and outer, and a table joined to itself.
        {"right join", "SELECT [Order Lines].OrderID, Items.Name FROM Items RIGHT JOIN [Order Lines] ON Items.ID = [Order Lines].ItemID ORDER BY [Order Lines].OrderID",
         {{"10", "Nut"}, {"11", "Nut"}, {"12", "bolt"}, {"13", "NULL"}}},
        {"self join", "SELECT A.ID FROM Items AS A INNER JOIN Items AS B ON A.Price = B.Price WHERE A.ID <> B.ID ORDER BY A.ID",
         {{"1"}, {"3"}}},
        {"nested joins", "SELECT L.OrderID FROM (Items INNER JOIN [Order Lines] AS L ON Items.ID = L.ItemID) INNER JOIN Items AS Again ON L.ItemID = Again.ID WHERE Again.Stock ORDER BY L.OrderID",
         {{"10"}, {"11"}}},
        // DISTINCTROW: the rows of Items that have lines, each once.
        {"distinctrow", "SELECT DISTINCTROW Items.Name FROM Items INNER JOIN [Order Lines] ON Items.ID = [Order Lines].ItemID ORDER BY Items.Name",
         {{"bolt"}, {"Nut"}}},
        {"grouped", "SELECT ItemID, Sum(Qty) AS Total, Count(*) AS Lines FROM [Order Lines] GROUP BY ItemID HAVING Sum(Qty) > 1 ORDER BY ItemID",
         {{"1", "12", "2"}, {"9", "2", "1"}}},
        {"subqueries", "SELECT ID FROM Items WHERE ID In (SELECT ItemID FROM [Order Lines]) OR Exists (SELECT * FROM [Order Lines] WHERE Qty = Items.ID * 2) ORDER BY ID",
         {{"1"}, {"2"}}},
        {"derived table", "SELECT T.ItemID FROM (SELECT ItemID, Qty FROM [Order Lines] WHERE Qty > 4) AS T ORDER BY T.Qty DESC",
         {{"1"}, {"1"}}},
        {"alias in the list", "SELECT Qty * 2 AS Twice, Twice + 1 AS More FROM [Order Lines] WHERE OrderID = 12", {{"2", "3"}}},
        // Crosstab with fixed headings: one column per heading, empty cells Null.
        {"crosstab", "TRANSFORM Sum(Qty) AS Total SELECT ItemID FROM [Order Lines] GROUP BY ItemID ORDER BY ItemID PIVOT IIf(Qty > 2, 'big', 'small') IN ('big', 'small')",
         {{"1", "12", "NULL"}, {"2", "NULL", "1"}, {"9", "NULL", "2"}}},
        {"crosstab count", "TRANSFORM Count(*) SELECT ItemID FROM [Order Lines] GROUP BY ItemID ORDER BY ItemID DESC PIVOT Qty In (1, 5)",
         {{"9", "NULL", "NULL"}, {"2", "1", "NULL"}, {"1", "NULL", "1"}}},
        // Union: duplicates removed or kept, sorted by the first part's names.
        {"union", "SELECT Name FROM Items WHERE ID < 3 UNION SELECT 'zed' FROM [Order Lines] WHERE OrderID = 10 ORDER BY Name DESC",
         {{"zed"}, {"Nut"}, {"bolt"}}},
        {"union all", "SELECT ItemID FROM [Order Lines] WHERE ItemID = 1 UNION ALL SELECT ID FROM Items WHERE ID = 1",
         {{"1"}, {"1"}, {"1"}}},
    };
    for (const RowsCase& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ": " + c.sql);
        Database db;
        EXPECT_EQ(db.view("v", c.sql), c.rows);
    }
}

// A query on another query reads that query's view, with its columns' kinds.
TEST(ViewTranslation, QueriesReadTheViewsOfOtherQueries) {
    Database db;
    db.view("Priced", "SELECT ID, Price AS Cost, Name FROM Items WHERE Price Is Not Null");
    EXPECT_EQ(db.view("Dear", "SELECT Priced.Name FROM Priced WHERE Cost > 9.75 ORDER BY Cost DESC"),
              (Rows{{"NULL"}, {"bolt"}}));
    ViewTranslation t = db.translate("SELECT ID * 2, Cost FROM Priced");
    ASSERT_EQ(t.columns.size(), 2u);
    EXPECT_EQ(t.columns[0].name, "Expr1000");
    EXPECT_EQ(t.columns[0].kind, ValueKind::Integer);
    EXPECT_EQ(t.columns[1].kind, ValueKind::Currency);
}

// The translations the others build on, as text.
TEST(ViewTranslation, TheSqliteForms) {
    const std::pair<const char*, const char*> cases[] = {
        {"SELECT [Name] & \"x\" FROM [Items]",
         "SELECT (ifnull(\"Items\".\"Name\", '') || 'x') AS \"Expr1000\" FROM \"Items\" AS \"Items\""},
        {"SELECT IIf([Stock], Nz([Name], 'none'), 'x') AS N FROM Items WHERE Added < #1/31/95# AND Stock = True",
         "SELECT iif(\"Items\".\"Stock\", ifnull(\"Items\".\"Name\", 'none'), 'x') AS \"N\" FROM \"Items\" AS \"Items\" "
         "WHERE ((\"Items\".\"Added\" < '1995-01-31 00:00:00') AND (\"Items\".\"Stock\" = 1))"},
        {"SELECT DISTINCTROW TOP 3 Name FROM Items WHERE Name Like \"A*\"",
         "SELECT \"Items\".\"Name\" AS \"Name\" FROM \"Items\" AS \"Items\" WHERE (\"Items\".\"Name\" LIKE 'A%' ESCAPE '\\') "
         "LIMIT 3"},
        {"SELECT Price FROM Items ORDER BY Price", "SELECT \"Items\".\"Price\" AS \"Price\" FROM \"Items\" AS \"Items\" ORDER BY "
                                                  "CAST(\"Items\".\"Price\" AS REAL)"},
    };
    for (const auto& [access, sqlite] : cases) {
        SCOPED_TRACE(access);
        Database db;
        EXPECT_EQ(db.translate(access).select, sqlite);
    }
}

// What has no SQLite equal stays text only, and says why.
TEST(ViewTranslation, WhatStaysTextAndWhy) {
    const std::pair<const char*, const char*> cases[] = {
        {"PARAMETERS [Least] Currency; SELECT ID FROM Items WHERE Price > [Least]",
         "asks for the parameters [Least] when it runs"},
        {"SELECT ID FROM Items WHERE Price > [Least]", "asks for the parameter [Least] when it runs (no source has such a field)"},
        {"SELECT ID FROM Items WHERE Items.Least > 1", "asks for the parameter [Items].[Least] when it runs ([Items] has no such field)"},
        {"SELECT ID FROM Items WHERE ID = [Forms]![Order Form]![ItemID]", "refers to the form control [Forms]![Order Form]![ItemID]"},
        {"PARAMETERS Forms!Pick!Item Long; SELECT ID FROM Items", "refers to the form controls [Forms]![Pick]![Item]"},
        {"SELECT Taxed(Price) FROM Items", "calls Taxed, a function of the database's VBA code"},
        {"SELECT DLookup(\"Name\", \"Items\") FROM Items", "uses DLookup, which looks its values up when it runs"},
        {"SELECT First(Name) FROM Items", "uses the aggregate First, which SQLite has no equal of"},
        {"SELECT Format(Price, \"0.00\") FROM Items", "calls Format with a Currency value, which Access writes as the computer's settings say"},
        {"SELECT Format(Added, \"mmmm\") FROM Items", "calls Format with month names (\"mmmm\"), which depend on the language"},
        {"SELECT ID FROM Items WHERE Added > #1/31#", "has the date #1/31#, which Access reads by the computer's settings"},
        {"SELECT ID FROM Items WHERE Name = 5", "compares a text with a number"},
        {"SELECT Weight & 'kg' FROM Items", "joins a number with &, which Access writes as the computer's settings say"},
        {"SELECT ID FROM Items WHERE Name AND Stock", "uses a text as a condition in AND"},
        {"SELECT 2 ^ ID FROM Items", "uses ^, which SQLite has no operator for"},
        {"SELECT ID FROM Items, Items", "names [Items] twice among its sources"},
        {"SELECT Name FROM Items INNER JOIN [Order Lines] ON Items.ID = [Order Lines].ItemID WHERE Qty > ID * [Order Lines].ID",
         "asks for the parameter [Order Lines].[ID] when it runs ([Order Lines] has no such field)"},
        {"SELECT ID FROM Items, [Order Lines] AS L, Items AS I2 WHERE OrderID = ID", "names [ID], a field of more than one of its tables"},
        {"SELECT * FROM Remote", "reads the linked table [Remote], whose rows are in another database"},
        {"SELECT * FROM Nowhere", "reads [Nowhere], which the database does not have"},
        {"SELECT * FROM [C:\\Other.mdb].Items", "reads [Items] of another database"},
        {"SELECT * INTO Copy FROM Items", "is a make-table query (SELECT ... INTO): it writes a table"},
        {"INSERT INTO Items (ID) VALUES (9)", "is an append query (INSERT INTO): it changes data"},
        {"UPDATE Items SET Name = 'x'", "is an update query: it changes data"},
        {"CREATE TABLE X (ID LONG)", "is a data-definition query: it changes the database's design"},
        {"TRANSFORM Sum(Qty) SELECT ItemID FROM [Order Lines] GROUP BY ItemID PIVOT OrderID",
         "is a crosstab whose column headings come from the data (no PIVOT ... IN list)"},
        {"SELECT ID FROM Items WHERE", "is not SQL this translation reads: the text ends where a value was expected"},
        {"", "has no SQL text"},
    };
    for (const auto& [access, reason] : cases) {
        SCOPED_TRACE(access);
        Database db;
        const ViewTranslation t = db.translate(access);
        EXPECT_EQ(t.select, "");
        EXPECT_EQ(t.reason, reason);
    }
}

// A query that reads a query without a view waits for it; PlanViews tries
// the queries in dependency order, whatever their order in the list.
TEST(ViewTranslation, QueriesBecomeViewsInDependencyOrder) {
    Database db;
    const ViewTranslation waiting = db.translate("SELECT * FROM Later");
    EXPECT_TRUE(waiting.select.empty());

    std::vector<PlannedTable> planned;
    for (const TestTable& t : tables()) planned.push_back({t.name, t.columns, false});
    planned.push_back({"Remote", {{"ID", ValueKind::Integer}}, true});
    const std::vector<PlannedView> views = PlanViews(
        planned, {{"Top", "SELECT Total FROM [Middle] WHERE Total > 1", ""},
                  {"Middle", "SELECT Sum(Qty) AS Total FROM [Bottom]", ""},
                  {"Bottom", "SELECT Qty FROM [Order Lines]", ""},
                  {"Through", "SELECT * FROM Items", "ODBC;DSN=Stock"},
                  {"Linked", "SELECT * FROM Remote", ""},
                  {"Circle", "SELECT * FROM Circle", ""}});
    ASSERT_EQ(views.size(), 6u);
    EXPECT_EQ(views[0].select, "SELECT \"Middle\".\"Total\" AS \"Total\" FROM \"Middle\" AS \"Middle\" WHERE (\"Middle\".\"Total\" > 1)");
    EXPECT_FALSE(views[1].select.empty());
    EXPECT_FALSE(views[2].select.empty());
    EXPECT_EQ(views[3].reason, "is a pass-through query: its SQL runs on its ODBC source");
    EXPECT_EQ(views[4].reason, "reads the linked table [Remote], whose rows are in another database");
    EXPECT_EQ(views[5].reason, "reads the query [Circle], which is not a view");
}

// Date literals as Access reads them everywhere: United States order,
// ISO order, month names, two-digit years 30 to 99 in the 1900s.
TEST(ViewTranslation, DateLiterals) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"1/31/95", "1995-01-31 00:00:00"},
        {"12/31/29", "2029-12-31 00:00:00"},
        {"12/31/30", "1930-12-31 00:00:00"},
        {"1995-01-31 10:30", "1995-01-31 10:30:00"},
        {"1/31/1995 10:30:15 PM", "1995-01-31 22:30:15"},
        {"12:00 AM", "1899-12-30 00:00:00"},
        {"31-Jan-95", "1995-01-31 00:00:00"},
        {"January 31, 1995", "1995-01-31 00:00:00"},
        {"2/29/2020", "2020-02-29 00:00:00"},
        {"2/29/2019", std::nullopt},
        {"1/31", std::nullopt},
        {"13/1/2020", std::nullopt},
        {"25:00", std::nullopt},
        {"soon", std::nullopt},
    };
    for (const auto& [literal, text] : cases) EXPECT_EQ(AccessDateLiteralText(literal), text) << literal;
}

// Damaged texts: cut anywhere or nested without end, they give a reason,
// never a crash or a view of a part.
TEST(ViewTranslation, DamagedTextsGiveReasons) {
    const std::string sql =
        "SELECT DISTINCTROW TOP 5 Items.Name, Sum([Order Lines].Qty) AS Total FROM Items INNER JOIN [Order Lines] ON "
        "Items.ID = [Order Lines].ItemID WHERE (((Items.Added) Between #1/1/19# And #12/31/21#)) GROUP BY Items.Name "
        "HAVING Sum([Order Lines].Qty) > 1 ORDER BY Sum([Order Lines].Qty) DESC;";
    Database db;
    ASSERT_FALSE(db.translate(sql).select.empty());
    for (size_t n = 0; n < sql.size(); ++n) {
        const ViewTranslation t = db.translate(sql.substr(0, n));
        EXPECT_TRUE(!t.select.empty() || !t.reason.empty()) << n;
    }
    const std::string deep = "SELECT " + std::string(100000, '(') + "1" + std::string(100000, ')') + " FROM Items";
    EXPECT_EQ(db.translate(deep).reason, "is not SQL this translation reads: the statement is nested too deeply");
    const std::string negations = "SELECT " + std::string(100000, '-') + "1 FROM Items";
    EXPECT_FALSE(db.translate(negations).reason.empty());
    // Forms that repeat their operand, nested: the text stays bounded.
    std::string rounds = "Weight";
    for (int i = 0; i < 40; ++i) rounds = "Round(" + rounds + ")";
    EXPECT_EQ(db.translate("SELECT " + rounds + " FROM Items").reason, "has an expression too long to translate");
}

}  // namespace
}  // namespace talmera::dao::sqlite
