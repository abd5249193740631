// libFuzzer target: a table definition stream (engine/TableDefinition.cpp:
// column entries, column names, indexes) read by ReadTableDefinition.
//
// Input (fuzz/seeds/tdef/): one byte of options, then the definition's bytes
// as one stream (its first page whole, then each continuation page from its
// offset 8). Option bit 0: the Jet 4 / ACE layout (else Jet 3). The stream is
// laid over pages 1, 2, ... of a file image, chained in that order; option
// bit 1 keeps the first page's own next-page number (a loop, a page out of
// the file or of another type) instead.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/FuzzSupport.h"

using namespace talmera;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool jet4 = (data[0] & 1) != 0;
    const bool storedChain = (data[0] & 2) != 0;
    const uint32_t pageSize = jet4 ? 4096 : 2048;
    const uint8_t* stream = data + 1;
    const size_t length = size - 1;

    fuzz::MemoryFile& file = fuzz::MemoryFile::Instance();
    file.clear();
    // Page 1 holds the stream's first page; each next page 8 bytes of page
    // header and the stream's next pageSize - 8 bytes.
    std::vector<uint8_t> page(pageSize);
    uint32_t number = 1;
    size_t at = 0;
    while (number < fuzz::kMaxImagePages) {
        std::fill(page.begin(), page.end(), 0);
        const size_t header = number == 1 ? 0 : 8;
        const size_t take = std::min<size_t>(pageSize - header, length - std::min(at, length));
        std::copy(stream + at, stream + at + take, page.begin() + header);
        at += take;
        const bool more = at < length;
        if (number > 1) {
            page[0] = 0x02;
            page[1] = 0x01;
        }
        if (!storedChain || number > 1) {
            const uint32_t next = more ? number + 1 : 0;
            for (int b = 0; b < 4; ++b) page[4 + b] = static_cast<uint8_t>(next >> (8 * b));
        }
        file.write(static_cast<uint64_t>(number) * pageSize, page.data(), page.size());
        if (!more) break;
        ++number;
    }

    fuzz::EngineOverImage over(jet4, static_cast<uint64_t>(number + 1) * pageSize);
    CMDBRecovery& engine = *over;
    tableInfo table;
    table.name = "Fuzzed";
    table.definitionPage = 1;
    engine.tables.push_back(table);
    // Where CheckUserTable leaves the reader: after the table-type byte.
    engine.definitionCursor = pageSize + (jet4 ? 41 : 21);
    engine.ReadTableDefinition(1);

    const tableInfo& read = engine.tables.back();
    fuzz::Require(read.columns.size() <= 0xFFFF);
    for (const columnInfo& column : read.columns) fuzz::Require(column.isFixed != column.isVariable);
    for (const indexInfo& index : read.indexes) {
        fuzz::Require(index.columnNumbers.size() == index.columnOrders.size());
        fuzz::Require(index.columnNumbers.size() <= 10);
    }
    return 0;
}
