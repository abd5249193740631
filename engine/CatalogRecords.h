// The records the engine builds from the catalog and the table definitions.
// Texts are UTF-8.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace talmera {

// The column type codes a table definition stores (columnInfo::type).
enum JetColumnType : uint8_t {
    kJetBoolean = 0x01,           // Yes/No: the value is the null-mask bit
    kJetByte = 0x02,
    kJetInteger = 0x03,
    kJetLong = 0x04,
    kJetCurrency = 0x05,
    kJetSingle = 0x06,
    kJetDouble = 0x07,
    kJetDateTime = 0x08,
    kJetBinary = 0x09,
    kJetText = 0x0A,
    kJetOle = 0x0B,               // OLE object: a long value
    kJetMemo = 0x0C,              // memo: a long value
    kJetGuid = 0x0F,              // Replication ID
    kJetDecimal = 0x10,
    kJetAttachment = 0x11,
    kJetComplex = 0x12,           // attachment or multi-valued column (ACE): a key into its value table
    kJetBigInt = 0x13,            // Large Number
    kJetDateTimeExtended = 0x14,  // kept as the characters Access stores
};

// One property of a column or table: a name and its value as text.
struct columnProperties {
    std::string name;
    std::string value;
};

// ---- Related objects: complex columns and attachments ----------------------
// One value of a multi-valued column, as found in its hidden value table.
struct ComplexData {
    uint32_t key = 0;            // the key that links the value to a table row
    uint64_t valuePosition = 0;  // file position of the value's bytes
    uint32_t valueLength = 0;    // 0: the fixed width of the value's type
};

// One attachment of an attachment column.
struct colRecordAttachmentInfo {
    std::string fileName;        // name under which the file is stored
    std::string altName;         // the value row's second name text (kept, not saved)
    uint32_t dataLength = 0;     // stored length of the data in bytes
    uint32_t dataPage = 0;       // long-value page where the data starts
    uint32_t key = 0;
    uint32_t dataRow = 0;
    uint64_t inRowPosition = 0;  // file position of data kept in the value row (0: on pages)
};

// One version of an append-only memo, as its hidden version-history column
// keeps it: the text and when it was saved, each possibly NULL.
struct MemoVersionData {
    uint32_t key = 0;
    bool hasText = false;
    std::string text;
    bool textIncomplete = false;  // a long value whose storage broke part-way
    bool hasModified = false;
    double modified = 0;          // days since 30 December 1899
};

// One row of MSysComplexColumns: which hidden value table serves which column.
struct AttachmentInfo {
    uint32_t tableId = 0;
    uint32_t valueTableId = 0;
    std::string columnName;
};

// One MSysRelationships row: one column pair of a relationship.
struct RelationInfo {
    int32_t isUnique = 0;
    int32_t enforceIntegrity = 0;
    int32_t cascadeUpdates = 0;
    int32_t cascadeDeletes = 0;
    int32_t innerJoin = 0;
    int32_t rightJoin = 0;
    int32_t leftJoin = 0;
    std::string tableName;
    std::string foreignTableName;
    std::string columnName;
    std::string foreignColumnName;
    std::string relationName;
    int32_t columnType = 0;
    int32_t columnCount = 0;
};
// ---------------------------------------------------------------------------

// Why a stored name was not kept as it is (columnInfo, tableInfo).
enum class NameRepair : uint8_t {
    None,
    // The stored name was damaged (control characters, NUL, invalid text,
    // longer than Access allows, or running past its definition): a name was
    // generated ("Field" + the column's position, "RecoveredTable" + a number).
    Generated,
    // Another column of the table has the same name: a number was added.
    MadeUnique,
};

// The longest name Access allows for a table, column or index.
inline constexpr size_t kMaxNameCharacters = 64;

struct columnInfo {
    std::string name;
    // How the name was repaired, and the bytes the definition stored for it
    // (for the log; empty when the name was not read at all).
    NameRepair nameRepair = NameRepair::None;
    std::vector<uint8_t> storedName;
    std::string repeatedName;  // MadeUnique: the name another column has
    uint8_t type = 0;
    uint16_t columnNumber = 0;
    uint16_t variableIndex = 0;
    uint16_t fixedOffset = 0;
    uint16_t length = 0;
    bool isFixed = false;
    bool isVariable = false;
    bool isHyperlink = false;
    bool isAutoNumber = false;
    bool isCalculated = false;
    bool isFixedDecimal = false;
    uint8_t precision = 18;
    uint8_t scale = 0;
    uint32_t valueTableId = 0;
    std::vector<columnProperties> properties;
    // Related objects: the property block's AllowMultipleValues, and the
    // values of a complex column read from its value table.
    bool allowsMultipleValues = false;
    std::vector<ComplexData> complexValues;
    std::vector<colRecordAttachmentInfo> attachments;
    // A complex column whose value table holds a memo and a date: the hidden
    // version history of an append-only memo, and its versions.
    bool isVersionHistory = false;
    std::vector<MemoVersionData> versions;
};

