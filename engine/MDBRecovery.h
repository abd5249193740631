// The repair engine's core: one object per selected file. It reads the damaged
// file itself, page by page, and builds the lists of tables, queries, links and
// other objects that the front ends show and the save writes.
//
// The core's operations are grouped by what they read, one source file each:
//   DatabaseFile.cpp     open, layout, page scan, page lists, slot tables
//   PageRows.cpp         a page's slot table and a row's frame
//   Catalog.cpp          the object catalog rows and the user-table check
//   TableDefinition.cpp  column entries, column names and indexes
//   UsageMap.cpp         a table's usage map (which pages it really owns)
//   RowDecoding.cpp      a row's values; RowWalker.cpp a table's rows in order
//   LongValues.cpp       memo and OLE values
//   DeletedRows.cpp      deleted-row lists
// The readers of other objects work on this core from their own folders and
// keep what they find here: related/ (property blocks, relationships, links,
// complex columns), queries/ (saved queries), accessobjects/ (forms, reports,
// macros and modules). The save (engine/save) and the run (engine/run) use
// them all; docs/architecture.md draws the folders and their arrows.
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
#include "engine/PageMap.h"
#include "engine/PageRows.h"
#include "engine/RowValue.h"

namespace talmera {

struct CQuorvinAccessRecoveryApp;
class IMessageReceiver;
struct AccessObjectsState;
class COutputDatabase;
class CMDBRecovery;

// Readers the catalog scan calls as it goes, for what it finds beside the
// tables (related/ installs them: InstallRelatedReaders). Each may be empty.
struct CatalogReaders {
    // A user table's definition was read (its property block).
    std::function<void(CMDBRecovery&, tableInfo&)> tableRead;
    // MSysComplexColumns is listed on the catalog page just read.
    std::function<void(CMDBRecovery&, uint32_t catalogId)> complexColumnsFound;
    // The catalog pages of a layout attempt were read (the complex columns'
    // values); before the attempts are compared.
    std::function<void(CMDBRecovery&)> catalogRead;
};

// What the readers passed over, for the log: damage is reported, not hidden.
struct ScanStatistics {
    uint64_t pagesScanned = 0;
    uint64_t partialPageBytes = 0;       // bytes of a last, incomplete page
    uint64_t catalogRowsSkipped = 0;     // catalog rows that could not be understood
    uint64_t tablesRejected = 0;         // table entries whose definition is unreadable
    // Each of those: its catalog name and the definition page the catalog
    // names, so that the report can say which table is lost and why.
    struct RejectedTable {
        std::string name;
        uint32_t definitionPage = 0;
    };
    std::vector<RejectedTable> rejectedTables;
    uint64_t definitionsCut = 0;         // definitions whose page chain broke
    uint64_t unlistedPages = 0;          // pages set aside: not in their table's usage map
    uint64_t unlistedRows = 0;
    uint64_t usageMapsUnreadable = 0;    // tables whose usage map could not be trusted
    uint64_t tablesWithoutCatalog = 0;   // user tables found from their definitions alone
    uint64_t hiddenTablesWithoutCatalog = 0;  // system and value tables found so
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
    // What each page is, filed by the page scan (engine/PageMap.h).
    PageMap pageMap;

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
    // Definition pages that catalog rows name (live table rows of every
    // kind, system ones too, and the deleted rows of dropped tables), and the
    // catalog rows seen: what tells a lost catalog row from a table that
    // never had one (RecoverTablesWithoutCatalog).
    std::vector<uint32_t> catalogDefinitionIds;
    uint32_t catalogRowsSeen = 0;
    // Called as the catalog is read (above); set before ScanFile.
    CatalogReaders catalogReaders;

    // ---- Messages ---------------------------------------------------------
    IMessageReceiver* mainWindow = nullptr;
    // One line of the recovery log, to mainWindow (engine/LogLines.h).
    void Log(const std::string& line);
    // A UM_PROGRESS message to mainWindow.
    void SendProgress(uintptr_t step, intptr_t value = 0);
    // The front end asked the run to stop.
    bool Stopped() const;

    ScanStatistics statistics;

