// jetwriter: an independent encoder of Jet 3, Jet 4 and ACE database files.
//
// It builds test fixtures, the demo database and benchmark inputs from a plain
// description. It shares no code with engine/: the engine's reader is checked
// against this writer, and every undamaged file it writes is also checked with
// mdbtools, so that writer and reader cannot share one misunderstanding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace jetwriter {

enum class Format { Jet3, Jet4, Ace };

// Column type codes as stored in a table definition.
enum ColumnType : uint8_t {
    kBool = 0x01,
    kByte = 0x02,
    kInt = 0x03,
    kLong = 0x04,
    kCurrency = 0x05,
    kSingle = 0x06,
    kDouble = 0x07,
    kDateTime = 0x08,
    kBinary = 0x09,
    kText = 0x0A,
    kOle = 0x0B,
    kMemo = 0x0C,
    kGuid = 0x0F,
    kDecimal = 0x10,
    kComplex = 0x12,
    kBigInt = 0x13,        // ACE (Access 2016 and later): Large Number, a signed 64-bit integer
    kDateTimeExt = 0x14,   // ACE (Access 2019 and later): Date/Time Extended, 42 bytes of ASCII
};

struct Column {
    std::string name;           // UTF-8; may be empty (a damaged or nameless entry)
    uint8_t type = kLong;
    uint16_t length = 0;        // 0: the type's natural length (text: 255 chars)
    bool autoNumber = false;    // long (incrementing) or GUID auto-number
    bool hyperlink = false;     // memo with the hyperlink flag
    // Jet 4/ACE: a calculated column (second flags byte 0xC0) of the result
    // type `type`. Its value is kept, whatever the type, among the variable
    // columns behind a 20-byte header (16 zero bytes, the value's length);
    // a memo's long value carries the header in its data. Its ResultType and
    // Expression properties are the table's (Table::properties).
    bool calculated = false;
    bool skipped = false;       // Jet 4/ACE: second flags byte 0x20 (entry is not a column)
    uint8_t precision = 18;     // decimal
    uint8_t scale = 0;          // decimal
    std::optional<uint8_t> flagsOverride;  // raw first flags byte, for odd entries
    bool longValueOutOfRow = false;  // memo/OLE values never stay in the row (as Access keeps LvProp)
    // Jet 4/ACE: a fixed-size type kept among the variable columns (as
    // MSysAccessStorage keeps its numbers and dates).
    bool storedVariable = false;
    // Binary of exactly `length` bytes kept in the fixed area (as
    // MSysAccessObjects keeps its chunks).
    bool storedFixed = false;
};

// A cell value. std::monostate is NULL.
//  bool: Yes/No; int64_t: byte, integer, long, currency (already scaled by 10000),
//  large number, complex (the value id); double: single, double, date/time (days
//  since 1899-12-30); std::string: text, memo (UTF-8), decimal (decimal digits
//  with optional sign and point), extended date/time ("YYYY-MM-DD HH:MM:SS" with
//  up to seven decimals, years 1 to 9999); Bytes: binary, OLE object, GUID (16 bytes).
using Bytes = std::vector<uint8_t>;
using Value = std::variant<std::monostate, bool, int64_t, double, std::string, Bytes>;

struct Row {
    std::vector<Value> values;  // one per column of the table (skipped entries included, value ignored)
    // Number of columns the row was written with: a row stored before later
    // columns were added holds only the first N columns (-1: all).
    int storedColumns = -1;
    bool deleted = false;       // slot flagged deleted (0xC000, as Access marks it); bytes stay in place
    // Stored on another data page of the table (slot flagged 0x8000) and reached
    // through a 4-byte pointer in this row's place (slot flagged 0x4000).
    bool overflow = false;
};

struct IndexColumn {
    int column = 0;             // position in Table::columns
    bool descending = false;
};

struct Index {
    std::string name;
    std::vector<IndexColumn> columns;
    bool primary = false;
    bool unique = false;
    bool ignoreNulls = false;
    bool foreignKey = false;    // logical index of type 2 (foreign-key side of a relationship)
};

// ---- Related objects: property blocks, relationships, complex columns -------
// One property of a table or column, as Access keeps it in the catalog's LvProp
// value: its name, DAO data type (1 Yes/No, 2 byte, 3 integer, 4 long, 10 text,
// ...), the raw value bytes and the DDL flag.
struct Property {
    std::string name;
    uint8_t type = 10;
    Bytes value;
    uint8_t ddl = 0;
};
Property textProperty(const std::string& name, const std::string& text);   // UTF-16 text
Property byteProperty(const std::string& name, uint8_t value, uint8_t type = 1);
Property longProperty(const std::string& name, int32_t value);
// The properties of one object: a column (its name) or the table itself.
struct PropertyGroup {
    std::string name;
    bool table = false;
    std::vector<Property> properties;
};
// The whole "MR2" block: signature, name list, then one group per object.
Bytes propertyBlock(const std::vector<PropertyGroup>& groups);

