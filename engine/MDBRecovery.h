// The repair engine: one object per selected file. It reads the damaged file
// itself, page by page, and builds the lists of tables, queries, links and other
// objects that the front ends show and the save writes.
//
// The operations are grouped by what they read, one source file each:
//   DatabaseFile.cpp     open, layout, page scan, page lists, row-offset tables
//   Catalog.cpp          the object catalog rows and the user-table check
//   TableDefinition.cpp  column entries, column names and indexes
//   UsageMap.cpp         a table's usage map (which pages it really owns)
//   DeletedRows.cpp      deleted-row lists
//   related/             property blocks, relationships, links, complex columns
#pragma once

#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/CatalogRecords.h"
#include "engine/EncryptedSource.h"
#include "engine/PageFile.h"
#include "engine/RowValue.h"
#include "output/dao/Dao.h"

namespace talmera {

struct CQuorvinAccessRecoveryApp;
class IMessageReceiver;
struct AccessObjectsState;
struct tagObjectDetail;
struct ObjectsListing;

// What the readers passed over, for the log: damage is reported, not hidden.
struct ScanStatistics {
    uint64_t pagesScanned = 0;
    uint64_t partialPageBytes = 0;       // bytes of a last, incomplete page
    uint64_t catalogRowsSkipped = 0;     // catalog rows that could not be understood
    uint64_t tablesRejected = 0;         // table entries whose definition is unreadable
    uint64_t definitionsCut = 0;         // definitions whose page chain broke
    uint64_t unlistedPages = 0;          // pages set aside: not in their table's usage map
    uint64_t unlistedRows = 0;
    uint64_t usageMapsUnreadable = 0;    // tables whose usage map could not be trusted
    // Rows and values (counted while rows are decoded)
    uint64_t rowsUnreadable = 0;         // slots that held no decodable row
    uint64_t valuesIncomplete = 0;       // long values whose storage broke part-way
    int layoutAttempts = 0;
};

class CMDBRecovery {
public:
    explicit CMDBRecovery(CQuorvinAccessRecoveryApp& app);
    ~CMDBRecovery();
    CMDBRecovery(const CMDBRecovery&) = delete;
    CMDBRecovery& operator=(const CMDBRecovery&) = delete;

    CQuorvinAccessRecoveryApp& app;

    // ---- Source file ------------------------------------------------------
    PageFile databaseFile;
    bool fileOpened = false;
    std::string sourcePath;
    uint64_t fileLength = 0;
    uint16_t pageSize = 2048;
    bool jet4Layout = false;
    bool aceFormat = false;
    uint32_t rowCountOffset = 8;
    uint32_t textUnit = 1;
    uint8_t versionByte = 0;
    // How the file is protected, and whether its pages could be read.
    SourceProtection protection;

    // ---- Page lists -------------------------------------------------------
    std::vector<uint64_t> otherDataPages;
    std::vector<uint64_t> queryCatalogPages;
    std::vector<uint64_t> relationCatalogPages;
    std::vector<uint64_t> catalogPages;   // the object catalog's own data pages
    std::vector<uint16_t> currentPageRows;
    std::vector<uint16_t> pageBoundaries;
    uint64_t currentPagePosition = 0;
    tableInfo* currentTable = nullptr;

    // ---- Catalog results --------------------------------------------------
    std::deque<tableInfo> tables;          // stable references, indexed by position
    std::vector<queryInfo> queries;
    std::vector<systemTableInfo> systemTables;
    std::vector<LinkedTableInfo> linkedTables;
    uint32_t storageTableId = 0;
    uint32_t tableOrdinal = 0;
    uint32_t tdefRowCount = 0;
    std::vector<uint32_t> skippedColumns;
    uint32_t unnamedTableCounter = 0;
    uint32_t complexColumnsTableId = 0;

    // ---- Messages ---------------------------------------------------------
    IMessageReceiver* mainWindow = nullptr;

    ScanStatistics statistics;

    // ---- Database file and pages (DatabaseFile.cpp) -----------------------
    bool OpenDatabaseFile();
    // Reads the header's protection facts; for an encrypted file asks the
    // receiver for the password where one is needed and puts the page decoder
    // under the page file (EncryptedSource.cpp). False when the pages cannot
    // be read (protection.lock says why).
    bool UnlockSource();
    // Open, page scan and catalog scan. Nonzero when the catalog yielded at
    // least one table, link or saved query.
    int ScanFile();
    bool CollectTablePages(tableInfo& table);
    uint32_t LoadPageRows(size_t tablePosition, uint64_t pagePosition);

    // ---- Object catalog (Catalog.cpp) ---------------------------------------
    int ScanCatalogPage(uint64_t pagePosition);
    // Accepts a readable user table; sets tdefRowCount and definitionCursor.
    bool CheckUserTable(const std::string& name, uint32_t catalogId);

