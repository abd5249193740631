#include "Support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace talmera::dao::test {

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "talmera-output-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

OutputFile::OutputFile(int option) : path((folder.path() / "out.sqlite").string()), engine(CreateSqliteEngine()) {
    db = engine->CreateDatabase(path, ";LANGID=0x0419;CP=1251;COUNTRY=7;", option);
}

TableDefPtr AddTable(const DatabasePtr& db, const std::string& name, const std::vector<FieldSpec>& fields,
                     bool scratch) {
    TableDefPtr t = db->CreateTableDef(name);
    if (scratch) t->SetScratch(true);
    for (const FieldSpec& spec : fields) {
        FieldPtr f = t->CreateField(spec.name, spec.type);
        if (spec.size) f->SetSize(spec.size);
        if (spec.attributes) f->SetAttributes(spec.attributes);
        t->AppendField(f);
    }
    db->AppendTableDef(t);
    return t;
}

void AddIndex(const TableDefPtr& table, const IndexSpec& spec) {
    IndexPtr index = table->CreateIndex(spec.name);
    if (spec.primary) index->SetPrimary(true);
    if (spec.unique) index->SetUnique(true);
    if (spec.ignoreNulls) index->SetIgnoreNulls(true);
    for (const std::string& name : spec.fields) {
        const bool descending = !name.empty() && name[0] == '-';
        FieldPtr f = index->CreateField(descending ? name.substr(1) : name, dbLong);
        if (descending) f->SetAttributes(dbDescending);
        index->AppendField(f);
    }
    table->AppendIndex(index);
}

void AddRecord(const RecordsetPtr& rs, const Assignments& values) {
    rs->AddNew();
    for (const auto& [name, value] : values) rs->FieldItem(name)->SetValue(value);
    rs->Update();
}

std::optional<ComError> ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const ComError& e) {
        return e;
    }
    ADD_FAILURE() << "the call raised no error";
    return std::nullopt;
}

Reader::Reader(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        throw std::runtime_error("cannot open " + path);
}

Reader::~Reader() { sqlite3_close(db_); }

std::vector<std::vector<std::string>> Reader::rows(const std::string& sql) const {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db_);
        return {};
    }
    std::vector<std::vector<std::string>> out;
    while (sqlite3_step(s) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int c = 0; c < sqlite3_column_count(s); ++c) {
            const auto* text = sqlite3_column_text(s, c);
            row.push_back(sqlite3_column_type(s, c) == SQLITE_NULL ? "NULL" : reinterpret_cast<const char*>(text));
        }
        out.push_back(std::move(row));
    }
    sqlite3_finalize(s);
    return out;
}

std::string Reader::value(const std::string& sql) const {
    auto r = rows(sql);
    return r.empty() || r[0].empty() ? "<no row>" : r[0][0];
}

std::pair<int, std::string> RunCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {-1, ""};
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

}  // namespace talmera::dao::test
