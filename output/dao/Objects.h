// The objects of the SQLite engine behind the interfaces of Dao.h. Internal to
// output/dao: the save sees only the interfaces.
//
// Ownership: the database state (DbState) owns the appended table, query and
// relation objects; they point back to it weakly, so that dropping the
// database closes it. A recordset keeps the state alive while it is open.
#pragma once

#include <sqlite3.h>

#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "output/dao/Dao.h"
#include "output/dao/Expressions.h"
#include "output/dao/Sql.h"
#include "output/dao/Values.h"
#include "output/dao/ViewTranslation.h"

namespace talmera::dao::sqlite {

struct DbState;
class TableImpl;

// The schema name of the scratch database (DbState::attachScratch).
inline constexpr const char* kScratchSchema = "talmera_scratch";

[[noreturn]] void Refuse(int32_t code, const std::string& source, const std::string& description);
std::string Fold(std::string_view name);  // the case-insensitive key of a name (ASCII letters, as SQLite)
bool SameName(std::string_view a, std::string_view b);
// SQL text ends at a zero character, so a name that holds one cannot be
// written into the file's schema: it is refused when the object is appended,
// rather than failing later with the whole table, index or view.
void RefuseUnwritableName(std::string_view name, const std::string& source, const std::string& what);

// --- properties ------------------------------------------------------------------

class UserProperty : public Property {
public:
    UserProperty(std::string name, int type, Variant value, bool ddl)
        : name_(std::move(name)), type_(type), value_(std::move(value)), ddl_(ddl) {}
    std::string Name() const override { return name_; }
    int Type() const override { return type_; }
    Variant Value() const override { return value_; }
    void SetValue(const Variant& value) override;
    bool ddl() const { return ddl_; }
    bool appended = false;

private:
    std::string name_;
    int type_;
    Variant value_;
    bool ddl_;
};

// A property of the object itself (Required, Size, Connect, ...), read and
// written through the object.
class BuiltinProperty : public Property {
public:
    BuiltinProperty(std::string name, int type, std::function<Variant()> get, std::function<void(const Variant&)> set)
        : name_(std::move(name)), type_(type), get_(std::move(get)), set_(std::move(set)) {}
    std::string Name() const override { return name_; }
    int Type() const override { return type_; }
    Variant Value() const override { return get_(); }
    void SetValue(const Variant& value) override { set_(value); }

private:
    std::string name_;
    int type_;
    std::function<Variant()> get_;
    std::function<void(const Variant&)> set_;
};

// Converts a property value to the property's type, as DAO does on
// CreateProperty and on assignment.
Variant ConvertPropertyValue(int type, const Variant& value, const std::string& name);

class PropertyStore {
public:
    std::vector<std::shared_ptr<UserProperty>> items;
    std::shared_ptr<UserProperty> find(const std::string& name) const;
};

// --- definitions -------------------------------------------------------------------

enum class FieldRole { Table, Index, Relation };

class FieldImpl : public Field, public std::enable_shared_from_this<FieldImpl> {
public:
    FieldImpl(std::string name, int type, FieldRole role) : name_(std::move(name)), type_(type), role_(role) {}

    std::string Name() const override { return name_; }
    int Type() const override { return type_; }
    int32_t Size() const override;
    void SetSize(int32_t size) override;
    int32_t Attributes() const override { return attributes_; }
    void SetAttributes(int32_t attributes) override;
    std::string DefaultValue() const override { return defaultValue_; }
    void SetDefaultValue(const std::string& value) override;
    void SetExpression(const std::string& expression) override;
    bool Required() const override { return required_; }
    void SetRequired(bool required) override;
    bool AllowZeroLength() const override { return allowZeroLength_; }
    void SetAllowZeroLength(bool allow) override;
    void SetValidationRule(const std::string& rule) override;
    void SetValidationText(const std::string& text) override;
    Variant Value() const override;
    void SetValue(const Variant& value) override;
    void AppendChunk(const Bytes& chunk) override;

    PropertyPtr CreateProperty(const std::string& name, int type, const Variant& value, bool ddl) override;
    void AppendProperty(const PropertyPtr& property) override;
    void RefreshProperties() override {}
    int PropertyCount() const override;
    PropertyPtr PropertyItem(const std::string& name) const override;

