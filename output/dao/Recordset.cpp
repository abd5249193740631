// Recordsets: new records are converted field by field as they are assigned
// and stored with one prepared INSERT each, inside the transaction that lasts
// while recordsets are open; reading walks the table in rowid order.
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <memory>

#include "output/dao/Objects.h"

namespace talmera::dao::sqlite {

namespace {
const char* const kSource = "DAO.Recordset";
const char* const kFieldSource = "DAO.Field";
}  // namespace

// --- fields of a recordset ----------------------------------------------------------

RecordsetField::RecordsetField(std::shared_ptr<RecordsetState> state, std::shared_ptr<FieldImpl> def, std::string table)
    : state_(std::move(state)), def_(std::move(def)), table_(std::move(table)), shape_(def_->shape()) {}

void RecordsetField::readOnly() const {
    Refuse(kErrInvalidOperation, kFieldSource,
           "Invalid operation: the definition of field '" + def_->name_ + "' cannot change through a recordset.");
}

void RecordsetField::needPending() const {
    if (state_->closed) Refuse(kErrInvalidOperation, kFieldSource, "Object invalid or no longer set: the recordset is closed.");
    if (!state_->pending)
        Refuse(kErrInvalidOperation, kFieldSource,
               "Update or CancelUpdate without AddNew: field '" + def_->name_ + "' has no new record to take a value.");
}

Variant RecordsetField::Value() const {
    if (state_->closed) Refuse(kErrInvalidOperation, kFieldSource, "Object invalid or no longer set: the recordset is closed.");
    if (state_->pending) return assigned_ ? FromStored(def_->type_, pending_) : Variant(std::monostate{});
    if (!hasCurrent_) Refuse(kErrNoCurrentRecord, kFieldSource, "No current record.");
    return FromStored(def_->type_, current_);
}

void RecordsetField::SetValue(const Variant& value) {
    needPending();
    if (def_->isComplex())
        Refuse(kErrInvalidOperation, kFieldSource,
               "Field '" + def_->name_ + "' holds several values and takes them through its own recordset.");
    try {
        // Converted into the pending value, whose buffers serve every record.
        ToStoredInto(shape_, value, def_->name_, pending_);
        assigned_ = true;
        refusal_.reset();
    } catch (const ComError& e) {
        // DAO callers often ignore this result; the record remembers the
        // refusal so that Update does not store it without the value.
        assigned_ = false;
        refusal_ = e;
        throw;
    }
}

namespace {

// Whether a value stored by a field of shape `from` is, as it is, what a
// field of shape `to` stores for it: SetValue(FromStored(...)) would give it
// back. That holds for one type and the stored forms the conversions make
// (a text field's text, a date's storage text or day number, numbers as
// SQLite keeps them); a text must also fit the target's size.
bool storedAsIs(const FieldShape& from, const FieldShape& to, const Stored& v) {
    if (from.type != to.type) return false;
    if (v.kind == Stored::Null) return true;
    switch (to.type) {
        case dbText:
            return v.kind == Stored::Text && (to.size <= 0 || Utf16Length(v.text) <= static_cast<size_t>(to.size));
        case dbMemo:
        case dbGUID: return v.kind == Stored::Text;
        case dbBinary:
            return v.kind == Stored::Blob && (to.size <= 0 || v.blob.size() <= static_cast<size_t>(to.size));
        case dbLongBinary: return v.kind == Stored::Blob;
        case dbBoolean: return v.kind == Stored::Integer && (v.integer == 0 || v.integer == 1);
        case dbByte:
        case dbInteger:
        case dbLong:
        case dbBigInt: return v.kind == Stored::Integer;
        case dbSingle:
        case dbDouble: return v.kind == Stored::Real;
        case dbCurrency: return v.kind == Stored::Real || v.kind == Stored::Integer;
        case dbDate: return v.kind == Stored::Text || v.kind == Stored::Real;
        case dbDecimal:
            return from.precision == to.precision && from.scale == to.scale &&
                   (v.kind == Stored::Real || v.kind == Stored::Integer);
        default: return false;
    }
}

void copyStored(const Stored& from, Stored& to) {
    to.kind = from.kind;
    to.integer = from.integer;
    to.real = from.real;
    to.text.assign(from.text);
    to.blob.assign(from.blob.begin(), from.blob.end());
    to.exact.assign(from.exact);
}

}  // namespace

void RecordsetField::SetValueFrom(const Field& source) {
    const auto* other = dynamic_cast<const RecordsetField*>(&source);
    // A field of this engine on a record it has read: its stored value is
    // taken as it is where converting it out and in again would give it back.
    if (other && !other->state_->closed && !other->state_->pending && other->hasCurrent_ && !def_->isComplex() &&
        state_->pending && !state_->closed && storedAsIs(other->shape_, shape_, other->current_)) {
        copyStored(other->current_, pending_);
        assigned_ = true;
        refusal_.reset();
        return;
    }
    Field::SetValueFrom(source);
}

void RecordsetField::AppendChunk(const Bytes& chunk) {
    needPending();
    const int type = def_->type_;
    if (type != dbMemo && type != dbLongBinary && type != dbBinary)
        Refuse(kErrInvalidOperation, kFieldSource,
               "AppendChunk needs a Memo, OLE Object or Binary field; '" + def_->name_ + "' is " + DataTypeName(type) + ".");
    if (type == dbLongBinary && (!assigned_ || pending_.isNull())) {
        // The first chunk of an OLE object is the whole value so far: taken
        // as it is, as the conversion of those bytes would.
        pending_.kind = Stored::Blob;
        pending_.integer = 0;
        pending_.real = 0;
        pending_.text.clear();
        pending_.exact.clear();
        pending_.blob.assign(chunk.begin(), chunk.end());
        assigned_ = true;
        refusal_.reset();
        return;
    }
    if (!assigned_ || pending_.isNull()) {
        pending_ = Stored{};
        pending_.kind = type == dbMemo ? Stored::Text : Stored::Blob;
    }
    Bytes whole = pending_.kind == Stored::Text ? Bytes(pending_.text.begin(), pending_.text.end()) : pending_.blob;
    whole.insert(whole.end(), chunk.begin(), chunk.end());
    try {
        if (type == dbMemo) pending_ = ToStored(shape_, std::string(whole.begin(), whole.end()), def_->name_);
        else pending_ = ToStored(shape_, whole, def_->name_);
        assigned_ = true;
        refusal_.reset();
    } catch (const ComError& e) {
        assigned_ = false;
        pending_ = Stored{};
        refusal_ = e;
        throw;
    }
}

// --- recordsets ----------------------------------------------------------------------

RecordsetImpl::RecordsetImpl(std::shared_ptr<DbState> db, std::shared_ptr<TableImpl> table)
    : db_(std::move(db)), table_(std::move(table)), state_(std::make_shared<RecordsetState>()) {
    // The records are about to come: plain indexes are built after them.
    db_->materialise(*table_, true);
    std::string columns, marks;
    for (const auto& def : table_->fields_) {
        auto f = std::make_shared<RecordsetField>(state_, def, table_->name_);
        f->inPrimaryKey_ = table_->inPrimaryKey(*def);
        if (def->isComplex()) f->db_ = db_;
        fields_.push_back(f);
        if (!columns.empty()) columns += ", ", marks += ", ";
        columns += QuoteIdentifier(def->name_);
        marks += "?";
    }
    generated_.resize(fields_.size());
    for (const char* name : {"rowid", "oid", "_rowid_"}) {
        if (!table_->findField(name)) {
            rowid_ = name;
            break;
        }
    }
    insert_ = Statement(db_->db, "INSERT INTO " + db_->tableRef(*table_) + " (" + columns + ") VALUES (" +
                                     marks + ")");
    db_->beginWrite();
    ++table_->openRecordsets_;
}

RecordsetImpl::~RecordsetImpl() {
    try {
        Close();
    } catch (const ComError&) {
    }
}

void RecordsetImpl::ensureOpen() const {
    if (state_->closed) Refuse(kErrInvalidOperation, kSource, "Object invalid or no longer set: the recordset is closed.");
}

namespace {

FieldPtr fieldAt(const std::vector<std::shared_ptr<RecordsetField>>& fields, int ordinal) {
    if (ordinal < 0 || ordinal >= static_cast<int>(fields.size()))
        Refuse(kErrNotFound, "DAO.Fields", "Item not found in this collection: field " + std::to_string(ordinal) + ".");
    return fields[static_cast<size_t>(ordinal)];
}

FieldPtr fieldNamed(const std::vector<std::shared_ptr<RecordsetField>>& fields, const std::string& name) {
    for (const auto& f : fields)
        if (SameName(f->def_->name_, name)) return f;
    Refuse(kErrNotFound, "DAO.Fields", "Item not found in this collection: field '" + name + "'.");
}

}  // namespace

FieldPtr RecordsetImpl::FieldItem(int ordinal) const {
    ensureOpen();
    return fieldAt(fields_, ordinal);
}

FieldPtr RecordsetImpl::FieldItem(const std::string& name) const {
    ensureOpen();
    return fieldNamed(fields_, name);
}

void RecordsetImpl::discardPending() {
    state_->pending = false;
    for (const auto& f : fields_) {
        f->assigned_ = false;
        f->refusal_.reset();
        f->pending_.kind = Stored::Null;
        f->pending_.text.clear();
        f->pending_.blob.clear();
        f->children_.clear();
    }
}

void RecordsetImpl::AddNew() {
    ensureOpen();
    discardPending();
    state_->pending = true;
}

void RecordsetImpl::CancelUpdate(int) {
    ensureOpen();
    if (!state_->pending) Refuse(kErrInvalidOperation, kSource, "Update or CancelUpdate without AddNew or Edit.");
    discardPending();
}

int64_t RecordsetImpl::nextAutoNumber(FieldImpl& def) {
    if (!def.nextAutoNumber_) {
        Statement max(db_->db, "SELECT max(" + QuoteIdentifier(def.name_) + ") FROM " + db_->tableRef(*table_));
        int64_t next = 1;
        if (max.step() == SQLITE_ROW && sqlite3_column_type(max.get(), 0) != SQLITE_NULL) next = max.integer(0) + 1;
        def.nextAutoNumber_ = std::max<int64_t>(next, 1);
    }
    return *def.nextAutoNumber_;
}

void RecordsetImpl::Update(int, bool) {
    ensureOpen();
    // Nothing is stored in a file that has failed.
    db_->ensureWritable();
    if (!state_->pending) Refuse(kErrInvalidOperation, kSource, "Update or CancelUpdate without AddNew or Edit.");
    for (const auto& f : fields_)
        if (f->refusal_) throw *f->refusal_;

    const std::string& table = table_->name_;
    for (size_t i = 0; i < fields_.size(); ++i) {
        RecordsetField& f = *fields_[i];
        FieldImpl& def = *f.def_;
        const Stored* value = &f.pending_;
        if (!f.assigned_) {
            Stored& made = generated_[i];
            made = Stored{};
            if (def.autoIncrement() && def.type_ == dbLong) {
                made = Stored::Int(nextAutoNumber(def));
                if (made.integer > std::numeric_limits<int32_t>::max())
                    Refuse(kErrOverflow, kSource, "The auto-number field '" + table + "." + def.name_ + "' has run out of numbers.");
            } else {
                if (!f.planned_ || f.plannedDefault_ != def.defaultValue_) {
                    f.defaultPlan_ = PlanDefault(def.defaultValue_, f.shape_);
                    f.plannedDefault_ = def.defaultValue_;
                    f.planned_ = true;
                }
                if (f.defaultPlan_.kind != DefaultPlan::None) made = EvaluateDefault(f.defaultPlan_);
                else if (def.autoIncrement() && def.type_ == dbGUID) made = EvaluateDefault(DefaultPlan{DefaultPlan::NewGuid, {}, {}});
            }
            // A Yes/No field is never Null: unassigned, it is No.
            if (def.type_ == dbBoolean && made.isNull()) made = Stored::Int(0);
            value = &made;
        } else if (def.type_ == dbBoolean && value->isNull()) {
            generated_[i] = Stored::Int(0);
            value = &generated_[i];
        }
        if (value->isNull() && (def.required_ || f.inPrimaryKey_)) {
            Refuse(kErrRequired, kSource,
                   f.inPrimaryKey_ && !def.required_
                       ? "Index or primary key cannot contain a Null value: field '" + table + "." + def.name_ + "'."
                       : "You must enter a value in the '" + table + "." + def.name_ + "' field.");
        }
        if (def.isTextual() && value->kind == Stored::Text && value->text.empty() && !def.allowZeroLength_) {
            Refuse(kErrZeroLength, kSource, "Field '" + table + "." + def.name_ + "' cannot be a zero-length string.");
        }
        insert_.bind(static_cast<int>(i) + 1, *value);
    }
    const int rc = insert_.step();
    if (rc != SQLITE_DONE) refuseFromSqlite(rc);
    insert_.reset();
    // The record's attachments and multi-valued values, keyed by its rowid.
    const int64_t rowid = sqlite3_last_insert_rowid(db_->db);
    for (const auto& f : fields_) {
        if (!f->children_.empty()) StoreChildRows(*db_, table, f->def_->name_, f->def_->type_, rowid, f->children_);
        if (f->assigned_ && !f->pending_.exact.empty()) StoreExactValue(*db_, table, f->def_->name_, rowid, f->pending_.exact);
    }
    // Numbers given to an auto-number field move its counter on.
    for (size_t i = 0; i < fields_.size(); ++i) {
        FieldImpl& def = *fields_[i]->def_;
        if (!def.autoIncrement() || def.type_ != dbLong) continue;
        const Stored& v = fields_[i]->assigned_ ? fields_[i]->pending_ : generated_[i];
        if (v.kind == Stored::Integer && def.nextAutoNumber_ && v.integer >= *def.nextAutoNumber_)
            def.nextAutoNumber_ = v.integer + 1;
    }
    discardPending();
}

void RecordsetImpl::refuseFromSqlite(int rc) {
    std::string message = sqlite3_errmsg(db_->db);
    const int extended = sqlite3_extended_errcode(db_->db);
    insert_.reset();
    const std::string& table = table_->name_;
    if ((rc & 0xFF) == SQLITE_CONSTRAINT) {
        if (extended == SQLITE_CONSTRAINT_UNIQUE || extended == SQLITE_CONSTRAINT_PRIMARYKEY) {
            Refuse(kErrDuplicate, kSource,
                   "The changes you requested to the table '" + table +
                       "' were not successful because they would create duplicate values in the index, primary key, "
                       "or relationship (" + message + ").");
        }
        if (extended == SQLITE_CONSTRAINT_NOTNULL)
            Refuse(kErrRequired, kSource, "A required field of table '" + table + "' has no value (" + message + ").");
        if (extended == SQLITE_CONSTRAINT_CHECK) {
            // The constraint's name says whose rule refused the record.
            const std::string marker = "ValidationRule:";
            const size_t at = message.find(marker);
            if (at != std::string::npos) {
                const std::string field = message.substr(at + marker.size());
                if (auto def = table_->findField(field)) {
                    Refuse(kErrValidation, kSource,
                           !def->validationText_.empty()
                               ? def->validationText_
                               : "One or more values are prohibited by the validation rule '" + def->validationRule_ +
                                     "' set for '" + table + "." + def->name_ +
                                     "'. Enter a value that the expression for this field can accept.");
                }
            }
            Refuse(kErrValidation, kSource,
                   !table_->validationText_.empty()
                       ? table_->validationText_
                       : "One or more values are prohibited by the validation rule '" + table_->validationRule_ +
                             "' set for '" + table + "'. Enter a value that the expression for this table can accept.");
        }
    }
    // A full disk or an I/O error is the file's failure, not this record's.
    if (daoCodeOf(rc) != kErrGeneric) {
        const ComError failure =
            FileFailure(rc, kSource, "The record was not stored in table '" + table + "': " + message);
        db_->noteWriteFailure(failure);
        throw failure;
    }
    Refuse(kErrGeneric, kSource, "The record was not stored in table '" + table + "': " + message);
}

void RecordsetImpl::Close() {
    if (state_->closed) return;
    discardPending();
    state_->closed = true;
    insert_ = Statement();
    select_ = Statement();
    bulk_ = BulkMove{};
    for (const auto& f : fields_) f->hasCurrent_ = false;
    // The last recordset on a table built its plain indexes once its rows are in.
    std::optional<ComError> failure;
    if (--table_->openRecordsets_ == 0 && table_->materialised_) {
        try {
            db_->createDeferredIndexes(*table_);
        } catch (const ComError& e) {
            failure = e;
        }
    }
    db_->endWrite();
    if (failure) throw *failure;
}

void RecordsetImpl::readRow() const {
    const int rc = select_.step();
    if (rc == SQLITE_ROW) {
        eof_ = false;
        const int offset = rowid_.empty() ? 0 : 1;
        state_->hasRowid = !rowid_.empty();
        state_->currentRowid = rowid_.empty() ? 0 : select_.integer(0);
        const bool exact =
            state_->hasRowid && !db_->exactValueTables.empty() && db_->exactValueTables.count(Fold(table_->name_));
        for (size_t i = 0; i < fields_.size(); ++i) {
            Stored& v = fields_[i]->current_;
            select_.columnInto(static_cast<int>(i) + offset, v);
            fields_[i]->hasCurrent_ = true;
            const int type = fields_[i]->def_->type_;
            if (exact && (type == dbCurrency || type == dbDecimal) && (v.kind == Stored::Real || v.kind == Stored::Integer)) {
                if (auto text = ExactValue(*db_, table_->name_, fields_[i]->def_->name_, state_->currentRowid))
                    v.exact = *text;
            }
        }
        return;
    }
    eof_ = true;
    for (const auto& f : fields_) f->hasCurrent_ = false;
    select_.reset();
    if (rc != SQLITE_DONE) sqliteFailure(db_->db, "Cannot read table '" + table_->name_ + "'");
}

void RecordsetImpl::position(int64_t from) const {
    if (!select_) {
        std::string columns;
        for (const auto& f : fields_) columns += (columns.empty() ? "" : ", ") + QuoteIdentifier(f->def_->name_);
        const std::string order = rowid_.empty() ? "" : " WHERE " + rowid_ + " >= ?1 ORDER BY " + rowid_;
        select_ = Statement(db_->db, "SELECT " + (rowid_.empty() ? "" : rowid_ + ", ") + columns + " FROM " +
                                         db_->tableRef(*table_) + order);
    }
    select_.reset();
    if (!rowid_.empty()) select_.bindInt(1, from);
    positioned_ = true;
    readRow();
}

void RecordsetImpl::MoveFirst() {
    ensureOpen();
    discardPending();
    position();
}

void RecordsetImpl::MoveNext() {
    ensureOpen();
    discardPending();
    if (!positioned_) position();
    if (eof_) Refuse(kErrNoCurrentRecord, kSource, "No current record.");
    readRow();
}

bool RecordsetImpl::EOF_() const {
    ensureOpen();
    if (!positioned_) position();
    return eof_;
}

long RecordsetImpl::RecordCount() const {
    ensureOpen();
    Statement count(db_->db, "SELECT count(*) FROM " + db_->tableRef(*table_));
    if (count.step() != SQLITE_ROW) sqliteFailure(db_->db, "Cannot count the records of '" + table_->name_ + "'");
    return static_cast<long>(count.integer(0));
}

// --- the scratch-table move in bulk -----------------------------------------------------

namespace {

// What a value of one column must be for the bulk move to hand it over: one
// of the storage classes in `kinds` (bits 1 << SQLITE_INTEGER ... SQLITE_NULL),
// a text of at most `size` UTF-16 units or a blob of at most `size` bytes
// (0: any), 0 or 1 for a Yes/No, not an empty text where that is refused.
struct MovableRule {
    unsigned kinds = 0;
    int64_t size = 0;
    bool zeroOrOne = false;
    bool noEmptyText = false;
};

// The SQL function talmera_movable(rules, value, ...): 1 when every value
// meets its column's rule, else 0. The rules are a constant text
// ("kinds:size:flags;" per column), parsed once per statement.
void movableFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
    auto* rules = static_cast<std::vector<MovableRule>*>(sqlite3_get_auxdata(context, 0));
    if (!rules) {
        auto parsed = std::make_unique<std::vector<MovableRule>>();
        const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
        for (const char* p = text ? text : ""; *p;) {
            MovableRule rule;
            char* end = nullptr;
            rule.kinds = static_cast<unsigned>(std::strtoul(p, &end, 10));
            rule.size = std::strtoll(end + 1, &end, 10);
            const long flags = std::strtol(end + 1, &end, 10);
            rule.zeroOrOne = flags & 1;
            rule.noEmptyText = flags & 2;
            parsed->push_back(rule);
            p = *end ? end + 1 : end;
        }
        rules = parsed.get();
        sqlite3_set_auxdata(context, 0, parsed.release(),
                            [](void* p) { delete static_cast<std::vector<MovableRule>*>(p); });
        // SQLite may drop it at once; then it is parsed again next time.
        if (sqlite3_get_auxdata(context, 0) != rules) {
            sqlite3_result_error(context, "talmera_movable: no rules", -1);
            return;
        }
    }
    if (static_cast<size_t>(argc - 1) != rules->size()) {
        sqlite3_result_error(context, "talmera_movable: one rule per value", -1);
        return;
    }
    for (int i = 1; i < argc; ++i) {
        const MovableRule& rule = (*rules)[static_cast<size_t>(i - 1)];
        sqlite3_value* v = argv[i];
        const int kind = sqlite3_value_type(v);
        bool ok = (rule.kinds >> kind) & 1u;
        if (ok && kind == SQLITE_TEXT) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(v));
            const auto bytes = static_cast<size_t>(sqlite3_value_bytes(v));
            if (rule.noEmptyText && bytes == 0) ok = false;
            // A text has no more UTF-16 units than UTF-8 bytes.
            if (ok && rule.size > 0 && bytes > static_cast<size_t>(rule.size))
                ok = text && Utf16Length(std::string_view(text, bytes)) <= static_cast<size_t>(rule.size);
        } else if (ok && kind == SQLITE_BLOB) {
            if (rule.size > 0 && sqlite3_value_bytes(v) > rule.size) ok = false;
        } else if (ok && kind == SQLITE_INTEGER && rule.zeroOrOne) {
            const sqlite3_int64 n = sqlite3_value_int64(v);
            ok = n == 0 || n == 1;
        }
        if (!ok) {
            sqlite3_result_int(context, 0);
            return;
        }
    }
    sqlite3_result_int(context, 1);
}

