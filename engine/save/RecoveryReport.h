// The recovery report: what a run found, what it saved and what it lost, per
// table and per object, with the reason for each loss. The scan makes one
// (what the file claims against what was found); the save carries it on
// (what the output holds). It is shown in the log (ReportLogLines), written as
// JSON (ReportJson, talmera-repair repair --report-json), kept in the output
// database's metadata (_talmera_report, docs/output-format.md) and handed to
// the front end in the application state (CQuorvinAccessRecoveryApp::
// recoveryReport) when a scan or a save ends.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talmera {

class CMDBRecovery;

struct RecoveryReport {
    struct RenamedColumn {
        std::string name;       // the name given to it
        std::string storedHex;  // the bytes its definition held, as hex
    };
    struct Table {
        std::string name;        // as the catalog names it
        std::string outputName;  // its table in the output (empty: none)
        // Its place in the engine's table list (the window's tree marks it
        // there); -1 for a table whose definition could not be read.
        int64_t enginePosition = -1;
        // The rows its definition counts, where the definition was read.
        std::optional<uint64_t> expectedRows;
        uint64_t foundRows = 0;      // rows the scan found on its pages
        uint64_t recoveredRows = 0;  // rows the output holds (a scan: the rows found)
        // expectedRows minus recoveredRows, where the count was readable.
        std::optional<uint64_t> lostRows;
        uint64_t unreadablePages = 0;  // data pages its usage map lists that are zeroed or overwritten
        uint64_t refusedRows = 0;      // rows the output database refused
        uint64_t partialValues = 0;    // memo, OLE and attachment values only partly read
        std::vector<RenamedColumn> renamedColumns;
        uint64_t deletedRows = 0;     // deleted rows recovered into its table of deleted records
        bool deletedRecords = false;  // this is a table of deleted records
        bool lostEntirely = false;    // neither its definition nor its rows could be used
        bool saved = false;
        // Each loss, in words, but for the rows lost, which Problems() adds.
        std::vector<std::string> problems;
        std::vector<std::string> notes;     // what was noticed that is no loss
        // The rows lost first (as a scan or a save says it), then problems.
        std::vector<std::string> Problems(bool saveRan) const;
        // recoveredRows, and lostRows from it where the count is readable.
        void SetRecovered(uint64_t rows);
        // Something of it is missing from the output (or, for a scan, from what was found).
        bool Incomplete() const;
    };
    struct Object {
        std::string kind;  // "query", "relationship", "linked table", "form", "report", "macro", "module"
        std::string name;
        bool saved = false;
        std::vector<std::string> problems;
    };

    std::string source;
    std::string output;     // the output database written (empty: none)
    bool saveRan = false;   // a save's report; else a scan's (nothing written)
    bool stopped = false;   // the save was stopped before its end
    bool failed = false;    // the save failed: no output was written
    std::vector<Table> tables;
    std::vector<Object> queries;
    std::vector<Object> relationships;
    std::vector<Object> linkedTables;
    std::vector<Object> objects;  // forms, reports, macros, modules

    // Nothing was lost: every object found was saved whole (a scan: every
    // table's rows were found) and the save ran to its end.
    bool Complete() const;
    uint64_t RowsLost() const;                // over the tables whose count is readable
    size_t TablesWithLostRows() const;
    size_t TablesLost() const;                // definition or rows lost entirely, or not saved
    uint64_t RowsRefused() const;
    uint64_t ValuesPartial() const;
    Table* FindTable(const std::string& name);
};

// The report of the scan just made: every table of the engine's list (tables
// of deleted records only with includeDeletedRecords), each with the rows its
// definition claims against those found and its unreadable data pages, and
// each user table whose definition could not be read.
RecoveryReport ScanReport(const CMDBRecovery& engine);

// The report as one JSON object (docs/recovery-report.md).
std::string ReportJson(const RecoveryReport& report);

// The log's summary section: empty when nothing was lost.
std::vector<std::string> ReportLogLines(const RecoveryReport& report);

// "Completed with losses: 68 rows in 1 table, 1 table unreadable"; empty when
// nothing was lost.
std::string LossesLine(const RecoveryReport& report);

}  // namespace talmera