    // ---- Table definitions (TableDefinition.cpp) ------------------------------
    void ReadTableDefinition(uint32_t catalogId);
    void ReadTableDefinitionInto(tableInfo& table, uint32_t catalogId);
    // The two later stages of a definition, reading on from where the column
    // entries ended (stream is the definition reader of TableDefinition.cpp).
    void ReadColumnNames(tableInfo& table, void* stream, uint32_t entryCount, uint32_t realIndexes,
                         uint32_t logicalIndexes);
    void ReadIndexes(tableInfo& table, void* stream, uint32_t realIndexes, uint32_t logicalIndexes);

    // ---- Rows (RowDecoding.cpp) ------------------------------------------------
    // Decodes one slot of the page loaded last by LoadPageRows, or with
    // fromDeletedList one entry of the current table's deleted-row list. In a
    // preview the texts go to currentRowValues; otherwise the values are kept
    // in lastRowValues for the record transfer. Returns 1 when a row was decoded.
    int DecodeRow(size_t slot, bool fromDeletedList);
    // The decoder itself. readLongValues: follow long-value chains and read
    // OLE objects (a save does; a preview shows placeholders instead).
    // makeText: fill the preview texts (a save needs only the typed values).
    // values are reused: pass the same vector row after row.
    bool DecodeRowValues(size_t slot, bool fromDeletedList, bool readLongValues, std::vector<RowValue>& values,
                         bool makeText = true);
    // The row decoder's working buffers, kept from row to row.
    std::vector<uint32_t> frameOffsets, frameVarStart, frameVarLength;
    std::vector<RowValue> lastRowValues;
    uint32_t recordsWritten = 0;

    // ---- Long values (LongValues.cpp) -------------------------------------------
    // A memo column's bytes (its 12-byte header and what follows) to text.
    std::string ReadMemoValue(const uint8_t* column, size_t size, bool followChain, RowValue& value);
    std::string ReadLongTextSingle(uint64_t pagePosition, uint32_t length, uint8_t row);
    std::string ReadLongTextChain(uint64_t pagePosition, uint8_t row, uint32_t length, bool& incomplete);
    void ReadLongBinarySingle(uint64_t pagePosition, uint32_t length, uint8_t row, std::vector<uint8_t>& buffer);
    void ReadLongBinaryChain(uint64_t pagePosition, uint8_t row, uint32_t length, std::vector<uint8_t>& buffer,
                             bool& incomplete);
    // Text bytes of a text or memo value per layout (compressed, UCS-2, code page).
    std::string DecodeTextBytes(const uint8_t* data, size_t size) const;
    // Engine flags of the single-page readers: a calculated value carries a
    // 16-byte header and a 4-byte length; the code-project reader shifts the
    // row entry or the start by 4.
    bool calculatedValue = false;
    bool entryShift = false;
    bool startShift = false;

    // ---- Output database (output/OutputDatabase.cpp, FieldProperties.cpp,
    //      ScratchTable.cpp) and record transfer (engine/RecordTransfer.cpp) ----
    // The objects of one output database; two sets exist, chosen by aceFormat.
    struct OutputSet {
        dao::EnginePtr engine;
        dao::DatabasePtr database;
        dao::TableDefPtr tableDef;
        dao::FieldPtr field;
        dao::IndexPtr index;
        dao::FieldPtr indexField;
        dao::PropertyPtr property;
        dao::RecordsetPtr recordset;
        dao::QueryDefPtr queryDef;
    };
    OutputSet mdbOutput;
    OutputSet accdbOutput;
    OutputSet& Output() { return aceFormat ? accdbOutput : mdbOutput; }
    // Makes the output engine; set by the front end (the embedded SQLite
    // engine, dao::CreateSqliteEngine), so that the engine knows no back end.
    std::function<dao::EnginePtr()> outputEngineFactory;
    std::string outputPath;
    bool saveMode = false;
    // Per-save flags the tree reads to know what UM_OBJECT_SAVED is about.
    bool savingTables = false;
    bool savingQueries = false;
    bool savingForms = false;
    bool savingReports = false;
    bool savingMacros = false;
    bool savingModules = false;
    bool savingLinkedTables = false;
    bool savingDone = false;
    // Output names given to the tables of this save (a damaged catalog may
    // hold two tables of one name: the second is written under another name).
    std::vector<std::string> outputTableNames;  // parallel to tables; empty when not created
    std::vector<std::pair<std::string, std::string>> renamedTables;  // (source name, output name)
    // Errors of output calls: formatted, kept for the log's counts, never shown.
    std::vector<std::string> outputErrors;
    uint32_t recordsRefused = 0;