    // ---- Database file and pages (DatabaseFile.cpp) -----------------------
    bool OpenDatabaseFile();
    // Reads the header's protection facts; for an encrypted file asks the
    // receiver for the password where one is needed and puts the page decoder
    // under the page file (EncryptedSource.cpp). False when the pages cannot
    // be read (protection.lock says why).
    bool UnlockSource();
    // Open, page scan and catalog scan. Nonzero when the catalog yielded at
    // least one table, link or saved query, or a table was found from its
    // definition without a catalog entry.
    int ScanFile();
    // Reads the page size and layout from the signatures at page starts and
    // takes them when they clearly disagree with the version byte (a
    // damaged, zeroed or random header); notes whether the file holds any
    // Access page at all (LostCatalog.cpp).
    void ReadLayoutFromPages();
    // The layout was taken from the pages against the version byte.
    bool layoutFromPages = false;
    // Pages of the file carry Access page signatures (data pages naming
    // their definition, definition pages): it is an Access file, whatever
    // its header and catalog say.
    bool accessPagesFound = false;
    // Where the catalog lost rows: every definition page that no catalog row
    // names, that is not a continuation page and that owns data pages, is
    // read as a table "RecoveredTable" + a number (system and complex-value
    // tables, told by their columns, are kept apart).
    void RecoverTablesWithoutCatalog();
    bool CollectTablePages(tableInfo& table);
    // The slot table of the data page at pagePosition (engine/PageRows.h);
    // empty when the file is not open.
    SlotTable LoadPageRows(uint64_t pagePosition) const;
    // Slot `index` of that page alone (SlotTable::readOne); false when there is none.
    bool LoadPageSlot(uint64_t pagePosition, size_t index, Slot& slot) const;
    // The data page layout of the current attempt.
    PageLayout Layout() const { return {pageSize, rowCountOffset, jet4Layout}; }
    // Page count of the file in the current layout (a partial last page is not counted).
    uint64_t pageCount() const { return pageSize ? fileLength / pageSize : 0; }
    // Text of a stored name per layout: UCS-2 (Jet 4) or 8-bit through the code page (Jet 3).
    std::string DecodeStoredText(const uint8_t* data, size_t size) const;

    // ---- Object catalog (Catalog.cpp) ---------------------------------------
    int ScanCatalogPage(uint64_t pagePosition);
    // Accepts a readable user table; sets tdefRowCount and definitionCursor.
    bool CheckUserTable(const std::string& name, uint32_t catalogId);
    // Where the definition reader continues: just after the table-type byte of
    // the definition that CheckUserTable accepted last.
    uint64_t definitionCursor = 0;

    // ---- Table definitions (TableDefinition.cpp) ------------------------------
    void ReadTableDefinition(uint32_t catalogId);
    void ReadTableDefinitionInto(tableInfo& table, uint32_t catalogId);
    // The two later stages of a definition, reading on from where the column
    // entries ended (stream is the definition reader of TableDefinition.cpp).
    void ReadColumnNames(tableInfo& table, void* stream, uint32_t entryCount, uint32_t realIndexes,
                         uint32_t logicalIndexes);
    void ReadIndexes(tableInfo& table, void* stream, uint32_t realIndexes, uint32_t logicalIndexes);
    // Equal column names of one table (compared as Access does, ASCII letters
    // without case) made unique: the second and later get "_2", "_3", ...
    void MakeColumnNamesUnique(tableInfo& table);
    // Whether stored name bytes are a name Access could have written:
    // printable text of at most kMaxNameCharacters characters (and whole
    // UCS-2 units in the Jet 4 layout).
    bool IsPlausibleStoredName(const uint8_t* data, size_t size) const;

