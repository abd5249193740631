// A table's usage map: the list of data pages the table really owns. Access
// leaves freed pages with their old owner number, so the map, when it can be
// trusted, tells current pages from stale ones.
#include <algorithm>

#include "engine/MDBRecovery.h"

namespace talmera {

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
    const uint64_t pages = pageCount();
    const uint64_t tdef = static_cast<uint64_t>(table.definitionPage) * pageSize;
    const uint64_t pointer = tdef + (jet4Layout ? 55 : 35);
    const uint8_t mapRow = databaseFile.u8(pointer);
    const uint32_t mapPage = databaseFile.u24(pointer + 1);
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

    const uint8_t mapType = databaseFile.u8(rowPos);
    if (mapType == 0) {
        // Inline bitmap: a first page number, then one bit per page.
        const uint32_t first = databaseFile.u32(rowPos + 1);
        for (uint32_t byte = 5; byte < rowSize; ++byte) {
            const uint8_t bits = databaseFile.u8(rowPos + byte);
            if (!bits) continue;
            for (int bit = 0; bit < 8; ++bit) {
                if (!(bits & (1u << bit))) continue;
                const uint64_t page = static_cast<uint64_t>(first) + (byte - 5) * 8ull + bit;
                if (page >= pages) return false;
                listed.push_back(static_cast<uint32_t>(page));
            }
        }
    } else if (mapType == 1) {
        // A list of bitmap pages, each covering (page size - 4) * 8 pages.
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
                    if (!(bits[byte] & (1u << bit))) continue;
                    const uint64_t page = k * perMapPage + byte * 8ull + bit;
                    if (page >= pages) return false;
                    listed.push_back(static_cast<uint32_t>(page));
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

}  // namespace talmera
