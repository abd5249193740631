// Relationships: the rows of MSysRelationships, one per pair of related
// columns, read straight from the pages the catalog's fifth definition page
// owns, and re-created in the output as relations.
#include <vector>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "platform/LittleEndian.h"
#include "related/Page.h"
#include "related/Related.h"

namespace talmera {

namespace {
constexpr uint32_t kRelationshipsDefinitionPage = 5;
}  // namespace

void RelatedReader::ReadRelationships() {
    relations.clear();
    // Jet 4 and ACE: the pages the page scan filed. Jet 3 files keep
    // MSysRelationships at the same definition page, but the page scan files
    // its pages with the query rows: they are found here by their owner.
    std::vector<uint64_t> jet3Pages;
    if (!jet4Layout) {
        for (uint64_t position : queryCatalogPages) {
            if (databaseFile.u32(position + 4) == kRelationshipsDefinitionPage) jet3Pages.push_back(position);
        }
    }
    related::Page p;
    for (uint64_t pagePosition : jet4Layout ? relationCatalogPages : jet3Pages) {
        p.load(databaseFile, pagePosition, Layout());
        uint16_t previous = 0xFFFF;
        for (const Slot& slot : p.slots) {
            if (Stopped()) return;
            const bool same = slot.entry == previous;
            previous = slot.entry;
            if (slot.kind == SlotKind::OverflowPointer || slot.kind == SlotKind::Deleted || same) continue;
            if (!slot.hasBytes()) {
                ++relatedStatistics.relationRowsSkipped;
                continue;
            }
            const uint32_t start = slot.start;
            const uint32_t size = slot.size();
            // The row's bytes; a damaged offset reads zeros past its end.
            const le::Bounded row{p.bytes.data() + std::min<size_t>(start, p.bytes.size()),
                                  std::min<size_t>(size, p.bytes.size() - std::min<size_t>(start, p.bytes.size()))};
            auto u8 = [&](uint32_t rel) { return row.u8(rel); };
            auto u16 = [&](uint32_t rel) { return row.u16(rel); };
            auto u32 = [&](uint32_t rel) { return row.u32(rel); };

            const uint32_t w = jet4Layout ? 2 : 1;
            RelationInfo r;
            const uint8_t flags0 = u8(w);
            const uint8_t flags1 = u8(w + 1);
            const uint16_t join = u16(w + 2);
            r.isUnique = flags0 & 1;
            r.enforceIntegrity = (flags0 & 2) ? 0 : 1;
            r.cascadeUpdates = flags1 & 1;
            r.cascadeDeletes = (flags1 >> 4) & 1;
            r.leftJoin = join == 0x0100;
            r.rightJoin = join == 0x0200;
            r.innerJoin = !r.leftJoin && !r.rightJoin;
            r.columnCount = static_cast<int32_t>(u32(w + 4));

            // The variable-length columns by the row's offset table
            // (engine/PageRows.h).
            RowFrame frame;
            if (!frame.read(p.bytes.data() + start, size, jet4Layout) || frame.maskStart() < w + 1 ||
                frame.variables() < 5 || r.columnCount <= 0) {
                // Without five texts there is no relationship to name, and
                // without a column count none to build.
                ++relatedStatistics.relationRowsSkipped;
                continue;
            }
            const uint32_t varCount = frame.variables();
            const uint32_t tableStart = frame.tableStart();
            std::string texts[5];
            bool readable = true;
            for (uint32_t k = 0; k < 5; ++k) {
                const uint32_t var = varCount - 1 - k;
                const uint32_t from = frame.offset(var);
                const uint32_t to = frame.offset(var + 1);
                if (from > to || to > tableStart) {
                    readable = false;
                    break;
                }
                const uint8_t* bytes = p.bytes.data() + start + from;
                texts[k] = jet4Layout ? related::Utf16Cut(bytes, to - from) : DecodeStoredText(bytes, to - from);
            }
            if (!readable) {
                ++relatedStatistics.relationRowsSkipped;
                continue;
            }
            r.columnName = texts[0];
            r.tableName = texts[1];
            r.foreignColumnName = texts[2];
            r.foreignTableName = texts[3];
            r.relationName = texts[4];
            bool chosen = false;
            for (const std::string& name : app.selectedTables) chosen = chosen || name == r.tableName;
            if (chosen) {
                for (const tableInfo& t : tables) {
                    if (t.name != r.tableName) continue;
                    for (const columnInfo& c : t.columns) {
                        if (c.name == r.columnName) {
                            r.columnType = c.type;
                            break;
                        }
                    }
                    break;
                }
            }
            relations.push_back(std::move(r));
        }
    }
}

}  // namespace talmera
