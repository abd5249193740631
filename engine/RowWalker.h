// The rows of one table in storage order, as the record preview and the save
// read them: the slots of each of the table's data pages, or, for a table of
// deleted records, the entries of its deleted-row list. The walk goes group by
// group (a page, or the whole list); each place of a group is decoded into a
// row value of its own, which owns its bytes, so that what is decoded can be
// handed on and written elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/PageRows.h"
#include "engine/RowValue.h"

namespace talmera {

class CMDBRecovery;
struct tableInfo;

class RowWalker {
public:
    RowWalker(CMDBRecovery& engine, const tableInfo& table);

    // A table of deleted records: one group, its list's entries.
    bool deletedList() const { return deleted_; }
    // Moves to the next group; false when there is none. The page file is
    // told which pages the walk has passed, so that memory stays flat.
    bool nextGroup();
    size_t groupSize() const;
    // Whether place k may hold a row: every slot of a page, only the deleted
    // entries of a list (the others bound them).
    bool candidate(size_t k) const;
    // Decodes place k (CMDBRecovery::DecodeRowValues); false when it holds
    // no decodable row. readLongValues and makeText as there.
    bool decode(size_t k, bool readLongValues, std::vector<RowValue>& values, bool makeText);

private:
    CMDBRecovery& engine_;
    const tableInfo& table_;
    bool deleted_ = false;
    size_t nextPage_ = 0;
    bool listDone_ = false;
    uint64_t page_ = 0;
    SlotTable slots_;
};

}  // namespace talmera
