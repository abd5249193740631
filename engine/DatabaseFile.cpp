// Opening the damaged file, choosing its page layout, and the page-level
// operations every later reader rests on: filing the data pages by owner,
// collecting one table's pages, and loading one page's row-offset table.
#include <cstring>
#include <utility>

#include "engine/ApplicationState.h"
#include "engine/LogLines.h"
#include "engine/MDBRecovery.h"
#include "platform/LittleEndian.h"
#include "platform/MessageReceiver.h"
#include "platform/TextCodec.h"
#include "platform/Utf8.h"

namespace talmera {

namespace {
constexpr uint32_t kLvalOwner = 0x4C41564C;  // "LVAL" read as a little-endian number
constexpr uint32_t kCatalogDefinitionPage = 2;
constexpr uint32_t kQueryCatalogPage = 4;
constexpr uint32_t kFifthDefinitionPage = 5;  // relationships (Jet 4) or more query rows (Jet 3)
}  // namespace

CMDBRecovery::CMDBRecovery(CQuorvinAccessRecoveryApp& application) : app(application) {}
CMDBRecovery::~CMDBRecovery() = default;

void CMDBRecovery::SetLayout(bool jet4) {
    jet4Layout = jet4;
    rowCountOffset = jet4 ? 12 : 8;
    textUnit = jet4 ? 2 : 1;
    pageSize = jet4 ? 4096 : 2048;
}

bool CMDBRecovery::OpenDatabaseFile() {
    fileOpened = databaseFile.open(sourcePath);
    if (!fileOpened) return false;
    fileLength = databaseFile.length();
    versionByte = databaseFile.u8(20);
    SetLayout(versionByte >= 1 && versionByte <= 3);
    aceFormat = versionByte == 2 || versionByte == 3;
    if (!UnlockSource()) {
        databaseFile.close();
        fileOpened = false;
        return false;
    }
    ReadLayoutFromPages();
    return true;
}

void CMDBRecovery::SendProgress(uintptr_t step, intptr_t value) {
    if (mainWindow) mainWindow->send(UM_PROGRESS, step, value);
}

void CMDBRecovery::Log(const std::string& line) { SendLogLine(app, mainWindow, line); }

bool CMDBRecovery::Stopped() const { return app.stopRequested.load(std::memory_order_relaxed); }

void CMDBRecovery::ResetAttempt() {
    app.catalogFound = false;
    app.formNames.clear();
    app.macroNames.clear();
    app.reportNames.clear();
    app.moduleNames.clear();
    app.formCount = app.macroCount = app.reportCount = app.moduleCount = app.queryCount = 0;
    app.tableCount = 0;
    catalogPages.clear();
    otherDataPages.clear();
    queryCatalogPages.clear();
    relationCatalogPages.clear();
    tables.clear();
    queries.clear();
    systemTables.clear();
    linkedTables.clear();
    storageTableId = 0;
    tableOrdinal = 0;
    unnamedTableCounter = 0;
    complexColumnsTableId = 0;
    catalogDefinitionIds.clear();
    catalogRowsSeen = 0;
    freePages_.clear();
    freePagesRead_ = false;
    // Related objects of the previous attempt or scan.
    complexColumns.clear();
    relations.clear();
    redirectedColumns.clear();
    redirectActive = false;
    relatedStatistics = {};
    attempt_ = AttemptResult{};
}

bool CMDBRecovery::RunAttempt(AttemptResult& result) {
    ResetAttempt();
    // Statistics describe the attempt whose results are kept.
    const int attempts = statistics.layoutAttempts;
    statistics = ScanStatistics{};
    statistics.layoutAttempts = attempts + 1;
    const uint64_t pages = pageCount();
    statistics.partialPageBytes = fileLength - pages * pageSize;
    pageMap.reset(pages, statistics.partialPageBytes > 0);
    SendProgress(kProgressStart, static_cast<intptr_t>(pages));
    databaseFile.newPass();
    for (uint64_t p = 0; p < pages; ++p) {
        const uint64_t pos = p * pageSize;
        const uint8_t* head = databaseFile.view(pos, 8);
        pageMap.record(p, databaseFile.view(pos, pageSize), pageSize, Layout());
        if (head && head[0] == 0x01) {
            const uint32_t owner = le::U32(head + 4);
            if (owner == kCatalogDefinitionPage) {
                if (head[1] == 0x01) {
                    catalogPages.push_back(pos);
                    app.catalogFound = true;
                } else {
                    otherDataPages.push_back(pos);
                }
            } else if (owner == kQueryCatalogPage) {
                queryCatalogPages.push_back(pos);
                app.catalogFound = true;
            } else if (owner == kFifthDefinitionPage) {
                (jet4Layout ? relationCatalogPages : queryCatalogPages).push_back(pos);
            } else if (owner != kLvalOwner) {
                otherDataPages.push_back(pos);
            }
        }
        ++statistics.pagesScanned;
        databaseFile.doneBefore(pos);
        SendProgress(kProgressStep);
        if (Stopped()) return false;
    }
    SendProgress(kProgressEnd);

    SendProgress(kProgressStart, static_cast<intptr_t>(catalogPages.size()));
    for (uint64_t pos : catalogPages) {
        ScanCatalogPage(pos);
        if (Stopped()) return false;
        SendProgress(kProgressStep);
    }
    // Tables whose catalog rows are lost, from their definitions.
    RecoverTablesWithoutCatalog();
    if (Stopped()) return false;
    if (catalogReaders.catalogRead) catalogReaders.catalogRead(*this);
    SendProgress(kProgressEnd);
    result = attempt_;
    return true;
}

// Everything one layout attempt produced, so that two attempts can be compared
// and the better one kept.
struct CatalogSnapshot {
    uint16_t pageSize;
    bool jet4Layout;
    uint32_t rowCountOffset, textUnit;
    std::vector<uint64_t> otherDataPages, queryCatalogPages, relationCatalogPages, catalogPages;
    PageMap pageMap;
    std::deque<tableInfo> tables;
    std::vector<queryInfo> queries;
    std::vector<systemTableInfo> systemTables;
    std::vector<LinkedTableInfo> linkedTables;
    uint32_t storageTableId, tableOrdinal, unnamedTableCounter, complexColumnsTableId;
    bool catalogFound;
    int tableCount, queryCount, formCount, reportCount, macroCount, moduleCount;
    std::vector<std::string> formNames, reportNames, macroNames, moduleNames;
    ScanStatistics statistics;
    std::vector<AttachmentInfo> complexColumns;
    CMDBRecovery::RelatedStatistics relatedStatistics;

