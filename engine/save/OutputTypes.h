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
        case kJetBoolean: case kJetByte: case kJetInteger: case kJetLong: case kJetCurrency: case kJetSingle: case kJetDouble:
        case kJetDateTime: case kJetBinary: case kJetText: case kJetOle: case kJetMemo: case kJetGuid:
            return col.type;
        case kJetDecimal:
            return dao::dbDecimal;
        case kJetBigInt:
            return dao::dbBigInt;
        default:
            return dao::dbMemo;
    }
}

}  // namespace talmera
