// Test helpers for the writer: a temporary folder, running mdbtools, reading
// its CSV, and predicting how mdbtools prints each value we wrote.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

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

std::string hex(const std::vector<uint8_t>& b);
std::string formatDate(double days);

}  // namespace jwtest