    // The field's limits for value conversion (decimals read "Precision" and
    // "Scale" from the field's properties).
    FieldShape shape() const;
    bool autoIncrement() const { return (attributes_ & dbAutoIncrField) && (type_ == dbLong || type_ == dbGUID); }
    bool isComplex() const { return type_ >= dbAttachment && type_ <= dbVersionHistory; }
    bool isTextual() const { return type_ == dbText || type_ == dbMemo; }
    // Once its table is in the database, a field's type, size and attributes stay.
    bool locked() const;
    std::shared_ptr<TableImpl> table() const { return table_.lock(); }

    std::string name_;
    int type_;
    FieldRole role_;
    int32_t size_ = 0;
    int32_t attributes_ = 0;
    std::string defaultValue_, validationRule_, validationText_, expression_;
    std::string foreignName_;  // relation fields
    bool required_ = false;
    bool allowZeroLength_ = false;
    PropertyStore properties_;
    std::weak_ptr<TableImpl> table_;
    bool appended_ = false;
    // What the SQLite table carries for this field, fixed when the table is created.
    struct {
        bool notNull = false, defaultClause = false, check = false;
    } inSchema_;
    std::optional<int64_t> nextAutoNumber_;

private:
    void constraintChanged();
    std::vector<std::string> builtinNames() const;
    PropertyPtr builtin(const std::string& name) const;
};

class IndexImpl : public Index {
public:
    explicit IndexImpl(std::string name) : name_(std::move(name)) {}
    std::string Name() const override { return name_; }
    void SetPrimary(bool primary) override;
    void SetUnique(bool unique) override;
    void SetIgnoreNulls(bool ignore) override;
    FieldPtr CreateField(const std::string& name, int type) override;
    void AppendField(const FieldPtr& field) override;

    std::string name_;
    bool primary_ = false, unique_ = false, ignoreNulls_ = false;
    std::vector<std::shared_ptr<FieldImpl>> fields_;
    bool appended_ = false;
    std::string sqliteName_;
    bool inSchema_ = false;
    // A plain index of a table being filled is made once its rows are in
    // (one sorted build instead of an insert per record).
    bool deferred_ = false;
};

class TableImpl : public TableDef, public std::enable_shared_from_this<TableImpl> {
public:
    explicit TableImpl(std::string name) : name_(std::move(name)) {}

    std::string Name() const override { return name_; }
    FieldPtr CreateField(const std::string& name, int type) override;
    void AppendField(const FieldPtr& field) override;
    int FieldCount() const override { return static_cast<int>(fields_.size()); }
    FieldPtr FieldItem(const std::string& name) const override;
    FieldPtr FieldItem(int ordinal) const override;
    void RefreshFields() override {}
    IndexPtr CreateIndex(const std::string& name) override;
    void AppendIndex(const IndexPtr& index) override;
    void SetConnect(const std::string& connect) override { connect_ = connect; }
    void SetSourceTableName(const std::string& name) override { sourceTable_ = name; }
    void SetScratch(bool scratch) override;

    PropertyPtr CreateProperty(const std::string& name, int type, const Variant& value, bool ddl) override;
    void AppendProperty(const PropertyPtr& property) override;
    void RefreshProperties() override {}
    int PropertyCount() const override;
    PropertyPtr PropertyItem(const std::string& name) const override;

    bool linked() const { return !connect_.empty(); }
    std::shared_ptr<DbState> db() const { return db_.lock(); }
    std::shared_ptr<FieldImpl> findField(const std::string& name) const;
    const IndexImpl* primaryIndex() const;
    bool inPrimaryKey(const FieldImpl& field) const;
    // A constraint of the table or of one of its fields changed after
    // TableDefs.Append; an empty table is created again with it.
    void constraintChanged();

    std::string name_;
    std::vector<std::shared_ptr<FieldImpl>> fields_;
    std::vector<std::shared_ptr<IndexImpl>> indexes_;
    std::string connect_, sourceTable_, validationRule_, validationText_;
    PropertyStore properties_;
    std::weak_ptr<DbState> db_;
    bool appended_ = false;

