// Table and column property blocks: the catalog row's LvProp long value, a
// block of names followed by one group of properties per object (the table
// itself and each column). Each column gets its properties as text pairs.
#include <algorithm>
#include <cstdlib>

#include "engine/MDBRecovery.h"
#include "engine/ValueDecoders.h"
#include "platform/TextCodec.h"
#include "related/Page.h"
#include "related/Related.h"

namespace talmera {

namespace related {

std::string Utf16Cut(const uint8_t* data, size_t size) {
    size_t n = 0;
    while (n + 1 < size && (data[n] | data[n + 1]) != 0) n += 2;
    return ucs2ToUtf8(data, n);
}

}  // namespace related

using related::at16;
using related::at32;
using related::at8;

namespace {

// A property block is small (Access keeps it under a few hundred kilobytes);
// a chain claiming more is damaged.
constexpr size_t kMaxBlockBytes = 16u << 20;

std::string propertyValueText(const std::string& name, const uint8_t* value, size_t size) {
    if (name == "ColumnWidth") {
        uint32_t v = 0;
        for (size_t i = 0; i < size && i < 4; ++i) v |= static_cast<uint32_t>(value[i]) << (8 * i);
        return std::to_string(static_cast<int32_t>(v));
    }
    if (size <= 1) return std::to_string(size == 0 ? 0 : value[0]);
    return related::Utf16Cut(value, size);
}

}  // namespace

void RelatedReader::ReadTableProperties(tableInfo& table) {
    ReadPropertyBlock(table.propertyRow, table.propertyPage, table.propertyLength, table.propertyFlags, table);
    // A calculated column is created, shown and saved as its result type.
    for (columnInfo& col : table.columns) {
        if (!col.isCalculated) continue;
        for (const columnProperties& p : col.properties) {
            if (p.name != "ResultType") continue;
            if (const uint8_t type = ColumnTypeOfResultType(std::atol(p.value.c_str()))) col.type = type;
            break;
        }
    }
}

void RelatedReader::ReadPropertyBlock(uint8_t row, uint32_t page, uint16_t length, uint16_t flags, tableInfo& table) {
    if (!jet4Layout || page == 0 || static_cast<uint64_t>(page) * pageSize >= fileLength) return;

    // Gather the block's bytes along the chain first: a group split over two
    // pages is then read as if it had been stored in one piece.
    std::vector<uint8_t> block;
    bool first = true;
    bool broken = false;
    related::Page p;
    uint32_t current = page;
    const uint64_t visitLimit = pageCount() + 1;
    for (uint64_t visits = 0; current != 0 && visits < visitLimit; ++visits) {
        if (static_cast<uint64_t>(current) * pageSize >= fileLength) {
            broken = true;
            break;
        }
        p.load(databaseFile, static_cast<uint64_t>(current) * pageSize, Layout());
        if (!p.isDataPage()) {
            broken = !first || block.empty();
            break;
        }
        uint32_t start = 0, end = 0;
        // The same row number on every page of the chain, as Access writes it.
        if (!p.rowBounds(row, start, end)) {
            broken = true;
            break;
        }
        uint32_t next = 0;
        if (flags != 0) {
            end = std::min<uint32_t>(end, start + length);
        } else {
            const uint32_t pointer = p.u32(start);
            if (related::IsPropertySignature(pointer)) {
                // A signature where the chain pointer belongs: not a chain.
                broken = true;
                break;
            }
            next = pointer >> 8;
            start += 4;
            if (start > end) {
                broken = true;  // a row too short for its pointer
                break;
            }
        }
        if (p.isLongValuePage()) {
            if (first && (end - start < 4 || !related::IsPropertySignature(p.u32(start)))) {
                broken = true;
                break;
            }
            first = false;
            if (block.size() + (end - start) > kMaxBlockBytes) {
                broken = true;
                break;
            }
            block.insert(block.end(), p.bytes.begin() + start, p.bytes.begin() + end);
        }
        current = next;
    }
    if (broken || block.empty()) {
        ++relatedStatistics.propertyBlocksUnreadable;
        if (block.empty()) return;
    }

    // The name list.
    std::vector<std::string> names;
    const uint64_t listLength = at32(block, 4);
    const uint64_t listEnd = std::min<uint64_t>(4 + std::max<uint64_t>(listLength, 6), block.size());
    for (uint64_t at = 10; at + 2 <= listEnd;) {
        const uint16_t n = at16(block, at);
        at += 2;
        const uint64_t take = std::min<uint64_t>(n, listEnd - at);
        names.push_back(ucs2ToUtf8(block.data() + at, take & ~uint64_t{1}));
        at += take;
    }

    // The groups: one per object.
    for (uint64_t at = listEnd; at + 6 <= block.size();) {
        const uint64_t groupLength = at32(block, at);
        if (groupLength < 12) break;  // cannot hold its own header: the rest is unreadable
        const uint64_t groupEnd = std::min<uint64_t>(at + groupLength, block.size());
        const uint64_t nameLength = at16(block, at + 10);
        const uint64_t nameStart = at + 12;
        const uint64_t nameTake = nameStart < groupEnd ? std::min(nameLength, groupEnd - nameStart) : 0;
        const std::string groupName = nameTake ? ucs2ToUtf8(block.data() + nameStart, nameTake & ~uint64_t{1}) : "";
        columnInfo* column = nullptr;
        if (!groupName.empty()) {
            for (columnInfo& c : table.columns) {
                if (c.name == groupName) {
                    column = &c;
                    break;
                }
                if (redirectActive && c.name == redirectColumn) {
                    redirectActive = false;
                    if ((groupName == "Value" && c.allowsMultipleValues) || (groupName == "FileData" && c.type == kJetComplex)) {
                        column = &c;
                        break;
                    }
                }
            }
        }
        if (column) {
            for (uint64_t e = nameStart + nameLength; e + 8 <= groupEnd;) {
                const uint16_t index = at16(block, e + 4);
                const uint64_t valueLength = at16(block, e + 6);
                const uint64_t valueStart = e + 8;
                const uint64_t valueTake = std::min(valueLength, groupEnd - std::min(groupEnd, valueStart));
                e = valueStart + valueLength;
                if (index >= names.size()) continue;  // a name the list does not have: passed over
                const std::string& name = names[index];
                const uint8_t* value = block.data() + std::min<uint64_t>(valueStart, block.size());
                if (name == "AllowMultipleValues" && valueTake == 1 && value[0] != 0) column->allowsMultipleValues = true;
                column->properties.push_back({name, propertyValueText(name, value, valueTake)});
            }
        }
        at += groupLength;
    }
}

}  // namespace talmera
