// Table plans: a table description turned into what its definition and rows
// need (column numbers, fixed offsets, variable-column positions, flags), and
// the writing of one table: definition pages, data pages, long values, index
// root pages and usage maps.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jetwriter/Internal.h"

namespace jetwriter::detail {

struct ColPlan {
    Column col;
    uint16_t number = 0;       // column number (= position in the table)
    bool fixed = false;
    uint16_t fixedOffset = 0;  // in the fixed area (after the column count)
    uint16_t fixedSize = 0;    // bytes in the fixed area (0 for Yes/No)
    uint16_t varIndex = 0;     // variable: its slot in the offset table; fixed: variable columns before it
    uint16_t storedLength = 0; // the definition's length field
    uint8_t flags = 0;
    uint8_t flags2 = 0;
    uint32_t complexId = 0;
};

struct IndexPlan {
    std::string name;
    std::vector<IndexColumn> columns;
    uint8_t flags = 0;  // the real index's flag byte
    uint8_t type = 0;   // the logical index's type: 1 primary key, 2 foreign key
};

struct TablePlan {
    std::string name;
    std::vector<ColPlan> cols;
    std::vector<IndexPlan> realIndexes;    // in real-index number order
    std::vector<size_t> logicalOrder;      // logical entries: positions in realIndexes
    uint8_t tableType = 0x4E;
    uint16_t varCount = 0;
    bool sortEntriesByName = false;        // Jet 4 system tables list their columns by name
    std::vector<size_t> entryOrder;        // Table::descriptorOrder, when given
    bool compressText = false;
    bool compressMemo = false;             // memo values compressed even without compressText
    size_t inlineLimit = 64;               // long values up to this size stay in the row
    // Fixed-area size and variable-column count of a row holding the first n columns.
    std::vector<uint16_t> fixedEndFor;
    std::vector<uint16_t> varCountFor;
};

TablePlan planTable(const Fmt& f, const Table& t, bool compressText);

// Rows of a table as the writer feeds them: the description's rows, then any
// generated ones.
using RowVisitor = std::function<void(const Row&)>;

struct TableInput {
    const Table* table = nullptr;
    TablePlan plan;
    bool isCatalog = false;     // MSysObjects: its definition goes on page 2
    uint16_t codePage = 1252;
    std::function<void(const RowVisitor&)> rows;  // calls the visitor once per row
};

struct WrittenTable {
    TableLayout layout;
};

class MapRows;  // the rows holding usage maps

// Writes one table. firstDefinitionPage: a page already reserved for the
// definition (page 2 for MSysObjects), or 0 to allocate.
WrittenTable writeTable(Image& img, MapRows& maps, const TableInput& in, uint32_t firstDefinitionPage);

// Usage-map rows live on data pages of no table (owner 0). Each row has the
// format's fixed size, so rows are reserved first and filled once the pages
// they list are known.
class MapRows {
public:
    explicit MapRows(Image& img) : img_(img), pages_(img, 0, false) {}
    RowRef reserve();
    void openPage() { pages_.openPage(); }
    // Writes a usage map listing `pages` into a reserved row (may add bitmap pages).
    void fill(RowRef where, std::vector<uint32_t> pages);

private:
    Image& img_;
    RowPages pages_;
};

}  // namespace jetwriter::detail