const char* const kMovableFunction = "talmera_movable";

// The rule under which the value of a column, stored by a field of shape
// `from`, is one that storedAsIs hands over as it is to a field of shape `to`
// (a Null included); nullopt when no value is (the types differ).
std::optional<MovableRule> storedAsIsRule(const FieldShape& from, const FieldShape& to) {
    if (from.type != to.type) return std::nullopt;
    MovableRule rule;
    auto allow = [&](std::initializer_list<int> kinds) {
        rule.kinds = 1u << SQLITE_NULL;
        for (int k : kinds) rule.kinds |= 1u << k;
    };
    switch (to.type) {
        case dbText:
            allow({SQLITE_TEXT});
            rule.size = to.size > 0 ? to.size : 0;
            break;
        case dbMemo:
        case dbGUID: allow({SQLITE_TEXT}); break;
        case dbBinary:
            allow({SQLITE_BLOB});
            rule.size = to.size > 0 ? to.size : 0;
            break;
        case dbLongBinary: allow({SQLITE_BLOB}); break;
        case dbBoolean:
            allow({SQLITE_INTEGER});
            rule.zeroOrOne = true;
            break;
        case dbByte:
        case dbInteger:
        case dbLong:
        case dbBigInt: allow({SQLITE_INTEGER}); break;
        case dbSingle:
        case dbDouble: allow({SQLITE_FLOAT}); break;
        case dbCurrency: allow({SQLITE_FLOAT, SQLITE_INTEGER}); break;
        case dbDate: allow({SQLITE_TEXT, SQLITE_FLOAT}); break;
        case dbDecimal:
            if (from.precision != to.precision || from.scale != to.scale) return std::nullopt;
            allow({SQLITE_FLOAT, SQLITE_INTEGER});
            break;
        default: return std::nullopt;
    }
    return rule;
}

}  // namespace

