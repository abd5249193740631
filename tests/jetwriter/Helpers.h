// Test helpers for the writer: a temporary folder, running mdbtools, reading
// its CSV, and predicting how mdbtools prints each value we wrote.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "jetwriter/JetWriter.h"

namespace jwtest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Runs a shell command; returns its exit status, standard output in *out.
int run(const std::string& command, std::string* out = nullptr);
std::string quote(const std::string& s);
bool haveMdbTools();

using Cell = std::optional<std::string>;  // nullopt: NULL
using Rows = std::vector<std::vector<Cell>>;

// mdb-export of one table (header row dropped), dates as "YYYY-MM-DD hh:mm:ss",
// binary data in hex, NULL distinguished from empty text.
Rows mdbExport(const std::string& file, const std::string& table);
std::vector<std::string> mdbExportHeader(const std::string& file, const std::string& table);
std::vector<std::string> mdbTables(const std::string& file, bool system = false);
std::string mdbSchema(const std::string& file, const std::string& table, const std::string& backend = "");

// How mdb-export (with the options above) prints a value of a column.
Cell expectedCell(jetwriter::Format format, const jetwriter::Column& c, const jetwriter::Value& v);
// The rows mdbtools should show for a table: deleted rows absent, columns a row
// was not stored with empty.
Rows expectedRows(jetwriter::Format format, const jetwriter::Table& t);

// How mdb-reader (tests/oracle/mdb-dump.mjs) gives a value of a column, and
// the rows it should give for a table: deleted rows absent; a column a row
// was not stored with is compared only where mdb-reader can tell (NULL).
// Calculated columns are left out: mdb-reader reads their stored bytes as
// the bare type and does not know the calculated value's header.
nlohmann::json expectedReaderCell(const jetwriter::Column& c, const jetwriter::Value& v);
// Compares mdb-reader's rows of a table (one object of mdb-dump.mjs's
// "tables") with the description; `asSet` when row order may differ (moved rows).
void expectReaderRows(const nlohmann::json& table, const jetwriter::Table& t, bool asSet);

// The named columns of a table as both oracles give them, in mdb-export's
// text form, sorted: mdb-export's rows and mdb-reader's (numbers in
// decimal, Yes/No as 1 and 0, bytes in hex, NULL as nullopt).
Rows mdbExportColumns(const std::string& file, const std::string& table, const std::vector<std::string>& columns);
Rows mdbReaderColumns(const std::string& file, const std::string& table, const std::vector<std::string>& columns);

std::string hex(const std::vector<uint8_t>& b);
std::string formatDate(double days);

}  // namespace jwtest
