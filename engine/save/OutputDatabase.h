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

#include "engine/CatalogRecords.h"
#include "engine/MDBRecovery.h"
#include "engine/RowValue.h"
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
    // receiver: asks the overwrite question and the new location.
    int StartOutputDatabase(IMessageReceiver* receiver);
    int CreateOutputTables();
    void CreateOutputIndexes(const tableInfo& table, const std::string& outputName);
    int CloseOutputDatabase();
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
    // Returns true when every record was moved and the scratch table deleted.
    bool MoveScratchRecords(const std::string& scratchName, const std::string& tableName);

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
    // Ends a stopped save: the open recordset and the output are closed.
    void StopSave();

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
    bool Stopped() const;

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