    // The SQLite table.
    std::string sqliteName_;
    bool materialised_ = false;
    bool scratch_ = false;    // SetScratch
    bool inScratch_ = false;  // materialised in the scratch database, not the file
    std::vector<std::string> columnDefinitions_;  // as created, for rebuilding
    std::vector<std::string> tableConstraints_;   // primary key and table rule, as created
    bool ruleInSchema_ = false;
    int openRecordsets_ = 0;

private:
    std::vector<std::string> builtinNames() const;
    PropertyPtr builtin(const std::string& name) const;
};

class QueryImpl : public QueryDef {
public:
    QueryImpl(std::string name, std::string sql) : name_(std::move(name)), sql_(std::move(sql)) {}
    std::string Name() const override { return name_; }
    void SetName(const std::string& name) override;
    std::string SQL() const override { return sql_; }
    void SetSQL(const std::string& sql) override;
    std::string Connect() const override { return connect_; }
    void SetConnect(const std::string& connect) override;

    std::string name_, sql_, connect_;
    std::weak_ptr<DbState> db_;
    bool appended_ = false;
    bool viewCreated_ = false;
    // The view: its SELECT and columns; or why there is none.
    std::string viewSql_;
    std::vector<ViewColumn> viewColumns_;
    std::string noViewReason_;

private:
    void remakeView();
};

class RelationImpl : public Relation {
public:
    RelationImpl(std::string name, std::string table, std::string foreignTable, int32_t attributes)
        : name_(std::move(name)), table_(std::move(table)), foreignTable_(std::move(foreignTable)),
          attributes_(attributes) {}
    FieldPtr CreateField(const std::string& name) override;
    void SetForeignName(const FieldPtr& field, const std::string& foreignName) override;
    void AppendField(const FieldPtr& field) override;
    void SetAttributes(int32_t attributes) override;

    bool enforced() const { return !(attributes_ & 2); }

    std::string name_, table_, foreignTable_;
    int32_t attributes_;
    std::vector<std::shared_ptr<FieldImpl>> fields_;
    bool appended_ = false;
    bool foreignKeyPossible_ = false;  // enforced, and the primary side has a full unique index
    bool foreignKeyInSchema_ = false;
};

// --- recordsets ----------------------------------------------------------------------

struct RecordsetState {
    bool pending = false;  // between AddNew and Update / CancelUpdate
    bool closed = false;
    // The rowid of the current record (complex fields read their rows by it).
    bool hasRowid = false;
    int64_t currentRowid = 0;
};

class RecordsetField : public Field, public std::enable_shared_from_this<RecordsetField> {
public:
    RecordsetField(std::shared_ptr<RecordsetState> state, std::shared_ptr<FieldImpl> def, std::string table);

    std::string Name() const override { return def_->name_; }
    int Type() const override { return def_->type_; }
    int32_t Size() const override { return def_->Size(); }
    void SetSize(int32_t) override { readOnly(); }
    int32_t Attributes() const override { return def_->attributes_; }
    void SetAttributes(int32_t) override { readOnly(); }
    std::string DefaultValue() const override { return def_->defaultValue_; }
    void SetDefaultValue(const std::string&) override { readOnly(); }
    void SetExpression(const std::string&) override { readOnly(); }
    bool Required() const override { return def_->required_; }
    void SetRequired(bool) override { readOnly(); }
    bool AllowZeroLength() const override { return def_->allowZeroLength_; }
    void SetAllowZeroLength(bool) override { readOnly(); }
    void SetValidationRule(const std::string&) override { readOnly(); }
    void SetValidationText(const std::string&) override { readOnly(); }
    Variant Value() const override;
    void SetValue(const Variant& value) override;
    void AppendChunk(const Bytes& chunk) override;
    void SetValueFrom(const Field& source) override;
    RecordsetPtr ChildRecordset() override;

    PropertyPtr CreateProperty(const std::string& name, int type, const Variant& value, bool ddl) override {
        return def_->CreateProperty(name, type, value, ddl);
    }
    void AppendProperty(const PropertyPtr&) override { readOnly(); }
    void RefreshProperties() override {}
    int PropertyCount() const override { return def_->PropertyCount(); }
    PropertyPtr PropertyItem(const std::string& name) const override { return def_->PropertyItem(name); }

