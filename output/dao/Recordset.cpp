// Recordsets: new records are converted field by field as they are assigned
// and stored with one prepared INSERT each, inside the transaction that lasts
// while recordsets are open; reading walks the table in rowid order.
#include <algorithm>
#include <limits>

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
        pending_ = ToStored(shape_, value, def_->name_);
        assigned_ = true;
        refusal_.reset();
    } catch (const ComError& e) {
        // DAO callers often ignore this result; the record remembers the
        // refusal so that Update does not store it without the value.
        assigned_ = false;
        pending_ = Stored{};
        refusal_ = e;
        throw;
    }
}

void RecordsetField::AppendChunk(const Bytes& chunk) {
    needPending();
    const int type = def_->type_;
    if (type != dbMemo && type != dbLongBinary && type != dbBinary)
        Refuse(kErrInvalidOperation, kFieldSource,
               "AppendChunk needs a Memo, OLE Object or Binary field; '" + def_->name_ + "' is " + DataTypeName(type) + ".");
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
    db_->materialise(*table_);
    std::string columns, marks;
    for (const auto& def : table_->fields_) {
        auto f = std::make_shared<RecordsetField>(state_, def, table_->name_);
        f->inPrimaryKey_ = table_->inPrimaryKey(*def);
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
    insert_ = Statement(db_->db, "INSERT INTO " + QuoteIdentifier(table_->sqliteName_) + " (" + columns + ") VALUES (" +
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

FieldPtr RecordsetImpl::FieldItem(int ordinal) const {
    ensureOpen();
    if (ordinal < 0 || ordinal >= static_cast<int>(fields_.size()))
        Refuse(kErrNotFound, "DAO.Fields", "Item not found in this collection: field " + std::to_string(ordinal) + ".");
    return fields_[static_cast<size_t>(ordinal)];
}

FieldPtr RecordsetImpl::FieldItem(const std::string& name) const {
    ensureOpen();
    for (const auto& f : fields_)
        if (SameName(f->def_->name_, name)) return f;
    Refuse(kErrNotFound, "DAO.Fields", "Item not found in this collection: field '" + name + "'.");
}

void RecordsetImpl::discardPending() {
    state_->pending = false;
    for (const auto& f : fields_) {
        f->assigned_ = false;
        f->refusal_.reset();
        f->pending_.kind = Stored::Null;
        f->pending_.text.clear();
        f->pending_.blob.clear();
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
        Statement max(db_->db, "SELECT max(" + QuoteIdentifier(def.name_) + ") FROM " + QuoteIdentifier(table_->sqliteName_));
        int64_t next = 1;
        if (max.step() == SQLITE_ROW && sqlite3_column_type(max.get(), 0) != SQLITE_NULL) next = max.integer(0) + 1;
        def.nextAutoNumber_ = std::max<int64_t>(next, 1);
    }
    return *def.nextAutoNumber_;
}

void RecordsetImpl::Update(int, bool) {
    ensureOpen();
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
    Refuse(kErrGeneric, kSource, "The record was not stored in table '" + table + "': " + message);
}

void RecordsetImpl::Close() {
    if (state_->closed) return;
    discardPending();
    state_->closed = true;
    insert_ = Statement();
    select_ = Statement();
    for (const auto& f : fields_) f->hasCurrent_ = false;
    --table_->openRecordsets_;
    db_->endWrite();
}

void RecordsetImpl::readRow() const {
    const int rc = select_.step();
    if (rc == SQLITE_ROW) {
        eof_ = false;
        const int offset = rowid_.empty() ? 0 : 1;
        for (size_t i = 0; i < fields_.size(); ++i) {
            fields_[i]->current_ = select_.column(static_cast<int>(i) + offset);
            fields_[i]->hasCurrent_ = true;
        }
        return;
    }
    eof_ = true;
    for (const auto& f : fields_) f->hasCurrent_ = false;
    select_.reset();
    if (rc != SQLITE_DONE) sqliteFailure(db_->db, "Cannot read table '" + table_->name_ + "'");
}

void RecordsetImpl::position() const {
    if (!select_) {
        std::string columns;
        for (const auto& f : fields_) columns += (columns.empty() ? "" : ", ") + QuoteIdentifier(f->def_->name_);
        const std::string order = rowid_.empty() ? "" : " ORDER BY " + rowid_;
        select_ = Statement(db_->db, "SELECT " + (rowid_.empty() ? "" : rowid_ + ", ") + columns + " FROM " +
                                         QuoteIdentifier(table_->sqliteName_) + order);
    }
    select_.reset();
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
    Statement count(db_->db, "SELECT count(*) FROM " + QuoteIdentifier(table_->sqliteName_));
    if (count.step() != SQLITE_ROW) sqliteFailure(db_->db, "Cannot count the records of '" + table_->name_ + "'");
    return static_cast<long>(count.integer(0));
}

}  // namespace talmera::dao::sqlite