    // ---- Rows (RowDecoding.cpp) ------------------------------------------------
    // Decodes the row of slot `slot` of a table's data page (slots: the page's
    // slot table from LoadPageRows) into one value per column; false when the
    // slot holds no decodable row (RowWalker walks a table's rows).
    // readLongValues: follow long-value chains and read OLE objects (a save
    // does; a preview shows placeholders instead). makeText: fill the preview
    // texts (a save needs only the typed values). values are reused: pass the
    // same vector row after row.
    bool DecodeRowValues(const tableInfo& table, uint64_t pagePosition, const SlotTable& slots, size_t slot,
                         bool readLongValues, std::vector<RowValue>& values, bool makeText = true);
    // The same for entry `entry` of the deleted-row list of a table of deleted records.
    bool DecodeDeletedRowValues(const tableInfo& table, size_t entry, bool readLongValues,
                                std::vector<RowValue>& values, bool makeText = true);
    // The row of rowSize bytes at rowPosition in the file.
    bool DecodeRowAt(const tableInfo& table, uint64_t rowPosition, uint32_t rowSize, bool readLongValues,
                     std::vector<RowValue>& values, bool makeText);
    // The row decoder's frame, kept from row to row.
    RowFrame rowFrame;

    // ---- Long values (LongValues.cpp) -------------------------------------------
    // A memo column's bytes (its 12-byte header and what follows) to text.
    // calculated: the value of a calculated column (its single-page value
    // carries a 16-byte header and a 4-byte length).
    std::string ReadMemoValue(const uint8_t* column, size_t size, bool followChain, RowValue& value,
                              bool calculated = false);
    // The same into text (its buffer reused from value to value).
    void ReadMemoInto(const uint8_t* column, size_t size, bool followChain, RowValue& value, bool calculated,
                      std::string& text);
    // A text kept in one long-value row, into text.
    void ReadLongTextSingleInto(uint64_t pagePosition, uint32_t length, uint8_t row, bool calculated,
                                std::string& text);
    // The bytes of a value kept in one long-value row: up to length bytes of
    // the row, never more than the row holds. False when the row holds fewer
    // than length bytes (or cannot be found): the value is incomplete.
    bool ReadLongBinarySingle(uint64_t pagePosition, uint32_t length, uint8_t row, std::vector<uint8_t>& buffer);
    void ReadLongBinaryChain(uint64_t pagePosition, uint8_t row, uint32_t length, std::vector<uint8_t>& buffer,
                             bool& incomplete);
    // Text bytes of a text or memo value per layout (compressed, UCS-2, code page).
    std::string DecodeTextBytes(const uint8_t* data, size_t size) const;
    // The same into text, replacing what it held (its buffer is reused).
    void DecodeTextInto(const uint8_t* data, size_t size, std::string& text) const;
    // Row r of the long-value page at pagePosition as [start, end) within the
    // page; false when the page is no long-value page or the row has no bytes.
    // Rows marked deleted are read too (values of deleted records point at them).
    bool LocateLongValueRow(uint64_t pagePosition, uint32_t r, uint32_t& start, uint32_t& end) const;

    // ---- Deleted rows (DeletedRows.cpp) -------------------------------------------
    void BuildDeletedRows();
    // An entry of a deleted-row list that is a deleted row (not a bounding
    // entry, an overflow pointer or its target).
    bool IsDeletedRowEntry(const delRecordTableInfo& entry) const;

    // ---- Related objects (read by related/) -------------------------------------
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

    // ---- Saved queries (read by queries/) ---------------------------------------
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
    // Why a query got no text (a rebuild that failed), for the log.
    std::vector<std::string> queryRebuildNotes;

    // ---- Forms, reports, macros and modules (read by accessobjects/) ------------
    // The object storage read from the damaged file and the project files built
    // from it (accessobjects/AccessObjects.h: ObjectsState).
    std::shared_ptr<AccessObjectsState> accessObjects;

    // ---- The save (engine/save) ------------------------------------------------
    // Its output database and operations (engine/save/OutputDatabase.h: OutputOf).
    std::shared_ptr<COutputDatabase> outputDatabase;
    std::string outputPath;
    // Per-save flags the tree reads to know what UM_OBJECT_SAVED is about.
    bool savingTables = false;
    bool savingQueries = false;
    bool savingForms = false;
    bool savingReports = false;
    bool savingMacros = false;
    bool savingModules = false;
    bool savingLinkedTables = false;
    bool savingDone = false;
    // Errors of output calls: formatted, kept for the log's counts, never shown.
    std::vector<std::string> outputErrors;

