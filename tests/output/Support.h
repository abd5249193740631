// Helpers of the output engine's tests: a new output file in a temporary
// folder, short ways to define tables and add records, and a plain SQLite
// connection to read the file as any other client would.
#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "output/dao/Dao.h"
#include "output/dao/SqliteEngine.h"

namespace talmera::dao::test {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A new output database "out.sqlite" in its own temporary folder.
struct OutputFile {
    explicit OutputFile(int option = dbVersion40);
    TempFolder folder;
    std::string path;
    EnginePtr engine;
    DatabasePtr db;
};

struct FieldSpec {
    std::string name;
    int type;
    int32_t size = 0;
    int32_t attributes = 0;
};

// Appended with its fields; `scratch` marks it as a scratch table first.
TableDefPtr AddTable(const DatabasePtr& db, const std::string& name, const std::vector<FieldSpec>& fields,
                     bool scratch = false);

struct IndexSpec {
    std::string name;
    std::vector<std::string> fields;  // a leading '-' makes the field descending
    bool primary = false;
    bool unique = false;
    bool ignoreNulls = false;
};
void AddIndex(const TableDefPtr& table, const IndexSpec& spec);

using Assignments = std::vector<std::pair<std::string, Variant>>;
// AddNew, the assignments, Update.
void AddRecord(const RecordsetPtr& rs, const Assignments& values);

// The ComError a call raises; fails the test when it raises none.
std::optional<ComError> ErrorOf(const std::function<void()>& call);

// The file, read through SQLite itself.
class Reader {
public:
    explicit Reader(const std::string& path);
    ~Reader();
    // Every row of a query, each value as SQLite's text of it ("NULL" for null).
    std::vector<std::vector<std::string>> rows(const std::string& sql) const;
    // The first column of the first row.
    std::string value(const std::string& sql) const;
    sqlite3* handle() const { return db_; }

private:
    sqlite3* db_ = nullptr;
};

// Runs a command; its exit status and standard output.
std::pair<int, std::string> RunCommand(const std::string& command);

}  // namespace talmera::dao::test
