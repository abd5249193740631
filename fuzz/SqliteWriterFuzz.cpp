// libFuzzer target: the SQLite writer (output/dao/SqliteEngine.cpp and the
// objects behind it) through its DAO interface, as the save drives it, with
// hostile names and values: every call is either refused with a ComError or
// done, and the file it leaves is sound and holds what was stored.
//
// Input (fuzz/seeds/writer/): a program of DAO calls, read from the bytes in
// turn (reads past the end give zeros and empty texts). A text is one byte of
// length and that many bytes.
//   format         1 byte: Jet 3, Jet 4 or ACE output (modulo 3)
//   table name     text
//   fields         1 byte count (1 to 6), then for each: type (an index into
//                  kTypes), size, flags (1 required, 2 zero-length allowed,
//                  4 auto-number, 8 hyperlink, 16 a default value text
//                  follows, 32 a validation rule text follows, 64 a property
//                  name text and value text follow), then its name text
//   index          flags (1 there is one, 2 primary, 4 unique, 8 ignores
//                  nulls), its name text, the field it is on
//   records        1 byte count (0 to 15), then for each a value per field:
//                  a tag (0 Null, 1 Yes/No, 2 integer, 3 double, 4 text,
//                  5 bytes, 6 currency, 7 decimal text, 8 date) and its value
//                  (8 bytes for numbers, a text otherwise)
//   query          name text, SQL text
//   relation       name text, field
#include <sqlite3.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "output/dao/Dao.h"
#include "output/dao/SqliteEngine.h"
#include "platform/Utf8.h"

using namespace talmera;