    // Usage map (UsageMap.cpp): the pages the map lists, whatever they hold (false: no readable map):
    // the recovery report counts those that are no data page of the table.
    bool ListUsageMapPages(const tableInfo& table, std::vector<uint32_t>& listed) const;

private:
    struct AttemptResult {
        int verifiedTables = 0;
        int verifiedQueries = 0;
        int verifiedLinks = 0;
        int recoveredTables = 0;     // found from their definitions without a catalog entry
        bool aceStructures = false;  // MSysComplexColumns: only ACE files have it
        bool any() const { return verifiedTables + verifiedQueries + verifiedLinks + recoveredTables > 0; }
    };
    friend struct CatalogSnapshot;

    void SetLayout(bool jet4);
    void ResetAttempt();
    // One pass over the file in the current layout. Returns false when stopped.
    bool RunAttempt(AttemptResult& result);

    // Catalog row parse (Catalog.cpp)
    void ParseCatalogRow(const uint8_t* page, uint64_t pagePosition, uint32_t start, uint32_t end,
                         bool& previousEntry, int& result);
    AttemptResult attempt_;

    // The layout from the pages (LostCatalog.cpp): how many sampled pages
    // carry a data-page or definition signature when the file is read in
    // pages of `size` bytes.
    uint64_t CountPageSignatures(uint32_t size) const;
    // Whether the catalog lost rows: no catalog pages, rows that could not
    // be read, or fewer rows than MSysObjects' definition counts or pages
    // missing that its usage map lists.
    bool CatalogLooksDamaged();

    // Usage map (UsageMap.cpp): the pages the map lists, or false when it is
    // unreadable or most of what it lists is not the table's.
    bool ReadUsageMap(const tableInfo& table, std::vector<uint32_t>& listed) const;
    // The pages a map row lists (row mapRow of data page mapPage), sorted;
    // outside counts those past the file's end. False when the row is no map.
    bool ReadPageMap(uint32_t mapPage, uint8_t mapRow, std::vector<uint32_t>& listed, uint32_t& outside) const;
    // One data page carrying a table's owner number, and how it was judged.
    struct OwnedPage {
        uint64_t position = 0;
        uint32_t rows = 0;      // live rows and pointers to moved rows
        bool listed = false;    // the trusted usage map lists it
        PageChoice choice = PageChoice::Listed;
    };
    // Fills the table's page list from the pages of its owner (file order)
    // and the pages its usage map lists (sorted; mapTrusted when readable).
    void ChooseTablePages(tableInfo& table, const std::vector<uint64_t>& owned, const std::vector<uint32_t>& listed,
                          bool mapTrusted);
    // The evidence for the pages the map does not list: the rows' fit to the
    // definition, the keys of the rows taken, the definition's row count.
    void JudgeUnlistedPages(const tableInfo& table, std::vector<OwnedPage>& pages, uint64_t rowsTaken, bool mapTrusted);
    // The pages the database's own map of free pages lists (page 1, row 0,
    // as Access keeps it), sorted; empty when that map is not there. Read
    // once per layout attempt.
    const std::vector<uint32_t>& FreePages() const;
    mutable std::vector<uint32_t> freePages_;
    mutable bool freePagesRead_ = false;
    // What a row's bytes say of the table they belong to: fits when its
    // frame reads, its variable data begins after its fixed values and no
    // text is longer than its column allows; the gap between its fixed
    // values and its variable data; its column count.
    struct RowShape {
        bool fits = false;
        uint32_t columns = 0;
        uint64_t gap = 0;
    };
    RowShape ReadRowShape(const tableInfo& table, const uint8_t* row, uint32_t size) const;
};

// True when a decoded name is printable text (no control characters, no
// replacement characters, no private-use or unassigned surrogates).
bool IsPrintableName(const std::string& utf8);
// A printable name of at most kMaxNameCharacters characters.
bool IsPlausibleName(const std::string& utf8);

// Names the user-table check always rejects: the catalog's own system tables,
// any name beginning with "MSys", and "fVersionHistory".
bool IsSystemTableName(const std::string& name);

}  // namespace talmera
