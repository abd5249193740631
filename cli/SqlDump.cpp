// sql: a dump that loads into SQLite, PostgreSQL or MySQL/MariaDB: each
// table's CREATE TABLE with its primary key, its rows as INSERTs in batches,
// its other indexes after its rows, and the foreign keys of the enforced
// relationships (SQLite: in the table's definition; the servers: added at
// the end without checking the rows already loaded, so that rows a damaged
// file lost on one side do not stop the load).
//
// Attachment and multi-valued columns hold their row's key into a child
// table "<table>_<column>" (key, position, and the file or the value).
#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "cli/ExportWriters.h"
#include "engine/ValueText.h"
#include "output/dao/Values.h"
#include "platform/TextCodec.h"

namespace talmera::cli {
namespace {

// Identifier lengths the servers allow: PostgreSQL 63 bytes, MySQL 64 characters.
size_t nameLimit(SqlDialect dialect) {
    switch (dialect) {
        case SqlDialect::Postgres: return 63;
        case SqlDialect::MySql: return 64;
        case SqlDialect::Sqlite: break;
    }
    return 0;
}

// The first `limit` bytes (Postgres) or characters (MySQL) of a name,
// never cutting a UTF-8 character; MySQL also drops trailing spaces.
std::string cut(SqlDialect dialect, const std::string& name, size_t limit) {
    if (limit == 0) return name;
    size_t end = 0;
    if (dialect == SqlDialect::MySql) {
        size_t characters = 0;
        while (end < name.size() && characters < limit) {
            ++end;
            while (end < name.size() && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) ++end;
            ++characters;
        }
    } else {
        end = std::min(name.size(), limit);
        while (end > 0 && end < name.size() && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
    }
    std::string out = name.substr(0, end);
    if (dialect == SqlDialect::MySql) {
        while (!out.empty() && out.back() == ' ') out.pop_back();
    }
    return out;
}

std::string lower(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Names unique among those given out so far (ignoring the case of A to Z),
// within the dialect's length: "Name", "Name_2", ... cut to fit.
class NameSpace {
public:
    explicit NameSpace(SqlDialect dialect) : dialect_(dialect) {}
    std::string take(const std::string& wanted) {
        const size_t limit = nameLimit(dialect_);
        std::string name = cut(dialect_, wanted.empty() ? "unnamed" : wanted, limit);
        for (int n = 2; used_.count(lower(name)); ++n) {
            const std::string suffix = "_" + std::to_string(n);
            name = cut(dialect_, wanted, limit ? limit - suffix.size() : 0) + suffix;
        }
        used_.insert(lower(name));
        return name;
    }

private:
    SqlDialect dialect_;
    std::set<std::string> used_;
};

std::string escapeText(SqlDialect dialect, const std::string& text, uint64_t& nulsDropped) {
    std::string out = "'";
    out.reserve(text.size() + 2);
    for (char c : text) {
        if (c == '\'') {
            out += dialect == SqlDialect::MySql ? "\\'" : "''";
        } else if (dialect == SqlDialect::MySql && c == '\\') {
            out += "\\\\";
        } else if (c == '\0') {
            // PostgreSQL's texts cannot hold the character 0.
            if (dialect == SqlDialect::Postgres) {
                ++nulsDropped;
            } else if (dialect == SqlDialect::MySql) {
                out += "\\0";
            } else {
                out += c;
            }
        } else if (dialect == SqlDialect::MySql && c == '\x1A') {
            out += "\\Z";  // Ctrl-Z ends a file on Windows: mysqldump escapes it too
        } else {
            out += c;
        }
    }
    out += '\'';
    return out;
}

std::string hexBytes(const std::vector<uint8_t>& data) { return HexText(data.data(), data.size()); }

class SqlWriter : public TableWriter {
public:
    SqlWriter(std::ostream& out, SqlDialect dialect, size_t rowsPerInsert)
        : out_(out), d_(dialect), rowsPerInsert_(std::max<size_t>(1, rowsPerInsert)), tableNames_(dialect),
          globalNames_(dialect) {}

    void beginExport(const std::string& sourceName, const std::vector<ExportForeignKey>& keys) override {
        keys_ = keys;
        out_ << "-- Tables and rows of " << oneLine(sourceName) << ", written by talmera-repair export for "
             << dialectName() << ".\n";
        switch (d_) {
            case SqlDialect::Sqlite: out_ << "PRAGMA foreign_keys = OFF;\n"; break;
            case SqlDialect::Postgres:
                out_ << "SET client_encoding = 'UTF8';\nSET standard_conforming_strings = on;\n";
                break;
            case SqlDialect::MySql:
                // A known mode: backslash escapes in texts, a 0 stored as 0 in
                // an auto-increment column, errors rather than silent changes.
                out_ << "SET NAMES utf8mb4;\n"
                        "SET SESSION sql_mode = 'STRICT_ALL_TABLES,NO_AUTO_VALUE_ON_ZERO,NO_ENGINE_SUBSTITUTION';\n"
                        "SET FOREIGN_KEY_CHECKS = 0;\n";
                break;
        }
        out_ << '\n';
    }

    void beginTable(const ExportTable& table) override {
        table_ = &table;
        tableName_ = tableNames_.take(table.name);
        sqlNames_[table.name] = tableName_;
        NameSpace columnNames(d_);
        columnNames_.clear();
        for (const ExportColumn& c : table.columns) columnNames_.push_back(columnNames.take(c.name));
        columnSql_[table.name] = {};
        for (size_t c = 0; c < table.columns.size(); ++c) columnSql_[table.name][table.columns[c].name] = columnNames_[c];

        // MySQL keeps a row's VARCHAR columns within 65,535 bytes: a table
        // whose texts would not fit gets TEXT columns instead.
        mysqlLongTexts_ = false;
        if (d_ == SqlDialect::MySql) {
            size_t bytes = 0;
            for (const ExportColumn& c : table.columns) {
                if (c.type == ExportType::Text) bytes += 4 * static_cast<size_t>(std::max(c.size, 1)) + 2;
                if (c.type == ExportType::Binary) bytes += static_cast<size_t>(std::max(c.size, 1)) + 2;
            }
            mysqlLongTexts_ = bytes > 60000;
        }

        out_ << "CREATE TABLE " << id(tableName_) << " (\n";
        for (size_t c = 0; c < table.columns.size(); ++c) {
            const ExportColumn& column = table.columns[c];
            out_ << "  " << id(columnNames_[c]) << ' ' << columnType(column, column.type);
            if (column.autoNumber && autoIncrement(table, column)) {
                out_ << (d_ == SqlDialect::Postgres ? " GENERATED BY DEFAULT AS IDENTITY" : " AUTO_INCREMENT");
            }
            if (column.type == ExportType::Boolean) out_ << " NOT NULL DEFAULT " << boolean(false);
            if (c + 1 < table.columns.size() || !table.primaryKey.empty() || hasSqliteKeys()) out_ << ',';
            out_ << '\n';
        }
        if (!table.primaryKey.empty()) {
            out_ << "  PRIMARY KEY (" << indexColumns(table, toPairs(table.primaryKey)) << ')';
            if (hasSqliteKeys()) out_ << ',';
            out_ << '\n';
        }
        if (d_ == SqlDialect::Sqlite) {
            // SQLite adds no constraint to a table afterwards.
            const auto keys = keysOf(table.name);
            for (size_t k = 0; k < keys.size(); ++k) {
                out_ << "  " << foreignKeyClause(*keys[k], keys[k]->referencedTable) << (k + 1 < keys.size() ? "," : "")
                     << '\n';
            }
        }
        out_ << ')' << (d_ == SqlDialect::MySql ? " DEFAULT CHARSET=utf8mb4" : "") << ";\n";

        // The child tables of attachment and multi-valued columns.
        children_.clear();
        for (size_t c = 0; c < table.columns.size(); ++c) {
            const ExportColumn& column = table.columns[c];
            if (!column.complex) continue;
            Child child;
            child.column = c;
            child.name = tableNames_.take(table.name + "_" + column.name);
            out_ << "CREATE TABLE " << id(child.name) << " (\n  " << id("key") << ' ' << integerType(ExportType::Long)
                 << " NOT NULL,\n  " << id("position") << ' ' << integerType(ExportType::Long) << " NOT NULL,\n";
            if (column.type == ExportType::Attachments) {
                child.columns = id("key") + ", " + id("position") + ", " + id("file_name") + ", " + id("file_type") +
                                ", " + id("file_data");
                out_ << "  " << id("file_name") << ' ' << textType(0) << ",\n  " << id("file_type") << ' '
                     << textType(0) << ",\n  " << id("file_data") << ' ' << blobType(0) << ",\n";
            } else {
                child.columns = id("key") + ", " + id("position") + ", " + id("value");
                out_ << "  " << id("value") << ' ' << columnType(column, column.valueType) << ",\n";
            }
            out_ << "  PRIMARY KEY (" << id("key") << ", " << id("position") << ")\n)"
                 << (d_ == SqlDialect::MySql ? " DEFAULT CHARSET=utf8mb4" : "") << ";\n";
            children_.push_back(std::move(child));
        }

        insertColumns_.clear();
        for (size_t c = 0; c < columnNames_.size(); ++c) {
            if (c > 0) insertColumns_ += ", ";
            insertColumns_ += id(columnNames_[c]);
        }
        pending_.clear();
        pendingRows_ = 0;
        out_ << beginTransaction() << '\n';
    }

    void row(const std::vector<ExportCell>& cells) override {
        std::string values = "(";
        for (size_t c = 0; c < cells.size(); ++c) {
            if (c > 0) values += ", ";
            const ExportCell& cell = cells[c];
            if (cell.kind == ExportCell::Kind::Attachments || cell.kind == ExportCell::Kind::Values) {
                values += std::to_string(cell.integer);
                childRows(c, cell);
            } else {
                values += literal(cell);
            }
        }
        values += ')';
        add(pending_, pendingRows_, tableName_, insertColumns_, values);
    }

    void endTable() override {
        flush(pending_, pendingRows_, tableName_, insertColumns_);
        for (Child& child : children_) flush(child.pending, child.rows, child.name, child.columns);
        out_ << "COMMIT;\n";
        const ExportTable& table = *table_;
        for (const ExportTable::Index& index : table.indexes) {
            out_ << "CREATE " << (index.unique ? "UNIQUE " : "") << "INDEX "
                 << id(globalNames_.take(table.name + "." + index.name)) << " ON " << id(tableName_) << " ("
                 << indexColumns(table, index.columns) << ");\n";
        }
        if (d_ == SqlDialect::Postgres) {
            // An identity column goes on from the largest number loaded.
            for (size_t c = 0; c < table.columns.size(); ++c) {
                const ExportColumn& column = table.columns[c];
                if (!column.autoNumber || !autoIncrement(table, column)) continue;
                out_ << "SELECT setval(pg_get_serial_sequence(" << escapeText(d_, id(tableName_), nuls_) << ", "
                     << escapeText(d_, columnNames_[c], nuls_) << "), coalesce(max(" << id(columnNames_[c])
                     << "), 0) + 1, false) FROM " << id(tableName_) << ";\n";
            }
        }
        out_ << '\n';
    }

    void endExport() override {
        if (d_ != SqlDialect::Sqlite) {
            for (const ExportForeignKey& key : keys_) {
                if (!sqlNames_.count(key.table) || !sqlNames_.count(key.referencedTable)) continue;
                out_ << "ALTER TABLE " << id(sqlNames_[key.table]) << " ADD "
                     << foreignKeyClause(key, key.referencedTable) << (d_ == SqlDialect::Postgres ? " NOT VALID" : "")
                     << ";\n";
            }
            if (d_ == SqlDialect::MySql) out_ << "SET FOREIGN_KEY_CHECKS = 1;\n";
        }
    }

private:
    struct Child {
        size_t column = 0;
        std::string name;
        std::string columns;
        std::string pending;
        size_t rows = 0;
    };

    static std::string oneLine(std::string text) {
        for (char& c : text) {
            if (c == '\n' || c == '\r') c = ' ';
        }
        return text;
    }

    const char* dialectName() const {
        switch (d_) {
            case SqlDialect::Sqlite: return "SQLite";
            case SqlDialect::Postgres: return "PostgreSQL";
            case SqlDialect::MySql: return "MySQL and MariaDB";
        }
        return "";
    }

    const char* beginTransaction() const { return d_ == SqlDialect::MySql ? "START TRANSACTION;" : "BEGIN;"; }

    std::string id(const std::string& name) const { return sqlIdentifier(d_, name); }

    std::string boolean(bool value) const {
        if (d_ == SqlDialect::Postgres) return value ? "TRUE" : "FALSE";
        return value ? "1" : "0";
    }

    bool hasSqliteKeys() const { return d_ == SqlDialect::Sqlite && table_ && !keysOf(table_->name).empty(); }

    std::vector<const ExportForeignKey*> keysOf(const std::string& table) const {
        std::vector<const ExportForeignKey*> keys;
        for (const ExportForeignKey& key : keys_) {
            if (key.table == table) keys.push_back(&key);
        }
        return keys;
    }

    // The auto-number a server counts on: a Long that is the whole primary key.
    static bool autoIncrement(const ExportTable& table, const ExportColumn& column) {
        return column.type == ExportType::Long && table.primaryKey.size() == 1 && table.primaryKey[0] == column.name;
    }

    static std::vector<std::pair<std::string, bool>> toPairs(const std::vector<std::string>& names) {
        std::vector<std::pair<std::string, bool>> pairs;
        for (const std::string& n : names) pairs.emplace_back(n, false);
        return pairs;
    }

    const ExportColumn* columnNamed(const ExportTable& table, const std::string& name) const {
        for (const ExportColumn& c : table.columns) {
            if (c.name == name) return &c;
        }
        return nullptr;
    }

    std::string sqlColumn(const std::string& table, const std::string& column) const {
        const auto t = columnSql_.find(table);
        if (t == columnSql_.end()) return column;
        const auto c = t->second.find(column);
        return c == t->second.end() ? column : c->second;
    }

    // An index's column list; MySQL indexes only a prefix of a TEXT or BLOB
    // column, and keeps a key within 3,072 bytes.
    std::string indexColumns(const ExportTable& table, const std::vector<std::pair<std::string, bool>>& columns) const {
        size_t longColumns = 0;
        size_t bytes = 0;
        for (const auto& [name, descending] : columns) {
            const ExportColumn* c = columnNamed(table, name);
            if (c && isLongInMySql(*c)) ++longColumns;
            if (c && c->type == ExportType::Text) bytes += 4 * static_cast<size_t>(std::max(c->size, 1));
        }
        std::string text;
        for (const auto& [name, descending] : columns) {
            if (!text.empty()) text += ", ";
            text += id(sqlColumn(table.name, name));
            const ExportColumn* c = columnNamed(table, name);
            if (d_ == SqlDialect::MySql && c) {
                const bool text255 = c->type == ExportType::Text && bytes > 3072;
                if (isLongInMySql(*c) || text255) {
                    const size_t share = 768 / std::max<size_t>(1, longColumns + (text255 ? columns.size() : 0));
                    text += "(" + std::to_string(std::max<size_t>(1, std::min<size_t>(share, 255))) + ")";
                }
            }
            if (descending) text += " DESC";
        }
        return text;
    }

    bool isLongInMySql(const ExportColumn& c) const {
        if (d_ != SqlDialect::MySql) return false;
        switch (c.type) {
            case ExportType::Memo:
            case ExportType::Ole: return true;
            case ExportType::Text: return mysqlLongTexts_;
            case ExportType::Binary: return mysqlLongTexts_ || c.size > 510;
            default: return false;
        }
    }

    std::string foreignKeyClause(const ExportForeignKey& key, const std::string& referenced) {
        std::string text = "CONSTRAINT " + id(globalNames_.take(key.name)) + " FOREIGN KEY (";
        for (size_t k = 0; k < key.columns.size(); ++k) {
            text += (k ? ", " : "") + id(sqlColumn(key.table, key.columns[k]));
        }
        text += ") REFERENCES " + id(sqlNames_.count(referenced) ? sqlNames_[referenced] : referenced) + " (";
        for (size_t k = 0; k < key.referencedColumns.size(); ++k) {
            text += (k ? ", " : "") + id(sqlColumn(referenced, key.referencedColumns[k]));
        }
        text += ")";
        if (key.cascadeUpdates) text += " ON UPDATE CASCADE";
        if (key.cascadeDeletes) text += " ON DELETE CASCADE";
        return text;
    }

    std::string integerType(ExportType type) const {
        switch (type) {
            case ExportType::Byte:
                return d_ == SqlDialect::MySql ? "TINYINT UNSIGNED" : d_ == SqlDialect::Postgres ? "smallint" : "TINYINT";
            case ExportType::Integer: return d_ == SqlDialect::Postgres ? "smallint" : "SMALLINT";
            case ExportType::BigInt: return d_ == SqlDialect::Postgres ? "bigint" : "BIGINT";
            default: return d_ == SqlDialect::Postgres ? "integer" : d_ == SqlDialect::MySql ? "INT" : "INTEGER";
        }
    }

    std::string textType(int size) const {
        switch (d_) {
            case SqlDialect::Sqlite: return size > 0 ? "VARCHAR(" + std::to_string(size) + ")" : "TEXT";
            case SqlDialect::Postgres: return size > 0 ? "varchar(" + std::to_string(size) + ")" : "text";
            case SqlDialect::MySql:
                return size > 0 && !mysqlLongTexts_ ? "VARCHAR(" + std::to_string(size) + ")" : "LONGTEXT";
        }
        return "TEXT";
    }

    std::string blobType(int size) const {
        switch (d_) {
            case SqlDialect::Sqlite: return "BLOB";
            case SqlDialect::Postgres: return "bytea";
            case SqlDialect::MySql:
                return size > 0 && size <= 510 && !mysqlLongTexts_ ? "VARBINARY(" + std::to_string(size) + ")"
                                                                   : "LONGBLOB";
        }
        return "BLOB";
    }

    std::string columnType(const ExportColumn& column, ExportType type) const {
        const bool pg = d_ == SqlDialect::Postgres;
        switch (type) {
            case ExportType::Boolean: return pg ? "boolean" : "BOOLEAN";
            case ExportType::Byte:
            case ExportType::Integer:
            case ExportType::Long:
            case ExportType::BigInt: return integerType(type);
            case ExportType::Currency: return pg ? "numeric(19,4)" : d_ == SqlDialect::MySql ? "DECIMAL(19,4)" : "NUMERIC(19,4)";
            case ExportType::Single: return pg ? "real" : d_ == SqlDialect::MySql ? "FLOAT" : "REAL";
            case ExportType::Double: return pg ? "double precision" : d_ == SqlDialect::MySql ? "DOUBLE" : "DOUBLE PRECISION";
            case ExportType::Decimal: {
                if (column.complex) return pg ? "numeric" : d_ == SqlDialect::MySql ? "DECIMAL(38,10)" : "NUMERIC";
                const int precision = std::clamp(column.precision, 1, 38);
                const int scale = std::clamp(column.scale, 0, precision);
                const std::string args = "(" + std::to_string(precision) + "," + std::to_string(scale) + ")";
                return (pg ? "numeric" : d_ == SqlDialect::MySql ? "DECIMAL" : "NUMERIC") + args;
            }
            case ExportType::DateTime:
                return pg ? "timestamp" : d_ == SqlDialect::MySql ? "DATETIME(6)" : "DATETIME";
            case ExportType::Text: return textType(column.complex ? 255 : column.size);
            case ExportType::Memo: return textType(0);
            case ExportType::Guid: return pg ? "uuid" : d_ == SqlDialect::MySql ? "CHAR(38)" : "TEXT";
            case ExportType::Binary: return blobType(column.size);
            case ExportType::Ole: return blobType(0);
            case ExportType::Attachments:
            case ExportType::MultiValued: return integerType(ExportType::Long);
        }
        return textType(0);
    }

    std::string realLiteral(double value) {
        if (std::isfinite(value)) return shortestReal(value);
        if (d_ == SqlDialect::Postgres) {
            return std::isnan(value) ? "'NaN'" : value > 0 ? "'Infinity'" : "'-Infinity'";
        }
        if (d_ == SqlDialect::Sqlite && !std::isnan(value)) return value > 0 ? "9e999" : "-9e999";
        return "NULL";  // MySQL has neither NaN nor infinity
    }

    std::string bytesLiteral(const std::vector<uint8_t>& data) const {
        if (d_ == SqlDialect::Postgres) return "'\\x" + hexBytes(data) + "'";
        return "X'" + hexBytes(data) + "'";
    }

    std::string literal(const ExportCell& cell) {
        switch (cell.kind) {
            case ExportCell::Kind::Null: return "NULL";
            case ExportCell::Kind::Boolean: return boolean(cell.boolean);
            case ExportCell::Kind::Integer: return std::to_string(cell.integer);
            case ExportCell::Kind::Real: return realLiteral(cell.real);
            case ExportCell::Kind::Exact: return cell.text;
            case ExportCell::Kind::Date: {
                // SQLite keeps a day number that no text gives back as the
                // number, as the repaired database does.
                if (cell.text.empty() && d_ == SqlDialect::Sqlite) return shortestReal(cell.days);
                const std::string text = cell.text.empty() ? dao::sqlite::IsoDate(cell.days) : cell.text;
                return escapeText(d_, text, nuls_);
            }
            case ExportCell::Kind::Text: return escapeText(d_, cell.text, nuls_);
            case ExportCell::Kind::Bytes: return bytesLiteral(cell.bytes);
            case ExportCell::Kind::Attachments:
            case ExportCell::Kind::Values: return std::to_string(cell.integer);
        }
        return "NULL";
    }

    void childRows(size_t column, const ExportCell& cell) {
        for (Child& child : children_) {
            if (child.column != column) continue;
            const std::string key = std::to_string(cell.integer);
            if (cell.kind == ExportCell::Kind::Attachments) {
                for (size_t k = 0; k < cell.attachments.size(); ++k) {
                    const ExportAttachment& a = cell.attachments[k];
                    add(child.pending, child.rows, child.name, child.columns,
                        "(" + key + ", " + std::to_string(k) + ", " + escapeText(d_, a.fileName, nuls_) + ", " +
                            escapeText(d_, a.fileType, nuls_) + ", " + bytesLiteral(a.data) + ")");
                }
            } else {
                for (size_t k = 0; k < cell.values.size(); ++k) {
                    add(child.pending, child.rows, child.name, child.columns,
                        "(" + key + ", " + std::to_string(k) + ", " + literal(cell.values[k]) + ")");
                }
            }
        }
    }

    // Adds a row to a batch; a full batch (by rows, or at about a megabyte,
    // well within the servers' packet limits) is written out.
    void add(std::string& pending, size_t& rows, const std::string& table, const std::string& columns,
             const std::string& values) {
        pending += rows == 0 ? "" : ",\n";
        pending += values;
        ++rows;
        if (rows >= rowsPerInsert_ || pending.size() >= (1u << 20)) flush(pending, rows, table, columns);
    }

    void flush(std::string& pending, size_t& rows, const std::string& table, const std::string& columns) {
        if (rows == 0) return;
        out_ << "INSERT INTO " << id(table) << " (" << columns << ") VALUES\n" << pending << ";\n";
        pending.clear();
        rows = 0;
    }

    std::ostream& out_;
    SqlDialect d_;
    size_t rowsPerInsert_;
    NameSpace tableNames_;
    NameSpace globalNames_;  // indexes and constraints, whose names the servers want unique
    std::map<std::string, std::string> sqlNames_;                              // table -> its name here
    std::map<std::string, std::map<std::string, std::string>> columnSql_;      // table -> column -> name here
    std::vector<ExportForeignKey> keys_;
    const ExportTable* table_ = nullptr;
    std::string tableName_;
    std::vector<std::string> columnNames_;
    std::string insertColumns_;
    std::string pending_;
    size_t pendingRows_ = 0;
    std::vector<Child> children_;
    bool mysqlLongTexts_ = false;
    uint64_t nuls_ = 0;
};

}  // namespace

std::string sqlIdentifier(SqlDialect dialect, const std::string& name) {
    const char quote = dialect == SqlDialect::MySql ? '`' : '"';
    std::string out(1, quote);
    for (char c : name) {
        if (c == quote) out += quote;
        out += c;
    }
    out += quote;
    return out;
}

std::unique_ptr<TableWriter> makeSqlWriter(std::ostream& out, SqlDialect dialect, size_t rowsPerInsert) {
    return std::make_unique<SqlWriter>(out, dialect, rowsPerInsert);
}

}  // namespace talmera::cli