// ---------------------------------------------------------------------------

struct Table {
    std::string name;           // UTF-8; may be empty
    std::vector<Column> columns;
    std::vector<Index> indexes;
    std::vector<Row> rows;
    bool system = false;        // catalog flags 0x80000000 (hidden system object)
    uint8_t tableType = 0x4E;   // 0x4E user table, 0x53 system table
    // Stale pages: freed pages that still carry this table's owner number and
    // old rows, but are not listed in the table's usage map.
    int stalePages = 0;
    int staleRowsPerPage = 5;
    // Stream offsets (from the start of the first definition page, counting a
    // continuation page's bytes from its offset 8) at which the definition is
    // broken onto the next page. Empty: break only when a page is full.
    // (mdbtools reads a definition only when every page but the last is full.)
    std::vector<size_t> definitionBreaks;
    int rowsPerPage = 0;        // 0: as many as fit
    // Rows made on demand, after `rows`: rowSource(i, row) fills row i of
    // generatedRows. Benchmark inputs use it so that millions of rows need not
    // be held at once.
    std::function<void(size_t index, Row& row)> rowSource;
    size_t generatedRows = 0;
    // Related objects: the table's property block (LvProp), and the order of
    // its column entries in the definition (positions in `columns`; empty:
    // column order). Column numbers and row layout stay in column order.
    std::vector<PropertyGroup> properties;
    std::vector<int> descriptorOrder;
};

// ---- Related objects (continued): relationships, complex columns ----------
// One MSysRelationships row: one column pair of a relationship. `object` is
// the related ("many") table, `referencedObject` the primary one.
struct RelationshipRow {
    std::string name;
    std::string object, column;
    std::string referencedObject, referencedColumn;
    uint32_t grbit = 0;        // 1 one-to-one, 2 not enforced, 0x100 cascade updates, 0x1000 cascade deletes,
                               // 0x01000000 left join, 0x02000000 right join
    int32_t columnCount = 1;   // rows that make up the relationship
    int32_t columnIndex = 0;   // this row's place among them
    bool deleted = false;      // slot flagged deleted, bytes in place
};

// A complex column (ACE): the owner table's column of type kComplex holds a
// key per row; its values are rows of the hidden value table, which
// MSysComplexColumns names.
struct ComplexColumn {
    std::string table;
    std::string column;
    std::string valueTable;
};
struct Attachment {
    std::string fileName;
    Bytes content;
    bool compressed = true;    // deflated, as Access stores most files
    // Damage: keep only this many bytes of the deflated stream (0: all).
    size_t deflatedBytesKept = 0;
};
// The value table of an attachment column: one row per (key, attachment).
Table attachmentValueTable(const std::string& owner, const std::string& column,
                           const std::vector<std::pair<uint32_t, Attachment>>& rows);
// The value table of a multi-valued column of valueType (kByte, kInt, kLong,
// kSingle, kDouble, kGuid, kDecimal or kText): one row per (key, value).
Table multiValueTable(const std::string& owner, const std::string& column, uint8_t valueType,
                      const std::vector<std::pair<uint32_t, Value>>& rows);
// An append-only memo column (ACE, AppendOnly set) keeps its earlier values
// in a hidden complex column of the same table, which Access names
// "VersionHistory_" followed by a GUID in capitals. Its value table holds one
// row per version: the memo's text, in a column named as the memo column, and
// the date and time of the change.
struct MemoVersion {
    Value text;       // std::string, or NULL
    Value modified;   // double (days since 1899-12-30), or NULL
};
// The hidden column's name for a GUID of 32 hexadecimal digits.
std::string versionHistoryColumnName(const std::string& guidHex);
// The value table of such a column: one row per (key, version).
Table versionHistoryValueTable(const std::string& owner, const std::string& memoColumn,
                               const std::string& historyColumn,
                               const std::vector<std::pair<uint32_t, MemoVersion>>& rows);
// ---------------------------------------------------------------------------

enum class ObjectKind { Form, Report, Macro, Module, Query, LinkedTable, OdbcLink, DatabaseEntry };

