// The save of a generated database into the embedded SQLite output, and
// reading that output back with SQLite itself: shared by the save tests.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/run/RecoverThread.h"
#include "engine/save/OutputDatabase.h"
#include "output/dao/SqliteEngine.h"
#include "platform/MessageReceiver.h"
#include "tests/engine/Fixtures.h"

namespace talmera::test {

// A receiver that can stop the run after a number of progress steps.
struct SaveReceiver : RecordingReceiver {
    SaveReceiver(CQuorvinAccessRecoveryApp& app, int stopAfterSteps = -1)
        : RecordingReceiver(app), app_(app), stopAfter(stopAfterSteps) {}
    intptr_t send(uint32_t m, uintptr_t w, intptr_t l) override {
        if (m == UM_PROGRESS && w == kProgressStep && stopAfter >= 0 && ++steps >= stopAfter) app_.stopRequested = true;
        return RecordingReceiver::send(m, w, l);
    }
    bool askOverwrite(const std::string&) override { return overwrite; }
    std::string askNewLocation(const std::string& existing, const std::string& proposal) override {
        ++locationQuestions;
        if (!newLocation) return proposal;
        return *newLocation == "<existing>" ? existing : *newLocation;
    }
    CQuorvinAccessRecoveryApp& app_;
    std::optional<std::string> newLocation;  // the answer to the new-name question
    int locationQuestions = 0;
    int stopAfter;
    int steps = 0;
    bool overwrite = false;
};

struct Saved {
    ScanResult scan;
    std::unique_ptr<SaveReceiver> receiver;
    std::string output;
    int started = 0;
};

// Scans path, selects every table and query, and saves into dir.
// links: also every linked table. newLocation: the answer to the new-name
// question (none: the proposal; "<existing>": the existing name again).
inline Saved saveAll(const std::string& path, const TempDir& dir, int stopAfterSteps = -1, bool deleted = false,
                     bool links = false, std::optional<std::string> newLocation = std::nullopt,
                     std::function<dao::EnginePtr()> outputEngine = dao::CreateSqliteEngine) {
    Saved s;
    s.scan = runScan(path, deleted);
    CQuorvinAccessRecoveryApp& app = *s.scan.app;
    CMDBRecovery& engine = *s.scan.engine;
    for (const tableInfo& t : engine.tables) app.selectedTables.push_back(t.name);
    for (const queryInfo& q : engine.queries) app.selectedQueries.push_back(q.name);
    if (links)
        for (const LinkedTableInfo& l : engine.linkedTables) app.selectedLinkedTables.push_back(l.linkName);
    OutputOf(engine).engineFactory = outputEngine;
    engine.outputPath = dir.file("Repaired_out.sqlite");
    s.receiver = std::make_unique<SaveReceiver>(app, stopAfterSteps);
    s.receiver->newLocation = newLocation;
    s.started = OutputOf(engine).StartOutputDatabase(s.receiver.get());
    s.output = engine.outputPath;
    if (!s.started) return s;
    app.outputCreated = true;
    app.previewMode = false;
    CRecoverThread run(app, s.receiver.get());
    run.Run();
    return s;
}

// The rows of any query of the output, each cell as text (NULL as nullopt).
inline std::vector<std::vector<std::optional<std::string>>> queryRows(const std::string& file, const std::string& sql) {
    std::vector<std::vector<std::optional<std::string>>> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << file;
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sqlite3_errmsg(db) << " in " << sql;
    } else {
        while (sqlite3_step(st) == SQLITE_ROW) {
            std::vector<std::optional<std::string>> row;
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                if (sqlite3_column_type(st, c) == SQLITE_NULL) {
                    row.push_back(std::nullopt);
                } else {
                    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
                    row.push_back(std::string(text, static_cast<size_t>(sqlite3_column_bytes(st, c))));
                }
            }
            rows.push_back(std::move(row));
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rows;
}

// All rows of a table of the output.
inline std::vector<std::vector<std::optional<std::string>>> outputRows(const std::string& file, const std::string& table,
                                                                 const std::string& order = "rowid") {
    return queryRows(file, "SELECT * FROM \"" + table + "\" ORDER BY " + order);
}

inline std::string scalar(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    std::string out;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW &&
            sqlite3_column_type(st, 0) != SQLITE_NULL) {
            out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return out;
}

}  // namespace talmera::test
