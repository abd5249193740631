// Saved queries in the output: the query writer against a recording output
// database, and the save of every corpus query into the embedded SQLite
// output, which keeps each text and makes a view where SQLite reads it.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <iostream>
#include <map>

#include "engine/run/RecoverThread.h"
#include "engine/save/OutputDatabase.h"
#include "output/dao/SqliteEngine.h"
#include "tests/engine/Fixtures.h"

namespace talmera::test {
namespace {

// The query writer: name and text go through the output interface; an error
// of the output is noted and reported as a failure, never thrown.
class RecordingQueryDef : public dao::QueryDef {
public:
    std::string Name() const override { return name; }
    void SetName(const std::string& n) override { name = n; }
    std::string SQL() const override { return sql; }
    void SetSQL(const std::string& s) override { sql = s; }
    std::string Connect() const override { return connect; }
    void SetConnect(const std::string& c) override { connect = c; }
    std::string name, sql, connect;
};

class QueryOnlyDatabase : public dao::Database {
public:
    [[noreturn]] static void refuse() { throw dao::ComError(dao::kErrInvalidOperation, "DAO.Database", "not here"); }
    dao::TableDefPtr CreateTableDef(const std::string&) override { refuse(); }
    void AppendTableDef(const dao::TableDefPtr&) override { refuse(); }
    dao::TableDefPtr TableDefItem(const std::string&) const override { refuse(); }
    int TableDefCount() const override { return 0; }
    void DeleteTableDef(const std::string&) override { refuse(); }
    void RefreshTableDefs() override {}
    dao::RecordsetPtr OpenRecordset(const std::string&, int, int, int) override { refuse(); }
    dao::QueryDefPtr CreateQueryDef(const std::string& name, const std::string& sql) override {
        auto q = std::make_shared<RecordingQueryDef>();
        q->name = name;
        q->sql = sql;
        return q;
    }
    void AppendQueryDef(const dao::QueryDefPtr& query) override {
        if (refuseAppend) throw dao::ComError(dao::kErrObjectExists, "DAO.QueryDefs", "Object exists.");
        appended.push_back({query->Name(), query->SQL()});
    }
    dao::RelationPtr CreateRelation(const std::string&, const std::string&, const std::string&, int32_t) override {
        refuse();
    }
    void AppendRelation(const dao::RelationPtr&) override { refuse(); }
    void Close() override {}

    bool refuseAppend = false;
    std::vector<std::pair<std::string, std::string>> appended;
};

TEST(SaveQuery, WritesNameAndTextAndNotesRefusals) {
    for (bool ace : {false, true}) {
        SCOPED_TRACE(ace ? "accdb output" : "mdb output");
        CQuorvinAccessRecoveryApp app;
        CMDBRecovery engine(app);
        engine.aceFormat = ace;
        engine.queries = {queryInfo{"Big Orders", 1, 0, "SELECT * FROM [Orders]  ;", ""}, queryInfo{"Empty", 2, 0, "", ""}};
        EXPECT_FALSE(OutputOf(engine).SaveQuery(0)) << "no output database";
        auto database = std::make_shared<QueryOnlyDatabase>();
        OutputOf(engine).Output().database = database;
        EXPECT_TRUE(OutputOf(engine).SaveQuery(0));
        EXPECT_TRUE(OutputOf(engine).SaveQuery(1));
        EXPECT_FALSE(OutputOf(engine).SaveQuery(2));
        EXPECT_EQ(database->appended,
                  (std::vector<std::pair<std::string, std::string>>{{"Big Orders", "SELECT * FROM [Orders]  ;"},
                                                                    {"Empty", ""}}));
        EXPECT_TRUE(engine.outputErrors.empty());
        database->refuseAppend = true;
        EXPECT_FALSE(OutputOf(engine).SaveQuery(0));
        ASSERT_EQ(engine.outputErrors.size(), 1u);
        EXPECT_EQ(engine.outputErrors[0].rfind("DbConnection:", 0), 0u);
        EXPECT_NE(engine.outputErrors[0].find("Object exists."), std::string::npos);
    }
}

// Scans path, selects every table and query, and saves into dir.
struct Saved {
    ScanResult scan;
    std::string output;
    bool started = false;
};

Saved saveAll(const std::string& path, const TempDir& dir) {
    Saved s;
    s.scan = runScan(path);
    CQuorvinAccessRecoveryApp& app = *s.scan.app;
    CMDBRecovery& engine = *s.scan.engine;
    for (const tableInfo& t : engine.tables) app.selectedTables.push_back(t.name);
    for (const queryInfo& q : engine.queries) app.selectedQueries.push_back(q.name);
    OutputOf(engine).engineFactory = dao::CreateSqliteEngine;
    engine.outputPath = dir.file("Repaired_out.sqlite");
    s.started = OutputOf(engine).StartOutputDatabase(s.scan.receiver.get()) != 0;
    s.output = engine.outputPath;
    if (!s.started) return s;
    app.outputCreated = true;
    app.previewMode = false;
    CRecoverThread run(app, s.scan.receiver.get());
    run.Run();
    return s;
}

struct StoredQuery {
    std::string sql;
    bool view = false;
    bool runs = false;  // every row of the view can be read
};

std::map<std::string, StoredQuery> storedQueries(const std::string& file) {
    std::map<std::string, StoredQuery> out;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << file;
        sqlite3_close(db);
        return out;
    }
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT name, sql, view_created FROM _talmera_queries", -1, &st, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sqlite3_errmsg(db);
    } else {
        while (sqlite3_step(st) == SQLITE_ROW) {
            StoredQuery q;
            q.sql = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
            q.view = sqlite3_column_int(st, 2) != 0;
            out[reinterpret_cast<const char*>(sqlite3_column_text(st, 0))] = q;
        }
    }
    sqlite3_finalize(st);
    for (auto& [name, q] : out) {
        if (!q.view) continue;
        std::string quoted = "\"";
        for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        quoted += "\"";
        sqlite3_stmt* view = nullptr;
        int rc = sqlite3_prepare_v2(db, ("SELECT * FROM " + quoted).c_str(), -1, &view, nullptr);
        if (rc == SQLITE_OK) {
            while ((rc = sqlite3_step(view)) == SQLITE_ROW) {}
        }
        q.runs = rc == SQLITE_DONE;
        sqlite3_finalize(view);
    }
    sqlite3_close(db);
    return out;
}