    std::shared_ptr<RecordsetState> state_;
    std::shared_ptr<FieldImpl> def_;
    std::string table_;
    FieldShape shape_;
    bool inPrimaryKey_ = false;
    // The new record
    Stored pending_;
    bool assigned_ = false;
    std::optional<ComError> refusal_;  // a value this field refused; Update refuses the record for it
    // The current record when reading
    Stored current_;
    bool hasCurrent_ = false;
    // The default value, planned once per text
    std::string plannedDefault_;
    DefaultPlan defaultPlan_;
    bool planned_ = false;
    // A complex field: the database, and the value rows added to the new record.
    std::shared_ptr<DbState> db_;
    std::vector<std::vector<Stored>> children_;

private:
    [[noreturn]] void readOnly() const;
    void needPending() const;
};

// The values of one complex field of one record (attachments or the values of
// a multi-valued field), as a recordset. Rows added go to the parent record;
// on a stored record it reads that record's rows.
class ChildRecordsetImpl : public Recordset {
public:
    explicit ChildRecordsetImpl(std::shared_ptr<RecordsetField> parent);
    void AddNew() override;
    int FieldCount() const override { return static_cast<int>(fields_.size()); }
    FieldPtr FieldItem(int ordinal) const override;
    FieldPtr FieldItem(const std::string& name) const override;
    void Update(int type = 1, bool force = false) override;
    void CancelUpdate(int type = 2) override;
    void Close() override;
    void MoveFirst() override;
    void MoveNext() override;
    bool EOF_() const override;
    long RecordCount() const override;

private:
    void ensureOpen() const;
    void show();

    std::shared_ptr<RecordsetField> parent_;
    std::shared_ptr<RecordsetState> state_;
    std::vector<std::shared_ptr<RecordsetField>> fields_;
    std::vector<std::vector<Stored>> rows_;  // the stored record's rows
    size_t current_ = 0;
};

// The metadata tables that keep complex values, and their writing.
bool IsAttachmentType(int type);
void StoreChildRows(DbState& db, const std::string& table, const std::string& field, int type, int64_t rowid,
                    const std::vector<std::vector<Stored>>& rows);
void DeleteChildRows(DbState& db, const std::string& table);
// The exact text of a Currency or Decimal value whose stored real does not
// give it back, kept in _talmera_exact_values by the record's rowid.
void StoreExactValue(DbState& db, const std::string& table, const std::string& field, int64_t rowid,
                     const std::string& text);
std::optional<std::string> ExactValue(DbState& db, const std::string& table, const std::string& field, int64_t rowid);

// The SQL functions of the bulk move (RecordsetImpl::AppendFrom) on a connection.
void RegisterBulkMoveFunctions(sqlite3* db);
class RecordsetImpl : public Recordset {
public:
    RecordsetImpl(std::shared_ptr<DbState> db, std::shared_ptr<TableImpl> table);
    ~RecordsetImpl() override;

    void AddNew() override;
    int FieldCount() const override { return static_cast<int>(fields_.size()); }
    FieldPtr FieldItem(int ordinal) const override;
    FieldPtr FieldItem(const std::string& name) const override;
    void Update(int type = 1, bool force = false) override;
    void CancelUpdate(int type = 2) override;
    void Close() override;
    void MoveFirst() override;
    void MoveNext() override;
    bool EOF_() const override;
    long RecordCount() const override;
    long AppendFrom(Recordset& source, long limit) override;

private:
    // How the records of one source recordset are moved in bulk into this
    // one: the statements, prepared once, and what they rely on.
    struct BulkMove {
        std::shared_ptr<TableImpl> sourceTable;  // the plan holds for this table's recordsets
        bool possible = false;
        Statement chunk;    // count and last rowid of the next records of the source
        Statement insert;   // INSERT ... SELECT of a rowid range, leaving out records the loop would treat otherwise
        Statement exact;    // whether exact values of the range are kept apart
        std::vector<std::pair<FieldImpl*, Statement>> counters;  // auto-numbers: the largest number of the range
    };
    bool planBulkMove(const RecordsetImpl& source);
    void ensureOpen() const;
    void discardPending();
    // Positions the reading at the first record whose rowid is at least `from`.
    void position(int64_t from = std::numeric_limits<int64_t>::min()) const;
    void readRow() const;
    [[noreturn]] void refuseFromSqlite(int rc);
    int64_t nextAutoNumber(FieldImpl& def);

