// The save's steps for the tables and the queries: each selected table into
// the output table created for it (through a scratch table when it has an
// auto-number column), row by row as the row walker decodes them; each
// selected query as a query definition.
#include "engine/ApplicationState.h"
#include "engine/LogLines.h"
#include "engine/MDBRecovery.h"
#include "engine/RowWalker.h"
#include "engine/save/OutputDatabase.h"
#include "platform/MessageReceiver.h"

namespace talmera {

namespace {
const char kScratchTable[] = "QTARTable";

std::string describe(const dao::ComError& error) {
    std::string text = error.description.empty() ? dao::FormatComError(error) : error.description;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}
}  // namespace

void COutputDatabase::CloseRecordset() {
    if (!set_.recordset) return;
    try {
        set_.recordset->Close();
    } catch (const dao::ComError& error) {
        NoteOutputError(error);
    }
    set_.recordset.reset();
}

bool COutputDatabase::StopSave() {
    CloseRecordset();
    if (WriteFailed()) {
        DiscardOutput();
        return false;
    }
    // What was written is a usable file, marked incomplete.
    EndReport(true);
    if (!CloseOutputDatabase() || WriteFailed()) {
        DiscardOutput();
        return false;
    }
    return PlaceOutput(false);
}

bool COutputDatabase::FinishSave() {
    if (WriteFailed()) {
        DiscardOutput();
        return false;
    }
    EndReport(false);
    if (!CloseOutputDatabase() || WriteFailed()) {
        DiscardOutput();
        return false;
    }
    // Complete: it replaces the previous output only now.
    return PlaceOutput(true);
}

bool COutputDatabase::SaveTableRows(const tableInfo& table) {
    // A save writes typed values, long values whole; it needs no texts.
    RowWalker rows(engine_, table);
    std::vector<RowValue> values;
    while (rows.nextGroup()) {
        for (size_t k = 0; k < rows.groupSize(); ++k) {
            if (Stopped()) return false;
            if (rows.candidate(k)) {
                if (rows.decode(k, true, values, false)) TransferRow(table, values);
                // Deleted records are announced as the preview announces them.
                if (rows.deletedList() && mainWindow) mainWindow->send(UM_ADD_RECORD_ROW, 0, k == 0 ? 1 : 0);
            }
            app.currentRowValues.clear();
            SendProgress(kProgressStep);
        }
    }
    return true;
}

bool COutputDatabase::SaveTable(size_t position, const std::string& outputName) {
    const tableInfo& table = tables[position];
    savingTables = true;
    Log("Saving Table.....  " + table.name);
    Log(log::Counted("Total field(s) present  :", table.columnCount));
    if (outputName != table.name) Log("Table name already in use, saved as  : " + outputName);
    // A table with an auto-number column is filled through a scratch table
    // that keeps the stored numbers; without one, straight.
    std::string target = outputName;
    bool scratch = false;
    if (table.hasAutoNumber) {
        try {
            PrepareScratchTable(kScratchTable, table);
            target = kScratchTable;
            scratch = true;
        } catch (const dao::ComError& error) {
            NoteOutputError(error);
            // A scratch table made only in part is not left in the output.
            try {
                set_.database->TableDefItem(kScratchTable);
                set_.database->DeleteTableDef(kScratchTable);
            } catch (const dao::ComError&) {
            }
        }
    }
    recordsWritten = 0;
    recordsRefused = 0;
    const uint64_t valuesBefore = statistics.valuesIncomplete;
    const uint64_t attachmentsBefore = relatedStatistics.attachmentsIncomplete;
    transferFields = {};
    bool opened = false;
    std::string cut;  // why the transfer ended early
    ScratchMove move;
    // The rows that reached the scratch table go into their own table, and
    // the scratch table goes: it never stays in the output.
    auto moveFromScratch = [&] {
        if (!scratch || WriteFailed()) return;
        move = MoveScratchRecords(kScratchTable, outputName);
        recordsWritten = move.moved;
        recordsRefused += move.refused;
        if (move.notMoved || !move.deleted) {
            Log(log::Counted("Record(s) not moved from the scratch table  :", move.notMoved));
        }
    };
    // What the report says of this table.
    auto record = [&](bool stopped) {
        RecoveryReport::Table* entry = ReportTable(position);
        if (!entry) return;
        entry->outputName = outputName;
        entry->saved = opened;
        entry->SetRecovered(recordsWritten);
        entry->refusedRows = recordsRefused;
        entry->partialValues = (statistics.valuesIncomplete - valuesBefore) +
                               (relatedStatistics.attachmentsIncomplete - attachmentsBefore);
        if (recordsRefused) {
            entry->problems.push_back(std::to_string(recordsRefused) +
                                      " rows were refused by the output database (values it cannot store)");
        }
        if (entry->partialValues) {
            entry->problems.push_back(std::to_string(entry->partialValues) +
                                      " long values (memo, OLE object, attachment) were only partly recovered");
        }
        if (!cut.empty()) {
            entry->problems.push_back((opened ? "its rows could not all be written: " : "its rows could not be written: ") + cut);
        }
        if (move.notMoved) {
            entry->problems.push_back(std::to_string(move.notMoved) +
                                      " rows written into the scratch table could not be moved into the table" +
                                      (move.problem.empty() ? std::string() : ": " + move.problem));
        }
        if (scratch && !move.deleted && !WriteFailed()) {
            entry->problems.push_back("the scratch table " + std::string(kScratchTable) + " could not be deleted");
        }
        if (stopped) entry->problems.push_back("the save was stopped while its rows were written");
    };
    try {
        // DAO's arguments as the save has always passed them: a dynaset
        // (dbOpenDynaset), options 2 (dbDenyRead: no one else reads the table
        // meanwhile) and lock 3 (dbOptimistic: records are locked only while
        // Update stores them). The embedded SQLite engine takes no notice of
        // the options and the lock.
        set_.recordset = set_.database->OpenRecordset(target, dao::dbOpenDynaset, 2, 3);
        opened = true;
        SendProgress(kProgressStart, static_cast<intptr_t>(table.recordCount));
        if (!SaveTableRows(table)) {
            // Stopped: the rows written so far through the scratch table are
            // moved into their own table first, so that they stay where they belong.
            moveFromScratch();
            record(true);
            return false;
        }
    } catch (const dao::ComError& error) {
        NoteOutputError(error);  // ends this table's transfer
        cut = describe(error);
    }
    moveFromScratch();
    CloseRecordset();
    if (WriteFailed()) return false;
    record(false);
    SendProgress(kProgressEnd);
    Log(log::Counted("Total record(s) Repaired  :", recordsWritten));
    if (recordsRefused) Log(log::Counted("Record(s) refused by the output database  :", recordsRefused));
    // Saved with the part that could be read; the rest is lost.
    if (const uint64_t partly = statistics.valuesIncomplete - valuesBefore) {
        Log(log::Counted("Long value(s) only partly recovered  :", partly));
    }
    Log(log::kSeparator);
    return true;
}

COutputDatabase::Step COutputDatabase::SaveTables() {
    if (!set_.database || !CreateOutputTables()) {
        DiscardOutput();  // whatever was created is closed and removed
        return Step::Failed;
    }
    app.outputStarted = true;
    if (!app.selectedTables.empty()) {
        for (size_t k = 0; k < tables.size(); ++k) {
            if (Stopped()) return Step::Stopped;
            const tableInfo& table = tables[k];
            if (table.deletedRecords && !app.includeDeletedRecords) continue;
            bool selected = false;
            for (const std::string& name : app.selectedTables) selected = selected || name == table.name;
            // Written once, however often it is selected, into the output
            // table created for it.
            const std::string outputName = k < outputTableNames.size() ? outputTableNames[k] : "";
            if (selected && !outputName.empty() && !SaveTable(k, outputName)) return Step::Stopped;
            if (mainWindow) mainWindow->send(UM_OBJECT_SAVED, 0, static_cast<intptr_t>(k));
        }
    }
    savingTables = false;
    return Step::Done;
}

bool COutputDatabase::SaveQueries() {
    if (app.queryCount == 0 || app.selectedQueries.empty()) return true;
    Log("Saving Queries");
    SendProgress(kProgressStart, static_cast<intptr_t>(app.selectedQueries.size()));
    for (size_t n = 0; n < queries.size(); ++n) {
        if (Stopped()) return false;
        bool selected = false;
        for (const std::string& name : app.selectedQueries) selected = selected || name == queries[n].name;
        if (!selected) continue;
        savingQueries = true;
        const bool saved = SaveQuery(n);
        SendProgress(kProgressStep);
        if (saved && mainWindow) mainWindow->send(UM_OBJECT_SAVED, 0, static_cast<intptr_t>(n));
    }
    SendProgress(kProgressEnd);
    savingQueries = false;
    return true;
}

bool COutputDatabase::SaveQuery(size_t position) {
    if (position >= queries.size()) return false;
    if (!set_.database) return false;
    const queryInfo& query = queries[position];
    try {
        // Created without a name, named, then appended: an engine that stores
        // a query definition as soon as it has a name stores it only once.
        set_.queryDef = set_.database->CreateQueryDef(std::string(), std::string());
        set_.queryDef->SetName(query.name);
        set_.queryDef->SetSQL(query.sqlText);
        if (!query.connect.empty()) set_.queryDef->SetConnect(query.connect);
        set_.database->AppendQueryDef(set_.queryDef);
    } catch (const dao::ComError& error) {
        NoteOutputError(error);
        ReportObject("query", query.name, false,
                     query.sqlText.empty() ? "its SQL text could not be rebuilt from the file"
                                           : "the output database refused it: " + describe(error));
        return false;
    }
    // Its name is kept; a text the reader could not rebuild is a loss all the same.
    if (query.sqlText.empty()) {
        ReportObject("query", query.name, false, "its SQL text could not be rebuilt from the file");
    } else {
        ReportObject("query", query.name, true);
    }
    return true;
}

}  // namespace talmera