// Every corpus query is kept with its rebuilt text, and every view made of
// one runs.
TEST(SavedQueriesCorpus, EveryQueryIsKeptInTheOutput) {
    const std::filesystem::path corpus = corpusDir();
    if (corpus.empty()) GTEST_SKIP() << "no corpus";
    size_t queries = 0, views = 0, running = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(corpus)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".mdb" && ext != ".accdb") continue;
        SCOPED_TRACE(entry.path().string());
        TempDir dir;
        Saved s = saveAll(entry.path().string(), dir);
        if (s.scan.engine->queries.empty()) continue;
        ASSERT_TRUE(s.started);
        const std::map<std::string, StoredQuery> stored = storedQueries(s.output);
        for (const queryInfo& q : s.scan.engine->queries) {
            SCOPED_TRACE(q.name);
            ASSERT_TRUE(stored.count(q.name));
            EXPECT_EQ(stored.at(q.name).sql, q.sqlText);
            ++queries;
            views += stored.at(q.name).view;
            running += stored.at(q.name).runs;
        }
    }
    std::cout << "corpus queries kept: " << queries << ", accepted as views: " << views
              << ", views that run: " << running << std::endl;
    RecordProperty("queries", static_cast<int>(queries));
    RecordProperty("views", static_cast<int>(views));
    RecordProperty("runningViews", static_cast<int>(running));
    EXPECT_GE(queries, 25u);
    EXPECT_EQ(running, views);
}

