// The values of complex columns as the save writes them: the field type a
// complex column becomes, and a row's values of a multi-valued column. The
// repair's save and the export read them through these, so that both give
// the same values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/MDBRecovery.h"
#include "output/dao/Dao.h"

namespace talmera {

// The output field type of a complex column: dao::dbVersionHistory for an
// append-only memo's hidden history, dao::dbAttachment, or the multi-valued
// type (dbComplexByte to dbComplexText) of its value table's third column.
int ComplexFieldType(CMDBRecovery& engine, uint32_t tableId, const std::string& columnName, tableInfo& table);

// The values a multi-valued column keeps for the row whose complex key is
// `key`, in storage order, each as the field type `type` (dbComplexByte to
// dbComplexText) holds it.
std::vector<dao::Variant> MultiValuedValues(CMDBRecovery& engine, const columnInfo& column, uint32_t key, int type);

}  // namespace talmera
