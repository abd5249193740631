// The SQLite engine's database: the file, its schema, the metadata tables,
// relations as foreign keys and queries as views.
#include "output/dao/SqliteEngine.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "output/dao/Objects.h"

namespace talmera::dao {

namespace sqlite {

namespace {

const char* const kDatabaseSource = "DAO.Database";
const char* const kTableDefsSource = "DAO.TableDefs";

// Raised by a schema statement: a constraint the rows already stored break
// is the duplicate DAO reports, anything else a plain failure.
void executeSchema(sqlite3* db, const std::string& sql, const std::string& table) {
    char* message = nullptr;
    const int result = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    if (result == SQLITE_OK) return;
    std::string text = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    if (daoCodeOf(result) != kErrGeneric) {
        // The file, not the statement: a full disk or an I/O error.
        throw FileFailure(result, kDatabaseSource, text + " (in \"" + sql.substr(0, 200) + "\")");
    }
    if ((sqlite3_errcode(db) & 0xFF) == SQLITE_CONSTRAINT)
        throw ComError(kErrDuplicate, kDatabaseSource,
                       "The changes you requested to the table '" + table +
                           "' were not successful because they would create duplicate values in the index, primary "
                           "key, or relationship (" + text + ").");
    throw ComError(kErrGeneric, kDatabaseSource, text + " (in \"" + sql.substr(0, 200) + "\")");
}

// The file's metadata tables (docs/output-format.md).
const char* const kMetadataSchema = R"(
CREATE TABLE _talmera_database (
  key TEXT PRIMARY KEY NOT NULL,
  value
);
CREATE TABLE _talmera_tables (
  name TEXT PRIMARY KEY NOT NULL COLLATE NOCASE,
  sqlite_name TEXT NOT NULL,
  position INTEGER NOT NULL,
  validation_rule TEXT,
  validation_text TEXT,
  rule_in_schema INTEGER NOT NULL
);
CREATE TABLE _talmera_fields (
  table_name TEXT NOT NULL COLLATE NOCASE,
  position INTEGER NOT NULL,
  name TEXT NOT NULL COLLATE NOCASE,
  type INTEGER NOT NULL,
  type_name TEXT NOT NULL,
  sqlite_type TEXT NOT NULL,
  size INTEGER NOT NULL,
  attributes INTEGER NOT NULL,
  auto_increment INTEGER NOT NULL,
  hyperlink INTEGER NOT NULL,
  default_value TEXT,
  default_in_schema INTEGER NOT NULL,
  required INTEGER NOT NULL,
  not_null_in_schema INTEGER NOT NULL,
  allow_zero_length INTEGER NOT NULL,
  validation_rule TEXT,
  validation_text TEXT,
  rule_in_schema INTEGER NOT NULL,
  expression TEXT,
  PRIMARY KEY (table_name, name)
);
CREATE TABLE _talmera_indexes (
  table_name TEXT NOT NULL COLLATE NOCASE,
  name TEXT NOT NULL COLLATE NOCASE,
  sqlite_name TEXT,
  is_primary INTEGER NOT NULL,
  is_unique INTEGER NOT NULL,
  ignore_nulls INTEGER NOT NULL,
  PRIMARY KEY (table_name, name)
);
CREATE TABLE _talmera_index_fields (
  table_name TEXT NOT NULL COLLATE NOCASE,
  index_name TEXT NOT NULL COLLATE NOCASE,
  position INTEGER NOT NULL,
  field_name TEXT NOT NULL,
  descending INTEGER NOT NULL,
  PRIMARY KEY (table_name, index_name, position)
);
CREATE TABLE _talmera_properties (
  table_name TEXT NOT NULL COLLATE NOCASE,
  field_name TEXT NOT NULL COLLATE NOCASE,
  name TEXT NOT NULL COLLATE NOCASE,
  position INTEGER NOT NULL,
  type INTEGER NOT NULL,
  value,
  ddl INTEGER NOT NULL,
  PRIMARY KEY (table_name, field_name, name)
);
CREATE TABLE _talmera_queries (
  name TEXT PRIMARY KEY NOT NULL COLLATE NOCASE,
  position INTEGER NOT NULL,
  sql TEXT NOT NULL,
  view_created INTEGER NOT NULL,
  view_sql TEXT,
  no_view_reason TEXT,
  connect TEXT
);
CREATE TABLE _talmera_relationships (
  name TEXT PRIMARY KEY NOT NULL COLLATE NOCASE,
  table_name TEXT NOT NULL,
  foreign_table_name TEXT NOT NULL,
  attributes INTEGER NOT NULL,
  enforced INTEGER NOT NULL,
  foreign_key_in_schema INTEGER NOT NULL,
  one_to_one INTEGER NOT NULL,
  cascade_updates INTEGER NOT NULL,
  cascade_deletes INTEGER NOT NULL,
  join_type TEXT NOT NULL
);
CREATE TABLE _talmera_relationship_fields (
  relationship_name TEXT NOT NULL COLLATE NOCASE,
  position INTEGER NOT NULL,
  field_name TEXT NOT NULL,
  foreign_field_name TEXT NOT NULL,
  PRIMARY KEY (relationship_name, position)
);
CREATE TABLE _talmera_links (
  name TEXT PRIMARY KEY NOT NULL COLLATE NOCASE,
  connect TEXT NOT NULL,
  source_table_name TEXT NOT NULL
);
CREATE TABLE _talmera_attachments (
  table_name TEXT NOT NULL COLLATE NOCASE,
  field_name TEXT NOT NULL COLLATE NOCASE,
  row_id INTEGER NOT NULL,
  position INTEGER NOT NULL,
  file_name TEXT NOT NULL,
  file_type TEXT,
  file_data BLOB,
  PRIMARY KEY (table_name, field_name, row_id, position)
);
CREATE TABLE _talmera_complex_values (
  table_name TEXT NOT NULL COLLATE NOCASE,
  field_name TEXT NOT NULL COLLATE NOCASE,
  row_id INTEGER NOT NULL,
  position INTEGER NOT NULL,
  value,
  modified,
  PRIMARY KEY (table_name, field_name, row_id, position)
);
CREATE TABLE _talmera_report (
  key TEXT PRIMARY KEY NOT NULL,
  value
);
CREATE TABLE _talmera_report_tables (
  position INTEGER PRIMARY KEY NOT NULL,
  name TEXT NOT NULL,
  output_name TEXT,
  expected_rows INTEGER,
  recovered_rows INTEGER NOT NULL,
  lost_rows INTEGER,
  unreadable_pages INTEGER NOT NULL,
  refused_rows INTEGER NOT NULL,
  partial_values INTEGER NOT NULL,
  deleted_rows INTEGER NOT NULL,
  renamed_columns TEXT,
  saved INTEGER NOT NULL,
  problems TEXT
);
CREATE TABLE _talmera_report_objects (
  position INTEGER PRIMARY KEY NOT NULL,
  kind TEXT NOT NULL,
  name TEXT NOT NULL,
  saved INTEGER NOT NULL,
  problems TEXT
);
CREATE TABLE _talmera_exact_values (
  table_name TEXT NOT NULL COLLATE NOCASE,
  field_name TEXT NOT NULL COLLATE NOCASE,
  row_id INTEGER NOT NULL,
  value TEXT NOT NULL,
  PRIMARY KEY (table_name, field_name, row_id)
);
)";

const char* const kMetadataTables[] = {"_talmera_tables",     "_talmera_fields",  "_talmera_indexes",
                                       "_talmera_index_fields", "_talmera_properties", "_talmera_queries",
                                       "_talmera_relationships", "_talmera_relationship_fields", "_talmera_links",
                                       "_talmera_report", "_talmera_report_tables", "_talmera_report_objects"};

// The output's page size and the cache of its pages.
constexpr int kPageSize = 8192;
constexpr int kCacheKiB = 16384;

// "TALM" in the header's application id, so that tools can tell the file.
constexpr int kApplicationId = 0x54414C4D;
constexpr int kMetadataVersion = 1;

Stored storedProperty(const Variant& v) {
    if (const auto* b = std::get_if<bool>(&v)) return Stored::Int(*b ? 1 : 0);
    if (const auto* i = std::get_if<int64_t>(&v)) return Stored::Int(*i);
    if (const auto* r = std::get_if<double>(&v)) return Stored::Dbl(*r);
    if (const auto* s = std::get_if<std::string>(&v)) return Stored::Txt(*s);
    if (const auto* b = std::get_if<Bytes>(&v)) {
        Stored s;
        s.kind = Stored::Blob;
        s.blob = *b;
        return s;
    }
    if (const auto* c = std::get_if<Currency>(&v)) return ToStored(FieldShape{dbCurrency}, *c, "property");
    if (const auto* d = std::get_if<Decimal>(&v)) return Stored::Txt(d->digits);
    if (const auto* t = std::get_if<Date>(&v)) return Stored::Txt(IsoDate(t->days));
    return Stored{};
}

std::string formatName(int option) {
    if (option & dbVersion120) return "ACE";
    if (option & dbVersion30) return "Jet3";
    return "Jet4";
}

// Waits until the file's bytes are on the disk; the reason when they cannot be.
std::string syncFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    std::string problem;
    if (::fsync(fd) != 0) problem = std::strerror(errno);
    ::close(fd);
    if (!problem.empty()) return problem;
    std::filesystem::path dir = std::filesystem::absolute(path).parent_path();
    fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    return {};
}

}  // namespace

