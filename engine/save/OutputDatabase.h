// The save: the engine's operations on the output database, through the
// DAO-shaped interface of output/dao (which knows nothing of the engine).
// Creating the output, its tables, fields, indexes and field properties, the
// record transfer (a decoded row value becomes a record), the scratch table
// of auto-number tables, the links, queries, relationships and complex
// values, and the save's steps for the tables and the queries.
//
// One COutputDatabase belongs to each engine (OutputOf); it reads the engine's
// findings and writes nothing of the engine but the save's results
// (outputErrors, the saving flags the tree reads, savedPath).
#pragma once

#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <atomic>

#include "engine/CatalogRecords.h"
#include "engine/MDBRecovery.h"
#include "engine/RowValue.h"
#include "engine/save/RecoveryReport.h"
#include "output/dao/Dao.h"

namespace talmera {

struct CQuorvinAccessRecoveryApp;
class IMessageReceiver;

class COutputDatabase {
public:
    explicit COutputDatabase(CMDBRecovery& engine);
    COutputDatabase(const COutputDatabase&) = delete;
    COutputDatabase& operator=(const COutputDatabase&) = delete;

    // The objects of the output database being written.
    struct OutputSet {
        dao::EnginePtr engine;
        dao::DatabasePtr database;
        dao::TableDefPtr tableDef;
        dao::FieldPtr field;
        dao::IndexPtr index;
        dao::FieldPtr indexField;
        dao::PropertyPtr property;
        dao::RecordsetPtr recordset;
        dao::QueryDefPtr queryDef;
    };
    OutputSet& Output() { return set_; }
    // Makes the output engine; set by the front end (the embedded SQLite
    // engine, dao::CreateSqliteEngine), so that the engine knows no back end.
    std::function<dao::EnginePtr()> engineFactory;

    // ---- The output database (OutputDatabase.cpp) --------------------------
    // receiver: asks the overwrite question and the new location. The file
    // is written beside outputPath (writingPath) and moved there only when
    // the save is over (PlaceOutput): until then an existing file of that
    // name stays as it was, whatever happens to the save.
    int StartOutputDatabase(IMessageReceiver* receiver);
    int CreateOutputTables();
    // losses: where each index the output refuses is told (none: only noted).
    void CreateOutputIndexes(const tableInfo& table, const std::string& outputName,
                             std::vector<std::string>* losses = nullptr);
    int CloseOutputDatabase();
    // The file being written (empty: none), and whether the user allowed the
    // existing file at outputPath to be replaced by it.
    std::string writingPath;
    bool replaceExisting = false;
    // Moves the closed output into place. Complete: to outputPath (over an
    // existing file only with replaceExisting). Stopped: to outputPath when
    // no file is there, else beside it as <name>_incomplete. The objects
    // folder follows its database. outputPath and the application state's
    // savedPath then name where it is. False, with the reason in
    // outputErrors, when it cannot be moved (it then stays at writingPath).
    bool PlaceOutput(bool complete);
    // A failed save: what it wrote is removed; the previous output stays.
    void DiscardOutput();
    // Where the forms, reports, macros and modules are kept while the save
    // runs (made on first use; moved beside the output by PlaceOutput).
    std::string ObjectsFolderBeingWritten();
    // The folder a placed output's objects go to: <output without extension>_objects.
    static std::string ObjectsFolderOf(const std::string& output);

    // ---- Failures of the output file itself --------------------------------
    // A full disk, an I/O error, a failed commit or close: the save cannot go
    // on and fails (its output is discarded). Set by NoteOutputError.
    bool WriteFailed() const { return writeFailed_; }
    const std::string& WriteFailure() const { return writeFailure_; }

    // ---- The recovery report (RecoveryReport.h) -----------------------------
    // The report of the save in progress, or of the last one.
    const RecoveryReport& Report() const { return report_; }
    // Starts it from the scan's findings, for the objects selected.
    void BeginReport();
    // Notes one object of the save (kind as in RecoveryReport::Object).
    void ReportObject(const std::string& kind, const std::string& name, bool saved, const std::string& problem = {});
    // Ends it: the tables not reached are marked, the report kept in the
    // output's metadata.
    void EndReport(bool stopped);
    // The time-stamped proposal for a new output name beside an existing one.
    static std::string ProposeNewLocation(const std::string& existing, std::time_t when);
    // Errors of output calls: formatted, kept (in the engine's outputErrors)
    // for the log's counts, never shown.
    void NoteOutputError(const dao::ComError& error);
    // Output names given to the tables of this save (a damaged catalog may
    // hold two tables of one name: the second is written under another name).
    std::vector<std::string> outputTableNames;  // parallel to tables; empty when not created
    std::vector<std::pair<std::string, std::string>> renamedTables;  // (source name, output name)

