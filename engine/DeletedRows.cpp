// Deleted records: Jet only marks a deleted row's slot; its bytes stay on the
// page until the space is reused. For each table of the Jet 4 layout the
// slots marked deleted (and overflow pointers) are gathered into an extra
// table named after it with "(deleted records)" appended.
#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"

#include <algorithm>

namespace talmera {

void CMDBRecovery::BuildDeletedRows() {
    if (tables.empty()) return;
    const size_t sourcePosition = tables.size() - 1;
    if (tables[sourcePosition].pages.empty()) return;

    std::vector<delRecordTableInfo> entries;
    uint64_t notRows = 0;
    const std::vector<uint64_t> pages = tables[sourcePosition].pages;
    for (uint64_t page : pages) {
        if (Stopped()) return;
        LoadPageRows(sourcePosition, page);
        uint16_t previous = 0;
        bool first = true;
        for (uint16_t entry : pageBoundaries) {
            if (entry == previous) continue;
            previous = entry;
            if (!first) {
                // A slot whose first bytes cannot be a column count holds no row.
                if (databaseFile.u16(page + (entry & 0x0FFF)) > 260) ++notRows;
            }
            first = false;
            entries.push_back({page, entry});
        }
        // The page's bounding entry is no row either.
        if (!pageBoundaries.empty()) ++notRows;
    }
    if (entries.empty()) return;

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
    deleted.recordCount = static_cast<uint32_t>(deleted.deletedRows.size() - std::min<uint64_t>(notRows, deleted.deletedRows.size()));
    tables.push_back(std::move(deleted));
    currentTable = nullptr;
    ++tableOrdinal;
    ++app.tableCount;
}

}  // namespace talmera