    explicit CatalogSnapshot(CMDBRecovery& e)
        : pageSize(e.pageSize), jet4Layout(e.jet4Layout), rowCountOffset(e.rowCountOffset), textUnit(e.textUnit),
          otherDataPages(std::move(e.otherDataPages)), queryCatalogPages(std::move(e.queryCatalogPages)),
          relationCatalogPages(std::move(e.relationCatalogPages)), catalogPages(std::move(e.catalogPages)),
          pageMap(std::move(e.pageMap)),
          tables(std::move(e.tables)), queries(std::move(e.queries)), systemTables(std::move(e.systemTables)),
          linkedTables(std::move(e.linkedTables)), storageTableId(e.storageTableId), tableOrdinal(e.tableOrdinal),
          unnamedTableCounter(e.unnamedTableCounter), complexColumnsTableId(e.complexColumnsTableId),
          catalogFound(e.app.catalogFound), tableCount(e.app.tableCount), queryCount(e.app.queryCount),
          formCount(e.app.formCount), reportCount(e.app.reportCount), macroCount(e.app.macroCount),
          moduleCount(e.app.moduleCount), formNames(std::move(e.app.formNames)),
          reportNames(std::move(e.app.reportNames)), macroNames(std::move(e.app.macroNames)),
          moduleNames(std::move(e.app.moduleNames)), statistics(e.statistics),
          complexColumns(std::move(e.complexColumns)), relatedStatistics(e.relatedStatistics) {}

