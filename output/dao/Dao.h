// The output database interface: the objects and operations of Microsoft DAO
// that the save uses (engine, database, table definitions, fields, indexes,
// properties, recordsets, query definitions, relations), as C++ interfaces.
//
// Failure model: an operation the engine refuses throws ComError (a result
// code, a source and a description), as a DAO call raises a COM error; the
// callers catch it, format it and go on with the next object. Operations whose
// result DAO callers ignore (SetAttributes, SetValue) may still throw; callers
// that ignore them catch and drop.
//
// The embedded implementation (SqliteEngine.h) writes a SQLite database; other
// back ends (a native Jet/ACE writer, real DAO on Windows) plug in behind the
// same interface.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "output/dao/ComError.h"

namespace talmera::dao {

// Result codes the engine raises: DAO's error numbers as HRESULTs
// (0x800A0000 + number).
constexpr int32_t DaoError(int number) { return static_cast<int32_t>(0x800A0000u + static_cast<uint32_t>(number)); }
inline const int32_t kErrGeneric = DaoError(3000);            // reserved error
inline const int32_t kErrObjectExists = DaoError(3012);       // object already exists
inline const int32_t kErrNoCurrentRecord = DaoError(3021);    // no current record
inline const int32_t kErrDuplicate = DaoError(3022);          // duplicate values in a unique index
inline const int32_t kErrBadPath = DaoError(3044);            // not a valid path / cannot create the file
inline const int32_t kErrTooSmall = DaoError(3163);           // the field is too small for the data
inline const int32_t kErrDatabaseExists = DaoError(3204);     // the database file already exists
inline const int32_t kErrInvalidOperation = DaoError(3219);   // invalid operation
inline const int32_t kErrNotFound = DaoError(3265);           // item not found in this collection
inline const int32_t kErrRequired = DaoError(3314);           // a required field has no value
inline const int32_t kErrZeroLength = DaoError(3315);         // a zero-length text where the field allows none
inline const int32_t kErrValidation = DaoError(3317);         // a validation rule refused the value
inline const int32_t kErrOverflow = DaoError(3349);           // a number outside the range of the field's type
inline const int32_t kErrConversion = DaoError(3421);         // data type conversion error
// The file itself could not be written: nothing written since the last
// commit is certain to be in it, and nothing more can be.
inline const int32_t kErrDiskFull = DaoError(3026);           // not enough space on disk
inline const int32_t kErrResources = DaoError(3035);          // system resources exceeded (memory)
inline const int32_t kErrDiskIO = DaoError(3043);             // disk or network error

// A failure of the file rather than a refusal of one object: the save cannot
// go on, and what it wrote cannot be trusted.
inline bool IsWriteFailure(int32_t code) { return code == kErrDiskFull || code == kErrDiskIO || code == kErrResources; }

// Field data types (DAO's numbers).
enum DataType : int {
    dbBoolean = 1,
    dbByte = 2,
    dbInteger = 3,
    dbLong = 4,
    dbCurrency = 5,
    dbSingle = 6,
    dbDouble = 7,
    dbDate = 8,
    dbBinary = 9,
    dbText = 10,
    dbLongBinary = 11,
    dbMemo = 12,
    dbGUID = 15,
    dbBigInt = 16,
    dbDecimal = 20,
    dbAttachment = 101,
    dbComplexByte = 102,
    dbComplexInteger = 103,
    dbComplexLong = 104,
    dbComplexSingle = 105,
    dbComplexDouble = 106,
    dbComplexGUID = 107,
    dbComplexDecimal = 108,
    dbComplexText = 109,
    // Not a DAO constant: the versions of an append-only memo, kept by
    // Access in a hidden complex column. Each has its text ("Value") and the
    // date and time it was saved ("DateModified").
    dbVersionHistory = 110,
};

// Field attributes.
inline constexpr int32_t dbFixedField = 1;
inline constexpr int32_t dbDescending = 1;  // on an index field
inline constexpr int32_t dbAutoIncrField = 16;
inline constexpr int32_t dbHyperlinkField = 0x8000;

// CreateDatabase options: the format of the output.
inline constexpr int dbVersion30 = 32;   // Jet 3
inline constexpr int dbVersion40 = 64;   // Jet 4
inline constexpr int dbVersion120 = 128; // ACE

// A value: Null, or one of these. Text assigned to a typed field is converted
// by the engine (numbers, dates, GUIDs); typed values are stored as given.
struct Currency {
    int64_t tenThousandths = 0;
};
struct Decimal {
    std::string digits;  // exact decimal text: optional "-", digits, optional "." and digits
};
struct Date {
    double days = 0;     // days since 30 December 1899; the fraction is the time of day
};
using Bytes = std::vector<uint8_t>;
using Variant = std::variant<std::monostate, bool, int64_t, double, std::string, Bytes, Currency, Decimal, Date>;

class Property {
public:
    virtual ~Property() = default;
    virtual std::string Name() const = 0;
    virtual int Type() const = 0;
    virtual Variant Value() const = 0;
    virtual void SetValue(const Variant& value) = 0;
};
using PropertyPtr = std::shared_ptr<Property>;

// Objects that carry user-defined properties (fields, table definitions).
class PropertyOwner {
public:
    virtual ~PropertyOwner() = default;
    virtual PropertyPtr CreateProperty(const std::string& name, int type, const Variant& value, bool ddl) = 0;
    // Throws ComError when a property of that name exists.
    virtual void AppendProperty(const PropertyPtr& property) = 0;
    virtual void RefreshProperties() = 0;
    virtual int PropertyCount() const = 0;
    virtual PropertyPtr PropertyItem(const std::string& name) const = 0;  // throws kErrNotFound
};

class Recordset;
class Field;

// SetValueFrom could not read its source's value: the read failed, not the
// assignment (nothing was assigned).
struct FieldReadError : ComError {
    explicit FieldReadError(const ComError& error) : ComError(error) {}
};

class Field : public PropertyOwner {
public:
    virtual std::string Name() const = 0;
    virtual int Type() const = 0;
    virtual int32_t Size() const = 0;
    virtual void SetSize(int32_t size) = 0;
    virtual int32_t Attributes() const = 0;
    virtual void SetAttributes(int32_t attributes) = 0;
    virtual std::string DefaultValue() const = 0;
    virtual void SetDefaultValue(const std::string& value) = 0;
    virtual void SetExpression(const std::string& expression) = 0;  // calculated field
    virtual bool Required() const = 0;
    virtual void SetRequired(bool required) = 0;
    virtual bool AllowZeroLength() const = 0;
    virtual void SetAllowZeroLength(bool allow) = 0;
    virtual void SetValidationRule(const std::string& rule) = 0;
    virtual void SetValidationText(const std::string& text) = 0;