    // receiver: asks the overwrite question and the new location.
    int StartOutputDatabase(IMessageReceiver* receiver);
    int CreateOutputTables();
    void CreateOutputIndexes(const tableInfo& table, const std::string& outputName);
    int CloseOutputDatabase();
    void ApplyFieldProperties(const tableInfo& table, const std::string& outputName);
    void PrepareScratchTable(const std::string& scratchName, const tableInfo& table);
    // Returns true when every record was moved and the scratch table deleted.
    bool MoveScratchRecords(const std::string& scratchName, const std::string& tableName);
    // Writes one decoded row into the open recordset (the save's half of DecodeRow).
    void TransferRow(const tableInfo& table, const std::vector<RowValue>& values);
    void NoteOutputError(const dao::ComError& error);
    // The output field of each column of the table being written.
    struct TransferFields {
        const dao::Recordset* recordset = nullptr;
        const tableInfo* table = nullptr;
        std::vector<dao::FieldPtr> fields;
    } transferFields;
    // The time-stamped proposal for a new output name beside an existing one.
    static std::string ProposeNewLocation(const std::string& existing, std::time_t when);

    // ---- Later readers --------------------------------------------------------
    void ReadTableProperties(tableInfo& table);  // related/PropertyBlocks.cpp
    void BuildDeletedRows();  // DeletedRows.cpp
    void ReadComplexColumns(uint32_t catalogId);  // related/ComplexColumns.cpp
    bool LinkComplexColumns();
    void ReadComplexValues();
    void ReadSavedQueries();
    void ReadRelationships();  // related/Relationships.cpp
    void FetchLinkPaths();     // related/LinkedTables.cpp
    void SaveLinkedTables();
    bool SaveQuery(size_t position);
    void SaveRelationships();

    // ---- Related objects (related/*.cpp) ----------------------------------------
    // Relationship rows (ReadRelationships), one per column pair.
    std::vector<RelationInfo> relations;
    // MSysComplexColumns rows (ReadComplexColumns).
    std::vector<AttachmentInfo> complexColumns;
    // The property reader's redirection to a complex column (ComplexFieldType).
    bool redirectActive = false;
    std::string redirectColumn;
    std::vector<std::pair<uint32_t, std::string>> redirectedColumns;  // (table id, column) read this scan
    // What these readers passed over or could only read in part, for the log.
    struct RelatedStatistics {
        uint64_t propertyBlocksUnreadable = 0;  // blocks without the signature or cut short
        uint64_t relationRowsSkipped = 0;       // rows without five texts or with no column count
        uint64_t complexRowsSkipped = 0;        // value-table rows of no known shape
        uint64_t attachmentsIncomplete = 0;     // data cut short or not fully inflated
    } relatedStatistics;
    // Table and column property block (the catalog row's long-value header).
    void ReadPropertyBlock(uint8_t row, uint32_t page, uint16_t length, uint16_t flags, tableInfo& table);
    // The Connect text of a link: its value header sits 4 bytes after position.
    std::string ReadConnectValue(uint64_t position) const;
    // A link's long value (UTF-16 text) on page/row; false with mr2 set when
    // the chain pointer turned out to be a property-block signature.
    bool ReadLinkLongValue(uint32_t page, uint8_t row, uint16_t length, uint16_t flags, std::string& text,
                           bool& mr2) const;
    // The connect text a link is saved with, rebuilt from its Connect value and path.
    std::string RebuildConnect(const LinkedTableInfo& link) const;
    // The file an attachment holds (inflated when stored deflated); false when
    // its storage broke or the inflation failed: content then holds what was read.
    bool ReadAttachmentContent(const colRecordAttachmentInfo& attachment, std::vector<uint8_t>& content) const;
    void ReadComplexValues(columnInfo& column);
    // The output field type of a complex column (101 attachment, 102 to 109 multi-valued).
    int ComplexFieldType(uint32_t tableId, const std::string& columnName, tableInfo& table);
    // Writes a row's attachments or values into the complex output field.
    void WriteComplexValue(const columnInfo& column, uint32_t key, dao::Field& field);
    // Copies a record's attachments (or values) between two complex fields.
    void CopyAttachments(dao::Field& source, dao::Field& target);
    // Appends an attachment's stored bytes (length bytes from page/row) to buffer;
    // false when the storage broke before length bytes were read.
    bool ReadAttachmentData(std::vector<uint8_t>& buffer, uint32_t length, uint32_t page, uint32_t row) const;