void RegisterBulkMoveFunctions(sqlite3* db) {
    // For this connection's own statements only: never part of the schema.
    sqlite3_create_function_v2(db, kMovableFunction, -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_DIRECTONLY, nullptr,
                               movableFunction, nullptr, nullptr, nullptr);
}

bool RecordsetImpl::planBulkMove(const RecordsetImpl& source) {
    bulk_ = BulkMove{};
    bulk_.sourceTable = source.table_;
    // Field by field, by ordinal and the same name, as the move pairs them;
    // complex values are rows of their own and take the record loop.
    if (source.db_ != db_ || source.table_ == table_ || source.rowid_.empty() || source.fields_.size() != fields_.size())
        return false;
    std::string columns, rules;
    std::vector<std::pair<FieldImpl*, std::string>> counters;
    for (size_t i = 0; i < fields_.size(); ++i) {
        const RecordsetField& to = *fields_[i];
        const RecordsetField& from = *source.fields_[i];
        FieldImpl& def = *to.def_;
        if (def.name_ != from.def_->name_ || def.isComplex() || from.def_->isComplex()) return false;
        const std::string c = QuoteIdentifier(def.name_);
        std::optional<MovableRule> rule = storedAsIsRule(from.shape_, to.shape_);
        if (!rule) return false;
        // Records whose values Update would refuse or change (a Null where
        // the field needs a value, a Null Yes/No, an empty text the field
        // does not allow) are left out, and so is the whole range.
        if (def.required_ || to.inPrimaryKey_ || def.type_ == dbBoolean || def.autoIncrement())
            rule->kinds &= ~(1u << SQLITE_NULL);
        rule->noEmptyText = def.isTextual() && !def.allowZeroLength_;
        rules += std::to_string(rule->kinds) + ":" + std::to_string(rule->size) + ":" +
                 std::to_string((rule->zeroOrOne ? 1 : 0) | (rule->noEmptyText ? 2 : 0)) + ";";
        columns += (columns.empty() ? "" : ", ") + c;
        if (def.autoIncrement() && def.type_ == dbLong) counters.emplace_back(&def, c);
    }
    const std::string from = db_->tableRef(*source.table_);
    const std::string& rowid = source.rowid_;
    try {
        bulk_.chunk = Statement(db_->db, "SELECT count(*), max(r) FROM (SELECT " + rowid + " AS r FROM " + from +
                                             " WHERE " + rowid + " >= ?1 ORDER BY " + rowid + " LIMIT ?2)");
        bulk_.insert = Statement(db_->db, "INSERT INTO " + db_->tableRef(*table_) + " (" + columns + ") SELECT " +
                                              columns + " FROM " + from + " WHERE " + rowid + " BETWEEN ?1 AND ?2 AND " +
                                              kMovableFunction + "('" + rules + "', " + columns + ") ORDER BY " + rowid);
        bulk_.exact = Statement(db_->db, "SELECT EXISTS (SELECT 1 FROM _talmera_exact_values WHERE table_name = ?1 "
                                         "AND row_id BETWEEN ?2 AND ?3)");
        for (const auto& [def, c] : counters)
            bulk_.counters.emplace_back(def, Statement(db_->db, "SELECT max(" + c + ") FROM " + from + " WHERE " +
                                                                    rowid + " BETWEEN ?1 AND ?2"));
    } catch (const ComError&) {
        bulk_ = BulkMove{};
        bulk_.sourceTable = source.table_;
        return false;
    }
    bulk_.possible = true;
    return true;
}