// One row of MSysQueries. Access keeps a saved query not as SQL text but as
// rows of this table, one per clause element, told apart by Attribute:
// 0 the query's own row, 1 its type (Flag 1 select, 2 make-table, 3 append,
// 4 update, 5 delete, 6 crosstab, 7 data definition, 8 pass-through, 9 union),
// 2 a parameter (Name1, type in Flag), 3 options (Flag bits), 5 a source table
// (Name1, alias in Name2), 6 an output column (Expression, alias in Name1),
// 7 a join (Expression, tables in Name1 and Name2, kind in Flag), 8 the
// condition, 9 a grouping, 10 the group condition, 11 an ordering (Name1 "D"
// for descending), 255 the end row. Absent fields are NULL.
struct QueryRow {
    uint8_t attribute = 0;
    std::optional<int> flag;                // Integer column
    std::optional<std::string> name1;
    std::optional<std::string> name2;
    // Memo: kept in the row up to 64 bytes, else on one long-value row, or
    // chained over long-value pages when it does not fit one; Jet 4 and ACE
    // store it compressed (FF FE) when every character fits one byte, as
    // Access does.
    std::optional<std::string> expression;
    // Absent: 4 bytes, the row's number among the query's rows of the same
    // Attribute counted from 1, most significant byte first (as Access).
    std::optional<Bytes> order;
    std::optional<int64_t> lvExtra;         // Jet 4 and ACE only
    bool deleted = false;                   // slot flagged deleted, bytes in place
    bool overflow = false;                  // stored elsewhere, reached by a pointer (Row::overflow)
};

// A catalog entry that is not a local table.
struct CatalogObject {
    std::string name;
    ObjectKind kind = ObjectKind::Form;
    bool system = false;
    // Linked tables
    std::string linkPath;       // the external database path (Database column)
    std::string foreignName;    // the table's name in its source database
    std::string connect;        // connect string
    // Queries: the rows written to MSysQueries (ObjectId = this entry's id),
    // in this order after those of earlier queries, and the query-type bits
    // added to the catalog Flags (16 crosstab, 32 delete, 48 update,
    // 64 append, 80 make-table, 96 data definition, 112 pass-through, 128 union).
    std::vector<QueryRow> queryRows;
    uint32_t queryFlags = 0;
};

// Access's object storage (forms, reports, macros, modules and the code
// project): a compound file, described by its storages and streams.
struct StorageNode {
    std::string path;           // "Forms/0/Blob": names separated by '/'
    bool storage = false;       // a storage (folder); else a stream
    Bytes data;
};

// How the written file is protected. The encryption is the last step of
// write(): the plain image is made first, then every page but the header is
// encoded with its page number mixed into its key, as Access does.
enum class Encryption {
    None,                // pages stored plainly (Jet: a password alone is kept in the header)
    JetRc4,              // Jet 3 / Jet 4: RC4 pages keyed by the header's page key
    OfficeRc4CryptoApi,  // ACE: CryptoAPI RC4, the "standard" encryption of Access 2007
    OfficeAesStandard,   // ACE: ECMA-376 standard encryption, AES block by block
    OfficeAgile,         // ACE: agile encryption (AES-CBC), as Access 2010 and later
};

struct EncryptionSettings {
    Encryption method = Encryption::None;
    // Jet: the database password kept (masked) in the header, which Access
    // asks for but which does not encode the pages. ACE: the password the
    // keys are derived from.
    std::string password;
    uint32_t pageKey = 0x5EC2E7A1;  // the header's page-encoding key (not 0)
    uint32_t keyBits = 0;           // 0: 128 for RC4 and AES standard, 256 for agile
    std::string agileHash = "SHA512";  // SHA1, SHA256, SHA384 or SHA512
    uint32_t spinCount = 100000;    // agile key derivation rounds
    // Salts, verifiers and keys are made from this number: equal settings
    // give equal files.
    uint64_t seed = 1;
};

struct Database {
    Format format = Format::Jet4;
    EncryptionSettings encryption;
    std::vector<Table> tables;
    std::vector<CatalogObject> objects;
    bool addStandardSystemTables = true;  // MSysACEs, MSysQueries, ... as Access has them
    bool addDatabaseEntry = true;         // the "MSysDb" entry
    uint16_t codePage = 1252;             // for Jet 3 8-bit text
    // Jet 4 / ACE: store text (and memo values of at most 1024 characters) in
    // the compressed form (FF FE, one byte per character) whenever every
    // character fits in one byte. Names in the catalog are never compressed.
    bool compressText = false;
    // MSysQueries rows per data page (0: as many as fit), to spread a query's
    // rows over several pages.
    int queryRowsPerPage = 0;
    // Related objects: MSysRelationships rows (needs the standard system
    // tables) and the complex columns MSysComplexColumns lists (ACE).
    std::vector<RelationshipRow> relationships;
    std::vector<ComplexColumn> complexColumns;
    // The object storage. Jet 3 and Jet 4: the compound file cut into chunks,
    // one row of the system table MSysAccessObjects each (241 bytes per
    // chunk in Jet 3, 3992 in Jet 4, numbered from 1; a row 0 as Access
    // keeps one). ACE: one row of MSysAccessStorage per storage and stream.
    std::vector<StorageNode> objectStorage;
    std::vector<uint16_t> missingChunks;  // chunk rows left out (damage)
};