// --- the database state ---------------------------------------------------------------

DbState::~DbState() {
    try {
        close();
    } catch (const ComError&) {
    }
}

void DbState::ensureOpen(const char* source) const {
    if (closed) Refuse(kErrInvalidOperation, source, "Object invalid or no longer set: the database is closed.");
}

std::shared_ptr<TableImpl> DbState::findTable(const std::string& name) const {
    for (const auto& t : tables)
        if (SameName(t->name_, name)) return t;
    return nullptr;
}

std::shared_ptr<QueryImpl> DbState::findQuery(const std::string& name) const {
    for (const auto& q : queries)
        if (SameName(q->name_, name)) return q;
    return nullptr;
}

bool DbState::objectNameTaken(const std::string& name) const { return findTable(name) || findQuery(name); }

std::string DbState::reserveSqliteName(const std::string& wanted) {
    std::string name = wanted;
    // SQLite keeps "sqlite_" names for itself, and the metadata tables are ours.
    const std::string folded = Fold(name);
    if (folded.rfind("SQLITE_", 0) == 0 || folded.rfind("_TALMERA_", 0) == 0) name = "t_" + name;
    std::string candidate = name;
    for (int n = 2; sqliteNames.count(Fold(candidate)); ++n) candidate = name + "_" + std::to_string(n);
    sqliteNames.insert(Fold(candidate));
    return candidate;
}

void DbState::noteWriteFailure(const ComError& error) {
    if (IsWriteFailure(error.code) && !writeFailure) writeFailure = error;
}

void DbState::ensureWritable() const {
    if (writeFailure) throw *writeFailure;
}

void DbState::beginWrite() {
    ensureWritable();
    if (writeDepth++ == 0) {
        try {
            execute(db, "BEGIN");
        } catch (const ComError& e) {
            noteWriteFailure(e);
            throw;
        }
    }
}

void DbState::endWrite() {
    if (writeDepth == 0) return;
    if (--writeDepth == 0) {
        if (sqlite3_get_autocommit(db)) {
            // Rolled back under us: the records of the transaction are gone.
            noteWriteFailure(ComError(kErrDiskIO, kDatabaseSource,
                                      "Disk or network error. The transaction ended before it was committed."));
            ensureWritable();
            return;
        }
        try {
            execute(db, "COMMIT");
        } catch (const ComError& e) {
            // A commit that fails is a write that failed, whatever its code.
            noteWriteFailure(AsWriteFailure(e));
            ensureWritable();
            throw;
        }
    }
}

std::string DbState::declaredType(const FieldImpl& f) const {
    // Declared types give each column the affinity its stored form needs:
    // INTEGER for whole numbers, REAL for floating point, NUMERIC for Currency
    // and Decimal (a real, or an integer when whole, that compares and sorts
    // as a number; the exact text of a value with more digits than a double
    // holds is in _talmera_exact_values), NUMERIC for dates (ISO text stays
    // text; a day number no text gives back stays REAL).
    switch (f.type_) {
        case dbBoolean: return "BOOLEAN";
        case dbByte: return "TINYINT";
        case dbInteger: return "SMALLINT";
        case dbLong: return "INTEGER";
        case dbBigInt: return "BIGINT";
        case dbCurrency: return "CURRENCY";
        case dbSingle: return "FLOAT";
        case dbDouble: return "DOUBLE";
        case dbDate: return "DATETIME";
        case dbBinary: return "VARBINARY(" + std::to_string(f.Size()) + ")";
        case dbText: return "VARCHAR(" + std::to_string(f.Size()) + ")";
        case dbLongBinary: return "BLOB";
        case dbMemo: return "TEXT";
        case dbGUID: return "GUID";
        case dbDecimal: {
            const FieldShape s = f.shape();
            if (s.precision > 0 && s.scale >= 0)
                return "DECIMAL(" + std::to_string(s.precision) + "," + std::to_string(s.scale) + ")";
            return "DECIMAL";
        }
        case dbAttachment: return "ATTACHMENT";
        case dbVersionHistory: return "VERSIONHISTORY";
        default: return "MULTIVALUE";
    }
}

std::vector<ExprColumn> DbState::exprColumns(const TableImpl& table) const {
    std::vector<ExprColumn> columns;
    for (const auto& f : table.fields_) columns.push_back(ExprColumn{f->name_, f->shape()});
    return columns;
}