    // ---- Field properties (FieldProperties.cpp) ----------------------------
    void ApplyFieldProperties(const tableInfo& table, const std::string& outputName);

    // ---- Scratch table (ScratchTable.cpp) ----------------------------------
    void PrepareScratchTable(const std::string& scratchName, const tableInfo& table);
    // What the move from the scratch table did: records moved, records the
    // table refused, records left behind when the move broke off, and the
    // scratch table deleted (it always is, unless the output cannot).
    struct ScratchMove {
        uint64_t moved = 0;
        uint64_t refused = 0;
        uint64_t notMoved = 0;
        bool deleted = false;
        std::string problem;  // why the move broke off
    };
    ScratchMove MoveScratchRecords(const std::string& scratchName, const std::string& tableName);

    // ---- Record transfer (RecordTransfer.cpp) ------------------------------
    // Writes one decoded row value into the open recordset as a record. It
    // reads nothing of the decoder: only the row value and the table's
    // definition (and, for complex columns, their values).
    void TransferRow(const tableInfo& table, const std::vector<RowValue>& values);
    // Records stored and refused of the table being written.
    uint32_t recordsWritten = 0;
    uint32_t recordsRefused = 0;

    // ---- The save's steps (TableSave.cpp, QuerySave.cpp) -------------------
    enum class Step { Done, Stopped, Failed };
    // Creates the output tables and writes each selected table (its rows,
    // then the move from its scratch table). Failed when the tables cannot
    // be created (the output is then closed).
    Step SaveTables();
    // One table: false when stopped.
    bool SaveTable(size_t position, const std::string& outputName);
    // Every selected query; false when stopped.
    bool SaveQueries();
    bool SaveQuery(size_t position);
    // Ends a stopped save: the open recordset is closed, the report kept and
    // the output closed and placed (a usable file, marked incomplete). False
    // when the output could not be completed (it is then discarded).
    bool StopSave();
    // Ends a save that ran to its end: the report kept, the output closed
    // and moved into place. False when it could not be (then discarded,
    // unless it is complete but could not be moved).
    bool FinishSave();

    // ---- Links, relationships, complex values (RelatedSave.cpp) ------------
    void SaveLinkedTables();
    void SaveRelationships();
    // The output field type of a complex column (101 attachment, 102 to 109 multi-valued).
    int ComplexFieldType(uint32_t tableId, const std::string& columnName, tableInfo& table);
    // Writes a row's attachments or values into the complex output field.
    void WriteComplexValue(const columnInfo& column, uint32_t key, dao::Field& field);
    // Copies a record's attachments (or values) between two complex fields.
    void CopyAttachments(dao::Field& source, dao::Field& target);

private:
    bool SaveTableRows(const tableInfo& table);
    // Closes the open recordset, if any (errors noted).
    void CloseRecordset();
    void Log(const std::string& line);
    void SendProgress(uintptr_t step, intptr_t value = 0);
    // A stop of the user, or a failure of the output file.
    bool Stopped() const;
    // A loss of the table at `position` that the output caused (a field or
    // index it refused), for the report.
    void NoteTableLoss(size_t position, const std::string& text);
    RecoveryReport::Table* ReportTable(size_t position);
    void MovePlacedObjects(const std::string& placedOutput, bool complete, const std::string& announced);

    std::atomic<bool> writeFailed_{false};
    std::string writeFailure_;
    RecoveryReport report_;
    // Losses of each table found while its output table was created.
    std::vector<std::vector<std::string>> creationLosses_;
    std::string objectsFolder_;  // the objects folder being written, empty when none

    CMDBRecovery& engine_;
    OutputSet set_;
    // The output field of each column of the table being written.
    struct TransferFields {
        const dao::Recordset* recordset = nullptr;
        const tableInfo* table = nullptr;
        std::vector<dao::FieldPtr> fields;
        std::vector<dao::Variant> values;  // each column's value, reused from row to row
    } transferFields;

    // The engine's parts the save reads and writes, under the engine's names.
    // It reads the source file only through the readers (RelatedReader).
    CQuorvinAccessRecoveryApp& app;
    std::deque<tableInfo>& tables;
    const std::vector<queryInfo>& queries;
    const std::vector<LinkedTableInfo>& linkedTables;
    const std::vector<systemTableInfo>& systemTables;
    const std::vector<AttachmentInfo>& complexColumns;
    std::vector<RelationInfo>& relations;
    const ScanStatistics& statistics;
    CMDBRecovery::RelatedStatistics& relatedStatistics;
    const bool& aceFormat;
    const bool& jet4Layout;
    IMessageReceiver*& mainWindow;
    std::string& outputPath;
    std::vector<std::string>& outputErrors;
    bool& savingTables;
    bool& savingQueries;
    bool& savingLinkedTables;
};

// The output database of the engine's saves (made on first use).
COutputDatabase& OutputOf(CMDBRecovery& engine);

}  // namespace talmera
