// Relationships: the rows of MSysRelationships, one per pair of related
// columns, read straight from the pages the catalog's fifth definition page
// owns, and re-created in the output as relations.
#include <vector>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "related/Page.h"

namespace talmera {

namespace {
constexpr uint32_t kRelationshipsDefinitionPage = 5;
}  // namespace

void CMDBRecovery::ReadRelationships() {
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
            auto u8 = [&](uint32_t rel) -> uint8_t { return rel < size ? p.u8(start + rel) : 0; };
            auto u16 = [&](uint32_t rel) -> uint16_t { return static_cast<uint16_t>(u8(rel) | (u8(rel + 1) << 8)); };
            auto u32 = [&](uint32_t rel) -> uint32_t { return u16(rel) | (static_cast<uint32_t>(u16(rel + 2)) << 16); };

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

void CMDBRecovery::SaveRelationships() {
    OutputSet& set = Output();
    if (!set.database) {
        relations.clear();
        return;
    }
    size_t i = 0;
    while (i < relations.size()) {
        RelationInfo& head = relations[i];
        // A relationship to a complex column's hidden value table is made
        // against the table that owns the column, and the column itself.
        for (const systemTableInfo& hidden : systemTables) {
            if (hidden.name != head.foreignTableName) continue;
            uint32_t owner = 0;
            for (const AttachmentInfo& a : complexColumns) {
                if (a.valueTableId == hidden.definitionPage) {
                    owner = a.tableId;
                    break;
                }
            }
            const size_t cut = hidden.name.rfind('_');
            const std::string columnName = cut == std::string::npos ? hidden.name : hidden.name.substr(cut + 1);
            for (const tableInfo& t : tables) {
                if (t.definitionPage != owner) continue;
                for (const columnInfo& c : t.columns) {
                    if (c.name == columnName) {
                        head.foreignTableName = t.name;
                        head.foreignColumnName = c.name;
                        break;
                    }
                }
            }
            break;
        }

        const RelationInfo* last = &head;
        dao::RelationPtr relation;
        try {
            relation = set.database->CreateRelation(head.relationName, head.tableName, head.foreignTableName, 0);
        } catch (const dao::ComError& error) {
            NoteOutputError(error);
        }
        if (relation) {
            std::vector<std::pair<std::string, std::string>> pairs;
            for (int64_t o = 0; o < last->columnCount; ++o) {
                const size_t j = i + static_cast<size_t>(o);
                if (j >= relations.size()) break;  // the rows the count promised are missing
                last = &relations[j];
                try {
                    bool exists = false;
                    for (const auto& [name, foreign] : pairs) {
                        exists = exists || (name == last->columnName && foreign == last->foreignColumnName);
                    }
                    if (exists) continue;
                    dao::FieldPtr field = relation->CreateField(last->columnName);
                    relation->AppendField(field);
                    relation->SetForeignName(field, last->foreignColumnName);
                    pairs.emplace_back(last->columnName, last->foreignColumnName);
                    int32_t attributes = last->isUnique ? 1 : 0;
                    if (last->leftJoin) attributes |= 0x01000000;
                    else if (last->rightJoin) attributes |= 0x02000000;
                    if (last->enforceIntegrity) {
                        if (last->cascadeUpdates) attributes |= 0x100;
                        if (last->cascadeDeletes) attributes |= 0x1000;
                    } else {
                        attributes |= 2;
                    }
                    relation->SetAttributes(attributes);
                } catch (const dao::ComError& error) {
                    NoteOutputError(error);
                }
            }
            try {
                set.database->AppendRelation(relation);
            } catch (const dao::ComError& error) {
                NoteOutputError(error);
            }
        }
        // Rows read with no column count were passed over by the reader, so
        // the count is at least 1 here: the save always moves on.
        i += static_cast<size_t>(std::max<int32_t>(1, last->columnCount));
    }
    relations.clear();
}

}  // namespace talmera
