// The export's formats: each takes a table's columns, then its rows one at a
// time, and writes them to a stream as they come (nothing of a row is kept
// once it is written).
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cli/ExportValues.h"

namespace talmera::cli {

enum class ExportFormat { Csv, Tsv, JsonLines, Sql };
enum class SqlDialect { Sqlite, Postgres, MySql };

// How binary values (Binary, OLE Object) are written in csv and tsv.
enum class BinaryMode { Raw, Hex, Base64, Strip };
// Which csv fields are put in quotes.
enum class Quoting {
    Needed,  // fields that hold the delimiter, the quote, a line break, or are empty texts
    All,     // every field that is not NULL
    None,    // none (with the escape, if one is given, before what needs it)
};

struct CsvOptions {
    std::string delimiter = ",";
    std::string quote = "\"";
    std::string escape;           // empty: a quote inside a field is doubled
    bool header = true;
    std::string nullText;         // NULL is written as this, never quoted
    std::string dateFormat;       // strftime format of dates without a time of day; empty: ISO
    std::string dateTimeFormat;   // strftime format of the others; empty: ISO
    BinaryMode binary = BinaryMode::Base64;
    std::string rowDelimiter = "\r\n";
    Quoting quoting = Quoting::Needed;
    bool escapeInvisible = false; // tab, line feed, carriage return and backslash as \t \n \r \\ (tsv)
    bool booleanWords = false;    // true/false instead of 1/0
};

// A table as the writers see it: its export name and columns.
struct ExportTable {
    std::string name;                  // the table's name (unique among the exported ones)
    std::vector<ExportColumn> columns; // names unique within the table
    std::vector<std::string> primaryKey;
    struct Index {
        std::string name;
        bool unique = false;
        std::vector<std::pair<std::string, bool>> columns;  // name, descending
    };
    std::vector<Index> indexes;
};

// A foreign key of the sql dump, from an enforced relationship.
struct ExportForeignKey {
    std::string name;
    std::string table;            // the "many" side, which holds the key
    std::vector<std::string> columns;
    std::string referencedTable;  // the "one" side
    std::vector<std::string> referencedColumns;
    bool cascadeUpdates = false;
    bool cascadeDeletes = false;
};

class TableWriter {
public:
    virtual ~TableWriter() = default;
    // The whole export begins (sql: its preamble; the foreign keys that
    // endExport or the tables' definitions declare).
    virtual void beginExport(const std::string& /*sourceName*/, const std::vector<ExportForeignKey>& /*keys*/) {}
    virtual void beginTable(const ExportTable& table) = 0;
    virtual void row(const std::vector<ExportCell>& cells) = 0;
    virtual void endTable() = 0;
    // The whole export ends (sql: the foreign keys).
    virtual void endExport() {}
};

std::unique_ptr<TableWriter> makeCsvWriter(std::ostream& out, const CsvOptions& options);
std::unique_ptr<TableWriter> makeJsonLinesWriter(std::ostream& out);
// rowsPerInsert: rows of one INSERT statement (statements are also cut at
// about a megabyte).
std::unique_ptr<TableWriter> makeSqlWriter(std::ostream& out, SqlDialect dialect, size_t rowsPerInsert = 100);

// The dialect's quoted identifier ("Order Details", `Order Details`).
std::string sqlIdentifier(SqlDialect dialect, const std::string& name);

}  // namespace talmera::cli
