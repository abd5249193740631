// The texts of a record grid, kept compactly and within a memory budget.
//
// Rows are gathered in blocks of a fixed number of rows. A full block is
// sealed into one buffer (its row and cell offsets, then the cell texts); a
// table of a million rows is then a few hundred buffers, not millions of
// strings. When the sealed blocks in memory exceed the budget, the least
// recently read ones are written to an unnamed temporary file and read back
// when the grid shows their rows again (the file has no name in the temporary
// folder: it goes with the process, however that ends). The texts are never
// changed or dropped: a block that cannot be written out stays in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talmera::ui {

class RowStore {
public:
    static constexpr size_t kDefaultBlockRows = 1024;
    static constexpr size_t kDefaultMemoryBudget = size_t(48) << 20;

    explicit RowStore(size_t memoryBudget = kDefaultMemoryBudget, size_t blockRows = kDefaultBlockRows);
    ~RowStore();
    RowStore(const RowStore&) = delete;
    RowStore& operator=(const RowStore&) = delete;

    // Empties the store (and its temporary file).
    void Clear();
    void Append(const std::vector<std::string>& cells);
    void Append(const std::string_view* cells, size_t count);
    size_t Rows() const { return rows_; }
    size_t CellCount(size_t row) const;
    // The text of one cell (empty beyond the row's cells). The view stays
    // valid until the next call on the store.
    std::string_view Cell(size_t row, size_t column) const;

    // Bytes of row texts and offsets held in memory.
    size_t MemoryBytes() const { return memoryBytes_ + openBytes(); }
    // Blocks whose only copy is, or was, in the temporary file.
    size_t BlocksOnDisk() const;
    size_t Blocks() const { return blocks_.size() + (openRowStarts_.size() > 1 ? 1 : 0); }

private:
    struct Block {
        std::string data;      // the sealed buffer; empty while it is only on disk
        bool inMemory = true;
        bool onDisk = false;
        uint64_t fileOffset = 0;
        uint32_t size = 0;
        uint64_t lastUse = 0;
    };

    void Seal();
    void KeepWithinBudget(size_t keep) const;
    bool WriteOut(Block& block) const;
    bool ReadIn(Block& block) const;
    size_t BlockOf(size_t row) const;
    // Brings block `index` into memory (reading it back when it was written out).
    bool Load(size_t index) const;
    size_t openBytes() const;

    size_t blockRows_;
    size_t memoryBudget_;
    size_t rows_ = 0;
    // The block being filled: cell index where each row starts (one more
    // entry than rows), end of each cell's text, the texts.
    std::vector<uint32_t> openRowStarts_{0};
    std::vector<uint32_t> openCellEnds_;
    std::string openText_;

    mutable std::vector<Block> blocks_;
    std::vector<size_t> blockFirstRow_;
    mutable size_t memoryBytes_ = 0;
    mutable uint64_t useClock_ = 0;
    mutable int spill_ = -1;  // the temporary file
    mutable uint64_t spillEnd_ = 0;
    mutable bool spillFailed_ = false;
};

}  // namespace talmera::ui
