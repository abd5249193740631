// Steps of the scan that later readers fill: table and column property blocks,
// deleted-row lists, complex columns, saved queries, relationships and the
// external paths of links. Each is called where the scan needs it, and does
// nothing yet.
#include "engine/MDBRecovery.h"

namespace talmera {

void CMDBRecovery::ReadTableProperties(tableInfo&) {}
void CMDBRecovery::ReadComplexColumns(uint32_t) {}
bool CMDBRecovery::LinkComplexColumns() { return false; }
void CMDBRecovery::ReadComplexValues() {}
void CMDBRecovery::ReadSavedQueries() {}
void CMDBRecovery::ReadRelationships() {}
void CMDBRecovery::FetchLinkPaths() {}

}  // namespace talmera