std::string DbState::columnDefinition(const TableImpl& table, FieldImpl& f) const {
    std::string out = QuoteIdentifier(f.name_) + " " + declaredType(f);
    if (f.isTextual()) out += " COLLATE NOCASE";
    const bool notNull = f.required_ || f.type_ == dbBoolean || f.autoIncrement() || table.inPrimaryKey(f);
    f.inSchema_ = {};
    if (notNull) {
        out += " NOT NULL";
        f.inSchema_.notNull = true;
    }
    const DefaultPlan plan = PlanDefault(f.defaultValue_, f.shape());
    if (!plan.sql.empty()) {
        out += " DEFAULT " + plan.sql;
        f.inSchema_.defaultClause = true;
    } else if (f.type_ == dbBoolean) {
        out += " DEFAULT 0";
    }
    if (!f.validationRule_.empty()) {
        const ExprColumn self{f.name_, f.shape()};
        if (auto check = TranslateRule(f.validationRule_, &self, exprColumns(table))) {
            out += " CONSTRAINT " + QuoteIdentifier("ValidationRule:" + f.name_) + " CHECK (" + *check + ")";
            f.inSchema_.check = true;
        }
    }
    return out;
}

std::string DbState::createTableSql(const TableImpl& table, const std::string& sqliteName,
                                    const std::vector<std::string>& extra, const std::string& schema) const {
    std::string sql = "CREATE TABLE " + (schema.empty() ? std::string() : QuoteIdentifier(schema) + ".") +
                      QuoteIdentifier(sqliteName) + " (\n  ";
    std::vector<std::string> parts = table.columnDefinitions_;
    if (const IndexImpl* pk = table.primaryIndex()) {
        std::string key = "CONSTRAINT " + QuoteIdentifier(pk->name_) + " PRIMARY KEY (";
        for (size_t i = 0; i < pk->fields_.size(); ++i) {
            key += (i ? ", " : "") + QuoteIdentifier(table.findField(pk->fields_[i]->name_)->name_);
            if (pk->fields_[i]->attributes_ & dbDescending) key += " DESC";
        }
        parts.push_back(key + ")");
    }
    parts.insert(parts.end(), table.tableConstraints_.begin(), table.tableConstraints_.end());
    parts.insert(parts.end(), extra.begin(), extra.end());
    for (size_t i = 0; i < parts.size(); ++i) sql += (i ? ",\n  " : "") + parts[i];
    return sql + "\n)";
}

std::string DbState::createIndexSql(const TableImpl& table, const IndexImpl& index) const {
    std::string columns, where;
    for (const auto& f : index.fields_) {
        const std::string name = QuoteIdentifier(table.findField(f->name_)->name_);
        columns += (columns.empty() ? "" : ", ") + name + ((f->attributes_ & dbDescending) ? " DESC" : "");
        where += (where.empty() ? "" : " AND ") + name + " IS NOT NULL";
    }
    // An index lives in its table's database.
    std::string sql = std::string("CREATE ") + (index.unique_ ? "UNIQUE " : "") + "INDEX " +
                      (table.inScratch_ ? QuoteIdentifier(kScratchSchema) + "." : std::string()) +
                      QuoteIdentifier(index.sqliteName_) + " ON " + QuoteIdentifier(table.sqliteName_) + " (" +
                      columns + ")";
    // Ignore-nulls: records with a Null in the key are not in the index.
    if (index.ignoreNulls_) sql += " WHERE " + where;
    return sql;
}

void DbState::createIndex(TableImpl& table, IndexImpl& index) {
    executeSchema(db, createIndexSql(table, index), table.name_);
    index.inSchema_ = true;
}

std::string DbState::tableRef(const TableImpl& table) const {
    if (table.inScratch_) return QuoteIdentifier(kScratchSchema) + "." + QuoteIdentifier(table.sqliteName_);
    return QuoteIdentifier(table.sqliteName_);
}

void DbState::materialise(TableImpl& table, bool deferIndexes) {
    if (table.materialised_ || table.linked() || !table.appended_) return;
    table.columnDefinitions_.clear();
    for (const auto& f : table.fields_) table.columnDefinitions_.push_back(columnDefinition(table, *f));
    table.tableConstraints_.clear();
    table.ruleInSchema_ = false;
    if (!table.validationRule_.empty()) {
        if (auto check = TranslateRule(table.validationRule_, nullptr, exprColumns(table))) {
            table.tableConstraints_.push_back("CONSTRAINT \"ValidationRule\" CHECK (" + *check + ")");
            table.ruleInSchema_ = true;
        }
    }
    // A scratch table's rows go to the scratch database, when there is one.
    table.inScratch_ = table.scratch_ && scratchAttached;
    executeSchema(db, createTableSql(table, table.sqliteName_, {}, table.inScratch_ ? kScratchSchema : ""), table.name_);
    for (const auto& index : table.indexes_) {
        index->inSchema_ = index->primary_;
        index->deferred_ = false;
        if (index->primary_) continue;
        // A unique index refuses duplicates record by record, so it is there
        // from the start; a plain one is built once the rows are in.
        if (deferIndexes && !index->unique_) index->deferred_ = true;
        else createIndex(table, *index);
    }
    table.materialised_ = true;
}

void DbState::createDeferredIndexes(TableImpl& table) {
    for (const auto& index : table.indexes_) {
        if (!index->deferred_) continue;
        index->deferred_ = false;
        createIndex(table, *index);
    }
}

bool DbState::attachScratch() {
    if (scratchAttached) return true;
    try {
        // An empty name: a private database in a temporary file, deleted when
        // the connection closes. Its pages are written without a journal on
        // disk; a small cache, as its rows are written and read in order.
        execute(db, std::string("ATTACH DATABASE '' AS ") + QuoteIdentifier(kScratchSchema));
        const std::string schema = QuoteIdentifier(kScratchSchema);
        execute(db, "PRAGMA " + schema + ".page_size = 8192; PRAGMA " + schema + ".journal_mode = MEMORY; PRAGMA " +
                        schema + ".synchronous = OFF; PRAGMA " + schema + ".cache_size = -4096;");
    } catch (const ComError&) {
        return false;
    }
    scratchAttached = true;
    return true;
}

void DbState::dropScratch(TableImpl& table) {
    // The only table of the scratch database: the whole database goes, which
    // frees its pages at once; else the table is dropped.
    bool alone = true;
    for (const auto& t : tables) alone = alone && (t.get() == &table || !t->inScratch_ || !t->materialised_);
    if (alone && sqlite3_get_autocommit(db)) {
        try {
            execute(db, "DETACH DATABASE " + QuoteIdentifier(kScratchSchema));
            scratchAttached = false;
            table.inScratch_ = false;
            attachScratch();
            return;
        } catch (const ComError&) {
        }
    }
    execute(db, "DROP TABLE " + tableRef(table));
    table.inScratch_ = false;
}

void DbState::settle(TableImpl& table) {
    if (!table.inScratch_ || !table.materialised_ || table.openRecordsets_ > 0) return;
    std::string columns;
    for (const auto& f : table.fields_) columns += (columns.empty() ? "" : ", ") + QuoteIdentifier(f->name_);
    const std::string rowid = copyableRowid(table);
    const std::string copyColumns = rowid.empty() ? columns : rowid + ", " + columns;
    const std::string target = QuoteIdentifier("main") + "." + QuoteIdentifier(table.sqliteName_);
    execute(db, "SAVEPOINT settle");
    try {
        executeSchema(db, createTableSql(table, table.sqliteName_, {}, "main"), table.name_);
        executeSchema(db,
                      "INSERT INTO " + target + " (" + copyColumns + ") SELECT " + copyColumns + " FROM " +
                          tableRef(table) + (rowid.empty() ? "" : " ORDER BY " + rowid),
                      table.name_);
        execute(db, "DROP TABLE " + tableRef(table));
        table.inScratch_ = false;
        for (const auto& index : table.indexes_) {
            if (index->primary_ || !(index->inSchema_ || index->deferred_)) continue;
            index->deferred_ = false;
            createIndex(table, *index);
        }
        execute(db, "RELEASE settle");
    } catch (const ComError&) {
        table.inScratch_ = true;
        execute(db, "ROLLBACK TO settle");
        execute(db, "RELEASE settle");
        throw;
    }
}