// nwind.mdb's select, union and crosstab queries are views, and each gives
// as many rows as a plain SQLite reading of its tables (written here by hand,
// from the Access text) does; the three that ask for parameters or form
// controls are not.
TEST(SavedQueriesCorpus, NwindQueriesAreViewsThatGiveTheirRows) {
    const std::filesystem::path corpus = corpusDir();
    if (corpus.empty()) GTEST_SKIP() << "no corpus";
    TempDir dir;
    Saved s = saveAll((corpus / "mdbtestdata" / "nwind.mdb").string(), dir);
    ASSERT_TRUE(s.started);
    const std::map<std::string, StoredQuery> stored = storedQueries(s.output);
    ASSERT_EQ(stored.size(), 22u);
    size_t running = 0;
    for (const auto& [name, q] : stored) running += q.runs;
    EXPECT_GE(running, 17u);
    for (const char* name : {"Employee Sales by Country", "Invoices Filter", "Sales by Year"}) {
        ASSERT_TRUE(stored.count(name));
        EXPECT_FALSE(stored.at(name).view) << name;
    }

    // The tables keep Currency as text: CAST to compare it.
    const char* const kShipped1995 = "o.ShippedDate BETWEEN '1995-01-01' AND '1995-12-31 00:00:00'";
    const char* const kOrdered1995 = "o.OrderDate BETWEEN '1995-01-01' AND '1995-12-31 00:00:00'";
    const std::string lines = "\"Order Details\" d JOIN Orders o ON o.OrderID = d.OrderID JOIN Products p ON p.ProductID = d.ProductID";
    const std::pair<const char*, std::string> implied[] = {
        {"Alphabetical List of Products", "SELECT * FROM Products WHERE Discontinued = 0"},
        {"Catalog", "SELECT * FROM Products p JOIN Categories c ON c.CategoryID = p.CategoryID WHERE Discontinued = 0"},
        {"Category Sales for 1995", "SELECT DISTINCT p.CategoryID FROM " + lines + " WHERE " + kShipped1995},
        {"Current Product List", "SELECT * FROM Products WHERE Discontinued = 0"},
        {"Customers and Suppliers by City",
         "SELECT City, CompanyName, ContactName, 1 FROM Customers UNION SELECT City, CompanyName, ContactName, 2 FROM Suppliers"},
        {"Invoices", "SELECT * FROM " + lines + " JOIN Customers c ON c.CustomerID = o.CustomerID "
                     "JOIN Employees e ON e.EmployeeID = o.EmployeeID JOIN Shippers s ON s.ShipperID = o.ShipVia"},
        {"Order Details Extended", "SELECT * FROM " + lines},
        {"Order Subtotals", "SELECT DISTINCT OrderID FROM \"Order Details\""},
        {"Orders Qry", "SELECT * FROM Orders o JOIN Customers c ON c.CustomerID = o.CustomerID"},
        {"Product Sales for 1995", "SELECT DISTINCT p.ProductID FROM " + lines + " WHERE " + kShipped1995},
        {"Products Above Average Price",
         "SELECT * FROM Products WHERE CAST(UnitPrice AS REAL) > (SELECT avg(CAST(UnitPrice AS REAL)) FROM Products)"},
        {"Products by Category", "SELECT * FROM Products WHERE Discontinued = 0"},
        {"Quarterly Orders", std::string("SELECT DISTINCT o.CustomerID FROM Orders o WHERE ") + kOrdered1995},
        {"Quarterly Orders by Product", "SELECT DISTINCT p.ProductName, o.CustomerID FROM " + lines + " WHERE " + kOrdered1995},
        {"Sales by Category", "SELECT DISTINCT p.ProductID FROM " + lines + " WHERE " + kOrdered1995},
        {"Sales Totals by Amount",
         std::string("SELECT o.OrderID FROM Orders o JOIN \"Order Details\" d ON d.OrderID = o.OrderID WHERE ") +
             kShipped1995 + " GROUP BY o.OrderID HAVING sum(CAST(d.UnitPrice AS REAL) * d.Quantity * (1 - d.Discount)) > 2500"},
        {"Summary of Sales by Quarter", "SELECT * FROM Orders WHERE ShippedDate IS NOT NULL"},
        {"Summary of Sales by Year", "SELECT * FROM Orders WHERE ShippedDate IS NOT NULL"},
        // Ten products, and the ties of the tenth.
        {"Ten Most Expensive Products",
         "SELECT * FROM Products WHERE CAST(UnitPrice AS REAL) >= (SELECT CAST(UnitPrice AS REAL) FROM Products "
         "ORDER BY CAST(UnitPrice AS REAL) DESC LIMIT 1 OFFSET 9)"},
    };
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(s.output.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    auto count = [&](const std::string& select) {
        sqlite3_stmt* st = nullptr;
        const std::string sql = "SELECT count(*) FROM (" + select + ")";
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(db) << " in " << sql;
            return int64_t{-1};
        }
        const int64_t n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
        sqlite3_finalize(st);
        return n;
    };
    for (const auto& [name, tables] : implied) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(stored.count(name) && stored.at(name).runs);
        const int64_t rows = count(std::string("SELECT * FROM \"") + name + "\"");
        std::cout << name << ": " << rows << " rows" << std::endl;
        EXPECT_EQ(rows, count(tables));
        EXPECT_GT(rows, 0);
    }
    sqlite3_close(db);
}

}  // namespace
}  // namespace talmera::test