long RecordsetImpl::AppendFrom(Recordset& from, long limit) {
    ensureOpen();
    auto* source = dynamic_cast<RecordsetImpl*>(&from);
    if (!source || limit <= 0 || db_->writeFailure || state_->pending) return 0;
    if (source->state_->closed || source->state_->pending || !source->positioned_ || source->eof_ ||
        !source->state_->hasRowid)
        return 0;
    if (bulk_.sourceTable != source->table_) planBulkMove(*source);
    if (!bulk_.possible) return 0;
    sqlite3* db = db_->db;
    // The range: the current record and those after it, up to the limit.
    const int64_t first = source->state_->currentRowid;
    bulk_.chunk.reset();
    bulk_.chunk.bindInt(1, first);
    bulk_.chunk.bindInt(2, limit);
    if (bulk_.chunk.step() != SQLITE_ROW) {
        bulk_.chunk.reset();
        return 0;
    }
    const int64_t count = bulk_.chunk.integer(0);
    const int64_t last = bulk_.chunk.integer(1);
    bulk_.chunk.reset();
    if (count <= 0) return 0;
    // Exact texts are keyed by the rowid each record gets: the loop carries them.
    if (db_->exactValueTables.count(Fold(source->table_->name_))) {
        Statement& exact = bulk_.exact;
        exact.reset();
        exact.bindText(1, SqliteName(source->table_->name_));
        exact.bindInt(2, first);
        exact.bindInt(3, last);
        const bool kept = exact.step() != SQLITE_ROW || exact.integer(0) != 0;
        exact.reset();
        if (kept) return 0;
    }
    // The source's reading stops while the range is stored (a rollback of
    // the range would end it) and starts again at its current record or
    // after the range.
    source->select_.reset();
    try {
        execute(db, "SAVEPOINT bulk_move");
    } catch (const ComError& e) {
        db_->noteWriteFailure(e);
        source->position(first);
        return 0;
    }
    Statement& insert = bulk_.insert;
    insert.reset();
    insert.bindInt(1, first);
    insert.bindInt(2, last);
    const int rc = insert.step();
    const int64_t stored = rc == SQLITE_DONE ? sqlite3_changes64(db) : -1;
    const std::string message = sqlite3_errmsg(db);
    insert.reset();
    if (stored != count) {
        // A record the table refuses, or one the loop would treat otherwise:
        // nothing of the range stays, and the loop moves it.
        if (daoCodeOf(rc) != kErrGeneric && rc != SQLITE_DONE)
            db_->noteWriteFailure(
                FileFailure(rc, kSource, "The records were not stored in table '" + table_->name_ + "': " + message));
        try {
            execute(db, "ROLLBACK TO bulk_move; RELEASE bulk_move");
        } catch (const ComError& e) {
            db_->noteWriteFailure(AsWriteFailure(e));
        }
        source->position(first);
        return 0;
    }
    try {
        execute(db, "RELEASE bulk_move");
    } catch (const ComError& e) {
        db_->noteWriteFailure(AsWriteFailure(e));
        throw;
    }
    // Numbers given to an auto-number field move its counter on, as Update does.
    for (auto& [def, largest] : bulk_.counters) {
        if (!def->nextAutoNumber_) continue;
        largest.reset();
        largest.bindInt(1, first);
        largest.bindInt(2, last);
        if (largest.step() == SQLITE_ROW && sqlite3_column_type(largest.get(), 0) == SQLITE_INTEGER &&
            largest.integer(0) >= *def->nextAutoNumber_)
            def->nextAutoNumber_ = largest.integer(0) + 1;
        largest.reset();
    }
    // The source goes on after the range.
    if (last == std::numeric_limits<int64_t>::max()) {
        source->select_.reset();
        source->eof_ = true;
        for (const auto& f : source->fields_) f->hasCurrent_ = false;
    } else {
        source->position(last + 1);
    }
    return static_cast<long>(count);
}