void DbState::materialiseAll() {
    for (const auto& t : tables) materialise(*t);
}

bool DbState::tableHasRows(const TableImpl& table) const {
    if (!table.materialised_) return false;
    Statement any(db, "SELECT EXISTS (SELECT 1 FROM " + tableRef(table) + ")");
    return any.step() == SQLITE_ROW && any.integer(0) != 0;
}

void DbState::recreateEmpty(TableImpl& table) {
    const auto columns = table.columnDefinitions_;
    const auto constraints = table.tableConstraints_;
    const bool rule = table.ruleInSchema_;
    execute(db, "SAVEPOINT recreate");
    try {
        execute(db, "DROP TABLE " + tableRef(table));
        table.materialised_ = false;
        materialise(table);
        execute(db, "RELEASE recreate");
    } catch (const ComError&) {
        execute(db, "ROLLBACK TO recreate");
        execute(db, "RELEASE recreate");
        table.materialised_ = true;
        table.columnDefinitions_ = columns;
        table.tableConstraints_ = constraints;
        table.ruleInSchema_ = rule;
        throw;
    }
}

std::string DbState::copyableRowid(const TableImpl& table) const {
    // A primary key on one Long field is the rowid itself; else the rowid
    // is copied under a name no column hides, when there is one.
    const IndexImpl* pk = table.primaryIndex();
    const bool rowidAlias = pk && pk->fields_.size() == 1 && table.findField(pk->fields_[0]->name_)->type_ == dbLong;
    if (rowidAlias) return {};
    for (const char* name : {"rowid", "oid", "_rowid_"}) {
        if (!table.findField(name)) return name;
    }
    return {};
}

void DbState::rebuild(TableImpl& table, const std::vector<std::string>& foreignKeys) {
    // The documented way to change a SQLite table: create the new one, copy,
    // drop, rename. Rowids are kept, so that later rows keyed by them match.
    const std::string scratch = "_talmera_rebuild";
    // Indexes still waiting for the rows are made with the others, once.
    std::vector<IndexImpl*> waiting;
    for (const auto& index : table.indexes_) {
        if (!index->deferred_) continue;
        waiting.push_back(index.get());
        index->deferred_ = false;
        index->inSchema_ = true;
    }
    std::string columns;
    for (const auto& f : table.fields_) columns += (columns.empty() ? "" : ", ") + QuoteIdentifier(f->name_);
    const std::string rowid = copyableRowid(table);
    const std::string copyColumns = rowid.empty() ? columns : rowid + ", " + columns;
    const std::string schema = table.inScratch_ ? kScratchSchema : "";
    const std::string scratchRef = (schema.empty() ? std::string() : QuoteIdentifier(schema) + ".") + QuoteIdentifier(scratch);
    execute(db, "SAVEPOINT rebuild");
    try {
        executeSchema(db, createTableSql(table, scratch, foreignKeys, schema), table.name_);
        executeSchema(db,
                      "INSERT INTO " + scratchRef + " (" + copyColumns + ") SELECT " + copyColumns + " FROM " +
                          tableRef(table) + (rowid.empty() ? "" : " ORDER BY " + rowid),
                      table.name_);
        execute(db, "DROP TABLE " + tableRef(table));
        // The legacy rename leaves views alone: they name the table, which
        // exists again under its own name once the rename is done.
        execute(db, "PRAGMA legacy_alter_table = ON");
        execute(db, "ALTER TABLE " + scratchRef + " RENAME TO " + QuoteIdentifier(table.sqliteName_));
        execute(db, "PRAGMA legacy_alter_table = OFF");
        for (const auto& index : table.indexes_)
            if (!index->primary_ && index->inSchema_) executeSchema(db, createIndexSql(table, *index), table.name_);
        execute(db, "RELEASE rebuild");
    } catch (const ComError&) {
        execute(db, "PRAGMA legacy_alter_table = OFF");
        execute(db, "ROLLBACK TO rebuild");
        execute(db, "RELEASE rebuild");
        for (IndexImpl* index : waiting) {
            index->deferred_ = true;
            index->inSchema_ = false;
        }
        throw;
    }
}

std::optional<ViewSource> DbState::viewSource(const std::string& name) const {
    if (auto t = findTable(name)) {
        ViewSource source;
        if (t->linked()) {
            source.state = ViewSource::LinkedTable;
            return source;
        }
        source.sqliteName = t->sqliteName_;
        for (const auto& f : t->fields_) source.columns.push_back({f->name_, ValueKindOfFieldType(f->type_)});
        return source;
    }
    if (auto q = findQuery(name)) {
        ViewSource source;
        source.state = q->viewCreated_ ? ViewSource::View : ViewSource::QueryWithoutView;
        source.sqliteName = q->name_;
        source.columns = q->viewColumns_;
        return source;
    }
    return std::nullopt;
}

bool DbState::tryCreateView(QueryImpl& query) {
    if (query.viewCreated_) return true;
    if (!query.connect_.empty()) {
        query.noViewReason_ = "is a pass-through query: its SQL runs on its ODBC source";
        return false;
    }
    ViewTranslation view = TranslateQueryToView(query.sql_, [this](const std::string& n) {
        // A view reads the file's tables: a scratch table it names is kept there.
        if (auto t = findTable(n)) {
            try {
                settle(*t);
            } catch (const ComError&) {
            }
        }
        return viewSource(n);
    });
    if (view.select.empty()) {
        query.noViewReason_ = view.reason;
        return false;
    }
    if (sqliteNames.count(Fold(query.name_))) {
        query.noViewReason_ = "has the name of a table or index of the file";
        return false;
    }
    const std::string name = QuoteIdentifier(query.name_);
    execute(db, "SAVEPOINT view");
    try {
        execute(db, "CREATE VIEW " + name + " AS " + view.select);
        // SQLite accepts any view and checks it when it is used: run it.
        if (auto failure = RunsView(db, query.name_)) throw ComError(kErrGeneric, kDatabaseSource, *failure);
        execute(db, "RELEASE view");
    } catch (const ComError& error) {
        execute(db, "ROLLBACK TO view");
        execute(db, "RELEASE view");
        query.noViewReason_ = "cannot be run by SQLite as translated: " + error.description;
        return false;
    }
    query.viewCreated_ = true;
    query.viewSql_ = view.select;
    query.viewColumns_ = view.columns;
    query.noViewReason_.clear();
    sqliteNames.insert(Fold(query.name_));
    return true;
}

