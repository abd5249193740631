// What each page of the file is, as the page scan found it: a picture of the
// file for the page map (the window's view, `talmera-repair map`). The scan
// already holds every page in its hands once; the map keeps a byte per page
// from that pass (and an owner number), so that drawing it reads nothing of
// the file again. Memory is bounded: beyond kMaxCells pages, a cell stands for
// several consecutive pages and shows the most telling kind among them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/PageRows.h"

namespace talmera {

class CMDBRecovery;

// Ordered from the least to the most telling: an aggregated cell shows the
// highest kind among its pages.
enum class PageKind : uint8_t {
    Free,          // a data page without rows
    Header,        // page 0
    Definition,    // a table definition page (or a continuation)
    Catalog,       // data of the object catalog (MSysObjects)
    Data,          // data of a table
    LongValue,     // memo and OLE values
    Index,         // index pages
    UsageMap,      // usage-map bitmap pages, and the data page of usage maps (page 1)
    Stale,         // data pages with a table's owner number its usage map does not list
    Unreadable,    // a page of no known type, or the cut last page
    Zeroed,        // only zero bytes
    Count
};
constexpr size_t kPageKindCount = static_cast<size_t>(PageKind::Count);

// The legend's words for a kind ("table data", "zeroed", ...) and a short
// name for machines ("data", "zeroed", ...).
const char* PageKindLabel(PageKind kind);
const char* PageKindName(PageKind kind);

class PageMap {
public:
    static constexpr uint64_t kMaxCells = uint64_t{1} << 20;
    static constexpr uint32_t kNoOwner = 0;

    // A new map of `pages` whole pages; a cut last page adds one cell of its own.
    void reset(uint64_t pages, bool partialLastPage);
    // Files page `page` by its bytes (the whole page as the scan sees it).
    void record(uint64_t page, const uint8_t* bytes, size_t size, const PageLayout& layout);
    // Facts learned after the scan: a page set aside as stale.
    void markStale(uint64_t page);
    // A page a table's usage map lists whose rows are not there (zeroed,
    // unreadable, another owner's): the table's rows on it were lost.
    void markRowsLost(uint64_t page, uint32_t owner);
    // The pages a table's usage map lists (read whether or not it could be
    // trusted): those that are no data of the table lost their rows. Only
    // when the map lists at least one of the table's data pages, so that a
    // map of garbage marks nothing.
    void markListedPages(const std::vector<uint32_t>& listed, uint32_t owner);

    uint64_t pages() const { return pages_; }            // including a cut last page
    uint64_t pagesPerCell() const { return perCell_; }
    size_t cellCount() const { return kinds_.size(); }
    uint64_t firstPage(size_t cell) const { return cell * perCell_; }
    uint64_t cellPages(size_t cell) const;
    PageKind kind(size_t cell) const { return static_cast<PageKind>(kinds_[cell] & kKindMask); }
    bool rowsLost(size_t cell) const { return kinds_[cell] & kRowsLostBit; }
    // The owner's definition page (kNoOwner when none or not known).
    uint32_t owner(size_t cell) const;
    // The kind and owner of one page (of its cell when aggregated).
    PageKind kindOfPage(uint64_t page) const { return page < pages_ ? kind(page / perCell_) : PageKind::Unreadable; }
    uint32_t ownerOfPage(uint64_t page) const { return page < pages_ ? owner(page / perCell_) : kNoOwner; }

    // Pages of each kind, counted page by page (also when cells aggregate).
    uint64_t count(PageKind kind) const { return counts_[static_cast<size_t>(kind)]; }
    uint64_t rowsLostPages() const { return rowsLostPages_; }
    bool empty() const { return kinds_.empty(); }

private:
    static constexpr uint8_t kKindMask = 0x0F;
    static constexpr uint8_t kRowsLostBit = 0x80;
    static constexpr uint16_t kOwnerOverflow = 0xFFFF;  // more owners than the dictionary holds

    void setKind(uint64_t page, PageKind kind);
    void setOwner(uint64_t page, uint32_t owner);
    size_t cellOf(uint64_t page) const { return static_cast<size_t>(page / perCell_); }

    uint64_t pages_ = 0;
    uint64_t perCell_ = 1;
    std::vector<uint8_t> kinds_;        // per cell: kind, and the rows-lost bit
    std::vector<uint16_t> ownerIndex_;  // per cell: 1 + index into owners_, 0 none
    std::vector<uint32_t> owners_;      // owners' definition pages, each once
    std::unordered_map<uint32_t, uint16_t> ownerLookup_;
    std::array<uint64_t, kPageKindCount> counts_{};
    uint64_t rowsLostPages_ = 0;
};

// Cells drawn together, so that a picture of a large map keeps a bounded
// number of cells: each group shows the most telling kind among its cells and
// whether any of them lost rows.
struct PageMapGroup {
    size_t firstCell = 0;
    size_t cells = 0;
    uint64_t firstPage = 0;
    uint64_t pages = 0;
    PageKind kind = PageKind::Free;
    bool rowsLost = false;
};
std::vector<PageMapGroup> GroupPageMap(const PageMap& map, size_t maxGroups);
// The legend's colour of a kind, as "#rrggbb".
const char* PageKindColour(PageKind kind);

// Who owns a page, in words: "table Orders", "system table MSysACEs", "the
// catalog", or "the table defined at page 57". From what the scan found;
// reads nothing of the file.
std::string PageOwnerText(const CMDBRecovery& engine, uint32_t owner);
// One cell in words: "page 12: table data (table Orders)" ("pages 12 to 19:
// ..." for an aggregated cell), with "; rows lost" when they were.
std::string PageCellText(const CMDBRecovery& engine, size_t cell);
// The same for a group of cells.
std::string PageGroupText(const CMDBRecovery& engine, const PageMapGroup& group);

}  // namespace talmera