    void restore(CMDBRecovery& e) {
        e.pageSize = pageSize;
        e.jet4Layout = jet4Layout;
        e.rowCountOffset = rowCountOffset;
        e.textUnit = textUnit;
        e.otherDataPages = std::move(otherDataPages);
        e.queryCatalogPages = std::move(queryCatalogPages);
        e.relationCatalogPages = std::move(relationCatalogPages);
        e.catalogPages = std::move(catalogPages);
        e.pageMap = std::move(pageMap);
        e.tables = std::move(tables);
        e.queries = std::move(queries);
        e.systemTables = std::move(systemTables);
        e.linkedTables = std::move(linkedTables);
        e.storageTableId = storageTableId;
        e.tableOrdinal = tableOrdinal;
        e.unnamedTableCounter = unnamedTableCounter;
        e.complexColumnsTableId = complexColumnsTableId;
        e.app.catalogFound = catalogFound;
        e.app.tableCount = tableCount;
        e.app.queryCount = queryCount;
        e.app.formCount = formCount;
        e.app.reportCount = reportCount;
        e.app.macroCount = macroCount;
        e.app.moduleCount = moduleCount;
        e.app.formNames = std::move(formNames);
        e.app.reportNames = std::move(reportNames);
        e.app.macroNames = std::move(macroNames);
        e.app.moduleNames = std::move(moduleNames);
        int attempts = e.statistics.layoutAttempts;
        e.statistics = statistics;
        e.statistics.layoutAttempts = attempts;
        e.complexColumns = std::move(complexColumns);
        e.relatedStatistics = relatedStatistics;
    }
};

int CMDBRecovery::ScanFile() {
    storageTableId = 0;
    app.catalogFound = false;
    statistics = ScanStatistics{};
    if (!OpenDatabaseFile()) {
        if (Stopped()) return 0;
        if (protection.locked()) {
            // An encrypted file is an Access file: say what keeps it closed.
            app.logLine = protection.reasonLine();
            if (mainWindow) mainWindow->showMessageBox(app.logLine, "");
            return 0;
        }
        // Name the real reason: "already in use" would send the user looking
        // for another program when the file is missing or unreadable.
        app.logLine = "This file cannot be opened: " + sourcePath + ": " + databaseFile.error() + ".";
        if (mainWindow) mainWindow->showPlatformMessage(app.logLine);
        return 0;
    }

    // The version byte only suggests a layout: read with the wrong one, a
    // catalog page yields garbage rows that can look like tables, links and
    // queries. So an attempt counts only what verifies, and when the first
    // layout verifies no table the other one is tried as well; the layout that
    // verifies more tables (then queries, then links) is kept.
    AttemptResult first;
    if (!RunAttempt(first)) return 0;
    AttemptResult kept = first;
    // Tables found from their definitions verify the layout as well: their
    // column entries and rows read in it. (Read in the other layout, a
    // page's bytes could still pass for a few garbage queries or links.)
    if (first.verifiedTables == 0 && first.recoveredTables == 0) {
        CatalogSnapshot firstAttempt(*this);
        SetLayout(!jet4Layout);
        AttemptResult second;
        if (!RunAttempt(second)) return 0;
        auto better = [](const AttemptResult& a, const AttemptResult& b) {
            if (a.verifiedTables != b.verifiedTables) return a.verifiedTables > b.verifiedTables;
            if (a.verifiedQueries != b.verifiedQueries) return a.verifiedQueries > b.verifiedQueries;
            if (a.verifiedLinks != b.verifiedLinks) return a.verifiedLinks > b.verifiedLinks;
            return a.recoveredTables > b.recoveredTables;
        };
        // On a tie the layout the version byte names stays.
        if (better(second, first)) {
            kept = second;
        } else {
            const bool secondFoundCatalog = app.catalogFound;
            firstAttempt.restore(*this);
            // Catalog pages seen in either layout make the file an Access file
            // whose catalog is unreadable, not a file of another kind.
            app.catalogFound = app.catalogFound || secondFoundCatalog;
        }
    }
    // A version byte that does not say ACE, on a file whose catalog has
    // what only ACE files have.
    if (jet4Layout && !aceFormat && versionByte != 2 && versionByte != 3 && kept.aceStructures) aceFormat = true;
    const int result = kept.any() ? 1 : 0;
    // Access pages without a readable catalog are an Access file whose
    // catalog is lost, not a file of another kind.
    if (accessPagesFound) app.catalogFound = true;
    // A scan stopped part-way has not seen the catalog it may hold: it gives
    // no verdict on the file.
    if (result == 0 && !app.catalogFound && !Stopped()) {
        app.invalidFile = true;
        app.logLine = "This file is not a valid MS Access file.";
        app.messageLine1 = "This file is not a valid MS Access file.";
        app.messageLine2 = "                  ";
        if (mainWindow) mainWindow->showMessageBox(app.messageLine1, app.messageLine2);
    }
    return result;
}

bool CMDBRecovery::CollectTablePages(tableInfo& table) {
    if (!fileOpened) return false;
    std::vector<uint64_t> owned;
    for (uint64_t pos : otherDataPages) {
        if (Stopped()) return false;
        if (databaseFile.u32(pos + 4) == table.definitionPage) owned.push_back(pos);
    }

    // Access leaves freed pages with their old owner number. The usage map,
    // when it is readable and its pages are the table's, says which pages are
    // current; the others, and every page when the map is unreadable, are
    // judged by their rows (ChooseTablePages, engine/UsageMap.cpp).
    std::vector<uint32_t> listed;
    table.usageMapRead = !owned.empty() && ReadUsageMap(table, listed) && !listed.empty();
    if (!owned.empty() && !table.usageMapRead) ++statistics.usageMapsUnreadable;
    ChooseTablePages(table, owned, listed, table.usageMapRead);
    pageMap.markListedPages(listed, table.definitionPage);
    for (uint64_t pos : table.unlistedPages) pageMap.markStale(pos / pageSize);
    return !table.pages.empty();
}

namespace {

// The bytes of the page at pagePosition: the mapped page, or for a page past
// the file's end, or cut by it, a copy in buffer whose missing bytes are zeros.
const uint8_t* pageBytes(const PageFile& file, uint64_t pagePosition, uint32_t pageSize, std::vector<uint8_t>& buffer) {
    if (const uint8_t* page = file.view(pagePosition, pageSize)) return page;
    buffer.resize(pageSize);
    file.read(pagePosition, pageSize, buffer.data());
    return buffer.data();
}

}  // namespace

SlotTable CMDBRecovery::LoadPageRows(uint64_t pagePosition) const {
    SlotTable slots;
    if (!fileOpened) return slots;
    std::vector<uint8_t> buffer;
    slots.read(pageBytes(databaseFile, pagePosition, pageSize, buffer), pageSize, Layout());
    return slots;
}

bool CMDBRecovery::LoadPageSlot(uint64_t pagePosition, size_t index, Slot& slot) const {
    if (!fileOpened) return false;
    std::vector<uint8_t> buffer;
    return SlotTable::readOne(pageBytes(databaseFile, pagePosition, pageSize, buffer), pageSize, Layout(), index, slot);
}

std::string CMDBRecovery::DecodeStoredText(const uint8_t* data, size_t size) const {
    if (jet4Layout) return ucs2ToUtf8(data, size);
    return codePageToUtf8(data, size, app.codePage);
}

bool IsPrintableName(const std::string& text) {
    if (text.empty()) return false;
    size_t at = 0;
    uint32_t cp = 0;
    while (at < text.size()) {
        if (!utf8::Next(text, at, cp)) return false;
        if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) return false;
        if (cp == 0xFFFD || cp == 0xFFFE || cp == 0xFFFF) return false;
        if (cp >= 0xE000 && cp <= 0xF8FF) return false;  // private use: not a name Access writes
    }
    return true;
}

bool IsPlausibleName(const std::string& text) {
    if (!IsPrintableName(text)) return false;
    size_t characters = 0;
    for (unsigned char ch : text) characters += (ch & 0xC0) != 0x80 ? 1 : 0;
    return characters <= kMaxNameCharacters;
}

}  // namespace talmera
