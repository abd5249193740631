// libFuzzer target: table and column property blocks
// (related/PropertyBlocks.cpp), read from one long-value row and from a chain
// of them, into a table whose columns carry the names of the block's groups.
//
// Input (fuzz/seeds/property/): a property block ("MR2" and what follows).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/TextCodec.h"
#include "related/Related.h"

using namespace talmera;

namespace {

constexpr uint32_t kPageSize = 4096;
// Chain pieces of this many bytes, so that a group is split over pages.
constexpr size_t kPiece = 1500;
constexpr size_t kMaxColumns = 16;

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> longValuePage(const std::vector<uint8_t>& row) {
    std::vector<uint8_t> page = fuzz::DataPage(true, 0, {row});
    std::copy_n("LVAL", 4, page.begin() + 4);
    return page;
}

// The names of the block's groups (the objects they describe), read loosely.
std::vector<std::string> groupNames(const fuzz::Bytes& b) {
    std::vector<std::string> names;
    uint64_t at = 4 + std::max<uint64_t>(b.u32(4), 6);
    while (at + 12 <= b.size && names.size() < kMaxColumns) {
        const uint32_t length = b.u32(at);
        if (length < 12) break;
        const size_t nameLength = std::min<size_t>(b.u16(at + 10), b.size - (at + 12));
        names.push_back(ucs2ToUtf8(b.data + at + 12, nameLength & ~size_t{1}));
        at += length;
    }
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::Bytes block{data, size};
    fuzz::MemoryFile& file = fuzz::MemoryFile::Instance();
    file.clear();
    // Page 1: the block in one row. Pages 2 on: the block in pieces, each
    // row naming the next (row 0 of the next page).
    const std::vector<uint8_t> whole(data, data + std::min<size_t>(size, kPageSize - 32));
    file.write(kPageSize, longValuePage(whole).data(), kPageSize);
    uint32_t page = 2;
    for (size_t at = 0; at < size && page < 64; at += kPiece, ++page) {
        const size_t take = std::min(kPiece, size - at);
        std::vector<uint8_t> row(4 + take, 0);
        if (at + take < size) put32(row, 0, (page + 1) << 8);
        std::copy(data + at, data + at + take, row.begin() + 4);
        file.write(static_cast<uint64_t>(page) * kPageSize, longValuePage(row).data(), kPageSize);
    }

    fuzz::EngineOverImage over(true, static_cast<uint64_t>(page + 1) * kPageSize, true);
    CMDBRecovery& engine = *over;
    tableInfo table;
    for (const std::string& name : groupNames(block)) {
        columnInfo c;
        c.name = name;
        c.type = kJetText;
        table.columns.push_back(c);
    }
    if (!table.columns.empty()) table.columns.front().isCalculated = true;
    columnInfo complex;
    complex.name = "Values";
    complex.type = kJetComplex;
    complex.allowsMultipleValues = true;
    table.columns.push_back(complex);

    RelatedReader reader(engine);
    reader.ReadPropertyBlock(0, 1, static_cast<uint16_t>(whole.size()), 0x4000, table);
    // A chain, with the redirection a complex column's value table uses.
    engine.redirectActive = true;
    engine.redirectColumn = "Values";
    reader.ReadPropertyBlock(0, 2, 0, 0, table);
    engine.redirectActive = false;
    table.propertyPage = 2;
    reader.ReadTableProperties(table);
    return 0;
}
