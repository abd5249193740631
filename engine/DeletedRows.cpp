// Deleted records: Jet only marks a deleted row's slot (0xC in the top four
// bits); its bytes stay on the page until the space is reused. For each table
// of the Jet 4 layout those slots are gathered into an extra table named
// after it with "(deleted records)" appended.
//
// Slots marked 0x8 are not deleted rows: they are the rows that overflow
// pointers (0x4) lead to, live rows read through their pointer. They stay in
// the list as boundaries but are neither counted nor shown.
#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"

namespace talmera {

void CMDBRecovery::BuildDeletedRows() {
    if (tables.empty()) return;
    const size_t sourcePosition = tables.size() - 1;
    if (tables[sourcePosition].pages.empty()) return;

    // The list holds, page by page, each run of deleted or overflow slots
    // preceded by the entry that bounds it. Only the deleted slots are rows:
    // bounding entries, overflow pointers and their targets are not counted,
    // so the count matches what the preview shows.
    std::vector<delRecordTableInfo> entries;
    uint32_t rows = 0;
    const std::vector<uint64_t> pages = tables[sourcePosition].pages;
    for (uint64_t page : pages) {
        if (Stopped()) return;
        LoadPageRows(sourcePosition, page);
        uint16_t previous = 0;
        bool first = true;
        for (uint16_t entry : pageBoundaries) {
            if (entry == previous) continue;
            previous = entry;
            const uint16_t top = entry >> 12;
            // A slot whose first bytes cannot be a column count holds no row.
            if (!first && top == 0xC && databaseFile.u16(page + (entry & 0x0FFF)) <= 260) ++rows;
            first = false;
            entries.push_back({page, entry});
        }
    }
    if (rows == 0) return;

    const tableInfo& source = tables[sourcePosition];
    tableInfo deleted;
    deleted.name = source.name + "(deleted records)";
    deleted.definitionPage = source.definitionPage;
    // The same definition as the source: columns, indexes and pages.
    deleted.columns = source.columns;
    deleted.indexes = source.indexes;
    deleted.pages = source.pages;
    deleted.columnCount = source.columnCount;
    deleted.hasVariableColumns = source.hasVariableColumns;
    deleted.hasAutoNumber = source.hasAutoNumber;
    deleted.usageMapRead = source.usageMapRead;
    deleted.catalogPagePosition = source.catalogPagePosition;
    deleted.propertyLength = source.propertyLength;
    deleted.propertyFlags = source.propertyFlags;
    deleted.propertyRow = source.propertyRow;
    deleted.propertyPage = source.propertyPage;
    deleted.deletedRows = std::move(entries);
    deleted.recordCount = rows;
    tables.push_back(std::move(deleted));
    currentTable = nullptr;
    ++tableOrdinal;
    ++app.tableCount;
}

}  // namespace talmera