void DbState::dropView(QueryImpl& query) {
    if (!query.viewCreated_) return;
    execute(db, "DROP VIEW IF EXISTS " + QuoteIdentifier(query.name_));
    releaseSqliteName(query.name_);
    query.viewCreated_ = false;
    query.viewSql_.clear();
    query.viewColumns_.clear();
}

void DbState::createComplexView(const TableImpl& table, const FieldImpl& field) {
    auto literal = [](const std::string& text) {
        std::string quoted = "'";
        for (char c : SqliteName(text)) quoted += c == '\'' ? std::string("''") : std::string(1, c);
        return quoted + "'";
    };
    const bool attachment = field.type_ == dbAttachment;
    const std::string name = reserveSqliteName(table.name_ + "." + field.name_);
    const char* columns = attachment                          ? "file_name, file_type, file_data FROM _talmera_attachments"
                          : field.type_ == dbVersionHistory ? "value, modified FROM _talmera_complex_values"
                                                              : "value FROM _talmera_complex_values";
    execute(db, "CREATE VIEW " + QuoteIdentifier(name) + " AS SELECT row_id, position, " + columns +
                    " WHERE table_name = " + literal(table.name_) + " AND field_name = " + literal(field.name_));
}

void DbState::writeMetadata() {
    for (const char* t : kMetadataTables) execute(db, std::string("DELETE FROM ") + t);
    auto insert = [&](const std::string& table, const std::vector<Stored>& values) {
        std::string marks;
        for (size_t i = 0; i < values.size(); ++i) marks += i ? ", ?" : "?";
        Statement s(db, "INSERT INTO " + table + " VALUES (" + marks + ")");
        for (size_t i = 0; i < values.size(); ++i) s.bind(static_cast<int>(i) + 1, values[i]);
        s.run(("Cannot write " + table).c_str());
    };
    // Names as the schema holds them (SqliteName); other texts as they are.
    auto txt = [](const std::string& s) { return Stored::Txt(SqliteName(s)); };
    auto num = [](int64_t v) { return Stored::Int(v); };
    auto text = [](const std::string& s) { return Stored::Txt(s); };
    auto optText = [](const std::string& s) { return s.empty() ? Stored{} : Stored::Txt(s); };

    int64_t tablePosition = 0;
    for (const auto& t : tables) {
        // A table the file could not take has no rows of metadata either.
        if (!t->linked() && !t->materialised_) continue;
        if (t->linked()) {
            insert("_talmera_links", {txt(t->name_), text(t->connect_), txt(t->sourceTable_.empty() ? t->name_ : t->sourceTable_)});
        } else {
            insert("_talmera_tables", {txt(t->name_), txt(t->sqliteName_), num(tablePosition++),
                                       optText(t->validationRule_), optText(t->validationText_), num(t->ruleInSchema_)});
        }
        int64_t position = 0;
        for (const auto& f : t->fields_) {
            insert("_talmera_fields",
                   {txt(t->name_), num(position++), txt(f->name_), num(f->type_), txt(DataTypeName(f->type_)),
                    txt(declaredType(*f)), num(f->Size()), num(f->attributes_), num(f->autoIncrement()),
                    num((f->attributes_ & dbHyperlinkField) != 0), optText(f->defaultValue_),
                    num(f->inSchema_.defaultClause), num(f->required_), num(f->inSchema_.notNull),
                    num(f->allowZeroLength_), optText(f->validationRule_), optText(f->validationText_),
                    num(f->inSchema_.check), optText(f->expression_)});
            int64_t p = 0;
            for (const auto& prop : f->properties_.items)
                insert("_talmera_properties", {txt(t->name_), txt(f->name_), txt(prop->Name()), num(p++),
                                               num(prop->Type()), storedProperty(prop->Value()), num(prop->ddl())});
        }
        int64_t p = 0;
        for (const auto& prop : t->properties_.items)
            insert("_talmera_properties", {txt(t->name_), txt(""), txt(prop->Name()), num(p++), num(prop->Type()),
                                           storedProperty(prop->Value()), num(prop->ddl())});
        for (const auto& index : t->indexes_) {
            insert("_talmera_indexes",
                   {txt(t->name_), txt(index->name_), index->primary_ ? Stored{} : optText(index->inSchema_ ? index->sqliteName_ : ""),
                    num(index->primary_), num(index->unique_), num(index->ignoreNulls_)});
            int64_t k = 0;
            for (const auto& f : index->fields_)
                insert("_talmera_index_fields", {txt(t->name_), txt(index->name_), num(k++), txt(f->name_),
                                                 num((f->attributes_ & dbDescending) != 0)});
        }
    }
    int64_t queryPosition = 0;
    for (const auto& q : queries)
        insert("_talmera_queries", {txt(q->name_), num(queryPosition++), text(q->sql_), num(q->viewCreated_),
                                    q->viewCreated_ ? text(q->viewSql_) : Stored{},
                                    q->viewCreated_ ? Stored{} : text(q->noViewReason_), optText(q->connect_)});
    for (const auto& r : relations) {
        const char* join = (r->attributes_ & 0x01000000) ? "left" : (r->attributes_ & 0x02000000) ? "right" : "inner";
        insert("_talmera_relationships",
               {txt(r->name_), txt(r->table_), txt(r->foreignTable_), num(r->attributes_), num(r->enforced()),
                num(r->foreignKeyInSchema_), num((r->attributes_ & 1) != 0),
                num(r->enforced() && (r->attributes_ & 0x100)), num(r->enforced() && (r->attributes_ & 0x1000)),
                text(join)});
        int64_t k = 0;
        for (const auto& f : r->fields_) insert("_talmera_relationship_fields", {txt(r->name_), num(k++), txt(f->name_), txt(f->foreignName_)});
    }
    writeReport();
}

void DbState::writeReport() {
    if (!report) return;
    auto insert = [&](const char* table, const std::vector<Stored>& values) {
        std::string marks;
        for (size_t i = 0; i < values.size(); ++i) marks += i ? ", ?" : "?";
        Statement s(db, std::string("INSERT INTO ") + table + " VALUES (" + marks + ")");
        for (size_t i = 0; i < values.size(); ++i) s.bind(static_cast<int>(i) + 1, values[i]);
        s.run((std::string("Cannot write ") + table).c_str());
    };
    auto name = [](const std::string& s) { return Stored::Txt(SqliteName(s)); };
    auto num = [](int64_t v) { return Stored::Int(v); };
    auto count = [](int64_t v) { return v < 0 ? Stored{} : Stored::Int(v); };
    auto lines = [](const std::vector<std::string>& texts) {
        if (texts.empty()) return Stored{};
        std::string joined;
        for (const std::string& t : texts) joined += (joined.empty() ? "" : "\n") + t;
        return Stored::Txt(joined);
    };
    const RecoveryRows& r = *report;
    const std::pair<const char*, Stored> facts[] = {
        {"source", Stored::Txt(r.source)},     {"complete", num(r.complete)},
        {"stopped", num(r.stopped)},           {"rows_lost", num(r.rowsLost)},
        {"tables_lost", num(r.tablesLost)},
    };
    for (const auto& [key, value] : facts) insert("_talmera_report", {Stored::Txt(key), value});
    int64_t position = 0;
    for (const RecoveryRows::Table& t : r.tables) {
        std::vector<std::string> renamed;
        for (const std::string& c : t.renamedColumns) renamed.push_back(SqliteName(c));
        insert("_talmera_report_tables",
               {num(position++), name(t.name), t.outputName.empty() ? Stored{} : name(t.outputName),
                count(t.expectedRows), num(t.recoveredRows), count(t.lostRows), num(t.unreadablePages),
                num(t.refusedRows), num(t.partialValues), num(t.deletedRows), lines(renamed), num(t.saved),
                lines(t.problems)});
    }
    position = 0;
    for (const RecoveryRows::Object& o : r.objects)
        insert("_talmera_report_objects", {num(position++), Stored::Txt(o.kind), name(o.name), num(o.saved), lines(o.problems)});
}