// --- complex fields ----------------------------------------------------------------

bool IsAttachmentType(int type) { return type == dbAttachment; }

namespace {

// The element type of a multi-valued field's values.
int valueType(int complexType) {
    switch (complexType) {
        case dbComplexByte: return dbByte;
        case dbComplexInteger: return dbInteger;
        case dbComplexLong: return dbLong;
        case dbComplexSingle: return dbSingle;
        case dbComplexDouble: return dbDouble;
        case dbComplexGUID: return dbGUID;
        case dbComplexDecimal: return dbDecimal;
        default: return dbText;
    }
}

std::shared_ptr<FieldImpl> childField(const std::string& name, int type, int32_t size) {
    auto f = std::make_shared<FieldImpl>(name, type, FieldRole::Table);
    f->size_ = size;
    f->allowZeroLength_ = true;
    return f;
}

// An attachment's type is its file name's extension, as Access records it.
std::string extensionOf(const std::string& fileName) {
    const size_t dot = fileName.rfind('.');
    return dot == std::string::npos ? std::string() : fileName.substr(dot + 1);
}

}  // namespace

RecordsetPtr RecordsetField::ChildRecordset() {
    if (state_->closed) Refuse(kErrInvalidOperation, kFieldSource, "Object invalid or no longer set: the recordset is closed.");
    if (!def_->isComplex() || !db_) return Field::ChildRecordset();
    return std::make_shared<ChildRecordsetImpl>(shared_from_this());
}

