// The recovery run: one job per run (scan, deleted-records pass, record
// preview, save), chosen from the shared state, reported through messages.
#include "engine/run/RecoverThread.h"

#include <string>

#include "engine/ApplicationState.h"
#include "engine/LogLines.h"
#include "engine/MDBRecovery.h"
#include "engine/RowWalker.h"
#include "engine/save/ObjectsTransfer.h"
#include "engine/save/OutputDatabase.h"
#include "engine/save/RecoveryReport.h"
#include "platform/LocalTime.h"
#include "platform/MessageReceiver.h"
#include "queries/Queries.h"
#include "related/Related.h"

namespace talmera {

namespace {
using log::kBlankLine;
using log::kSeparator;

std::string counted(const std::string& text, long long count) { return log::Counted(text, count); }
}  // namespace

CRecoverThread::CRecoverThread(CQuorvinAccessRecoveryApp& app, IMessageReceiver* receiver)
    : mainWindow(receiver), app_(app) {}

CRecoverThread::~CRecoverThread() { Join(); }

void CRecoverThread::Start() {
    thread_ = std::thread([this] { Run(); });
}

void CRecoverThread::Join() {
    if (thread_.joinable()) thread_.join();
}

void CRecoverThread::Log(const std::string& line) { SendLogLine(app_, mainWindow, line); }

void CRecoverThread::MessageBox(const std::string& upper, const std::string& lower) {
    app_.messageLine1 = upper;
    app_.messageLine2 = lower;
    if (mainWindow) mainWindow->showMessageBox(upper, lower);
}

void CRecoverThread::Finish(bool clearTreeLock) {
    if (mainWindow) mainWindow->post(UM_RUN_FINISHED, 0, 0);
    if (clearTreeLock) app_.treeLocked = false;
}

int CRecoverThread::Run() {
    app_.treeLocked = true;
    if (app_.stopRequested) {
        Finish(false);
        return 0;
    }
    CMDBRecovery* engine = app_.engine.get();
    if (deletedRecordsPass && engine) {
        DeletedRecordsPass();
    } else if (engine && engine->tables.empty() && app_.scanRun) {
        Scan();
    } else if (engine && app_.previewMode) {
        Preview();
    } else if (engine && app_.outputCreated) {
        Save();
    } else {
        MessageBox("\nUnable to stabilize the connection.\n Please restart the application.", "");
        Finish(false);
    }
    return 0;
}

void CRecoverThread::Scan() {
    CMDBRecovery& engine = *app_.engine;
    engine.mainWindow = mainWindow;
    if (engine.sourcePath.empty()) engine.sourcePath = sourcePath;
    if (!app_.rescan) {
        Log(kBlankLine);
        Log("Repairing process started on: " + runTimestamp());
        Log("File selected for repair  : " + app_.selectedPath);
        Log("Repairing file...");
        if (app_.stopRequested) return Finish(false);
    }

    app_.tableCount = 0;
    // Property blocks, MSysComplexColumns and complex values are read as the
    // catalog is.
    if (!engine.catalogReaders.tableRead) InstallRelatedReaders(engine);
    const int scanned = engine.ScanFile();
    if (!engine.protection.locked() && !engine.protection.logLine().empty()) Log(engine.protection.logLine());
    if (scanned == 0) {
        // A stopped scan says nothing about the file.
        if (app_.stopRequested) return Finish(false);
        if (engine.protection.locked()) {
            // An encrypted file that stays closed is an Access file all the
            // same: the reason says what is missing.
            Log(app_.logLine);
            app_.scanRun = false;
            return Finish(true);
        }
        if (!app_.catalogFound) {
            app_.invalidFile = true;
            // A file that could not be opened says why before the verdict.
            if (!engine.fileOpened) Log(app_.logLine);
            Log("This file is not a valid MS Access file.");
        } else if (!app_.stopRequested) {
            Log(counted("Total table(s) present  :", app_.tableCount));
            Log(kSeparator);
            if (app_.queryCount != 0) Log(counted("Total queries present : ", app_.queryCount));
            Log(kSeparator);
            if (app_.formCount != 0) Log("Total forms present : ");
            if (app_.reportCount != 0) Log("Total reports present : ");
            if (app_.macroCount != 1) Log("Total macros present : ");
            if (app_.moduleCount != 0) Log("Total modules present : ");
            Log(kSeparator);
            if (mainWindow) {
                mainWindow->send(UM_PROGRESS, kProgressEnd, 0);
                mainWindow->send(UM_BUILD_TREE, 0, 0);
            }
            Log("Repairing process completed on: " + runTimestamp());
        }
        app_.scanRun = false;
        return Finish(true);
    }

    QueryReader(engine).ReadSavedQueries();
    RelatedReader related(engine);
    related.ReadRelationships();
    related.FetchLinkPaths();
    if (app_.stopRequested) return Finish(false);

    if (app_.rescan) {
        app_.scanRun = false;
        return Finish(true);
    }

    long long deletedTables = 0;
    if (!app_.includeDeletedRecords) {
        for (const tableInfo& t : engine.tables) deletedTables += t.deletedRecords ? 1 : 0;
    }
    Log(counted("Total table(s) present  :", app_.tableCount - deletedTables));
    Log(kBlankLine);
    if (mainWindow) mainWindow->send(UM_BUILD_TREE, 0, 0);

    bool deletedExist = false;
    for (const tableInfo& t : engine.tables) {
        if (t.deletedRecords) {
            deletedExist = true;
            if (app_.includeDeletedRecords) Log(t.name + "  :  " + std::to_string(t.recordCount) + " Record(s)");
        } else {
            Log(t.name + "  :  " + std::to_string(t.recordCount) + " Record(s)");
            if (t.definitionRecordCountRead && t.definitionRecordCount > t.recordCount) {
                Log(t.name + "  :  " + std::to_string(t.definitionRecordCount) + " Record(s) in its definition, " +
                    std::to_string(t.definitionRecordCount - t.recordCount) + " not found");
            }
            if (!t.unlistedPages.empty()) {
                Log(t.name + "  :  " + std::to_string(t.unlistedPages.size()) +
                    " page(s) not listed in the table's usage map " +
                    (app_.includeUnlistedPages ? "included" : "set aside") + " (" +
                    std::to_string(t.unlistedRecordCount) + " Record(s))");
            }
        }
        if (app_.stopRequested) return Finish(false);
    }
    LogDamage();

    if (app_.includeDeletedRecords && engine.jet4Layout && !deletedExist) {
        MessageBox("There is no deleted record(s) in database.", "");
    }
    LogObjectSummary();
    if (mainWindow) mainWindow->send(UM_PROGRESS, kProgressEnd, 0);
    Log("Repairing process completed on: " + runTimestamp());
    MessageBox("\n\nRepairing process successfully completed.", "");
    // What the file lacks, right after the message: the rows its tables'
    // definitions count and that were not found, the tables lost.
    auto report = std::make_shared<RecoveryReport>(ScanReport(engine));
    if (const std::string losses = LossesLine(*report); !losses.empty()) Log(losses);
    app_.recoveryReport = std::move(report);
    app_.scanRun = false;
    Finish(true);
}

void CRecoverThread::LogDamage() {
    // Only what was actually passed over is reported, so an undamaged file
    // gets no extra lines.
    const ScanStatistics& s = app_.engine->statistics;
    if (s.catalogRowsSkipped) Log(counted("Unreadable catalog entries skipped :", s.catalogRowsSkipped));
    if (s.tablesRejected) Log(counted("Tables with an unreadable definition :", s.tablesRejected));
    for (const ScanStatistics::RejectedTable& t : s.rejectedTables) {
        Log("Unreadable definition  :  " + t.name + " (page " + std::to_string(t.definitionPage) + ")");
    }
    if (s.definitionsCut) Log(counted("Table definitions cut short by damage :", s.definitionsCut));
    if (s.partialPageBytes) Log(counted("Bytes of an incomplete last page not read :", s.partialPageBytes));
    // Related objects: property blocks, relationship rows, complex-column values.
    const CMDBRecovery::RelatedStatistics& r = app_.engine->relatedStatistics;
    if (r.propertyBlocksUnreadable) Log(counted("Unreadable property blocks skipped :", r.propertyBlocksUnreadable));
    if (r.relationRowsSkipped) Log(counted("Unreadable relationship entries skipped :", r.relationRowsSkipped));
    if (r.complexRowsSkipped) Log(counted("Unreadable complex-column values skipped :", r.complexRowsSkipped));
}

void CRecoverThread::LogObjectSummary() {
    CMDBRecovery& engine = *app_.engine;
    Log(kSeparator);
    if (!engine.linkedTables.empty()) {
        Log(counted("Total linked table(s) present :", static_cast<long long>(engine.linkedTables.size())));
        Log(kSeparator);
    }
    if (app_.queryCount != 0) {
        Log(counted("Total queries present : ", app_.queryCount));
        Log(kSeparator);
    }
    if (app_.formCount != 0) {
        Log(counted("Total forms present : ", app_.formCount));
        Log(kSeparator);
    }
    if (app_.reportCount != 0) {
        Log(counted("Total reports present : ", app_.reportCount));
        Log(kSeparator);
    }
    if (app_.macroCount > 1) {
        Log(counted("Total macros present : ", app_.macroCount - 1));
        Log(kSeparator);
    }
    if (app_.moduleCount != 0) Log(counted("Total modules present : ", app_.moduleCount));
    if (app_.moduleCount || app_.macroCount || app_.reportCount || app_.formCount || app_.queryCount) {
        Log(kSeparator);
    }
}

void CRecoverThread::DeletedRecordsPass() {
    CMDBRecovery& engine = *app_.engine;
    long long deletedTables = 0;
    for (const tableInfo& t : engine.tables) {
        deletedTables += t.deletedRecords ? 1 : 0;
        if (app_.stopRequested) return Finish(false);
    }
    if (deletedTables == 0) {
        if (app_.includeDeletedRecords) MessageBox("There is no deleted record(s) in database.", "");
        return Finish(false);
    }
    if (mainWindow) mainWindow->send(UM_BUILD_TREE, 0, 0);
    Log("Repairing file...");
    Log(counted("Total table(s) present  :", app_.tableCount - (app_.includeDeletedRecords ? 0 : deletedTables)));
    Log(kBlankLine);
    for (const tableInfo& t : engine.tables) {
        if (!t.deletedRecords || app_.includeDeletedRecords) {
            Log(t.name + "  :  " + std::to_string(t.recordCount) + " Record(s)");
        }
        if (app_.stopRequested) return Finish(false);
    }
    LogObjectSummary();
    if (mainWindow) mainWindow->send(UM_PROGRESS, kProgressEnd, 0);
    Log("Repairing process completed on: " + runTimestamp());
    deletedRecordsPass = false;
    Finish(true);
}

void CRecoverThread::Preview() {
    CMDBRecovery& engine = *app_.engine;
    engine.mainWindow = mainWindow;
    if (previewTableIndex < 0 || static_cast<size_t>(previewTableIndex) >= engine.tables.size()) {
        return Finish(true);
    }
    const tableInfo& table = engine.tables[static_cast<size_t>(previewTableIndex)];
    if (table.deletedRecords && !app_.includeDeletedRecords) return Finish(true);
    auto send = [&](uint32_t message, uintptr_t w, intptr_t l) {
        if (mainWindow) mainWindow->send(message, w, l);
    };
    // A preview shows texts and placeholders: no long value is followed.
    RowWalker rows(engine, table);
    std::vector<RowValue> values;
    bool first = true;
    while (rows.nextGroup()) {
        const size_t places = rows.groupSize();
        if (places == 0 && !rows.deletedList()) continue;
        send(UM_PROGRESS, kProgressStart, static_cast<intptr_t>(places));
        for (size_t k = 0; k < places; ++k) {
            // Every slot of a page gets a row of the grid (an empty one when
            // it holds no row); of a deleted-row list only the deleted entries.
            if (rows.candidate(k)) {
                if (rows.decode(k, false, values, true)) {
                    for (const RowValue& v : values) {
                        if (v.state != RowValue::State::NoText) app_.currentRowValues.push_back(v.text);
                    }
                }
                if (!rows.deletedList() && app_.stopRequested) {
                    // The row decoded last is not shown: the next preview starts empty.
                    app_.currentRowValues.clear();
                    return Finish(false);
                }
                send(UM_ADD_RECORD_ROW, 0, first ? 1 : 0);
                first = false;
            }
            app_.currentRowValues.clear();
            if (app_.stopRequested) return Finish(false);
            send(UM_PROGRESS, kProgressStep, 0);
        }
        send(UM_PROGRESS, kProgressEnd, 0);
    }
    Finish(true);
}

void CRecoverThread::Save() {
    CMDBRecovery& engine = *app_.engine;
    COutputDatabase& output = OutputOf(engine);
    engine.mainWindow = mainWindow;
    Log(kBlankLine);
    Log("Saving process started on:" + runTimestamp());
    engine.savingTables = engine.savingQueries = engine.savingForms = engine.savingReports = false;
    engine.savingMacros = engine.savingModules = engine.savingLinkedTables = engine.savingDone = false;
    output.BeginReport();

    // The report of what was saved goes to the front end, and its summary
    // into the log after the save's own lines.
    auto publish = [&](bool failed) {
        auto report = std::make_shared<RecoveryReport>(output.Report());
        report->failed = failed;
        if (failed) report->output.clear();
        if (!failed) {
            for (const std::string& line : ReportLogLines(*report)) Log(line);
        }
        app_.recoveryReport = std::move(report);
    };
    // A failure of the output file: nothing of it is kept, the previous
    // output of that name stays as it was.
    auto fail = [&](const std::string& why) {
        output.DiscardOutput();
        Log("The repaired database could not be completed: " + why);
        publish(true);
        MessageBox("Unable to save repaired database file.  ", kBlankLine);
        Finish(false);
    };
    auto lastError = [&] {
        if (output.WriteFailed()) return output.WriteFailure();
        return engine.outputErrors.empty() ? std::string() : engine.outputErrors.back();
    };
    // A stop ends the run: what is written stays, in a usable file marked
    // incomplete, which replaces no earlier output.
    auto stopSave = [&]() {
        if (output.WriteFailed()) return fail(output.WriteFailure());
        if (!output.StopSave()) {
            if (output.WriteFailed()) return fail(output.WriteFailure());
            Log("The repaired database could not be completed: " + lastError());
            publish(true);
            return Finish(false);
        }
        publish(false);
        Finish(false);
    };
    if (app_.tableCount != 0) {
        const COutputDatabase::Step tables = output.SaveTables();
        if (tables == COutputDatabase::Step::Failed) {
            publish(true);
            MessageBox("Unable to save repaired database file.  ", kBlankLine);
            return Finish(false);
        }
        if (tables == COutputDatabase::Step::Stopped) return stopSave();
    }
    if (!app_.selectedLinkedTables.empty()) {
        output.SaveLinkedTables();
        if (app_.stopRequested || output.WriteFailed()) return stopSave();
        Log(kSeparator);
    }
    if (!output.SaveQueries() || output.WriteFailed()) return stopSave();
    if (!app_.selectedTables.empty() || app_.includeDeletedRecords) output.SaveRelationships();
    Log(kSeparator);
    if (app_.stopRequested || output.WriteFailed()) return stopSave();
    // Forms, reports, macros and modules: copied by Microsoft Access where it
    // runs, else kept beside the output database.
    ObjectsTransfer(engine).SaveAccessObjects();
    if (output.WriteFailed()) return fail(output.WriteFailure());
    // A database whose last writes, commit or close fail is not reported as
    // saved, and replaces nothing.
    if (!output.FinishSave()) {
        if (output.writingPath.empty() || output.WriteFailed()) return fail(lastError());
        // Complete, but it could not be moved into place: it stays where it
        // was written, and the previous output too.
        Log("The repaired database could not be completed: " + lastError());
        Log("The repaired database is kept as  : " + output.writingPath);
        publish(true);
        MessageBox("Unable to save repaired database file.  ", kBlankLine);
        return Finish(false);
    }

    app_.saveSucceeded = true;
    if (app_.stopRequested) {
        app_.saveSucceeded = false;
        publish(false);
        return Finish(false);
    }
    // The whole save has ended: the tree recomputes its root from the
    // categories, so that nothing left unchecked keeps Save enabled.
    engine.savingDone = true;
    if (mainWindow) mainWindow->send(UM_OBJECT_SAVED, 0, 0);
    // The summary of what was lost closes the save's own lines, before its
    // last one (the window takes that line as the save's end).
    publish(false);
    Log("Saving process completed on " + runTimestamp());
    Finish(true);
}

}  // namespace talmera
