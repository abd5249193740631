// Table definitions, fields, indexes, properties, queries and relations: what
// DAO checks when they are built and appended.
#include <algorithm>

#include "output/dao/Objects.h"

namespace talmera::dao::sqlite {

void Refuse(int32_t code, const std::string& source, const std::string& description) {
    throw ComError(code, source, description);
}

std::string Fold(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

void RefuseUnwritableName(std::string_view name, const std::string& source, const std::string& what) {
    if (name.find('\0') != std::string_view::npos)
        Refuse(kErrInvalidOperation, source, "The name of " + what + " holds the character U+0000, which SQLite cannot store.");
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

namespace {

const char* const kFieldSource = "DAO.Field";
const char* const kFieldsSource = "DAO.Fields";
const char* const kIndexesSource = "DAO.Indexes";
const char* const kPropertiesSource = "DAO.Properties";

bool knownFieldType(int type) {
    switch (type) {
        case dbBoolean: case dbByte: case dbInteger: case dbLong: case dbCurrency: case dbSingle: case dbDouble:
        case dbDate: case dbBinary: case dbText: case dbLongBinary: case dbMemo: case dbGUID: case dbBigInt:
        case dbDecimal:
            return true;
        default: return type >= dbAttachment && type <= dbVersionHistory;
    }
}

int64_t asInteger(const Variant& v) {
    if (const auto* i = std::get_if<int64_t>(&v)) return *i;
    if (const auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
    auto s = ToStored(FieldShape{dbLong}, v, "property");
    return s.integer;
}

bool asBool(const Variant& v) { return ToStored(FieldShape{dbBoolean}, v, "property").integer != 0; }

std::string asText(const Variant& v) {
    auto s = ToStored(FieldShape{dbMemo}, v, "property");
    return s.text;
}

PropertyPtr createProperty(const std::string& name, int type, const Variant& value, bool ddl) {
    return std::make_shared<UserProperty>(name, type, ConvertPropertyValue(type, value, name), ddl);
}

// Appends a user-defined property to a store, refusing a name the object
// already has (its own properties included).
void appendProperty(PropertyStore& store, const std::vector<std::string>& builtins, const PropertyPtr& property) {
    auto user = std::dynamic_pointer_cast<UserProperty>(property);
    if (!user) Refuse(kErrInvalidOperation, kPropertiesSource, "Only a property made by CreateProperty can be appended.");
    if (user->appended) Refuse(kErrInvalidOperation, kPropertiesSource, "The property '" + user->Name() + "' is already appended.");
    if (user->Name().empty()) Refuse(kErrInvalidOperation, kPropertiesSource, "A property needs a name.");
    for (const std::string& b : builtins)
        if (SameName(b, user->Name()))
            Refuse(kErrObjectExists, kPropertiesSource,
                   "Cannot append. An object with that name already exists in the collection: '" + user->Name() + "'.");
    if (store.find(user->Name()))
        Refuse(kErrObjectExists, kPropertiesSource,
               "Cannot append. An object with that name already exists in the collection: '" + user->Name() + "'.");
    user->appended = true;
    store.items.push_back(user);
}

}  // namespace

// --- properties ------------------------------------------------------------------------

Variant ConvertPropertyValue(int type, const Variant& value, const std::string& name) {
    if (std::holds_alternative<std::monostate>(value)) return value;
    switch (type) {
        case dbBoolean: case dbByte: case dbInteger: case dbLong: case dbCurrency: case dbSingle: case dbDouble:
        case dbDate: case dbText: case dbMemo: case dbGUID: case dbBigInt: case dbDecimal: case dbBinary:
        case dbLongBinary: {
            FieldShape shape;
            shape.type = type;
            try {
                return FromStored(type, ToStored(shape, value, name));
            } catch (const ComError& e) {
                throw ComError(e.code, kPropertiesSource, "Property '" + name + "': " + e.description);
            }
        }
        default: return value;
    }
}

void UserProperty::SetValue(const Variant& value) { value_ = ConvertPropertyValue(type_, value, name_); }

std::shared_ptr<UserProperty> PropertyStore::find(const std::string& name) const {
    for (const auto& p : items)
        if (SameName(p->Name(), name)) return p;
    return nullptr;
}

// --- fields ------------------------------------------------------------------------------

int32_t FieldImpl::Size() const {
    switch (type_) {
        case dbBoolean: case dbByte: return 1;
        case dbInteger: return 2;
        case dbLong: case dbSingle: return 4;
        case dbCurrency: case dbDouble: case dbDate: case dbBigInt: return 8;
        case dbGUID: case dbDecimal: return 16;
        case dbText: return size_ > 0 ? size_ : 255;
        case dbBinary: return size_ > 0 ? size_ : 510;
        default: return size_;
    }
}

bool FieldImpl::locked() const {
    auto t = table_.lock();
    return t && t->appended_;
}

void FieldImpl::SetSize(int32_t size) {
    if (role_ != FieldRole::Table) {
        size_ = size;
        return;
    }
    if (locked())
        Refuse(kErrInvalidOperation, kFieldSource,
               "Invalid operation: the size of field '" + name_ + "' cannot change once its table is appended.");
    if (type_ == dbText && (size < 1 || size > 255))
        Refuse(kErrInvalidOperation, kFieldSource,
               "Invalid field size " + std::to_string(size) + " for the Text field '" + name_ + "' (1 to 255).");
    if (type_ == dbBinary && (size < 1 || size > 510))
        Refuse(kErrInvalidOperation, kFieldSource,
               "Invalid field size " + std::to_string(size) + " for the Binary field '" + name_ + "' (1 to 510).");
    // Fixed-size types keep their size, as in DAO.
    if (type_ == dbText || type_ == dbBinary) size_ = size;
}

void FieldImpl::SetAttributes(int32_t attributes) {
    if (role_ == FieldRole::Table && locked())
        Refuse(kErrInvalidOperation, kFieldSource,
               "Invalid operation: the attributes of field '" + name_ + "' cannot change once its table is appended.");
    attributes_ = attributes;
}

void FieldImpl::constraintChanged() {
    if (role_ != FieldRole::Table) return;
    if (auto t = table_.lock(); t && t->appended_) t->constraintChanged();
}

void FieldImpl::SetDefaultValue(const std::string& value) {
    defaultValue_ = value;
    constraintChanged();
}

void FieldImpl::SetExpression(const std::string& expression) {
    if (role_ == FieldRole::Table && locked())
        Refuse(kErrInvalidOperation, kFieldSource,
               "Invalid operation: the expression of field '" + name_ + "' cannot change once its table is appended.");
    expression_ = expression;
}

void FieldImpl::SetRequired(bool required) {
    required_ = required;
    constraintChanged();
}

void FieldImpl::SetAllowZeroLength(bool allow) {
    allowZeroLength_ = allow;
}

void FieldImpl::SetValidationRule(const std::string& rule) {
    validationRule_ = rule;
    constraintChanged();
}

void FieldImpl::SetValidationText(const std::string& text) { validationText_ = text; }

Variant FieldImpl::Value() const {
    Refuse(kErrInvalidOperation, kFieldSource, "Invalid operation: field '" + name_ + "' is not part of a recordset.");
}

void FieldImpl::SetValue(const Variant&) {
    Refuse(kErrInvalidOperation, kFieldSource, "Invalid operation: field '" + name_ + "' is not part of a recordset.");
}

void FieldImpl::AppendChunk(const Bytes&) {
    Refuse(kErrInvalidOperation, kFieldSource, "Invalid operation: field '" + name_ + "' is not part of a recordset.");
}

FieldShape FieldImpl::shape() const {
    FieldShape s;
    s.type = type_;
    s.size = (type_ == dbText || type_ == dbBinary) ? Size() : 0;
    if (type_ == dbDecimal) {
        auto read = [&](const char* name) -> std::optional<int64_t> {
            auto p = properties_.find(name);
            if (!p) return std::nullopt;
            try {
                return asInteger(p->Value());
            } catch (const ComError&) {
                return std::nullopt;
            }
        };
        if (auto p = read("Precision"); p && *p >= 1 && *p <= 28) s.precision = static_cast<int>(*p);
        if (auto sc = read("Scale"); sc && *sc >= 0 && *sc <= 28) s.scale = static_cast<int>(*sc);
    }
    return s;
}

std::vector<std::string> FieldImpl::builtinNames() const {
    return {"Name",     "Type",          "Size",           "Attributes",     "DefaultValue", "Required",
            "AllowZeroLength", "ValidationRule", "ValidationText", "Expression", "OrdinalPosition"};
}

PropertyPtr FieldImpl::builtin(const std::string& name) const {
    auto self = std::const_pointer_cast<FieldImpl>(shared_from_this());
    auto fixed = [&](int type, Variant v) {
        return std::make_shared<BuiltinProperty>(
            name, type, [v] { return v; },
            [self, name](const Variant&) {
                Refuse(kErrInvalidOperation, kPropertiesSource, "The property '" + name + "' cannot be set.");
            });
    };
    const std::string key = Fold(name);
    if (key == "NAME") return fixed(dbText, name_);
    if (key == "TYPE") return fixed(dbInteger, int64_t{type_});
    if (key == "ORDINALPOSITION") {
        int64_t position = 0;
        if (auto t = table_.lock())
            for (size_t i = 0; i < t->fields_.size(); ++i)
                if (t->fields_[i].get() == this) position = static_cast<int64_t>(i);
        return fixed(dbInteger, position);
    }
    if (key == "SIZE")
        return std::make_shared<BuiltinProperty>(
            "Size", dbLong, [self] { return Variant(int64_t{self->Size()}); },
            [self](const Variant& v) { self->SetSize(static_cast<int32_t>(asInteger(v))); });
    if (key == "ATTRIBUTES")
        return std::make_shared<BuiltinProperty>(
            "Attributes", dbLong, [self] { return Variant(int64_t{self->attributes_}); },
            [self](const Variant& v) { self->SetAttributes(static_cast<int32_t>(asInteger(v))); });
    if (key == "DEFAULTVALUE")
        return std::make_shared<BuiltinProperty>(
            "DefaultValue", dbText, [self] { return Variant(self->defaultValue_); },
            [self](const Variant& v) { self->SetDefaultValue(asText(v)); });
    if (key == "REQUIRED")
        return std::make_shared<BuiltinProperty>(
            "Required", dbBoolean, [self] { return Variant(self->required_); },
            [self](const Variant& v) { self->SetRequired(asBool(v)); });
    if (key == "ALLOWZEROLENGTH")
        return std::make_shared<BuiltinProperty>(
            "AllowZeroLength", dbBoolean, [self] { return Variant(self->allowZeroLength_); },
            [self](const Variant& v) { self->SetAllowZeroLength(asBool(v)); });
    if (key == "VALIDATIONRULE")
        return std::make_shared<BuiltinProperty>(
            "ValidationRule", dbText, [self] { return Variant(self->validationRule_); },
            [self](const Variant& v) { self->SetValidationRule(asText(v)); });
    if (key == "VALIDATIONTEXT")
        return std::make_shared<BuiltinProperty>(
            "ValidationText", dbText, [self] { return Variant(self->validationText_); },
            [self](const Variant& v) { self->SetValidationText(asText(v)); });
    if (key == "EXPRESSION")
        return std::make_shared<BuiltinProperty>(
            "Expression", dbMemo, [self] { return Variant(self->expression_); },
            [self](const Variant& v) { self->SetExpression(asText(v)); });
    return nullptr;
}

PropertyPtr FieldImpl::CreateProperty(const std::string& name, int type, const Variant& value, bool ddl) {
    return createProperty(name, type, value, ddl);
}

void FieldImpl::AppendProperty(const PropertyPtr& property) {
    appendProperty(properties_, builtinNames(), property);
}

int FieldImpl::PropertyCount() const { return static_cast<int>(builtinNames().size() + properties_.items.size()); }

PropertyPtr FieldImpl::PropertyItem(const std::string& name) const {
    if (auto p = builtin(name)) return p;
    if (auto p = properties_.find(name)) return p;
    Refuse(kErrNotFound, kPropertiesSource, "Property not found: '" + name + "' of field '" + name_ + "'.");
}

// --- indexes --------------------------------------------------------------------------

namespace {
void refuseAppendedIndex(const IndexImpl& index) {
    if (index.appended_)
        Refuse(kErrInvalidOperation, "DAO.Index",
               "Invalid operation: index '" + index.name_ + "' cannot change once it is appended.");
}
}  // namespace

void IndexImpl::SetPrimary(bool primary) {
    refuseAppendedIndex(*this);
    primary_ = primary;
}

void IndexImpl::SetUnique(bool unique) {
    refuseAppendedIndex(*this);
    unique_ = unique;
}

void IndexImpl::SetIgnoreNulls(bool ignore) {
    refuseAppendedIndex(*this);
    ignoreNulls_ = ignore;
}

FieldPtr IndexImpl::CreateField(const std::string& name, int type) {
    return std::make_shared<FieldImpl>(name, type, FieldRole::Index);
}

void IndexImpl::AppendField(const FieldPtr& field) {
    refuseAppendedIndex(*this);
    auto f = std::dynamic_pointer_cast<FieldImpl>(field);
    if (!f || f->role_ != FieldRole::Index)
        Refuse(kErrInvalidOperation, kFieldsSource, "Only a field made by the index's CreateField can be appended.");
    for (const auto& existing : fields_)
        if (SameName(existing->name_, f->name_))
            Refuse(kErrObjectExists, kFieldsSource, "Index '" + name_ + "' already has the field '" + f->name_ + "'.");
    fields_.push_back(f);
}

// --- table definitions ----------------------------------------------------------------

FieldPtr TableImpl::CreateField(const std::string& name, int type) {
    return std::make_shared<FieldImpl>(name, type, FieldRole::Table);
}

std::shared_ptr<FieldImpl> TableImpl::findField(const std::string& name) const {
    for (const auto& f : fields_)
        if (SameName(f->name_, name)) return f;
    return nullptr;
}

void TableImpl::AppendField(const FieldPtr& field) {
    auto f = std::dynamic_pointer_cast<FieldImpl>(field);
    if (!f || f->role_ != FieldRole::Table)
        Refuse(kErrInvalidOperation, kFieldsSource, "Only a field made by the table's CreateField can be appended.");
    if (f->appended_)
        Refuse(kErrInvalidOperation, kFieldsSource, "Field '" + f->name_ + "' is already part of a table.");
    if (f->name_.empty()) Refuse(kErrInvalidOperation, kFieldsSource, "A field needs a name.");
    RefuseUnwritableName(f->name_, kFieldsSource, "a field of table '" + name_ + "'");
    if (!knownFieldType(f->type_))
        Refuse(kErrInvalidOperation, kFieldsSource,
               "Invalid field data type " + std::to_string(f->type_) + " for field '" + f->name_ + "'.");
    if (findField(f->name_))
        Refuse(kErrObjectExists, kFieldsSource,
               "Field '" + f->name_ + "' already exists in table '" + name_ + "'.");
    auto database = db();
    if (appended_ && database) database->ensureOpen(kFieldsSource);
    f->table_ = weak_from_this();
    f->appended_ = true;
    fields_.push_back(f);
    if (appended_ && materialised_ && database) {
        // A new column of a table already in the file: an empty table is
        // created again with it; one with rows gets the plain column.
        if (!database->tableHasRows(*this)) {
            database->recreateEmpty(*this);
        } else {
            try {
                // Only what the rows already stored can meet: a Yes/No column
                // is No in them, as Access has it.
                std::string column = QuoteIdentifier(f->name_) + " " + database->declaredType(*f);
                if (f->isTextual()) column += " COLLATE NOCASE";
                if (f->type_ == dbBoolean) column += " NOT NULL DEFAULT 0";
                f->inSchema_ = {};
                f->inSchema_.notNull = f->type_ == dbBoolean;
                execute(database->db, "ALTER TABLE " + database->tableRef(*this) + " ADD COLUMN " + column);
                columnDefinitions_.push_back(column);
            } catch (const ComError&) {
                fields_.pop_back();
                f->appended_ = false;
                f->table_.reset();
                throw;
            }
        }
    }
}

FieldPtr TableImpl::FieldItem(const std::string& name) const {
    if (auto f = findField(name)) return f;
    Refuse(kErrNotFound, kFieldsSource, "Item not found in this collection: field '" + name + "' of table '" + name_ + "'.");
}

FieldPtr TableImpl::FieldItem(int ordinal) const {
    if (ordinal < 0 || ordinal >= static_cast<int>(fields_.size()))
        Refuse(kErrNotFound, kFieldsSource,
               "Item not found in this collection: field " + std::to_string(ordinal) + " of table '" + name_ + "'.");
    return fields_[static_cast<size_t>(ordinal)];
}

IndexPtr TableImpl::CreateIndex(const std::string& name) { return std::make_shared<IndexImpl>(name); }

void TableImpl::SetScratch(bool scratch) {
    if (appended_)
        Refuse(kErrInvalidOperation, "DAO.TableDef", "Table '" + name_ + "' is appended already; it stays as it is.");
    scratch_ = scratch;
}

const IndexImpl* TableImpl::primaryIndex() const {
    for (const auto& i : indexes_)
        if (i->primary_) return i.get();
    return nullptr;
}

bool TableImpl::inPrimaryKey(const FieldImpl& field) const {
    const IndexImpl* pk = primaryIndex();
    if (!pk) return false;
    for (const auto& f : pk->fields_)
        if (SameName(f->name_, field.name_)) return true;
    return false;
}

void TableImpl::AppendIndex(const IndexPtr& index) {
    auto i = std::dynamic_pointer_cast<IndexImpl>(index);
    if (!i) Refuse(kErrInvalidOperation, kIndexesSource, "Only an index made by CreateIndex can be appended.");
    if (i->appended_) Refuse(kErrInvalidOperation, kIndexesSource, "Index '" + i->name_ + "' is already appended.");
    if (linked()) Refuse(kErrInvalidOperation, kIndexesSource, "A linked table takes no index: '" + name_ + "'.");
    if (i->name_.empty()) Refuse(kErrInvalidOperation, kIndexesSource, "An index needs a name.");
    RefuseUnwritableName(i->name_, kIndexesSource, "an index of table '" + name_ + "'");
    for (const auto& existing : indexes_)
        if (SameName(existing->name_, i->name_))
            Refuse(kErrObjectExists, kIndexesSource, "Index '" + i->name_ + "' already exists in table '" + name_ + "'.");
    if (i->fields_.empty())
        Refuse(kErrInvalidOperation, kIndexesSource, "No field defined--cannot append index '" + i->name_ + "'.");
    for (const auto& f : i->fields_)
        if (!findField(f->name_))
            Refuse(kErrNotFound, kIndexesSource,
                   "Item not found in this collection: index '" + i->name_ + "' names field '" + f->name_ +
                       "', which table '" + name_ + "' does not have.");
    if (i->primary_ && primaryIndex())
        Refuse(kErrObjectExists, kIndexesSource, "Primary key already exists in table '" + name_ + "'.");
    if (i->primary_) i->unique_ = true;

    auto database = db();
    if (appended_ && database) database->ensureOpen(kIndexesSource);
    indexes_.push_back(i);
    i->appended_ = true;
    if (appended_ && database) {
        i->sqliteName_ = database->reserveSqliteName(sqliteName_ + "." + i->name_);
        if (materialised_) {
            // Both ways leave the file as it was when they fail (a duplicate
            // among the rows already stored).
            try {
                if (i->primary_) {
                    // SQLite adds no primary key to a table: the table is made again.
                    if (database->tableHasRows(*this)) database->rebuild(*this, {});
                    else database->recreateEmpty(*this);
                } else {
                    database->createIndex(*this, *i);
                }
            } catch (const ComError&) {
                indexes_.pop_back();
                i->appended_ = false;
                database->releaseSqliteName(i->sqliteName_);
                throw;
            }
        }
    }
}

void TableImpl::constraintChanged() {
    auto database = db();
    if (!database || database->closed || !materialised_) return;
    // The rows already stored were not checked against the new constraint;
    // it is kept in the metadata only, as documented.
    if (database->tableHasRows(*this)) return;
    try {
        database->recreateEmpty(*this);
    } catch (const ComError&) {
        // A statement still reading the table: the constraint stays in the metadata.
    }
}

std::vector<std::string> TableImpl::builtinNames() const {
    return {"Name", "Connect", "SourceTableName", "ValidationRule", "ValidationText"};
}

PropertyPtr TableImpl::builtin(const std::string& name) const {
    auto self = std::const_pointer_cast<TableImpl>(shared_from_this());
    const std::string key = Fold(name);
    if (key == "NAME")
        return std::make_shared<BuiltinProperty>(
            "Name", dbText, [self] { return Variant(self->name_); },
            [](const Variant&) { Refuse(kErrInvalidOperation, kPropertiesSource, "A table keeps its name."); });
    if (key == "CONNECT")
        return std::make_shared<BuiltinProperty>(
            "Connect", dbMemo, [self] { return Variant(self->connect_); },
            [self](const Variant& v) { self->SetConnect(asText(v)); });
    if (key == "SOURCETABLENAME")
        return std::make_shared<BuiltinProperty>(
            "SourceTableName", dbText, [self] { return Variant(self->sourceTable_); },
            [self](const Variant& v) { self->SetSourceTableName(asText(v)); });
    if (key == "VALIDATIONRULE")
        return std::make_shared<BuiltinProperty>(
            "ValidationRule", dbText, [self] { return Variant(self->validationRule_); },
            [self](const Variant& v) {
                self->validationRule_ = asText(v);
                if (self->appended_) self->constraintChanged();
            });
    if (key == "VALIDATIONTEXT")
        return std::make_shared<BuiltinProperty>(
            "ValidationText", dbText, [self] { return Variant(self->validationText_); },
            [self](const Variant& v) { self->validationText_ = asText(v); });
    return nullptr;
}

PropertyPtr TableImpl::CreateProperty(const std::string& name, int type, const Variant& value, bool ddl) {
    return createProperty(name, type, value, ddl);
}

void TableImpl::AppendProperty(const PropertyPtr& property) {
    appendProperty(properties_, builtinNames(), property);
}

int TableImpl::PropertyCount() const { return static_cast<int>(builtinNames().size() + properties_.items.size()); }

PropertyPtr TableImpl::PropertyItem(const std::string& name) const {
    if (auto p = builtin(name)) return p;
    if (auto p = properties_.find(name)) return p;
    Refuse(kErrNotFound, kPropertiesSource, "Property not found: '" + name + "' of table '" + name_ + "'.");
}

// --- queries ----------------------------------------------------------------------------

void QueryImpl::SetName(const std::string& name) {
    if (!appended_) {
        name_ = name;
        return;
    }
    auto database = db_.lock();
    if (!database) return;
    database->ensureOpen("DAO.QueryDef");
    if (name.empty()) Refuse(kErrInvalidOperation, "DAO.QueryDef", "A query needs a name.");
    RefuseUnwritableName(name, "DAO.QueryDef", "a query");
    if (!SameName(name, name_) && database->objectNameTaken(name))
        Refuse(kErrObjectExists, "DAO.QueryDef", "Object '" + name + "' already exists.");
    database->dropView(*this);
    name_ = name;
    database->tryCreateView(*this);
}

// The view follows the query's SQL and connect text.
void QueryImpl::remakeView() {
    if (!appended_) return;
    if (auto database = db_.lock(); database && !database->closed) {
        database->dropView(*this);
        database->tryCreateView(*this);
    }
}

void QueryImpl::SetConnect(const std::string& connect) {
    connect_ = connect;
    remakeView();
}

void QueryImpl::SetSQL(const std::string& sql) {
    sql_ = sql;
    remakeView();
}

// --- relations ----------------------------------------------------------------------------

namespace {
void refuseAppendedRelation(const RelationImpl& r) {
    if (r.appended_)
        Refuse(kErrInvalidOperation, "DAO.Relation",
               "Invalid operation: relation '" + r.name_ + "' cannot change once it is appended.");
}
}  // namespace

FieldPtr RelationImpl::CreateField(const std::string& name) {
    return std::make_shared<FieldImpl>(name, 0, FieldRole::Relation);
}

void RelationImpl::SetForeignName(const FieldPtr& field, const std::string& foreignName) {
    refuseAppendedRelation(*this);
    auto f = std::dynamic_pointer_cast<FieldImpl>(field);
    if (!f || f->role_ != FieldRole::Relation)
        Refuse(kErrInvalidOperation, "DAO.Relation", "Only a field made by the relation's CreateField takes a foreign name.");
    f->foreignName_ = foreignName;
}

void RelationImpl::AppendField(const FieldPtr& field) {
    refuseAppendedRelation(*this);
    auto f = std::dynamic_pointer_cast<FieldImpl>(field);
    if (!f || f->role_ != FieldRole::Relation)
        Refuse(kErrInvalidOperation, kFieldsSource, "Only a field made by the relation's CreateField can be appended.");
    for (const auto& existing : fields_)
        if (SameName(existing->name_, f->name_))
            Refuse(kErrObjectExists, kFieldsSource, "Relation '" + name_ + "' already has the field '" + f->name_ + "'.");
    fields_.push_back(f);
}

void RelationImpl::SetAttributes(int32_t attributes) {
    refuseAppendedRelation(*this);
    attributes_ = attributes;
}

}  // namespace talmera::dao::sqlite