    // In a recordset, the field of the current record.
    virtual Variant Value() const = 0;
    virtual void SetValue(const Variant& value) = 0;
    virtual void AppendChunk(const Bytes& chunk) = 0;
    // DAO's `target = source` between two recordsets' fields: this field of
    // the pending record takes the value of `source` on its current record,
    // as SetValue(source.Value()) would. An engine may hand the stored value
    // over as it is where that gives the same result. A failure to read the
    // source raises FieldReadError; a value this field refuses raises what
    // SetValue raises.
    virtual void SetValueFrom(const Field& source) {
        Variant value;
        try {
            value = source.Value();
        } catch (const FieldReadError&) {
            throw;
        } catch (const ComError& error) {
            throw FieldReadError(error);
        }
        SetValue(value);
    }

    // ---- Complex fields: attachments (101), multi-valued fields (102 to 109), version history (110) ----
    // In a recordset, the values of such a field are a recordset of their own:
    // fields "FileName", "FileType" and "FileData" of an attachment field,
    // "Value" of a multi-valued one, "Value" and "DateModified" of a version history. Rows added to it while the record is new
    // are stored with the record by its Update (and dropped by CancelUpdate);
    // on a current record it reads the record's stored values. Other fields
    // refuse.
    virtual std::shared_ptr<Recordset> ChildRecordset() {
        throw ComError(kErrInvalidOperation, "DAO.Field", "Field '" + Name() + "' holds a single value.");
    }
};
using FieldPtr = std::shared_ptr<Field>;

class Index {
public:
    virtual ~Index() = default;
    virtual std::string Name() const = 0;
    virtual void SetPrimary(bool primary) = 0;
    virtual void SetUnique(bool unique) = 0;
    virtual void SetIgnoreNulls(bool ignore) = 0;
    virtual FieldPtr CreateField(const std::string& name, int type) = 0;
    virtual void AppendField(const FieldPtr& field) = 0;
};
using IndexPtr = std::shared_ptr<Index>;

class TableDef : public PropertyOwner {
public:
    virtual std::string Name() const = 0;
    virtual FieldPtr CreateField(const std::string& name, int type) = 0;
    // Throws ComError for a second field of the same name.
    virtual void AppendField(const FieldPtr& field) = 0;
    virtual int FieldCount() const = 0;
    virtual FieldPtr FieldItem(const std::string& name) const = 0;  // throws kErrNotFound
    virtual FieldPtr FieldItem(int ordinal) const = 0;
    virtual void RefreshFields() = 0;
    virtual IndexPtr CreateIndex(const std::string& name) = 0;
    // Throws ComError for an index without fields, on a missing field, or a second primary key.
    virtual void AppendIndex(const IndexPtr& index) = 0;
    // Linked tables
    virtual void SetConnect(const std::string& connect) = 0;
    virtual void SetSourceTableName(const std::string& name) = 0;
    // A scratch table: filled, read back and deleted again while the database
    // is written. An engine may keep its rows apart from the database file,
    // so that they take no room in it once the table is deleted; a scratch
    // table that still exists when the database is closed is kept in the file
    // as any other table. Set before TableDefs.Append; other engines may
    // ignore it.
    virtual void SetScratch(bool scratch) { (void)scratch; }
};
using TableDefPtr = std::shared_ptr<TableDef>;

enum RecordsetType { dbOpenTable = 1, dbOpenDynaset = 2 };

class Recordset {
public:
    virtual ~Recordset() = default;
    virtual void AddNew() = 0;
    virtual int FieldCount() const = 0;
    virtual FieldPtr FieldItem(int ordinal) const = 0;
    virtual FieldPtr FieldItem(const std::string& name) const = 0;
    // Stores the pending record; throws ComError when the engine refuses it
    // (a duplicate in a unique index, a required value missing, a value that
    // does not fit its field, a validation rule). The record is then still pending.
    virtual void Update(int type = 1, bool force = false) = 0;
    virtual void CancelUpdate(int type = 2) = 0;
    virtual void Close() = 0;
    // Reading (the scratch-table move)
    virtual void MoveFirst() = 0;
    virtual void MoveNext() = 0;
    virtual bool EOF_() const = 0;
    virtual long RecordCount() const = 0;
    // The scratch-table move in bulk: stores up to `limit` records of
    // `source`, from its current one on, as new records of this recordset and
    // moves `source` past them, exactly as AddNew, SetValueFrom of each field
    // from the source field of the same ordinal and Update would, record by
    // record. An engine does it only where it can be sure of that result for
    // every one of them; otherwise (a record it would refuse, a value it
    // would convert, fields not paired one to one) it stores nothing, leaves
    // both recordsets as they were and returns 0, and the caller moves those
    // records one by one. Returns how many records it stored.
    virtual long AppendFrom(Recordset& source, long limit) {
        (void)source;
        (void)limit;
        return 0;
    }
};
using RecordsetPtr = std::shared_ptr<Recordset>;

class QueryDef {
public:
    virtual ~QueryDef() = default;
    virtual std::string Name() const = 0;
    virtual void SetName(const std::string& name) = 0;
    virtual std::string SQL() const = 0;
    virtual void SetSQL(const std::string& sql) = 0;
    // A pass-through query's ODBC connect text: its SQL runs on that source.
    virtual std::string Connect() const = 0;
    virtual void SetConnect(const std::string& connect) = 0;
};
using QueryDefPtr = std::shared_ptr<QueryDef>;

class Relation {
public:
    virtual ~Relation() = default;
    virtual FieldPtr CreateField(const std::string& name) = 0;
    virtual void SetForeignName(const FieldPtr& field, const std::string& foreignName) = 0;
    virtual void AppendField(const FieldPtr& field) = 0;
    virtual void SetAttributes(int32_t attributes) = 0;
};
using RelationPtr = std::shared_ptr<Relation>;

// What a save recovered and lost, as the output keeps it beside its tables
// (the embedded engine: the metadata tables _talmera_report and
// _talmera_report_objects). Counts of -1 are unknown.
struct RecoveryRows {
    struct Table {
        std::string name, outputName;
        int64_t expectedRows = -1, recoveredRows = 0, lostRows = -1, unreadablePages = 0, refusedRows = 0,
                partialValues = 0, deletedRows = 0;
        std::vector<std::string> renamedColumns;
        bool saved = false;
        std::vector<std::string> problems;
    };
    struct Object {
        std::string kind, name;
        bool saved = false;
        std::vector<std::string> problems;
    };
    std::string source;
    bool complete = false;
    bool stopped = false;
    int64_t rowsLost = 0, tablesLost = 0;
    std::vector<Table> tables;
    std::vector<Object> objects;
};

class Database {
public:
    virtual ~Database() = default;
    virtual TableDefPtr CreateTableDef(const std::string& name) = 0;
    // Throws ComError for a second table of the same name or a table without fields.
    virtual void AppendTableDef(const TableDefPtr& table) = 0;
    virtual TableDefPtr TableDefItem(const std::string& name) const = 0;  // throws kErrNotFound
    virtual int TableDefCount() const = 0;
    virtual void DeleteTableDef(const std::string& name) = 0;
    virtual void RefreshTableDefs() = 0;
    virtual RecordsetPtr OpenRecordset(const std::string& table, int type = dbOpenDynaset, int options = 2,
                                       int lock = 3) = 0;
    virtual QueryDefPtr CreateQueryDef(const std::string& name, const std::string& sql) = 0;
    virtual void AppendQueryDef(const QueryDefPtr& query) = 0;
    virtual RelationPtr CreateRelation(const std::string& name, const std::string& table,
                                       const std::string& foreignTable, int32_t attributes) = 0;
    virtual void AppendRelation(const RelationPtr& relation) = 0;
    // Kept with the file when it is closed; a later call replaces it. An
    // engine without a place for it keeps nothing.
    virtual void SetRecoveryReport(const RecoveryRows&) {}
    // Throws ComError when the file cannot be completed (IsWriteFailure: it
    // could not be written); a refusal of one object is not such a failure.
    virtual void Close() = 0;
};
using DatabasePtr = std::shared_ptr<Database>;

class Engine {
public:
    virtual ~Engine() = default;
    // Creates a new database file; throws ComError when the file exists or
    // cannot be created. option: dbVersion30, dbVersion40 or dbVersion120.
    virtual DatabasePtr CreateDatabase(const std::string& path, const std::string& locale, int option) = 0;
};
using EnginePtr = std::shared_ptr<Engine>;

}  // namespace talmera::dao