ChildRecordsetImpl::ChildRecordsetImpl(std::shared_ptr<RecordsetField> parent)
    : parent_(std::move(parent)), state_(std::make_shared<RecordsetState>()) {
    const int type = parent_->def_->type_;
    std::vector<std::shared_ptr<FieldImpl>> defs;
    if (IsAttachmentType(type)) {
        defs = {childField("FileName", dbText, 255), childField("FileType", dbText, 255),
                childField("FileData", dbLongBinary, 0)};
    } else if (type == dbVersionHistory) {
        defs = {childField("Value", dbMemo, 0), childField("DateModified", dbDate, 0)};
    } else {
        defs = {childField("Value", valueType(type), valueType(type) == dbText ? 255 : 0)};
    }
    for (const auto& d : defs) fields_.push_back(std::make_shared<RecordsetField>(state_, d, parent_->table_));
    // A stored record: its rows, in their order.
    if (!parent_->state_->pending && parent_->hasCurrent_ && parent_->state_->hasRowid) {
        DbState& db = *parent_->db_;
        const bool attachment = IsAttachmentType(type);
        Statement select(db.db, attachment ? "SELECT file_name, file_type, file_data FROM _talmera_attachments WHERE "
                                             "table_name = ? AND field_name = ? AND row_id = ? ORDER BY position"
                                           : "SELECT value, modified FROM _talmera_complex_values WHERE table_name = ? AND "
                                             "field_name = ? AND row_id = ? ORDER BY position");
        select.bindText(1, SqliteName(parent_->table_));
        select.bindText(2, SqliteName(parent_->def_->name_));
        select.bindInt(3, parent_->state_->currentRowid);
        while (select.step() == SQLITE_ROW) {
            std::vector<Stored> row;
            for (int c = 0; c < static_cast<int>(defs.size()); ++c) row.push_back(select.column(c));
            rows_.push_back(std::move(row));
        }
    }
    show();
}

