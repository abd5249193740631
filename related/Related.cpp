#include "related/Related.h"

namespace talmera {

RelatedReader::RelatedReader(CMDBRecovery& engine)
    : engine_(engine), app(engine.app), databaseFile(engine.databaseFile), pageSize(engine.pageSize),
      fileLength(engine.fileLength), jet4Layout(engine.jet4Layout), tables(engine.tables),
      systemTables(engine.systemTables), linkedTables(engine.linkedTables),
      relationCatalogPages(engine.relationCatalogPages), queryCatalogPages(engine.queryCatalogPages),
      relations(engine.relations), complexColumns(engine.complexColumns), redirectActive(engine.redirectActive),
      redirectColumn(engine.redirectColumn), redirectedColumns(engine.redirectedColumns),
      relatedStatistics(engine.relatedStatistics) {}

void InstallRelatedReaders(CMDBRecovery& engine) {
    CatalogReaders& readers = engine.catalogReaders;
    readers.tableRead = [](CMDBRecovery& e, tableInfo& table) { RelatedReader(e).ReadTableProperties(table); };
    readers.complexColumnsFound = [](CMDBRecovery& e, uint32_t id) { RelatedReader(e).ReadComplexColumns(id); };
    readers.catalogRead = [](CMDBRecovery& e) {
        RelatedReader reader(e);
        if (reader.LinkComplexColumns()) reader.ReadComplexValues();
    };
}

}  // namespace talmera
