// Which data pages are a table's. Access leaves freed pages with their old
// owner number, so the pages that carry a table's owner number are its
// current pages and, besides them, stale ones: older states of the table, or
// pages of an earlier table whose definition page was reused. The usage map
// says which are current when it can be trusted; damage can make it wrong
// both ways, so pages it does not list (or all pages, when it cannot be
// read) are judged by what their rows say.
#include <algorithm>
#include <set>
#include <unordered_set>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"

namespace talmera {

namespace {

// A map may list a few pages that damage has since destroyed; a map most of
// whose pages are not the table's is not the table's map.
bool MapPlausible(uint32_t good, uint32_t bad) { return good > 0 && bad * 10 <= good + 9 && bad <= good; }

}  // namespace

bool CMDBRecovery::ReadUsageMap(const tableInfo& table, std::vector<uint32_t>& listed) const {
    if (!ListUsageMapPages(table, listed)) return false;
    // The map is trusted only when every page it lists is a data page of this table.
    for (uint32_t page : listed) {
        const uint64_t pos = static_cast<uint64_t>(page) * pageSize;
        if (databaseFile.u8(pos) != 0x01 || databaseFile.u32(pos + 4) != table.definitionPage) return false;
    }
    return true;
}

bool CMDBRecovery::ListUsageMapPages(const tableInfo& table, std::vector<uint32_t>& listed) const {
    listed.clear();
    const uint64_t tdef = static_cast<uint64_t>(table.definitionPage) * pageSize;
    const uint64_t pointer = tdef + (jet4Layout ? 55 : 35);
    const uint8_t mapRow = databaseFile.u8(pointer);
    const uint32_t mapPage = databaseFile.u24(pointer + 1);
    uint32_t outside = 0;
    if (!ReadPageMap(mapPage, mapRow, listed, outside)) return false;

    // The map is trusted when the pages it lists are data pages of this
    // table, but for a few that damage may have destroyed since.
    uint32_t good = 0, bad = outside;
    for (uint32_t page : listed) {
        const uint64_t pos = static_cast<uint64_t>(page) * pageSize;
        const bool owned = databaseFile.u8(pos) == 0x01 && databaseFile.u32(pos + 4) == table.definitionPage;
        (owned ? good : bad) += 1;
    }
    return MapPlausible(good, bad);
}

const std::vector<uint32_t>& CMDBRecovery::FreePages() const {
    if (freePagesRead_) return freePages_;
    freePagesRead_ = true;
    // Access keeps the map of the database's free pages in row 0 of page 1,
    // a data page that names itself as its owner. (No page it lists is
    // listed by a table's usage map in the corpus files.)
    constexpr uint32_t kFreeMapPage = 1;
    const uint64_t pos = static_cast<uint64_t>(kFreeMapPage) * pageSize;
    if (databaseFile.u8(pos) != 0x01 || databaseFile.u32(pos + 4) != kFreeMapPage) return freePages_;
    uint32_t outside = 0;
    if (!ReadPageMap(kFreeMapPage, 0, freePages_, outside)) freePages_.clear();
    return freePages_;
}

bool CMDBRecovery::ReadPageMap(uint32_t mapPage, uint8_t mapRow, std::vector<uint32_t>& listed,
                               uint32_t& outside) const {
    listed.clear();
    outside = 0;
    const uint64_t pages = pageCount();
    if (mapPage == 0 || mapPage >= pages) return false;
    const uint64_t mapPos = static_cast<uint64_t>(mapPage) * pageSize;
    if (databaseFile.u8(mapPos) != 0x01) return false;

    // Locate the map's row on its page.
    const SlotTable slots = LoadPageRows(mapPos);
    if (mapRow >= slots.size() || slots[mapRow].size() < 5) return false;
    const uint32_t start = slots[mapRow].start;
    const uint32_t end = slots[mapRow].end;
    const uint64_t rowPos = mapPos + start;
    const uint32_t rowSize = end - start;

    // Pages past the file's end are counted against the map, not listed.
    auto list = [&](uint64_t page) {
        if (page >= pages) {
            ++outside;
            return;
        }
        listed.push_back(static_cast<uint32_t>(page));
    };
    const uint8_t mapType = databaseFile.u8(rowPos);
    if (mapType == 0) {
        // Inline bitmap: a first page number, then one bit per page.
        const uint32_t first = databaseFile.u32(rowPos + 1);
        for (uint32_t byte = 5; byte < rowSize; ++byte) {
            const uint8_t bits = databaseFile.u8(rowPos + byte);
            if (!bits) continue;
            for (int bit = 0; bit < 8; ++bit) {
                if (bits & (1u << bit)) list(static_cast<uint64_t>(first) + (byte - 5) * 8ull + bit);
            }
        }
    } else if (mapType == 1) {
        // A list of bitmap pages, each covering (page size - 4) * 8 pages. A
        // bitmap page that is gone leaves the map incomplete: not trusted.
        const uint64_t perMapPage = (pageSize - 4) * 8ull;
        for (uint32_t k = 0; 1 + 4 * (k + 1) <= rowSize; ++k) {
            const uint32_t bitmapPage = databaseFile.u32(rowPos + 1 + 4 * k);
            if (bitmapPage == 0) continue;
            if (bitmapPage >= pages) return false;
            const uint64_t bitmapPos = static_cast<uint64_t>(bitmapPage) * pageSize;
            if (databaseFile.u8(bitmapPos) != 0x05) return false;
            const uint8_t* bits = databaseFile.view(bitmapPos + 4, pageSize - 4);
            if (!bits) return false;
            for (uint32_t byte = 0; byte < pageSize - 4u; ++byte) {
                if (!bits[byte]) continue;
                for (int bit = 0; bit < 8; ++bit) {
                    if (bits[byte] & (1u << bit)) list(k * perMapPage + byte * 8ull + bit);
                }
            }
        }
    } else {
        return false;
    }

    std::sort(listed.begin(), listed.end());
    listed.erase(std::unique(listed.begin(), listed.end()), listed.end());
    return true;
}

CMDBRecovery::RowShape CMDBRecovery::ReadRowShape(const tableInfo& table, const uint8_t* row, uint32_t size) const {
    RowShape shape;
    RowFrame f;
    FrameShape frameShape;
    frameShape.variableColumns = table.hasVariableColumns;
    if (size < 2 || !f.read(row, size, jet4Layout, frameShape) || f.columns() == 0) return shape;
    shape.columns = f.columns();
    // The variable data begins after the fixed values of the columns the
    // row holds; what lies between is the row's gap (0 in a row Access
    // wrote for the table, or the room of fixed columns deleted since).
    uint64_t fixedEnd = f.countWidth();
    for (const columnInfo& col : table.columns) {
        if (col.isFixed && col.columnNumber < f.columns()) {
            fixedEnd = std::max<uint64_t>(fixedEnd, f.countWidth() + static_cast<uint64_t>(col.fixedOffset) + col.length);
        }
    }
    const uint64_t variableStart = f.variables() > 0 ? f.offset(0) : f.tableStart();
    if (variableStart < fixedEnd) return shape;
    shape.gap = variableStart - fixedEnd;
    for (const columnInfo& col : table.columns) {
        if (col.columnNumber >= f.columns() || !f.hasValue(col.columnNumber) || col.isFixed) continue;
        if (col.variableIndex >= f.variables()) continue;
        uint32_t from = 0, to = 0;
        f.variableBounds(col.variableIndex, f.maskStart(), from, to);
        const uint32_t length = to - from;
        switch (col.type) {
            case kJetText:
            case kJetBinary:
                // Longer than the column allows: the bytes of some other row.
                if (col.length && length > col.length && !col.isCalculated) return shape;
                break;
            case kJetMemo:
            case kJetOle:
                // A long value keeps at least its 12-byte header in the row.
                if (length != 0 && length < 12) return shape;
                break;
            default:
                break;
        }
    }
    shape.fits = true;
    return shape;
}

void CMDBRecovery::ChooseTablePages(tableInfo& table, const std::vector<uint64_t>& owned,
                                    const std::vector<uint32_t>& listed, bool mapTrusted) {
    table.pages.clear();
    table.unlistedPages.clear();
    table.unlistedRecordCount = 0;
    table.pageChoices = {};

    std::vector<OwnedPage> pages;
    pages.reserve(owned.size());
    size_t next = 0;  // listed is sorted; owned is in file order
    for (uint64_t pos : owned) {
        OwnedPage p;
        p.position = pos;
        if (mapTrusted) {
            const uint64_t page = pos / pageSize;
            while (next < listed.size() && listed[next] < page) ++next;
            p.listed = next < listed.size() && listed[next] == page;
        }
        // A live row, or the pointer that stands for a row moved to another page.
        for (const Slot& slot : LoadPageRows(pos)) {
            if (slot.kind == SlotKind::Row || slot.kind == SlotKind::OverflowPointer) ++p.rows;
        }
        p.choice = p.listed ? PageChoice::Listed : PageChoice::NoUsableMap;
        pages.push_back(p);
    }

    uint64_t rowsTaken = 0;
    bool unlisted = false;
    for (const OwnedPage& p : pages) {
        if (p.listed) rowsTaken += p.rows;
        unlisted = unlisted || !p.listed;
    }
    if (unlisted) {
        if (app.includeUnlistedPages) {
            // The user asked for every page of the owner.
            for (OwnedPage& p : pages) {
                if (!p.listed) p.choice = mapTrusted ? PageChoice::Requested : PageChoice::NoUsableMap;
            }
        } else if (mapTrusted && rowsTaken >= table.definitionRecordCount) {
            // The listed pages hold every row the definition counts: the
            // others are older states (the usual case; no row is read).
            for (OwnedPage& p : pages) {
                if (!p.listed) p.choice = PageChoice::RowCountReached;
            }
        } else {
            JudgeUnlistedPages(table, pages, rowsTaken, mapTrusted);
        }
    }

    uint32_t count = 0;
    for (const OwnedPage& p : pages) {
        PageTally& tally = table.pagesChosen(p.choice);
        ++tally.pages;
        tally.rows += p.rows;
        const bool read = p.choice == PageChoice::Listed || p.choice == PageChoice::NotCopies ||
                          p.choice == PageChoice::NoUsableMap || p.choice == PageChoice::Requested;
        if (read) {
            table.pages.push_back(p.position);
            count += p.rows;
        }
        // Pages the map does not list that are set aside, or taken only
        // because the user asked for them.
        if (mapTrusted && !p.listed && (!read || p.choice == PageChoice::Requested)) {
            table.unlistedPages.push_back(p.position);
            table.unlistedRecordCount += p.rows;
            ++statistics.unlistedPages;
            statistics.unlistedRows += p.rows;
        }
    }
    table.recordCount = count;
}

void CMDBRecovery::JudgeUnlistedPages(const tableInfo& table, std::vector<OwnedPage>& pages, uint64_t rowsTaken,
                                      bool mapTrusted) {
    // The key a stale copy repeats: the primary key's columns, else those
    // of the first unique index; without either, the whole row.
    std::vector<size_t> keyColumns;
    auto columnAt = [&](uint16_t number) -> int64_t {
        for (size_t c = 0; c < table.columns.size(); ++c) {
            if (table.columns[c].columnNumber == number) return static_cast<int64_t>(c);
        }
        return -1;
    };
    for (int pass = 0; pass < 2 && keyColumns.empty(); ++pass) {
        for (const indexInfo& index : table.indexes) {
            if (pass == 0 ? !index.isPrimary : !index.isUnique) continue;
            std::vector<size_t> found;
            for (uint16_t number : index.columnNumbers) {
                const int64_t c = columnAt(number);
                if (c < 0) {
                    found.clear();
                    break;
                }
                found.push_back(static_cast<size_t>(c));
            }
            if (!found.empty()) {
                keyColumns = std::move(found);
                break;
            }
        }
    }

    // The rows of one page: their shapes, and the key of each row it holds.
    std::vector<RowValue> values;
    struct RowsRead {
        std::vector<RowShape> shapes;
        std::vector<std::string> keys;
    };
    auto readPage = [&](uint64_t position) {
        RowsRead read;
        const SlotTable slots = LoadPageRows(position);
        const uint8_t* page = databaseFile.view(position, pageSize);
        for (size_t k = 0; k < slots.size(); ++k) {
            const Slot& slot = slots[k];
            if (slot.kind == SlotKind::Row) {
                read.shapes.push_back(page && slot.hasBytes() ? ReadRowShape(table, page + slot.start, slot.size())
                                                              : RowShape{});
            }
            if (!DecodeRowValues(table, position, slots, k, false, values, true)) continue;
            std::string key;
            auto add = [&](const RowValue& v) {
                key.push_back(static_cast<char>('0' + static_cast<int>(v.state)));
                key += v.text;
                key.push_back('\x1F');
            };
            if (keyColumns.empty()) {
                for (const RowValue& v : values) add(v);
            } else {
                for (size_t c : keyColumns) add(values[c]);
            }
            read.keys.push_back(std::move(key));
        }
        return read;
    };

    // The keys of the rows already taken, and the gaps their rows have
    // (without listed pages: the gaps of rows with every column of the
    // definition, which are surely this table's).
    std::unordered_set<std::string> seen;
    std::set<uint64_t> gaps;
    bool anyListed = false;
    for (const OwnedPage& p : pages) {
        if (!p.listed) continue;
        anyListed = true;
        RowsRead r = readPage(p.position);
        for (std::string& key : r.keys) seen.insert(std::move(key));
        for (const RowShape& shape : r.shapes) {
            if (shape.fits) gaps.insert(shape.gap);
        }
    }
    std::vector<RowsRead> reads(pages.size());
    uint32_t fullColumns = 0;
    for (const columnInfo& col : table.columns) fullColumns = std::max<uint32_t>(fullColumns, col.columnNumber + 1u);
    for (size_t i = 0; i < pages.size(); ++i) {
        if (pages[i].listed) continue;
        reads[i] = readPage(pages[i].position);
        if (anyListed) continue;
        for (const RowShape& shape : reads[i].shapes) {
            if (shape.fits && shape.columns == fullColumns) gaps.insert(shape.gap);
        }
    }
    // A row of the table: it fits the definition, and its gap is one the
    // table's own rows have.
    auto ofTable = [&](const RowShape& shape) { return shape.fits && (gaps.empty() || gaps.count(shape.gap)); };

    // In file order. A page whose rows do not fit the table holds another
    // table's rows; one most of whose rows repeat rows taken is an older
    // copy; the others are taken while the definition's row count is not
    // reached (a count of 0 may itself be damage, and stops nothing).
    const uint64_t claimed = table.definitionRecordCount;
    const std::vector<uint32_t>& free = FreePages();
    for (size_t i = 0; i < pages.size(); ++i) {
        OwnedPage& p = pages[i];
        if (p.listed) continue;
        // Access freed it itself.
        if (std::binary_search(free.begin(), free.end(), static_cast<uint32_t>(p.position / pageSize))) {
            p.choice = PageChoice::Freed;
            continue;
        }
        const RowsRead& r = reads[i];
        const size_t fitting = static_cast<size_t>(std::count_if(r.shapes.begin(), r.shapes.end(), ofTable));
        if (!r.shapes.empty() && fitting * 2 < r.shapes.size()) {
            p.choice = PageChoice::ForeignRows;
            continue;
        }
        size_t copies = 0;
        for (const std::string& key : r.keys) copies += seen.count(key);
        if (!r.keys.empty() && copies * 2 > r.keys.size()) {
            p.choice = PageChoice::OlderCopies;
            continue;
        }
        if (claimed > 0 && rowsTaken >= claimed) {
            p.choice = PageChoice::RowCountReached;
            continue;
        }
        p.choice = mapTrusted ? PageChoice::NotCopies : PageChoice::NoUsableMap;
        rowsTaken += p.rows;
        for (const std::string& key : r.keys) seen.insert(key);
    }
}

}  // namespace talmera
