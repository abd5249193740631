// Steps of the scan that later readers fill: table and column property blocks,
// deleted-row lists, complex columns, saved queries, relationships and the
// external paths of links, and the save's writers of links, queries and
// relationships. Each is called where the scan or the save needs it, and does
// nothing yet.
#include "engine/MDBRecovery.h"

namespace talmera {

void CMDBRecovery::ReadTableProperties(tableInfo&) {}
void CMDBRecovery::ReadComplexColumns(uint32_t) {}
bool CMDBRecovery::LinkComplexColumns() { return false; }
void CMDBRecovery::ReadComplexValues() {}
void CMDBRecovery::ReadRelationships() {}
void CMDBRecovery::FetchLinkPaths() {}
void CMDBRecovery::SaveLinkedTables() {}
void CMDBRecovery::SaveRelationships() {}

}  // namespace talmera
