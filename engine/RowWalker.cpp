#include "engine/RowWalker.h"

#include "engine/MDBRecovery.h"

namespace talmera {

RowWalker::RowWalker(CMDBRecovery& engine, const tableInfo& table)
    : engine_(engine), table_(table), deleted_(table.deletedRecords) {
    if (!deleted_) engine_.databaseFile.newPass();
}

bool RowWalker::nextGroup() {
    if (deleted_) {
        if (listDone_) return false;
        listDone_ = true;
        return true;
    }
    if (nextPage_ >= table_.pages.size()) return false;
    page_ = table_.pages[nextPage_++];
    engine_.databaseFile.doneBefore(page_);
    slots_ = engine_.LoadPageRows(page_);
    return true;
}

size_t RowWalker::groupSize() const { return deleted_ ? table_.deletedRows.size() : slots_.size(); }

bool RowWalker::candidate(size_t k) const {
    if (!deleted_) return k < slots_.size();
    return k < table_.deletedRows.size() && engine_.IsDeletedRowEntry(table_.deletedRows[k]);
}

bool RowWalker::decode(size_t k, bool readLongValues, std::vector<RowValue>& values, bool makeText) {
    if (deleted_) return engine_.DecodeDeletedRowValues(table_, k, readLongValues, values, makeText);
    return engine_.DecodeRowValues(table_, page_, slots_, k, readLongValues, values, makeText);
}

}  // namespace talmera