void ChildRecordsetImpl::ensureOpen() const {
    if (state_->closed) Refuse(kErrInvalidOperation, kSource, "Object invalid or no longer set: the recordset is closed.");
}

void ChildRecordsetImpl::show() {
    for (size_t i = 0; i < fields_.size(); ++i) {
        fields_[i]->hasCurrent_ = current_ < rows_.size();
        if (current_ < rows_.size()) fields_[i]->current_ = rows_[current_][i];
    }
}

void ChildRecordsetImpl::AddNew() {
    ensureOpen();
    if (!parent_->state_->pending || parent_->state_->closed)
        Refuse(kErrInvalidOperation, kSource, "The values of field '" + parent_->def_->name_ + "' can be added only to a new record.");
    for (const auto& f : fields_) {
        f->assigned_ = false;
        f->refusal_.reset();
        f->pending_ = Stored{};
    }
    state_->pending = true;
}

FieldPtr ChildRecordsetImpl::FieldItem(int ordinal) const {
    ensureOpen();
    return fieldAt(fields_, ordinal);
}

FieldPtr ChildRecordsetImpl::FieldItem(const std::string& name) const {
    ensureOpen();
    return fieldNamed(fields_, name);
}

void ChildRecordsetImpl::Update(int, bool) {
    ensureOpen();
    if (!state_->pending) Refuse(kErrInvalidOperation, kSource, "Update or CancelUpdate without AddNew or Edit.");
    if (!parent_->state_->pending)
        Refuse(kErrInvalidOperation, kSource, "The record of field '" + parent_->def_->name_ + "' is no longer new.");
    for (const auto& f : fields_)
        if (f->refusal_) throw *f->refusal_;
    std::vector<Stored> row;
    for (const auto& f : fields_) row.push_back(f->assigned_ ? f->pending_ : Stored{});
    if (IsAttachmentType(parent_->def_->type_)) {
        if (row[0].kind != Stored::Text || row[0].text.empty())
            Refuse(kErrRequired, kSource, "An attachment needs a file name.");
        if (row[1].isNull()) row[1] = Stored::Txt(extensionOf(row[0].text));
    }
    parent_->children_.push_back(std::move(row));
    state_->pending = false;
}

