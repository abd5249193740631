// The export command: the tables of a scanned database as csv, tsv, jsonl
// or an sql dump, written row by row as the row walker decodes them.
#pragma once

#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "cli/ExportWriters.h"

namespace talmera {
class CMDBRecovery;
struct CQuorvinAccessRecoveryApp;
struct tableInfo;
}  // namespace talmera

namespace talmera::cli {

class ProgressBar;

enum class OleMode { Raw, Unwrap };

struct ExportOptions {
    ExportFormat format = ExportFormat::Csv;
    SqlDialect dialect = SqlDialect::Sqlite;
    std::vector<std::string> tables;  // empty: every table
    std::string outputDir;
    std::string output;               // one file ("-": standard output)
    bool overwrite = false;
    bool deleted = false;
    OleMode ole = OleMode::Raw;
    std::string oleDir;               // OLE objects written there as files; the cell names the file
    CsvOptions csv;
    size_t rowsPerInsert = 100;
    bool quiet = false;
};

// Where the tables go, decided from the options and the tables found.
struct ExportTarget {
    const tableInfo* table = nullptr;  // null: the whole sql dump
    std::string path;                  // empty: standard output
};

// The tables `names` select, matched as Access matches names (ignoring
// case; an exact match first). Tables of deleted records only with
// `deleted`. The names that match nothing are returned in `unknown`.
std::vector<const tableInfo*> selectExportTables(const CMDBRecovery& engine, const std::vector<std::string>& names,
                                                 bool deleted, std::vector<std::string>& unknown);

// The exportable table names closest to `name` (a typing error away), best first.
std::vector<std::string> closeNames(const std::string& name, const std::vector<std::string>& candidates);

// A name with the case of A to Z folded; and a name made unique among
// `taken` (folded names): "Name", "Name_2", ...
std::string foldedName(const std::string& text);
std::string uniqueName(const std::string& wanted, std::set<std::string>& taken);

// The file name of a table's export: its name made safe, and the format's
// extension.
std::string exportFileName(const std::string& table, ExportFormat format);

// What one table's export did, for the summary.
struct TableExportResult {
    uint64_t rows = 0;
    uint64_t unconverted = 0;       // values the repair's conversion refused, kept as decoded
    uint64_t incomplete = 0;        // long values whose storage broke part-way
    uint64_t oleKeptRaw = 0;        // --ole unwrap: objects that stayed as stored
    std::string oleReason;          // why (the first one)
    uint64_t oleFiles = 0;          // --ole-dir: files written
    bool stopped = false;           // Ctrl-C, or the output failed
};

// Writes the rows of `table` through `writer`, stepping the bar per row.
// Stops (result.stopped) when the run is asked to stop or `out` fails.
TableExportResult exportTableRows(CMDBRecovery& engine, CQuorvinAccessRecoveryApp& app, tableInfo& table,
                                  const ExportTable& shape, TableWriter& writer, const ExportOptions& options,
                                  std::ostream& out, ProgressBar& bar, std::ostream& err);

// The export shape of a table: unique column names, primary key, indexes.
ExportTable exportShape(CMDBRecovery& engine, tableInfo& table, const std::string& name);

// The foreign keys of the enforced relationships between exported tables
// whose "one" side has a unique index on exactly the related columns.
std::vector<ExportForeignKey> exportForeignKeys(const CMDBRecovery& engine,
                                                const std::vector<const tableInfo*>& tables);

}  // namespace talmera::cli