    std::shared_ptr<DbState> db_;
    std::shared_ptr<TableImpl> table_;
    std::shared_ptr<RecordsetState> state_;
    std::vector<std::shared_ptr<RecordsetField>> fields_;
    Statement insert_;
    std::vector<Stored> generated_;  // values made for unassigned fields, alive during the step
    mutable Statement select_;
    mutable bool positioned_ = false;
    mutable bool eof_ = true;
    std::string rowid_;  // a name of the rowid no column hides ("rowid", "oid" or "_rowid_"), or empty
    BulkMove bulk_;
};

// --- the database ----------------------------------------------------------------------

struct DbState : std::enable_shared_from_this<DbState> {
    sqlite3* db = nullptr;
    std::string path, locale;
    int option = 0;
    bool closed = false;
    std::vector<std::shared_ptr<TableImpl>> tables;
    std::vector<std::shared_ptr<QueryImpl>> queries;
    std::vector<std::shared_ptr<RelationImpl>> relations;
    std::vector<std::weak_ptr<RecordsetImpl>> recordsets;
    int writeDepth = 0;
    // The scratch database: a private temporary database beside the file
    // (attached as kScratchSchema) that holds the rows of scratch tables.
    bool scratchAttached = false;
    std::set<std::string> sqliteNames;  // folded names of tables, views and indexes in the file
    std::set<std::string> exactValueTables;  // folded names of tables with rows in _talmera_exact_values
    // The first failure of the file itself (a full disk, an I/O error, a
    // transaction rolled back by SQLite): nothing more is written, and Close
    // raises it.
    std::optional<ComError> writeFailure;
    std::optional<RecoveryRows> report;  // kept in the metadata when the file is closed

    ~DbState();
    void noteWriteFailure(const ComError& error);  // keeps it when IsWriteFailure
    void ensureWritable() const;                   // raises the write failure, if any
    void ensureOpen(const char* source) const;
    std::shared_ptr<TableImpl> findTable(const std::string& name) const;
    std::shared_ptr<QueryImpl> findQuery(const std::string& name) const;
    bool objectNameTaken(const std::string& name) const;  // tables, links and queries share one namespace
    std::string reserveSqliteName(const std::string& wanted);
    void releaseSqliteName(const std::string& name) { sqliteNames.erase(Fold(name)); }

    // One transaction while recordsets are open.
    void beginWrite();
    void endWrite();

    void createComplexView(const TableImpl& table, const FieldImpl& field);
    // Creates the table in SQLite; with deferIndexes (a recordset is about to
    // fill it) its plain indexes wait until createDeferredIndexes.
    void materialise(TableImpl& table, bool deferIndexes = false);
    void materialiseAll();
    void createDeferredIndexes(TableImpl& table);
    // The table as SQL names it: its SQLite name, in the scratch database
    // when it lives there.
    std::string tableRef(const TableImpl& table) const;
    // Attaches a fresh scratch database; false when SQLite refuses (scratch
    // tables then live in the file).
    bool attachScratch();
    // Moves a scratch table that must stay (the database closes, a view or a
    // relation names it) from the scratch database into the file, rowids kept.
    void settle(TableImpl& table);
    // Deletes a scratch table's SQLite table.
    void dropScratch(TableImpl& table);
    bool tableHasRows(const TableImpl& table) const;
    // schema: empty for the file's own tables (or a schema name to qualify the new table with).
    std::string createTableSql(const TableImpl& table, const std::string& sqliteName,
                               const std::vector<std::string>& extra, const std::string& schema = "") const;
    std::string createIndexSql(const TableImpl& table, const IndexImpl& index) const;
    void createIndex(TableImpl& table, IndexImpl& index);
    // The rowid column a copy of the table's rows names, or empty when the
    // primary key is the rowid (or every name of it is a column's).
    std::string copyableRowid(const TableImpl& table) const;
    // Creates the table again from its definition columns, keeping rows and rowids.
    void rebuild(TableImpl& table, const std::vector<std::string>& foreignKeys);
    void recreateEmpty(TableImpl& table);
    std::string declaredType(const FieldImpl& field) const;
    std::string columnDefinition(const TableImpl& table, FieldImpl& field) const;
    std::vector<ExprColumn> exprColumns(const TableImpl& table) const;

    // A table or query as the view translation sees it.
    std::optional<ViewSource> viewSource(const std::string& name) const;
    // Makes the query a view when its SQL translates and the view runs;
    // else notes why not.
    bool tryCreateView(QueryImpl& query);
    void dropView(QueryImpl& query);

    void close();
    void writeMetadata();
    void writeReport();
};

}  // namespace talmera::dao::sqlite