    // ---- Saved queries (queries/QueryCatalog.cpp, queries/SqlClauses.cpp,
    //      queries/QueryStatement.cpp) --------------------------------------------
    // ReadSavedQueries (above) rebuilds each query's SQL text from its rows in
    // MSysQueries; SaveQuery (above) writes one query into the output.
    //
    // One value of a query row, as the clause rules take it.
    struct QueryRowValue {
        uint32_t slot = 0;        // stored order, last column first: 0 Expression, 1 Name2, 2 Name1
        bool memoHeader = false;  // read through a memo header (slot 0 of a row in memo mode)
        std::string text;
    };
    // One row of a query: its row word (Attribute + 256 × low byte of Flag),
    // its null-mask byte and its readable non-empty values in slot order.
    struct QueryRow {
        uint16_t rowWord = 0;
        uint8_t nullMask = 0;
        std::vector<QueryRowValue> values;
    };
    // Rows of the query being read: the file positions of the first and last
    // byte of each collected row, two per row; and how many of its rows came
    // before its end row (Attribute 255), 0 when none did.
    std::vector<uint64_t> queryRowSpans;
    uint32_t queryEndMarkerCount = 0;
    // Why a query got no text (a rebuild that failed), for the log.
    std::vector<std::string> queryRebuildNotes;
    // Fills queryRowSpans and queryEndMarkerCount for one query.
    void CollectQueryRows(uint32_t catalogId);
    // Positions of the collected rows in the order the rebuild takes them.
    std::vector<size_t> QueryRowOrder() const;
    // Reads collected row `position`; false when nothing of it is readable.
    bool ReadQueryRow(size_t position, QueryRow& row);
    // The SQL text of one query from its collected rows (empty when they give
    // no value), and a pass-through query's connect text. Throws
    // std::runtime_error when the statement cannot be built.
    std::string RebuildQueryText(const queryInfo& query, std::string* connect = nullptr);


    // ---- Forms, reports, macros and modules (accessobjects/ObjectStorage.cpp,
    //      ProjectFile.cpp, Transfer.cpp) -----------------------------------------
    // The object storage read from the damaged file, the project file built
    // from it, and the transfer (which needs Microsoft Access; without it the
    // rebuilt project file and the module sources are kept beside the output).
    AccessObjectsState& ObjectsState();
    bool FindChunkPages();
    int ReadChunkedStorage();
    int ReadChunkedStorage3();
    int ReadStorageTable();
    void CollectFolder(const std::string& folderName, int kind);
    void BuildProjectFile(int kind);
    void WriteCodeProjectStreams();
    // The bytes of one code-project stream (fixed contents, its own value, or
    // the text found by searching the file); false when stopped.
    bool RecoverCodeProjectStream(const tagObjectDetail& entry, std::vector<uint8_t>& data);
    // The bytes of a storage entry's Lv value.
    std::vector<uint8_t> ReadStorageValue(const tagObjectDetail& entry);
    int TransferObjects();
    void CountScratchChunks(const std::string& path);
    void SetAutomationSecurity(int32_t flag);
    // The save's step for forms, reports, macros and modules.
    void SaveAccessObjects();
    // Reads every form, report, macro and module the storage holds, without
    // Access (the objects command and the save's folder). Returns false when
    // the file has no readable object storage.
    bool CollectAccessObjects(ObjectsListing& listing);

    // Page count of the file in the current layout (a partial last page is not counted).
    uint64_t pageCount() const { return pageSize ? fileLength / pageSize : 0; }
    // Text of a stored name per layout: UCS-2 (Jet 4) or 8-bit through the code page (Jet 3).
    std::string DecodeStoredText(const uint8_t* data, size_t size) const;

    // Where the definition reader continues: just after the table-type byte of
    // the definition that CheckUserTable accepted last.
    uint64_t definitionCursor = 0;

private:
    struct AttemptResult {
        int verifiedTables = 0;
        int verifiedQueries = 0;
        int verifiedLinks = 0;
        bool any() const { return verifiedTables + verifiedQueries + verifiedLinks > 0; }
    };
    friend struct CatalogSnapshot;

    void SetLayout(bool jet4);
    void ResetAttempt();
    // One pass over the file in the current layout. Returns false when stopped.
    bool RunAttempt(AttemptResult& result);
    void SendProgress(uintptr_t step, intptr_t value = 0);
    bool Stopped() const;

    // Catalog row parse (Catalog.cpp)
    void ParseCatalogRow(const uint8_t* page, uint64_t pagePosition, uint32_t start, uint32_t end,
                         bool& previousEntry, int& result);
    AttemptResult attempt_;
    std::shared_ptr<AccessObjectsState> accessObjects_;

    // Usage map (UsageMap.cpp): the pages the map lists, or false when it is
    // unreadable or disagrees with the pages.
    bool ReadUsageMap(const tableInfo& table, std::vector<uint32_t>& listed) const;
};

// True when a decoded name is printable text (no control characters, no
// replacement characters, no private-use or unassigned surrogates).
bool IsPrintableName(const std::string& utf8);

// Names the user-table check always rejects: the catalog's own system tables,
// any name beginning with "MSys", and "fVersionHistory".
bool IsSystemTableName(const std::string& name);

}  // namespace talmera
