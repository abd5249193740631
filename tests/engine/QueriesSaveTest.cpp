// Saved queries in the output: the query writer against a recording output
// database, and the save of every corpus query into the embedded SQLite
// output, which keeps each text and makes a view where SQLite reads it.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <iostream>
#include <map>

#include "engine/RecoverThread.h"
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
        EXPECT_FALSE(engine.SaveQuery(0)) << "no output database";
        auto database = std::make_shared<QueryOnlyDatabase>();
        engine.Output().database = database;
        EXPECT_TRUE(engine.SaveQuery(0));
        EXPECT_TRUE(engine.SaveQuery(1));
        EXPECT_FALSE(engine.SaveQuery(2));
        EXPECT_EQ(database->appended,
                  (std::vector<std::pair<std::string, std::string>>{{"Big Orders", "SELECT * FROM [Orders]  ;"},
                                                                    {"Empty", ""}}));
        EXPECT_TRUE(engine.outputErrors.empty());
        database->refuseAppend = true;
        EXPECT_FALSE(engine.SaveQuery(0));
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
    engine.outputEngineFactory = dao::CreateSqliteEngine;
    engine.outputPath = dir.file("Repaired_out.sqlite");
    s.started = engine.StartOutputDatabase(s.scan.receiver.get()) != 0;
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

// Every corpus query is kept with its rebuilt text; the views SQLite accepts
// and runs are counted (the Access SQL the rules produce is not always
// SQLite's: a view is a bonus, the text is what counts).
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
}

}  // namespace
}  // namespace talmera::test
