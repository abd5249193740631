// The recovery run: one job per run (scan, deleted-records pass, record
// preview, save), chosen from the shared state, reported through messages.
#include "engine/RecoverThread.h"

#include <string>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "platform/LocalTime.h"
#include "platform/MessageReceiver.h"

namespace talmera {

namespace {
const std::string kBlankLine = "                  ";  // eighteen spaces
const std::string kSeparator(48, '-');
const std::string kDeletedSuffix = "(deleted records)";
const char kScratchTable[] = "QTARTable";

std::string counted(const std::string& text, long long count) { return text + "  " + std::to_string(count); }
bool isDeletedRecordsTable(const tableInfo& t) { return t.name.find(kDeletedSuffix) != std::string::npos; }
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

void CRecoverThread::Log(const std::string& line) {
    app_.logLine = line;
    if (mainWindow) mainWindow->send(UM_LOG_LINE, 0, 0);
}

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

    engine.ReadSavedQueries();
    engine.ReadRelationships();
    engine.FetchLinkPaths();
    if (app_.stopRequested) return Finish(false);

    if (app_.rescan) {
        app_.scanRun = false;
        return Finish(true);
    }

    long long deletedTables = 0;
    if (!app_.includeDeletedRecords) {
        for (const tableInfo& t : engine.tables) deletedTables += isDeletedRecordsTable(t) ? 1 : 0;
    }
    Log(counted("Total table(s) present  :", app_.tableCount - deletedTables));
    Log(kBlankLine);
    if (mainWindow) mainWindow->send(UM_BUILD_TREE, 0, 0);

