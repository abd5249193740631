// Deleted records: Jet only marks a deleted row's slot (both flags, 0xC000);
// its bytes stay on the page until the space is reused. For each table of the
// Jet 4 layout those slots are gathered into an extra table named after it
// with "(deleted records)" appended.
//
// Slots marked 0x8000 alone are not deleted rows: they are the rows that
// overflow pointers (0x4000) lead to, live rows read through their pointer.
// They stay in the list as boundaries but are neither counted nor shown.
#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"

namespace talmera {

bool CMDBRecovery::IsDeletedRowEntry(const delRecordTableInfo& entry) const {
    const uint16_t e = static_cast<uint16_t>(entry.entry);
    return entry.entry < 0x10000 && SlotKindOf(e) == SlotKind::Deleted && SlotStart(e) < pageSize;
}

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
        const SlotTable slots = LoadPageRows(page);
        // Deleted slots, overflow pointers and their targets that lie on the
        // page; an emptied slot (no start on the page) is none of them.
        auto special = [&](const Slot& s) { return s.kind != SlotKind::Row && s.start < pageSize; };
        std::vector<delRecordTableInfo> boundaries;
        for (size_t i = 0; i < slots.size(); ++i) {
            const Slot& s = slots[i];
            if (!special(s)) continue;
            if (i == 0) boundaries.push_back({page, pageSize, 0});
            if (i > 0 && !special(slots[i - 1]) && slots[i - 1].entry != 0) {
                boundaries.push_back({page, slots[i - 1].entry, static_cast<uint32_t>(i - 1)});
            }
            boundaries.push_back({page, s.entry, static_cast<uint32_t>(i)});
        }
        uint64_t previous = 0;
        bool first = true;
        for (const delRecordTableInfo& entry : boundaries) {
            if (entry.entry == previous) continue;
            previous = entry.entry;
            // A slot whose first bytes cannot be a column count holds no row.
            const uint16_t e = static_cast<uint16_t>(entry.entry);
            if (!first && IsDeletedRowEntry(entry) && databaseFile.u16(page + SlotStart(e)) <= kMaxRowColumns) ++rows;
            first = false;
            entries.push_back(entry);
        }
    }
    if (rows == 0) return;

    const tableInfo& source = tables[sourcePosition];
    tableInfo deleted;
    deleted.name = source.name + kDeletedRecordsSuffix;
    deleted.deletedRecords = true;
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
    ++tableOrdinal;
    ++app.tableCount;
}

}  // namespace talmera