void DbState::close() {
    if (closed) return;
    // Recordsets still open are closed first: their records are kept.
    for (const auto& weak : recordsets)
        if (auto rs = weak.lock()) {
            try {
                rs->Close();
            } catch (const ComError&) {
            }
        }
    recordsets.clear();
    // Only a failure of the file itself fails the close: an object the file
    // refused (a table, a foreign key, a view) is left out, and its state
    // (not materialised, no foreign key, no view) says so in the metadata.
    // Once the file has failed, nothing more is written into it.
    auto attempt = [&](auto&& step) {
        if (writeFailure) return;
        try {
            step();
        } catch (const ComError& e) {
            noteWriteFailure(e);
        }
    };
    if (!sqlite3_get_autocommit(db)) {
        attempt([&] {
            try {
                execute(db, "COMMIT");
            } catch (const ComError& e) {
                throw AsWriteFailure(e);
            }
        });
    } else if (writeDepth > 0) {
        noteWriteFailure(ComError(kErrDiskIO, kDatabaseSource,
                                  "Disk or network error. The transaction ended before it was committed."));
    }
    writeDepth = 0;
    attempt([&] { execute(db, "BEGIN"); });
    // A scratch table still there stays in the file.
    for (const auto& t : tables) attempt([&] { settle(*t); });
    for (const auto& t : tables) {
        attempt([&] { materialise(*t); });
        attempt([&] { createDeferredIndexes(*t); });
    }

    // Relations become foreign keys of the tables on their many side.
    for (const auto& t : tables) {
        if (t->linked() || !t->materialised_) continue;
        std::vector<std::string> keys;
        std::vector<RelationImpl*> carried;
        for (const auto& r : relations) {
            if (!r->foreignKeyPossible_ || !SameName(r->foreignTable_, t->name_)) continue;
            auto primary = findTable(r->table_);
            if (!primary || !primary->materialised_) continue;
            std::string from, to;
            for (const auto& f : r->fields_) {
                from += (from.empty() ? "" : ", ") + QuoteIdentifier(t->findField(f->foreignName_)->name_);
                to += (to.empty() ? "" : ", ") + QuoteIdentifier(primary->findField(f->name_)->name_);
            }
            std::string key = "CONSTRAINT " + QuoteIdentifier(r->name_) + " FOREIGN KEY (" + from + ") REFERENCES " +
                              QuoteIdentifier(primary->sqliteName_) + " (" + to + ")";
            if (r->attributes_ & 0x100) key += " ON UPDATE CASCADE";
            if (r->attributes_ & 0x1000) key += " ON DELETE CASCADE";
            keys.push_back(key);
            carried.push_back(r.get());
        }
        if (keys.empty()) continue;
        attempt([&] {
            rebuild(*t, keys);
            for (RelationImpl* r : carried) r->foreignKeyInSchema_ = true;
        });
        // Access indexes the many side of a relation; the foreign key checks
        // and cascades need the same.
        for (RelationImpl* r : carried) {
            if (!r->foreignKeyInSchema_) continue;
            bool covered = false;
            for (const auto& index : t->indexes_) {
                if (!index->inSchema_ || index->fields_.size() < r->fields_.size()) continue;
                bool prefix = true;
                for (size_t k = 0; k < r->fields_.size(); ++k)
                    prefix = prefix && SameName(index->fields_[k]->name_, r->fields_[k]->foreignName_);
                covered = covered || prefix;
            }
            if (covered) continue;
            std::string columns;
            for (const auto& f : r->fields_)
                columns += (columns.empty() ? "" : ", ") + QuoteIdentifier(t->findField(f->foreignName_)->name_);
            const std::string name = reserveSqliteName(t->sqliteName_ + "." + r->name_);
            attempt([&] {
                execute(db, "CREATE INDEX " + QuoteIdentifier(name) + " ON " + QuoteIdentifier(t->sqliteName_) + " (" +
                                columns + ")");
            });
        }
    }

    // Queries that read other queries become views once those are: in
    // dependency order. Then every view must still run (a table may have
    // gone, and a view that reads a dropped one goes too).
    // A dropped view is tried again, so that its reason is the present one.
    for (size_t round = 0; round <= queries.size(); ++round) {
        for (bool progress = true; progress;) {
            progress = false;
            for (const auto& q : queries)
                if (!q->viewCreated_) attempt([&] { progress = tryCreateView(*q) || progress; });
        }
        bool dropped = false;
        for (const auto& q : queries) {
            if (!q->viewCreated_) continue;
            attempt([&] {
                if (auto failure = RunsView(db, q->name_)) {
                    dropView(*q);
                    q->noViewReason_ = "cannot be run by SQLite: " + *failure;
                    dropped = true;
                }
            });
        }
        if (!dropped) break;
    }
    attempt([&] { writeMetadata(); });
    // Each attachment or multi-valued field also reads as a child table of
    // its own: a view "<table>.<field>" over the shared value tables.
    for (const auto& t : tables) {
        if (t->linked() || !t->materialised_) continue;
        for (const auto& f : t->fields_) {
            if (!f->isComplex()) continue;
            attempt([&] { createComplexView(*t, *f); });
        }
    }
    attempt([&] {
        try {
            execute(db, "COMMIT");
        } catch (const ComError& e) {
            throw AsWriteFailure(e);
        }
    });
    if (!sqlite3_get_autocommit(db)) {
        try {
            execute(db, "ROLLBACK");
        } catch (const ComError&) {
        }
    }
    if (sqlite3_close(db) != SQLITE_OK)
        noteWriteFailure(ComError(kErrDiskIO, kDatabaseSource,
                                  std::string("Disk or network error. Cannot close the database: ") + sqlite3_errmsg(db)));
    db = nullptr;
    closed = true;
    // The file was written without waiting for the disk; it is complete only
    // when its bytes are there.
    if (!writeFailure) {
        const std::string problem = syncFile(path);
        if (!problem.empty())
            noteWriteFailure(ComError(kErrDiskIO, kDatabaseSource, "Disk or network error. Cannot flush '" + path + "' to the disk: " + problem));
    }
    if (writeFailure) throw *writeFailure;
}

// --- the Database and Engine objects ----------------------------------------------------

namespace {

class DatabaseImpl : public Database {
public:
    explicit DatabaseImpl(std::shared_ptr<DbState> s) : s_(std::move(s)) {}
    ~DatabaseImpl() override {
        try {
            s_->close();
        } catch (const ComError&) {
        }
    }

