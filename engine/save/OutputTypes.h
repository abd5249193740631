// The output field type of a source column.
#pragma once

#include "engine/CatalogRecords.h"
#include "output/dao/Dao.h"

namespace talmera {

// Source type codes keep their number where DAO has the same type; a decimal
// becomes a decimal field (its precision and scale follow as properties), a
// large number a big integer, and what no field type fits a memo, which keeps
// the text.
inline int OutputFieldType(const columnInfo& col) {
    switch (col.type) {
        case 0x01: case 0x02: case 0x03: case 0x04: case 0x05: case 0x06: case 0x07:
        case 0x08: case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0F:
            return col.type;
        case 0x10:
            return dao::dbDecimal;
        case 0x13:
            return dao::dbBigInt;
        default:
            return dao::dbMemo;
    }
}

}  // namespace talmera