void ChildRecordsetImpl::CancelUpdate(int) {
    ensureOpen();
    if (!state_->pending) Refuse(kErrInvalidOperation, kSource, "Update or CancelUpdate without AddNew or Edit.");
    state_->pending = false;
}

void ChildRecordsetImpl::Close() {
    state_->closed = true;
    state_->pending = false;
}

void ChildRecordsetImpl::MoveFirst() {
    ensureOpen();
    current_ = 0;
    show();
}

void ChildRecordsetImpl::MoveNext() {
    ensureOpen();
    if (current_ >= rows_.size()) Refuse(kErrNoCurrentRecord, kSource, "No current record.");
    ++current_;
    show();
}

bool ChildRecordsetImpl::EOF_() const {
    ensureOpen();
    return current_ >= rows_.size();
}

long ChildRecordsetImpl::RecordCount() const {
    ensureOpen();
    return static_cast<long>(rows_.size());
}

void StoreChildRows(DbState& db, const std::string& table, const std::string& field, int type, int64_t rowid,
                    const std::vector<std::vector<Stored>>& rows) {
    const bool attachment = IsAttachmentType(type);
    Statement insert(db.db, attachment ? "INSERT OR REPLACE INTO _talmera_attachments (table_name, field_name, row_id, "
                                         "position, file_name, file_type, file_data) VALUES (?, ?, ?, ?, ?, ?, ?)"
                                       : "INSERT OR REPLACE INTO _talmera_complex_values (table_name, field_name, "
                                         "row_id, position, value, modified) VALUES (?, ?, ?, ?, ?, ?)");
    for (size_t k = 0; k < rows.size(); ++k) {
        insert.reset();
        insert.bindText(1, SqliteName(table));
        insert.bindText(2, SqliteName(field));
        insert.bindInt(3, rowid);
        insert.bindInt(4, static_cast<int64_t>(k));
        // A multi-valued Decimal whose real does not give its digits back is kept as its text.
        std::vector<Stored> exact(rows[k].size());
        for (size_t c = 0; c < rows[k].size(); ++c) {
            const bool text = !rows[k][c].exact.empty();
            if (text) exact[c] = Stored::Txt(rows[k][c].exact);
            insert.bind(static_cast<int>(c) + 5, text ? exact[c] : rows[k][c]);
        }
        insert.run(attachment ? "Cannot store an attachment" : "Cannot store a value of a multi-valued field");
    }
}

void StoreExactValue(DbState& db, const std::string& table, const std::string& field, int64_t rowid,
                     const std::string& text) {
    Statement insert(db.db, "INSERT OR REPLACE INTO _talmera_exact_values (table_name, field_name, row_id, value) "
                            "VALUES (?, ?, ?, ?)");
    insert.bindText(1, SqliteName(table));
    insert.bindText(2, SqliteName(field));
    insert.bindInt(3, rowid);
    insert.bindText(4, text);
    insert.run("Cannot store the exact text of a value");
    db.exactValueTables.insert(Fold(table));
}

std::optional<std::string> ExactValue(DbState& db, const std::string& table, const std::string& field, int64_t rowid) {
    Statement select(db.db, "SELECT value FROM _talmera_exact_values WHERE table_name = ? AND field_name = ? AND row_id = ?");
    select.bindText(1, SqliteName(table));
    select.bindText(2, SqliteName(field));
    select.bindInt(3, rowid);
    if (select.step() != SQLITE_ROW) return std::nullopt;
    const Stored v = select.column(0);
    if (v.kind != Stored::Text) return std::nullopt;
    return v.text;
}

void DeleteChildRows(DbState& db, const std::string& table) {
    db.exactValueTables.erase(Fold(table));
    for (const char* metadata : {"_talmera_attachments", "_talmera_complex_values", "_talmera_exact_values"}) {
        Statement remove(db.db, std::string("DELETE FROM ") + metadata + " WHERE table_name = ?");
        remove.bindText(1, SqliteName(table));
        remove.run("Cannot delete the complex values of a table");
    }
}

}  // namespace talmera::dao::sqlite