    TableDefPtr CreateTableDef(const std::string& name) override {
        s_->ensureOpen(kDatabaseSource);
        return std::make_shared<TableImpl>(name);
    }

    void AppendTableDef(const TableDefPtr& table) override {
        s_->ensureOpen(kTableDefsSource);
        auto t = std::dynamic_pointer_cast<TableImpl>(table);
        if (!t) Refuse(kErrInvalidOperation, kTableDefsSource, "Only a table made by CreateTableDef can be appended.");
        if (t->appended_) Refuse(kErrObjectExists, kTableDefsSource, "Table '" + t->name_ + "' is already appended.");
        if (t->name_.empty()) Refuse(kErrInvalidOperation, kTableDefsSource, "A table needs a name.");
        RefuseUnwritableName(t->name_, kTableDefsSource, "a table");
        if (s_->objectNameTaken(t->name_))
            Refuse(kErrObjectExists, kTableDefsSource, "Table '" + t->name_ + "' already exists.");
        if (t->fields_.empty() && !t->linked())
            Refuse(kErrInvalidOperation, kTableDefsSource, "No field defined--cannot append TableDef '" + t->name_ + "'.");
        t->db_ = s_;
        t->appended_ = true;
        if (!t->linked()) {
            t->sqliteName_ = s_->reserveSqliteName(t->name_);
            for (const auto& index : t->indexes_) index->sqliteName_ = s_->reserveSqliteName(t->sqliteName_ + "." + index->name_);
        }
        s_->tables.push_back(t);
    }

    TableDefPtr TableDefItem(const std::string& name) const override {
        s_->ensureOpen(kTableDefsSource);
        if (auto t = s_->findTable(name)) return t;
        Refuse(kErrNotFound, kTableDefsSource, "Item not found in this collection: table '" + name + "'.");
    }

    int TableDefCount() const override {
        s_->ensureOpen(kTableDefsSource);
        return static_cast<int>(s_->tables.size());
    }

    void DeleteTableDef(const std::string& name) override {
        s_->ensureOpen(kTableDefsSource);
        auto t = s_->findTable(name);
        if (!t) Refuse(kErrNotFound, kTableDefsSource, "Item not found in this collection: table '" + name + "'.");
        if (t->openRecordsets_ > 0)
            Refuse(kErrInvalidOperation, kTableDefsSource, "The table '" + t->name_ + "' is in use by an open recordset.");
        for (const auto& r : s_->relations)
            if (SameName(r->table_, t->name_) || SameName(r->foreignTable_, t->name_))
                Refuse(kErrInvalidOperation, kTableDefsSource,
                       "Cannot delete table '" + t->name_ + "': it takes part in relationship '" + r->name_ + "'.");
        if (t->materialised_) {
            if (t->inScratch_) s_->dropScratch(*t);
            else execute(s_->db, "DROP TABLE " + QuoteIdentifier(t->sqliteName_));
        }
        if (!t->linked()) DeleteChildRows(*s_, t->name_);
        if (!t->linked()) {
            s_->releaseSqliteName(t->sqliteName_);
            for (const auto& index : t->indexes_) s_->releaseSqliteName(index->sqliteName_);
        }
        t->materialised_ = false;
        t->appended_ = false;
        t->db_.reset();
        s_->tables.erase(std::find(s_->tables.begin(), s_->tables.end(), t));
    }

    void RefreshTableDefs() override { s_->ensureOpen(kTableDefsSource); }

    RecordsetPtr OpenRecordset(const std::string& table, int, int, int) override {
        s_->ensureOpen(kDatabaseSource);
        auto t = s_->findTable(table);
        if (!t)
            Refuse(kErrNotFound, kDatabaseSource,
                   "The database engine cannot find the input table or query '" + table + "'.");
        if (t->linked())
            Refuse(kErrInvalidOperation, kDatabaseSource,
                   "The linked table '" + t->name_ + "' has no rows in this database; its data stays in its source.");
        auto rs = std::make_shared<RecordsetImpl>(s_, t);
        s_->recordsets.erase(std::remove_if(s_->recordsets.begin(), s_->recordsets.end(),
                                            [](const auto& w) { return w.expired(); }),
                             s_->recordsets.end());
        s_->recordsets.push_back(rs);
        return rs;
    }

    QueryDefPtr CreateQueryDef(const std::string& name, const std::string& sql) override {
        s_->ensureOpen(kDatabaseSource);
        auto q = std::make_shared<QueryImpl>(name, sql);
        // DAO saves a query made with a name at once.
        if (!name.empty()) AppendQueryDef(q);
        return q;
    }

    void AppendQueryDef(const QueryDefPtr& query) override {
        s_->ensureOpen("DAO.QueryDefs");
        auto q = std::dynamic_pointer_cast<QueryImpl>(query);
        if (!q) Refuse(kErrInvalidOperation, "DAO.QueryDefs", "Only a query made by CreateQueryDef can be appended.");
        if (q->appended_) Refuse(kErrObjectExists, "DAO.QueryDefs", "Query '" + q->name_ + "' is already appended.");
        if (q->name_.empty()) Refuse(kErrInvalidOperation, "DAO.QueryDefs", "A query needs a name.");
        RefuseUnwritableName(q->name_, "DAO.QueryDefs", "a query");
        if (s_->objectNameTaken(q->name_)) Refuse(kErrObjectExists, "DAO.QueryDefs", "Object '" + q->name_ + "' already exists.");
        if (q->sql_.find_first_not_of(" \t\r\n;") == std::string::npos)
            Refuse(kErrInvalidOperation, "DAO.QueryDefs",
                   "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE' (query '" +
                       q->name_ + "').");
        q->db_ = s_;
        q->appended_ = true;
        s_->queries.push_back(q);
        // A view is checked against the tables it reads, which must exist.
        // Neither step can refuse the query: it is saved as text already.
        try {
            s_->materialiseAll();
            s_->tryCreateView(*q);
        } catch (const ComError& e) {
            s_->noteWriteFailure(e);
        }
    }

    RelationPtr CreateRelation(const std::string& name, const std::string& table, const std::string& foreignTable,
                               int32_t attributes) override {
        s_->ensureOpen(kDatabaseSource);
        return std::make_shared<RelationImpl>(name, table, foreignTable, attributes);
    }