namespace {

const int kTypes[] = {dao::dbBoolean, dao::dbByte,    dao::dbInteger,    dao::dbLong,   dao::dbCurrency,
                      dao::dbSingle,  dao::dbDouble,  dao::dbDate,       dao::dbBinary, dao::dbText,
                      dao::dbLongBinary, dao::dbMemo, dao::dbGUID,       dao::dbBigInt, dao::dbDecimal,
                      dao::dbAttachment, dao::dbComplexText, dao::dbComplexLong};
const int kFormats[] = {dao::dbVersion30, dao::dbVersion40, dao::dbVersion120};

class Program {
public:
    Program(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint64_t u64() {
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(byte()) << (8 * i);
        return v;
    }
    double real() {
        const uint64_t bits = u64();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
    std::string text() {
        const size_t n = byte();
        std::string s;
        for (size_t i = 0; i < n && at_ < size_; ++i) s.push_back(static_cast<char>(data_[at_++]));
        return s;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

bool validUtf8(const std::string& text) {
    size_t at = 0;
    uint32_t cp = 0;
    while (at < text.size()) {
        if (!utf8::Next(text, at, cp)) return false;
    }
    return true;
}

// Calls the DAO operation; false when the engine refused it.
// With TALMERA_FUZZ_VERBOSE set, each refusal is printed (to read a finding).
template <typename F>
bool tried(F&& call) {
    try {
        call();
        return true;
    } catch (const dao::ComError& e) {
        static const bool verbose = std::getenv("TALMERA_FUZZ_VERBOSE") != nullptr;
        if (verbose) std::fprintf(stderr, "refused: %s: %s\n", e.source.c_str(), e.description.c_str());
        return false;
    }
}

std::string outputPath() {
    static const std::string path = [] {
        std::error_code error;
        std::filesystem::path folder = "/dev/shm";
        if (!std::filesystem::is_directory(folder, error)) folder = std::filesystem::temp_directory_path(error);
        return (folder / ("talmera-fuzz-writer-" + std::to_string(getpid()) + ".sqlite")).string();
    }();
    return path;
}

struct Field {
    int type = 0;
    std::string name;
    bool appended = false;
};

// A value stored in a field that keeps it as it is given: text in a text or
// memo field, bytes in a binary or OLE field.
struct Kept {
    size_t field;
    std::optional<std::string> text;
    std::optional<dao::Bytes> bytes;
};

dao::Variant value(Program& p, uint8_t tag) {
    switch (tag % 9) {
        case 1: return (p.byte() & 1) != 0;
        case 2: return static_cast<int64_t>(p.u64());
        case 3: return p.real();
        case 4: return p.text();
        case 5: {
            const std::string s = p.text();
            return dao::Bytes(s.begin(), s.end());
        }
        case 6: return dao::Currency{static_cast<int64_t>(p.u64())};
        case 7: return dao::Decimal{p.text()};
        case 8: return dao::Date{p.real()};
        default: return std::monostate{};
    }
}

// The file after Close: sound, and every record the engine accepted there,
// with the values kept as given.
void checkFile(const std::string& path, const std::string& table, long accepted,
               const std::vector<std::vector<Kept>>& kept) {
    sqlite3* db = nullptr;
    fuzz::Require(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    fuzz::Require(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK);
    fuzz::Require(sqlite3_step(st) == SQLITE_ROW);
    fuzz::Require(std::strcmp(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok") == 0);
    sqlite3_finalize(st);

    std::string sqliteName;
    if (sqlite3_prepare_v2(db, "SELECT sqlite_name FROM _talmera_tables WHERE name = ?", -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(st, 1, table.data(), static_cast<int>(table.size()), SQLITE_STATIC);
        if (sqlite3_step(st) == SQLITE_ROW) {
            sqliteName.assign(reinterpret_cast<const char*>(sqlite3_column_blob(st, 0)), sqlite3_column_bytes(st, 0));
        }
        sqlite3_finalize(st);
    }
    if (sqliteName.empty()) {
        fuzz::Require(accepted == 0);
        sqlite3_close(db);
        return;
    }
    std::string quoted = "\"";
    for (char c : sqliteName) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    quoted += "\"";
    const std::string select = "SELECT * FROM " + quoted + " ORDER BY rowid";
    if (sqlite3_prepare_v2(db, select.c_str(), static_cast<int>(select.size()), &st, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s\n", select.c_str(), sqlite3_errmsg(db));
        fuzz::Require(false);
    }
    long rows = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
        if (static_cast<size_t>(rows) < kept.size()) {
            for (const Kept& k : kept[static_cast<size_t>(rows)]) {
                const int column = static_cast<int>(k.field);
                const auto* blob = static_cast<const uint8_t*>(sqlite3_column_blob(st, column));
                const std::string stored(reinterpret_cast<const char*>(blob), blob ? sqlite3_column_bytes(st, column) : 0);
                if (k.text) fuzz::Require(stored == *k.text);
                if (k.bytes) fuzz::Require(stored == std::string(k.bytes->begin(), k.bytes->end()));
            }
        }
        ++rows;
    }
    sqlite3_finalize(st);
    fuzz::Require(rows == accepted);
    sqlite3_close(db);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Program p(data, size);
    const std::string path = outputPath();
    ::unlink(path.c_str());
    dao::EnginePtr engine = dao::CreateSqliteEngine();
    dao::DatabasePtr db;
    const int format = kFormats[p.byte() % 3];
    if (!tried([&] { db = engine->CreateDatabase(path, ";LANGID=0x0409;CP=1252;COUNTRY=0", format); })) return 0;

    const std::string tableName = p.text();
    dao::TableDefPtr table;
    std::vector<Field> fields(1 + p.byte() % 6);
    bool keyed = false;  // a primary key or auto-number may reorder or refill the rows
    if (!tried([&] { table = db->CreateTableDef(tableName); })) table = nullptr;
    for (Field& f : fields) {
        f.type = kTypes[p.byte() % (sizeof kTypes / sizeof kTypes[0])];
        const uint8_t fieldSize = p.byte();
        const uint8_t flags = p.byte();
        std::string defaultValue, rule, propertyName, propertyValue;
        if (flags & 16) defaultValue = p.text();
        if (flags & 32) rule = p.text();
        if (flags & 64) {
            propertyName = p.text();
            propertyValue = p.text();
        }
        f.name = p.text();
        if (!table) continue;
        dao::FieldPtr field;
        if (!tried([&] { field = table->CreateField(f.name, f.type); })) continue;
        tried([&] { field->SetSize(fieldSize); });
        tried([&] { field->SetRequired(flags & 1); });
        tried([&] { field->SetAllowZeroLength(flags & 2); });
        int32_t attributes = 0;
        if (flags & 4) attributes |= dao::dbAutoIncrField;
        if (flags & 8) attributes |= dao::dbHyperlinkField;
        tried([&] { field->SetAttributes(attributes); });
        if (flags & 4) keyed = true;
        f.appended = tried([&] { table->AppendField(field); });
        if (flags & 16) tried([&] { field->SetDefaultValue(defaultValue); });
        if (flags & 32) tried([&] { field->SetValidationRule(rule); });
        if (flags & 64) {
            tried([&] { field->AppendProperty(field->CreateProperty(propertyName, dao::dbText, propertyValue, false)); });
        }
    }
    const uint8_t indexFlags = p.byte();
    const std::string indexName = p.text();
    const size_t indexField = p.byte() % fields.size();
    if (table) tried([&] { db->AppendTableDef(table); });
    if (table && (indexFlags & 1)) {
        keyed = keyed || (indexFlags & 2);
        tried([&] {
            dao::IndexPtr index = table->CreateIndex(indexName);
            index->SetPrimary(indexFlags & 2);
            index->SetUnique(indexFlags & 4);
            index->SetIgnoreNulls(indexFlags & 8);
            index->AppendField(index->CreateField(fields[indexField].name, fields[indexField].type));
            table->AppendIndex(index);
        });
    }

    // The records; the values each field keeps as given, per accepted record.
    dao::RecordsetPtr records;
    const size_t count = p.byte() % 16;
    long accepted = 0;
    std::vector<std::vector<Kept>> kept;
    if (table && !tried([&] { records = db->OpenRecordset(tableName, dao::dbOpenTable); })) records = nullptr;
    for (size_t r = 0; r < count; ++r) {
        std::vector<Kept> keeps;
        if (records) tried([&] { records->AddNew(); });
        size_t column = 0;
        for (const Field& f : fields) {
            const dao::Variant v = value(p, p.byte());
            if (!records || !f.appended) continue;
            const bool set = tried([&] { records->FieldItem(f.name)->SetValue(v); });
            const bool asGiven = f.type == dao::dbText || f.type == dao::dbMemo || f.type == dao::dbBinary ||
                                 f.type == dao::dbLongBinary;
            if (set && asGiven) {
                if (const auto* s = std::get_if<std::string>(&v); s && validUtf8(*s) && f.type != dao::dbBinary &&
                                                                   f.type != dao::dbLongBinary)
                    keeps.push_back({column, *s, std::nullopt});
                if (const auto* b = std::get_if<dao::Bytes>(&v); b && (f.type == dao::dbBinary || f.type == dao::dbLongBinary))
                    keeps.push_back({column, std::nullopt, *b});
            }
            ++column;
        }
        if (!records) continue;
        if (tried([&] { records->Update(); })) {
            ++accepted;
            kept.push_back(std::move(keeps));
        } else {
            tried([&] { records->CancelUpdate(); });
        }
    }
    if (records) tried([&] { records->Close(); });

    const std::string queryName = p.text();
    const std::string sql = p.text();
    tried([&] { db->AppendQueryDef(db->CreateQueryDef(queryName, sql)); });
    const std::string relationName = p.text();
    const Field& related = fields[p.byte() % fields.size()];
    tried([&] {
        dao::RelationPtr relation = db->CreateRelation(relationName, tableName, tableName, 0);
        dao::FieldPtr f = relation->CreateField(related.name);
        relation->SetForeignName(f, related.name);
        relation->AppendField(f);
        db->AppendRelation(relation);
    });
    tried([&] { db->Close(); });
    db.reset();

    // Columns of fields that were not appended are not in the table, and a
    // key or auto-number may order the rows otherwise: the values are then
    // not compared, only the count.
    bool columnsAsAppended = !keyed;
    for (const Field& f : fields) columnsAsAppended = columnsAsAppended && f.appended;
    if (!columnsAsAppended) {
        for (auto& k : kept) k.clear();
    }
    if (table) checkFile(path, tableName, accepted, kept);
    ::unlink(path.c_str());
    return 0;
}