// Where things landed, so that tests can aim damage precisely.
struct TableLayout {
    std::string name;
    uint32_t definitionPage = 0;
    std::vector<uint32_t> definitionPages;  // first page first
    std::vector<uint32_t> dataPages;        // pages listed in the usage map
    std::vector<uint32_t> stalePages;
    uint32_t usageMapPage = 0;
    uint8_t usageMapRow = 0;
    size_t columnEntriesOffset = 0;         // stream offset of the first column entry
    size_t columnEntrySize = 0;             // 25 (Jet 4/ACE) or 18 (Jet 3)
    size_t columnNamesOffset = 0;           // stream offset of the first column name length
};

struct Layout {
    uint32_t pageSize = 0;
    uint32_t pageCount = 0;
    std::vector<uint32_t> catalogPages;     // data pages of MSysObjects
    std::vector<uint32_t> queryPages;       // data pages of MSysQueries (owner page 4)
    std::vector<TableLayout> tables;        // user tables in Database::tables order
    std::vector<uint32_t> objectStoragePages;  // data pages of the chunk table or MSysAccessStorage
    Bytes compoundFile;                     // Jet 3/Jet 4: the compound file the chunks hold
};

struct Damage {
    std::vector<uint32_t> zeroPages;        // fill these pages with zeros
    std::optional<uint8_t> versionByte;     // overwrite the version byte at offset 0x14
    bool zeroCatalogDefinition = false;     // zero page 2 (MSysObjects' definition)
    std::optional<uint64_t> truncateTo;     // cut the file to this many bytes
    struct Flip { uint64_t offset; uint8_t mask; };
    std::vector<Flip> flips;                // XOR bytes
};

// A compound file (version 3) of the nodes: storages may be named before or
// implied by their streams; siblings are linked in the format's name order.
Bytes compoundFile(const std::vector<StorageNode>& nodes);

// The VBA compression of a code project's streams (copy tokens where a
// match of at least three bytes exists).
Bytes vbaCompress(const Bytes& raw);

struct VbaModule {
    std::string name;
    bool classModule = false;   // a form's or report's module, or a class
    std::string source;         // the text (CR LF line ends), 8-bit in code page 1252
};
// The code project's nodes under "VBA": VBAProject with its "PROJECT" text,
// the inner VBA storage with "dir", "_VBA_PROJECT" and one stream per module
// (a cache of `cacheBytes` bytes, then the compressed source), and AcessVBAData.
std::vector<StorageNode> codeProjectNodes(const std::vector<VbaModule>& modules, size_t cacheBytes = 64);

// A folder's name list ("\x03DirData"): object names with their storage numbers.
Bytes folderNameList(const std::vector<std::pair<std::string, uint32_t>>& names);

// An object storage with two forms (one with code), a report with code, a
// macro and a module, and the code project.
std::vector<StorageNode> demoObjectStorage();
std::vector<VbaModule> demoModules();

// Encodes a database. Throws std::invalid_argument for a description that cannot be
// written (a row with the wrong number of values, a value of the wrong kind, ...).
std::vector<uint8_t> write(const Database& db, Layout* layout = nullptr);

// Applies damage to a written image in place.
void applyDamage(std::vector<uint8_t>& image, const Damage& damage, const Layout& layout);

// Writes the image to a file; throws std::runtime_error naming the file on failure.
void saveFile(const std::string& path, const std::vector<uint8_t>& image);

// A small database with every column type and every catalog entry kind: the demo
// database of the README and a convenient fixture.
Database demoDatabase(Format format);

// An ACE database whose table Notes has the append-only memo Remarks: row 1
// with three versions, row 2 NULL now (a version of text, then one of NULL),
// row 3 with no history, row 4 a long text and its one version.
Database appendOnlyMemoDatabase();

// One table, "AllTypes", with every column type the format has: hyperlink,
// GUID, decimals of every scale from 0 to 28 (Jet 4, ACE), large numbers,
// extended dates and a calculated column of each result type with its
// ResultType and Expression (ACE); a row of the smallest values, one of the
// largest, one of NULLs and one of values nearest zero, dates in the years 100
// and 9999, and texts in several scripts (those that fit one byte a character
// are compressed with Database::compressText, the others not).
Table allTypesTable(Format format);

// Benchmark inputs, generated row by row (Table::rowSource).
// "big": Events (`rows` rows of long, date/time, currency, text and Yes/No) and
// Accounts (one row per fifty events).
Database bigDatabase(Format format, size_t rows);
// "bench-rows": one table, Ledger, of `rows` rows with every kind of value a row
// decoder meets: long, text, double, date/time, currency, Yes/No, memo values
// in the row, on one long-value row and chained over pages, and OLE values in
// the row, on one long-value row and over pages.
Database benchRowsDatabase(Format format, size_t rows);

}  // namespace jetwriter
