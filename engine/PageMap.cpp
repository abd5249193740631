// The page map: filled by the page scan (CMDBRecovery::RunAttempt) from the
// page it is looking at, and by the table-page collection (stale pages, pages
// whose rows were lost). Nothing here reads the file.
#include "engine/PageMap.h"

#include <algorithm>
#include <cstring>

#include "engine/MDBRecovery.h"
#include "platform/LittleEndian.h"

namespace talmera {

namespace {
constexpr uint8_t kTypeHeader = 0x00;
constexpr uint8_t kTypeData = 0x01;
constexpr uint8_t kTypeDefinition = 0x02;
constexpr uint8_t kTypeIndexNode = 0x03;
constexpr uint8_t kTypeIndexLeaf = 0x04;
constexpr uint8_t kTypeUsageBitmap = 0x05;
constexpr uint32_t kLongValueOwner = 0x4C41564C;  // "LVAL"
constexpr uint32_t kCatalogOwner = 2;             // MSysObjects' definition page


bool allZero(const uint8_t* bytes, size_t size) {
    static constexpr uint8_t kZeros[256] = {};
    while (size) {
        const size_t n = std::min(size, sizeof kZeros);
        if (std::memcmp(bytes, kZeros, n) != 0) return false;
        bytes += n;
        size -= n;
    }
    return true;
}
}  // namespace

const char* PageKindLabel(PageKind kind) {
    switch (kind) {
        case PageKind::Free: return "free";
        case PageKind::Header: return "file header";
        case PageKind::Definition: return "table definition";
        case PageKind::Catalog: return "catalog";
        case PageKind::Data: return "table data";
        case PageKind::LongValue: return "long value";
        case PageKind::Index: return "index";
        case PageKind::UsageMap: return "usage map";
        case PageKind::Stale: return "stale (not in its table's usage map)";
        case PageKind::Unreadable: return "unreadable";
        case PageKind::Zeroed: return "zeroed";
        case PageKind::Count: break;
    }
    return "";
}

const char* PageKindName(PageKind kind) {
    switch (kind) {
        case PageKind::Free: return "free";
        case PageKind::Header: return "header";
        case PageKind::Definition: return "definition";
        case PageKind::Catalog: return "catalog";
        case PageKind::Data: return "data";
        case PageKind::LongValue: return "longvalue";
        case PageKind::Index: return "index";
        case PageKind::UsageMap: return "usagemap";
        case PageKind::Stale: return "stale";
        case PageKind::Unreadable: return "unreadable";
        case PageKind::Zeroed: return "zeroed";
        case PageKind::Count: break;
    }
    return "";
}

void PageMap::reset(uint64_t pages, bool partialLastPage) {
    pages_ = pages + (partialLastPage ? 1 : 0);
    perCell_ = std::max<uint64_t>(1, (pages_ + kMaxCells - 1) / kMaxCells);
    const size_t cells = static_cast<size_t>((pages_ + perCell_ - 1) / perCell_);
    kinds_.assign(cells, static_cast<uint8_t>(PageKind::Free));
    ownerIndex_.assign(cells, 0);
    owners_.clear();
    ownerLookup_.clear();
    counts_.fill(0);
    rowsLostPages_ = 0;
    if (partialLastPage) {
        // The cut last page holds no whole page of anything.
        setKind(pages, PageKind::Unreadable);
        ++counts_[static_cast<size_t>(PageKind::Unreadable)];
    }
}

uint64_t PageMap::cellPages(size_t cell) const {
    const uint64_t first = firstPage(cell);
    return std::min(perCell_, pages_ - first);
}

uint32_t PageMap::owner(size_t cell) const {
    const uint16_t index = ownerIndex_[cell];
    if (index == 0 || index == kOwnerOverflow) return kNoOwner;
    return owners_[index - 1];
}

void PageMap::setKind(uint64_t page, PageKind kind) {
    uint8_t& cell = kinds_[cellOf(page)];
    const PageKind now = static_cast<PageKind>(cell & kKindMask);
    // One page a cell: the page's kind. Several: the most telling one.
    if (perCell_ == 1 || kind > now) cell = static_cast<uint8_t>((cell & ~kKindMask) | static_cast<uint8_t>(kind));
}

void PageMap::setOwner(uint64_t page, uint32_t owner) {
    if (owner == kNoOwner) return;
    uint16_t& index = ownerIndex_[cellOf(page)];
    if (perCell_ > 1 && index != 0) return;  // an aggregated cell names its first owner
    auto found = ownerLookup_.find(owner);
    if (found != ownerLookup_.end()) {
        index = found->second;
        return;
    }
    // Damaged pages carry any owner number: the dictionary stays bounded.
    if (owners_.size() + 1 >= kOwnerOverflow) {
        index = kOwnerOverflow;
        return;
    }
    owners_.push_back(owner);
    const uint16_t added = static_cast<uint16_t>(owners_.size());
    ownerLookup_.emplace(owner, added);
    index = added;
}

void PageMap::record(uint64_t page, const uint8_t* bytes, size_t size, const PageLayout& layout) {
    if (page >= pages_) return;
    PageKind kind = PageKind::Unreadable;
    uint32_t owner = kNoOwner;
    if (bytes == nullptr || size < 8) {
        kind = PageKind::Unreadable;
    } else if (page == 0) {
        kind = PageKind::Header;
    } else if (allZero(bytes, size)) {
        kind = PageKind::Zeroed;
    } else {
        switch (bytes[0]) {
            case kTypeData: {
                owner = le::U32(bytes + 4);
                const size_t countAt = layout.rowCountOffset;
                const uint16_t rows = countAt + 2 <= size ? le::U16(bytes + countAt) : 0;
                if (owner == kLongValueOwner) {
                    kind = PageKind::LongValue;
                    owner = kNoOwner;
                } else if (owner == page || (page == 1 && owner == 0)) {
                    // Page 1 holds the file's usage maps; Access names it its own owner.
                    kind = PageKind::UsageMap;
                    owner = kNoOwner;
                } else if (rows == 0) {
                    kind = PageKind::Free;
                } else {
                    kind = owner == kCatalogOwner ? PageKind::Catalog : PageKind::Data;
                }
                break;
            }
            case kTypeDefinition: {
                kind = PageKind::Definition;
                // A continuation names no owner itself: the page before it in
                // the chain handed its owner on (below).
                const size_t cell = cellOf(page);
                owner = perCell_ == 1 && ownerIndex_[cell] != 0 ? this->owner(cell) : static_cast<uint32_t>(page);
                const uint32_t next = le::U32(bytes + 4);
                if (next > page && next < pages_ && perCell_ == 1 && ownerIndex_[cellOf(next)] == 0) setOwner(next, owner);
                break;
            }
            case kTypeIndexNode:
            case kTypeIndexLeaf:
                kind = PageKind::Index;
                owner = le::U32(bytes + 4);  // the table's definition page
                if (owner >= pages_) owner = kNoOwner;
                break;
            case kTypeUsageBitmap: kind = PageKind::UsageMap; break;
            case kTypeHeader:
            default: kind = PageKind::Unreadable; break;
        }
    }
    setKind(page, kind);
    setOwner(page, owner);
    ++counts_[static_cast<size_t>(kind)];
}

void PageMap::markStale(uint64_t page) {
    if (page >= pages_) return;
    // Only table data turns stale, counted once however often a table's pages
    // are collected (in an aggregated map the page is taken to be data).
    if (perCell_ == 1) {
        if (kind(cellOf(page)) != PageKind::Data) return;
    } else if (count(PageKind::Data) == 0) {
        return;
    }
    setKind(page, PageKind::Stale);
    --counts_[static_cast<size_t>(PageKind::Data)];
    ++counts_[static_cast<size_t>(PageKind::Stale)];
}

void PageMap::markRowsLost(uint64_t page, uint32_t owner) {
    if (page >= pages_) return;
    uint8_t& cell = kinds_[cellOf(page)];
    if (cell & kRowsLostBit) return;
    cell |= kRowsLostBit;
    ++rowsLostPages_;
    // The page itself names no owner (zeroed, unreadable): the table's map does.
    if (perCell_ == 1 && (ownerIndex_[cellOf(page)] == 0 || kind(cellOf(page)) != PageKind::Data)) {
        ownerIndex_[cellOf(page)] = 0;
        setOwner(page, owner);
    }
}

void PageMap::markListedPages(const std::vector<uint32_t>& listed, uint32_t owner) {
    if (perCell_ > 1) return;  // an aggregated cell cannot tell one page's owner
    auto isOwnData = [&](uint64_t page) {
        const size_t cell = cellOf(page);
        const PageKind k = kind(cell);
        return (k == PageKind::Data || k == PageKind::Stale) && this->owner(cell) == owner;
    };
    bool anyOwn = false;
    for (uint32_t page : listed) {
        if (page < pages_ && isOwnData(page)) {
            anyOwn = true;
            break;
        }
    }
    if (!anyOwn) return;
    for (uint32_t page : listed) {
        if (page == 0 || page >= pages_ || isOwnData(page)) continue;
        const PageKind k = kind(cellOf(page));
        if (k == PageKind::Zeroed || k == PageKind::Unreadable || k == PageKind::Free || k == PageKind::Data) {
            markRowsLost(page, owner);
        }
    }
}

const char* PageKindColour(PageKind kind) {
    static constexpr const char* kColours[kPageKindCount] = {
        "#f2f2f2",  // free
        "#404040",  // file header
        "#7b4fa0",  // table definition
        "#b08a2e",  // catalog
        "#3f7fbf",  // table data
        "#5aa05a",  // long value
        "#2aa3a3",  // index
        "#a0a0a0",  // usage map
        "#e6a23c",  // stale
        "#c0392b",  // unreadable
        "#111111",  // zeroed
    };
    const size_t k = static_cast<size_t>(kind);
    return k < kPageKindCount ? kColours[k] : "#ffffff";
}

std::vector<PageMapGroup> GroupPageMap(const PageMap& map, size_t maxGroups) {
    std::vector<PageMapGroup> groups;
    const size_t cells = map.cellCount();
    if (cells == 0 || maxGroups == 0) return groups;
    const size_t per = (cells + maxGroups - 1) / maxGroups;
    groups.reserve((cells + per - 1) / per);
    for (size_t first = 0; first < cells; first += per) {
        PageMapGroup g;
        g.firstCell = first;
        g.cells = std::min(per, cells - first);
        g.firstPage = map.firstPage(first);
        g.kind = map.kind(first);
        for (size_t c = first; c < first + g.cells; ++c) {
            g.kind = std::max(g.kind, map.kind(c));
            g.rowsLost = g.rowsLost || map.rowsLost(c);
            g.pages += map.cellPages(c);
        }
        groups.push_back(g);
    }
    return groups;
}

std::string PageOwnerText(const CMDBRecovery& engine, uint32_t owner) {
    if (owner == kCatalogOwner) return "the catalog";
    for (const tableInfo& table : engine.tables) {
        if (table.definitionPage == owner && !table.deletedRecords) return "table " + table.name;
    }
    for (const systemTableInfo& table : engine.systemTables) {
        if (table.definitionPage == owner) return "system table " + table.name;
    }
    if (owner != 0 && owner == engine.storageTableId) return "system table MSysAccessStorage";
    if (owner != 0 && owner == engine.complexColumnsTableId) return "system table MSysComplexColumns";
    // The page scan files these owners' pages as the saved queries and relationships.
    if (owner == 4 || (owner == 5 && !engine.jet4Layout)) return "the saved queries (MSysQueries)";
    if (owner == 5) return "the relationships (MSysRelationships)";
    return "the table defined at page " + std::to_string(owner);
}

std::string PageCellText(const CMDBRecovery& engine, size_t cell) {
    const PageMap& map = engine.pageMap;
    const uint64_t first = map.firstPage(cell);
    const uint64_t count = map.cellPages(cell);
    std::string text = count > 1 ? "pages " + std::to_string(first) + " to " + std::to_string(first + count - 1)
                                 : "page " + std::to_string(first);
    const PageKind kind = map.kind(cell);
    text += ": ";
    text += PageKindLabel(kind);
    if (count > 1) text += ", the most telling of its pages";
    const uint32_t owner = map.owner(cell);
    if (owner != PageMap::kNoOwner && kind != PageKind::Catalog && kind != PageKind::Header) {
        text += " (" + PageOwnerText(engine, owner) + ")";
    }
    if (map.rowsLost(cell)) text += "; rows lost";
    return text;
}

std::string PageGroupText(const CMDBRecovery& engine, const PageMapGroup& group) {
    if (group.cells == 1) return PageCellText(engine, group.firstCell);
    std::string text = "pages " + std::to_string(group.firstPage) + " to " +
                       std::to_string(group.firstPage + group.pages - 1) + ": " + PageKindLabel(group.kind) +
                       ", the most telling of its pages";
    if (group.rowsLost) text += "; rows lost";
    return text;
}

}  // namespace talmera