    bool deletedExist = false;
    for (const tableInfo& t : engine.tables) {
        if (isDeletedRecordsTable(t)) {
            deletedExist = true;
            if (app_.includeDeletedRecords) Log(t.name + "  :  " + std::to_string(t.recordCount) + " Record(s)");
        } else {
            Log(t.name + "  :  " + std::to_string(t.recordCount) + " Record(s)");
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
    app_.scanRun = false;
    Finish(true);
}

void CRecoverThread::LogDamage() {
    // Only what was actually passed over is reported, so an undamaged file
    // gets no extra lines.
    const ScanStatistics& s = app_.engine->statistics;
    if (s.catalogRowsSkipped) Log(counted("Unreadable catalog entries skipped :", s.catalogRowsSkipped));
    if (s.tablesRejected) Log(counted("Tables with an unreadable definition :", s.tablesRejected));
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
        deletedTables += isDeletedRecordsTable(t) ? 1 : 0;
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
        if (!isDeletedRecordsTable(t) || app_.includeDeletedRecords) {
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
    const size_t index = static_cast<size_t>(previewTableIndex);
    const tableInfo& table = engine.tables[index];
    auto send = [&](uint32_t message, uintptr_t w, intptr_t l) {
        if (mainWindow) mainWindow->send(message, w, l);
    };
    bool first = true;
    auto addRow = [&]() {
        send(UM_ADD_RECORD_ROW, 0, first ? 1 : 0);
        first = false;
        app_.currentRowValues.clear();
    };
    if (!isDeletedRecordsTable(table)) {
        const std::vector<uint64_t> pages = table.pages;
        engine.databaseFile.newPass();
        for (uint64_t page : pages) {
            engine.databaseFile.doneBefore(page);
            const uint32_t slots = engine.LoadPageRows(index, page);
            if (slots == 0) continue;
            send(UM_PROGRESS, kProgressStart, static_cast<intptr_t>(slots));
            for (uint32_t slot = 0; slot < slots; ++slot) {
                engine.DecodeRow(slot, false);
                if (app_.stopRequested) {
                    // The row decoded last is not shown: the next preview starts empty.
                    app_.currentRowValues.clear();
                    return Finish(false);
                }
                addRow();
                if (app_.stopRequested) return Finish(false);
                send(UM_PROGRESS, kProgressStep, 0);
            }
            send(UM_PROGRESS, kProgressEnd, 0);
        }
    } else if (app_.includeDeletedRecords) {
        const size_t entries = table.deletedRows.size();
        send(UM_PROGRESS, kProgressStart, static_cast<intptr_t>(entries));
        for (size_t j = 0; j < entries; ++j) {
            if (j == 0) engine.LoadPageRows(index, table.deletedRows[0].pagePosition);
            // Only slots marked deleted; 0x8 marks the live target of an overflow pointer.
            const uint64_t top = (table.deletedRows[j].entry >> 12) & 0xF;
            if (top == 0xC) {
                engine.DecodeRow(j, true);
                addRow();
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
    engine.mainWindow = mainWindow;
    auto send = [&](uint32_t message, uintptr_t w, intptr_t l) {
        if (mainWindow) mainWindow->send(message, w, l);
    };
    Log(kBlankLine);
    Log("Saving process started on:" + runTimestamp());
    engine.savingTables = engine.savingQueries = engine.savingForms = engine.savingReports = false;
    engine.savingMacros = engine.savingModules = engine.savingLinkedTables = engine.savingDone = false;
    CMDBRecovery::OutputSet& out = engine.Output();

    // The table being filled through the scratch table, if any.
    std::string scratchFor;
    // Ends the run at a stop: what is written stays, the output is closed.
    auto stopNow = [&]() {
        // Rows written so far through the scratch table are moved into their
        // own table first, so that a stopped save keeps them where they belong.
        if (!scratchFor.empty() && !engine.MoveScratchRecords(kScratchTable, scratchFor)) {
            Log("Records not moved from the scratch table kept in  : " + std::string(kScratchTable));
        }
        scratchFor.clear();
        if (out.recordset) {
            try {
                out.recordset->Close();
            } catch (const dao::ComError& error) {
                engine.NoteOutputError(error);
            }
            out.recordset.reset();
        }
        engine.CloseOutputDatabase();
        Finish(false);
    };

    if (app_.tableCount != 0) {
        if (!out.database || !engine.CreateOutputTables()) {
            engine.CloseOutputDatabase();  // whatever was created is closed, not left open
            MessageBox("Unable to save repaired database file.  ", kBlankLine);
            return Finish(false);
        }
        app_.outputStarted = true;
        if (!app_.selectedTables.empty()) {
            for (size_t k = 0; k < engine.tables.size(); ++k) {
                if (app_.stopRequested) return stopNow();
                const tableInfo& table = engine.tables[k];
                const bool deletedTable = isDeletedRecordsTable(table);
                if (deletedTable && !app_.includeDeletedRecords) continue;
                bool selected = false;
                for (const std::string& name : app_.selectedTables) selected = selected || name == table.name;
                // Written once, however often it is selected, into the output
                // table created for it.
                const std::string outputName = k < engine.outputTableNames.size() ? engine.outputTableNames[k] : "";
                if (selected && !outputName.empty()) {
                    engine.savingTables = true;
                    Log("Saving Table.....  " + table.name);
                    Log(counted("Total field(s) present  :", table.columnCount));
                    if (outputName != table.name) Log("Table name already in use, saved as  : " + outputName);
                    std::string target = outputName;
                    bool scratch = false;
                    if (table.hasAutoNumber) {
                        try {
                            engine.PrepareScratchTable(kScratchTable, table);
                            target = kScratchTable;
                            scratch = true;
                            scratchFor = outputName;
                        } catch (const dao::ComError& error) {
                            engine.NoteOutputError(error);
                        }
                    }
                    engine.recordsWritten = 0;
                    engine.recordsRefused = 0;
                    const uint64_t incompleteBefore = engine.statistics.valuesIncomplete;
                    engine.transferFields = {};
                    try {
                        out.recordset = out.database->OpenRecordset(target, dao::dbOpenDynaset, 2, 3);
                        send(UM_PROGRESS, kProgressStart, static_cast<intptr_t>(table.recordCount));
                        if (!deletedTable) {
                            const std::vector<uint64_t> pages = table.pages;
                            engine.databaseFile.newPass();
                            for (uint64_t page : pages) {
                                engine.databaseFile.doneBefore(page);
                                const uint32_t slots = engine.LoadPageRows(k, page);
                                for (uint32_t slot = 0; slot < slots; ++slot) {
                                    if (app_.stopRequested) return stopNow();
                                    engine.DecodeRow(slot, false);
                                    app_.currentRowValues.clear();
                                    send(UM_PROGRESS, kProgressStep, 0);
                                }
                            }
                        } else {
                            const size_t entries = table.deletedRows.size();
                            for (size_t j = 0; j < entries; ++j) {
                                if (app_.stopRequested) return stopNow();
                                if (j == 0) engine.LoadPageRows(k, table.deletedRows[0].pagePosition);
                                // Only slots marked deleted; 0x8 marks the live target of an overflow pointer.
                                if (((table.deletedRows[j].entry >> 12) & 0xF) == 0xC) {
                                    engine.DecodeRow(j, true);
                                    send(UM_ADD_RECORD_ROW, 0, j == 0 ? 1 : 0);
                                }
                                app_.currentRowValues.clear();
                                send(UM_PROGRESS, kProgressStep, 0);
                            }
                        }
                    } catch (const dao::ComError& error) {
                        engine.NoteOutputError(error);  // ends this table's transfer
                    }
                    scratchFor.clear();
                    if (scratch && !engine.MoveScratchRecords(kScratchTable, outputName)) {
                        Log("Records not moved from the scratch table kept in  : " + std::string(kScratchTable));
                    }
                    if (out.recordset) {
                        try {
                            out.recordset->Close();
                        } catch (const dao::ComError& error) {
                            engine.NoteOutputError(error);
                        }
                        out.recordset.reset();
                    }
                    send(UM_PROGRESS, kProgressEnd, 0);
                    Log(counted("Total record(s) Repaired  :", engine.recordsWritten));
                    if (engine.recordsRefused) {
                        Log(counted("Record(s) refused by the output database  :", engine.recordsRefused));
                    }
                    // Saved with the part that could be read; the rest is lost.
                    if (const uint64_t partly = engine.statistics.valuesIncomplete - incompleteBefore) {
                        Log(counted("Long value(s) only partly recovered  :", static_cast<long long>(partly)));
                    }
                    Log(kSeparator);
                }
                send(UM_OBJECT_SAVED, 0, static_cast<intptr_t>(k));
            }
        }
        engine.savingTables = false;
    }

    if (!app_.selectedLinkedTables.empty()) {
        engine.SaveLinkedTables();
        if (app_.stopRequested) return stopNow();
        Log(kSeparator);
    }

    if (app_.queryCount != 0 && !app_.selectedQueries.empty()) {
        Log("Saving Queries");
        send(UM_PROGRESS, kProgressStart, static_cast<intptr_t>(app_.selectedQueries.size()));
        for (size_t n = 0; n < engine.queries.size(); ++n) {
            if (app_.stopRequested) return stopNow();
            bool selected = false;
            for (const std::string& name : app_.selectedQueries) selected = selected || name == engine.queries[n].name;
            if (!selected) continue;
            engine.savingQueries = true;
            const bool saved = engine.SaveQuery(n);
            send(UM_PROGRESS, kProgressStep, 0);
            if (saved) send(UM_OBJECT_SAVED, 0, static_cast<intptr_t>(n));
        }
        send(UM_PROGRESS, kProgressEnd, 0);
        engine.savingQueries = false;
    }

    if (!app_.selectedTables.empty() || app_.includeDeletedRecords) engine.SaveRelationships();

    Log(kSeparator);
    if (app_.stopRequested) return stopNow();
    // Forms, reports, macros and modules: copied by Microsoft Access where it
    // runs, else kept beside the output database.
    engine.SaveAccessObjects();
    // A database that cannot be closed (its last writes or its foreign keys
    // refused) is not reported as saved.
    if (!engine.CloseOutputDatabase()) {
        Log("The repaired database could not be completed: " +
            (engine.outputErrors.empty() ? std::string() : engine.outputErrors.back()));
        MessageBox("Unable to save repaired database file.  ", kBlankLine);
        return Finish(false);
    }

    app_.saveSucceeded = true;
    if (app_.stopRequested) {
        app_.saveSucceeded = false;
        return Finish(false);
    }
    // The whole save has ended: the tree recomputes its root from the
    // categories, so that nothing left unchecked keeps Save enabled.
    engine.savingDone = true;
    send(UM_OBJECT_SAVED, 0, 0);
    Log("Saving process completed on " + runTimestamp());
    Finish(true);
}

}  // namespace talmera
