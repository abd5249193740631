// libFuzzer target: rows of MSysRelationships (related/Relationships.cpp).
//
// Input (fuzz/seeds/relationship/): one byte, the layout (bit 0: Jet 4 /
// ACE, else Jet 3), then one row. The row is put on a data page of
// MSysRelationships (Jet 4: a page the page scan filed as such; Jet 3: one
// among the query pages, owned by definition page 5) and read twice: the
// second time with its table chosen for the save, so that its column's type
// is looked up.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "related/Related.h"

using namespace talmera;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool jet4 = (data[0] & 1) != 0;
    const uint32_t pageSize = jet4 ? 4096 : 2048;
    const std::vector<uint8_t> row(data + 1, data + size);
    fuzz::MemoryFile& file = fuzz::MemoryFile::Instance();
    file.clear();
    const std::vector<uint8_t> page = fuzz::DataPage(jet4, 5, {row, row});
    file.write(pageSize, page.data(), page.size());

    fuzz::EngineOverImage over(jet4, 2 * pageSize);
    CMDBRecovery& engine = *over;
    (jet4 ? engine.relationCatalogPages : engine.queryCatalogPages).push_back(pageSize);
    RelatedReader reader(engine);
    reader.ReadRelationships();
    for (const RelationInfo& r : engine.relations) fuzz::Require(r.columnCount > 0);
    if (engine.relations.empty()) return 0;

    tableInfo table;
    table.name = engine.relations.front().tableName;
    columnInfo column;
    column.name = engine.relations.front().columnName;
    column.type = kJetLong;
    table.columns.push_back(column);
    engine.tables.push_back(table);
    over.app.selectedTables = {table.name};
    reader.ReadRelationships();
    fuzz::Require(!engine.relations.empty() && engine.relations.front().columnType == kJetLong);
    return 0;
}