struct indexInfo {
    bool isPrimary = false;
    bool isUnique = false;
    bool ignoresNulls = false;
    uint32_t realIndexNumber = 0;
    std::vector<uint16_t> columnNumbers;
    std::vector<uint8_t> columnOrders;
    std::vector<std::string> indexNames;
    std::vector<uint8_t> indexTypes;
};

// One entry of a deleted-row list: the page and the slot's 16-bit entry (or
// the page size for the page's end), and which slot of the page it is.
struct delRecordTableInfo {
    uint64_t pagePosition = 0;
    uint64_t entry = 0;
    uint32_t slot = 0;
};

// What a table of deleted records is named after its source table.
inline constexpr const char kDeletedRecordsSuffix[] = "(deleted records)";

// How one data page that carries a table's owner number was judged
// (CollectTablePages): read as the table's, or set aside, and why.
enum class PageChoice : uint8_t {
    Listed,             // read: the usage map lists it
    NotCopies,          // read: not listed, but its rows are no older copies of rows read
    NoUsableMap,        // read: the usage map cannot be trusted, and its rows fit the table
    Requested,          // read: not listed, and the user asked for such pages
    RowCountReached,    // set aside: the rows read already make the definition's row count
    OlderCopies,        // set aside: its rows' keys (or whole rows) are those of rows read
    ForeignRows,        // set aside: its rows do not fit the table's definition
    Freed,              // set aside: the database's map of free pages lists it
};
inline constexpr size_t kPageChoiceCount = 8;

// The pages of one choice: how many, and the live rows on them.
struct PageTally {
    uint32_t pages = 0;
    uint32_t rows = 0;
};

struct tableInfo {
    std::string name;
    uint32_t definitionPage = 0;
    // The name as the catalog stored it when it was replaced (NameRepair).
    NameRepair nameRepair = NameRepair::None;
    std::vector<uint8_t> storedName;
    // Found from its definition page alone: no readable catalog row names it.
    bool foundWithoutCatalog = false;
    std::vector<columnInfo> columns;
    std::vector<indexInfo> indexes;
    std::vector<uint64_t> pages;          // file positions of the table's data pages
    uint32_t recordCount = 0;             // rows found on its pages (the scan counts them)
    // The row count its definition keeps: what the table held when Access
    // last wrote it, beside what was found. Set only where the definition was
    // read (not for a table of deleted records).
    uint32_t definitionRecordCount = 0;
    bool definitionRecordCountRead = false;
    uint32_t columnCount = 0;
    bool hasVariableColumns = false;
    bool hasAutoNumber = false;
    std::vector<delRecordTableInfo> deletedRows;
    // A table of deleted records (built by BuildDeletedRows): its rows are
    // the deleted entries of deletedRows, not the slots of its pages.
    bool deletedRecords = false;

    // Pages that carry the table's owner number but that its readable usage map
    // does not list: freed pages with rows of older states of the table.
    std::vector<uint64_t> unlistedPages;
    uint32_t unlistedRecordCount = 0;
    bool usageMapRead = false;            // the usage map was readable and consistent
    // How the pages carrying the table's owner number were judged, by choice
    // (PageChoice as the index); all but Listed and NoUsableMap are logged.
    std::array<PageTally, kPageChoiceCount> pageChoices{};
    PageTally& pagesChosen(PageChoice c) { return pageChoices[static_cast<size_t>(c)]; }
    const PageTally& pagesChosen(PageChoice c) const { return pageChoices[static_cast<size_t>(c)]; }
    // Index names the definition stored damaged, and what they became.
    struct RepairedIndexName {
        std::string generated;
        std::vector<uint8_t> stored;
    };
    std::vector<RepairedIndexName> repairedIndexNames;
    // The column names' lengths went out of step (a damaged length) and
    // reading found its way back at the next plausible name.
    bool columnNamesResynchronised = false;
    // Columns whose names were replaced (NameRepair other than None).
    uint32_t renamedColumns() const {
        uint32_t n = 0;
        for (const columnInfo& c : columns) n += c.nameRepair != NameRepair::None ? 1 : 0;
        return n;
    }
    // Catalog row of the table, kept to read the definition again.
    uint64_t catalogPagePosition = 0;
    // Property header of the catalog row (variable column 2)
    uint16_t propertyLength = 0;
    uint16_t propertyFlags = 0;
    uint8_t propertyRow = 0;
    uint32_t propertyPage = 0;
};

struct queryInfo {
    std::string name;
    uint32_t catalogId = 0;
    uint32_t queryFlags = 0;
    std::string sqlText;
    std::string connect;  // a pass-through query's ODBC connect text
};

struct systemTableInfo {
    std::string name;
    uint32_t definitionPage = 0;
    uint32_t propertyPage = 0;
    uint8_t propertyRow = 0;
    uint16_t propertyFlags = 0;
    uint16_t propertyLength = 0;
};

struct LinkedTableInfo {
    std::string linkName;
    std::string foreignName;
    std::string databasePath;
    uint32_t databasePage = 0;
    uint8_t databaseRow = 0;
    uint16_t databaseLength = 0;
    uint16_t databaseFlags = 0;
    uint64_t connectPosition = 0;
};

}  // namespace talmera
