// A thin layer over the SQLite C interface: statements that finalise
// themselves, and failures raised as ComError.
#pragma once

#include <sqlite3.h>

#include <string>
#include <utility>

#include "output/dao/Values.h"

namespace talmera::dao::sqlite {

// DAO's code for a result of SQLite: the failures of the file itself (a full
// disk, an I/O error, memory) apart from the refusal of one statement.
inline int32_t daoCodeOf(int result) {
    switch (result & 0xFF) {
        case SQLITE_FULL: return kErrDiskFull;
        case SQLITE_IOERR:
        case SQLITE_CANTOPEN:
        case SQLITE_READONLY:
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
        case SQLITE_NOLFS:
        case SQLITE_PROTOCOL: return kErrDiskIO;
        case SQLITE_NOMEM: return kErrResources;
        default: return kErrGeneric;
    }
}

// A failure of the file itself (daoCodeOf(result) is not kErrGeneric) as DAO
// words it: its code, and the reason first.
inline ComError FileFailure(int result, const std::string& source, const std::string& text) {
    const int32_t code = daoCodeOf(result);
    return ComError(code, source,
                    std::string(code == kErrDiskFull ? "Not enough space on disk. " : "Disk or network error. ") + text);
}

// What a failed COMMIT, SAVEPOINT or RELEASE raised, as the write failure it
// is whatever its code.
inline ComError AsWriteFailure(const ComError& e) {
    return IsWriteFailure(e.code) ? e : ComError(kErrDiskIO, e.source, "Disk or network error. " + e.description);
}

// The failure of the last call on db, raised as DAO raises it.
[[noreturn]] inline void sqliteFailure(sqlite3* db, const std::string& what) {
    const int32_t code = db ? daoCodeOf(sqlite3_extended_errcode(db)) : kErrGeneric;
    std::string text = what + ": " + (db ? sqlite3_errmsg(db) : "no database");
    if (code == kErrDiskFull) text = "Not enough space on disk. " + text;
    else if (code == kErrDiskIO) text = "Disk or network error. " + text;
    throw ComError(code, "DAO.Database", text);
}

class Statement {
public:
    Statement() = default;
    Statement(sqlite3* db, const std::string& sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &s_, nullptr) != SQLITE_OK) {
            sqlite3_finalize(s_);
            s_ = nullptr;
            sqliteFailure(db, "Cannot prepare \"" + sql + "\"");
        }
    }
    ~Statement() { sqlite3_finalize(s_); }
    Statement(Statement&& o) noexcept : db_(o.db_), s_(std::exchange(o.s_, nullptr)) {}
    Statement& operator=(Statement&& o) noexcept {
        if (this != &o) {
            sqlite3_finalize(s_);
            db_ = o.db_;
            s_ = std::exchange(o.s_, nullptr);
        }
        return *this;
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    explicit operator bool() const { return s_ != nullptr; }
    sqlite3_stmt* get() const { return s_; }

    // Binds without copying: the value must outlive the step.
    void bind(int index, const Stored& v) {
        switch (v.kind) {
            case Stored::Null: sqlite3_bind_null(s_, index); break;
            case Stored::Integer: sqlite3_bind_int64(s_, index, v.integer); break;
            case Stored::Real: sqlite3_bind_double(s_, index, v.real); break;
            case Stored::Text:
                sqlite3_bind_text(s_, index, v.text.data(), static_cast<int>(v.text.size()), SQLITE_STATIC);
                break;
            case Stored::Blob:
                // An empty vector may have no storage: SQLite would take its
                // null pointer for NULL, but an empty blob is a value.
                if (v.blob.empty()) sqlite3_bind_zeroblob(s_, index, 0);
                else sqlite3_bind_blob(s_, index, v.blob.data(), static_cast<int>(v.blob.size()), SQLITE_STATIC);
                break;
        }
    }
    void bindText(int index, const std::string& text) {
        sqlite3_bind_text(s_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void bindInt(int index, int64_t v) { sqlite3_bind_int64(s_, index, v); }

    // SQLITE_ROW or SQLITE_DONE; other results are left to the caller.
    int step() { return sqlite3_step(s_); }
    void reset() { sqlite3_reset(s_); }
    // Steps to the end, raising any failure.
    void run(const char* what) {
        const int rc = sqlite3_step(s_);
        sqlite3_reset(s_);
        if (rc != SQLITE_DONE && rc != SQLITE_ROW) sqliteFailure(db_, what);
    }

    Stored column(int index) const {
        Stored v;
        switch (sqlite3_column_type(s_, index)) {
            case SQLITE_INTEGER: v = Stored::Int(sqlite3_column_int64(s_, index)); break;
            case SQLITE_FLOAT: v = Stored::Dbl(sqlite3_column_double(s_, index)); break;
            case SQLITE_TEXT: {
                const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(s_, index));
                v = Stored::Txt(std::string(t, static_cast<size_t>(sqlite3_column_bytes(s_, index))));
                break;
            }
            case SQLITE_BLOB: {
                v.kind = Stored::Blob;
                const auto* b = static_cast<const uint8_t*>(sqlite3_column_blob(s_, index));
                v.blob.assign(b, b + sqlite3_column_bytes(s_, index));
                break;
            }
            default: break;
        }
        return v;
    }
    // The same into `v`, whose buffers are reused.
    void columnInto(int index, Stored& v) const {
        v.integer = 0;
        v.real = 0;
        v.text.clear();
        v.blob.clear();
        v.exact.clear();
        switch (sqlite3_column_type(s_, index)) {
            case SQLITE_INTEGER:
                v.kind = Stored::Integer;
                v.integer = sqlite3_column_int64(s_, index);
                break;
            case SQLITE_FLOAT:
                v.kind = Stored::Real;
                v.real = sqlite3_column_double(s_, index);
                break;
            case SQLITE_TEXT:
                v.kind = Stored::Text;
                v.text.assign(reinterpret_cast<const char*>(sqlite3_column_text(s_, index)),
                              static_cast<size_t>(sqlite3_column_bytes(s_, index)));
                break;
            case SQLITE_BLOB: {
                v.kind = Stored::Blob;
                const auto* b = static_cast<const uint8_t*>(sqlite3_column_blob(s_, index));
                v.blob.assign(b, b + sqlite3_column_bytes(s_, index));
                break;
            }
            default:
                v.kind = Stored::Null;
                break;
        }
    }
    int64_t integer(int index) const { return sqlite3_column_int64(s_, index); }

private:
    sqlite3* db_ = nullptr;
    sqlite3_stmt* s_ = nullptr;
};

inline void execute(sqlite3* db, const std::string& sql) {
    char* message = nullptr;
    const int result = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    if (result != SQLITE_OK) {
        std::string text = message ? message : sqlite3_errmsg(db);
        sqlite3_free(message);
        const int32_t code = daoCodeOf(result);
        if (code == kErrDiskFull) text = "Not enough space on disk. " + text;
        else if (code == kErrDiskIO) text = "Disk or network error. " + text;
        throw ComError(code, "DAO.Database", text + " (in \"" + sql.substr(0, 200) + "\")");
    }
}

}  // namespace talmera::dao::sqlite