    void AppendRelation(const RelationPtr& relation) override {
        const char* source = "DAO.Relations";
        s_->ensureOpen(source);
        auto r = std::dynamic_pointer_cast<RelationImpl>(relation);
        if (!r) Refuse(kErrInvalidOperation, source, "Only a relation made by CreateRelation can be appended.");
        if (r->appended_) Refuse(kErrObjectExists, source, "Relation '" + r->name_ + "' is already appended.");
        if (r->name_.empty()) Refuse(kErrInvalidOperation, source, "A relation needs a name.");
        RefuseUnwritableName(r->name_, source, "a relation");
        for (const auto& other : s_->relations)
            if (SameName(other->name_, r->name_))
                Refuse(kErrObjectExists, source, "Relationship '" + r->name_ + "' already exists.");
        auto primary = s_->findTable(r->table_);
        auto many = s_->findTable(r->foreignTable_);
        if (!primary || primary->linked())
            Refuse(kErrNotFound, source, "The database engine cannot find table '" + r->table_ + "' of relation '" + r->name_ + "'.");
        if (!many || many->linked())
            Refuse(kErrNotFound, source,
                   "The database engine cannot find table '" + r->foreignTable_ + "' of relation '" + r->name_ + "'.");
        if (r->fields_.empty())
            Refuse(kErrInvalidOperation, source, "No field defined--cannot append relation '" + r->name_ + "'.");
        for (const auto& f : r->fields_) {
            if (!primary->findField(f->name_))
                Refuse(kErrNotFound, source, "Item not found in this collection: field '" + f->name_ + "' of table '" + primary->name_ + "'.");
            if (!many->findField(f->foreignName_))
                Refuse(kErrNotFound, source,
                       "Item not found in this collection: field '" + f->foreignName_ + "' of table '" + many->name_ + "'.");
        }
        bool foreignKey = false;
        if (r->enforced()) {
            // The primary side needs a unique index on exactly the related fields.
            const IndexImpl* unique = nullptr;
            for (const auto& index : primary->indexes_) {
                if (!index->unique_ || index->fields_.size() != r->fields_.size()) continue;
                bool same = true;
                for (const auto& f : r->fields_) {
                    bool found = false;
                    for (const auto& k : index->fields_) found = found || SameName(k->name_, f->name_);
                    same = same && found;
                }
                if (same && (!unique || unique->ignoreNulls_)) unique = index.get();
            }
            if (!unique)
                Refuse(kErrInvalidOperation, source,
                       "No unique index found for the referenced field of the primary table '" + primary->name_ +
                           "' (relation '" + r->name_ + "').");
            // A foreign key needs a full index; an ignore-nulls one is partial.
            foreignKey = !unique->ignoreNulls_;
            s_->materialise(*primary);
            s_->materialise(*many);
            // A relation joins tables of the file.
            s_->settle(*primary);
            s_->settle(*many);
            std::string match, present;
            for (const auto& f : r->fields_) {
                const std::string c = "c." + QuoteIdentifier(many->findField(f->foreignName_)->name_);
                const std::string p = "p." + QuoteIdentifier(primary->findField(f->name_)->name_);
                match += (match.empty() ? "" : " AND ") + p + " = " + c;
                present += (present.empty() ? "" : " AND ") + c + " IS NOT NULL";
            }
            Statement orphans(s_->db, "SELECT EXISTS (SELECT 1 FROM " + QuoteIdentifier(many->sqliteName_) + " AS c WHERE " +
                                          present + " AND NOT EXISTS (SELECT 1 FROM " +
                                          QuoteIdentifier(primary->sqliteName_) + " AS p WHERE " + match + "))");
            if (orphans.step() == SQLITE_ROW && orphans.integer(0))
                Refuse(kErrInvalidOperation, source,
                       "Data in table '" + many->name_ + "' violates referential integrity rules: a record has no "
                       "related record in table '" + primary->name_ + "' (relation '" + r->name_ + "').");
        }
        r->foreignKeyPossible_ = foreignKey;
        r->appended_ = true;
        s_->relations.push_back(r);
    }

    void SetRecoveryReport(const RecoveryRows& report) override {
        s_->ensureOpen(kDatabaseSource);
        s_->report = report;
    }

    void Close() override { s_->close(); }

private:
    std::shared_ptr<DbState> s_;
};

class EngineImpl : public Engine {
public:
    DatabasePtr CreateDatabase(const std::string& path, const std::string& locale, int option) override {
        const char* source = "DAO.DBEngine";
        if (path.empty()) Refuse(kErrBadPath, source, "'' is not a valid path.");
        // The file is created here, exclusively: an existing file is never
        // opened, let alone overwritten.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            const int error = errno;
            if (error == EEXIST) Refuse(kErrDatabaseExists, source, "Database already exists: '" + path + "'.");
            Refuse(kErrBadPath, source, "'" + path + "' is not a valid path: " + std::strerror(error) + ".");
        }
        ::close(fd);
        auto state = std::make_shared<DbState>();
        state->path = path;
        state->locale = locale;
        state->option = option;
        // One connection, used by one thread at a time (the save hands it
        // from thread to thread, never sharing it): no locking in SQLite.
        if (sqlite3_open_v2(path.c_str(), &state->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
            SQLITE_OK) {
            std::string message = state->db ? sqlite3_errmsg(state->db) : "out of memory";
            sqlite3_close(state->db);
            state->db = nullptr;
            state->closed = true;
            ::unlink(path.c_str());
            Refuse(kErrBadPath, source, "'" + path + "' cannot be created: " + message + ".");
        }
        try {
            sqlite3_extended_result_codes(state->db, 1);
            RegisterBulkMoveFunctions(state->db);
            // A new file, written by one connection: no journal on disk and no
            // waiting for the disk; Close makes the file durable. Large pages
            // for bulk loading; a bounded cache, and sorting (index builds) in
            // temporary files, so that memory stays flat however large the
            // tables are.
            execute(state->db,
                    "PRAGMA page_size = " + std::to_string(kPageSize) +
                        "; PRAGMA journal_mode = MEMORY; PRAGMA synchronous = OFF; PRAGMA locking_mode = EXCLUSIVE; "
                    "PRAGMA cache_size = -" + std::to_string(kCacheKiB) +
                        "; PRAGMA temp_store = FILE; PRAGMA foreign_keys = OFF; "
                    "PRAGMA application_id = " + std::to_string(kApplicationId) + "; PRAGMA user_version = " +
                        std::to_string(kMetadataVersion) + ";");
            execute(state->db, "BEGIN");
            execute(state->db, kMetadataSchema);
            std::time_t now = std::time(nullptr);
            char created[32];
            std::strftime(created, sizeof created, "%Y-%m-%d %H:%M:%S", std::gmtime(&now));
            Statement row(state->db, "INSERT INTO _talmera_database (key, value) VALUES (?, ?)");
            const std::pair<const char*, Stored> rows[] = {
                {"format", Stored::Txt(formatName(option))},
                {"format_option", Stored::Int(option)},
                {"locale", Stored::Txt(locale)},
                {"created_utc", Stored::Txt(created)},
                {"metadata_version", Stored::Int(kMetadataVersion)},
                {"producer", Stored::Txt("Quorvin Talmera Access Database Repair")},
            };
            for (const auto& [key, value] : rows) {
                row.bindText(1, key);
                row.bind(2, value);
                row.run("Cannot write _talmera_database");
            }
            execute(state->db, "COMMIT");
            // Scratch tables are written apart from the file; without the
            // scratch database they are written into it.
            state->attachScratch();
        } catch (const ComError& e) {
            sqlite3_close(state->db);
            state->db = nullptr;
            state->closed = true;
            ::unlink(path.c_str());
            Refuse(kErrBadPath, source, "'" + path + "' cannot be created: " + e.description);
        }
        return std::make_shared<DatabaseImpl>(state);
    }
};

}  // namespace

}  // namespace sqlite

std::shared_ptr<Engine> CreateSqliteEngine() { return std::make_shared<sqlite::EngineImpl>(); }

}  // namespace talmera::dao
