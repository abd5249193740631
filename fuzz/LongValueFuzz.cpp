// libFuzzer target: long values (engine/LongValues.cpp): single long-value
// rows and chains of them, read as text and as bytes, plain and calculated,
// from every row of every long-value page of the input.
//
// Input (fuzz/seeds/lval/): a file image (fuzz/FuzzSupport.h) of long-value
// pages at their own page numbers: one page, or the pages of one chain.
// Options bits 1 to 7 choose a second claimed length beside the bytes of all
// the input's pages.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"

using namespace talmera;

namespace {

// The 12-byte value header of a row: length and where, then row and page.
std::vector<uint8_t> header(uint32_t length, uint8_t where, uint8_t row, uint32_t page) {
    std::vector<uint8_t> h(12, 0);
    const uint32_t raw = (length & 0x3FFFFFFF) | (static_cast<uint32_t>(where) << 24);
    for (int b = 0; b < 4; ++b) h[b] = static_cast<uint8_t>(raw >> (8 * b));
    h[4] = row;
    for (int b = 0; b < 3; ++b) h[5 + b] = static_cast<uint8_t>(page >> (8 * b));
    return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Image image;
    if (!fuzz::LoadImage(data, size, image)) return 0;
    fuzz::EngineOverImage over(image.jet4, image.length());
    CMDBRecovery& engine = *over;
    // The lengths the values claim: all the long-value pages hold, and a
    // shorter one the options choose.
    const uint32_t all = static_cast<uint32_t>(image.filePages.size()) * image.pageSize;
    const uint32_t lengths[] = {all, static_cast<uint32_t>(image.options >> 1) * 97u};

    std::vector<uint8_t> bytes;
    RowValue value;
    std::string text;
    size_t pagesRead = 0;
    for (uint32_t page : image.pageNumbers) {
        if (!over.isLongValuePage(page) || ++pagesRead > 4) continue;
        const uint64_t at = static_cast<uint64_t>(page) * image.pageSize;
        const size_t rows = std::min<size_t>(engine.LoadPageRows(at).size(), 16);
        for (size_t r = 0; r < rows; ++r) {
            const uint8_t row = static_cast<uint8_t>(r);
            // Each row is read one way in turn, so that an input stays quick
            // (every long-value row found reads its page's slot table).
            const uint32_t length = lengths[r & 1];
            const uint64_t cap = std::min<uint64_t>(length, engine.fileLength);
            bool incomplete = false;
            switch ((r >> 1) % 4) {
                case 0:
                    engine.ReadLongBinaryChain(at, row, length, bytes, incomplete);
                    fuzz::Require(bytes.size() <= cap);
                    // A chain that ended soundly gave every byte it claimed.
                    fuzz::Require(incomplete || bytes.size() == length);
                    break;
                case 1:
                    // A single long-value row holds no more than one page.
                    engine.ReadLongBinarySingle(at, length, row, bytes);
                    fuzz::Require(bytes.size() <= image.pageSize && bytes.size() <= length);
                    break;
                case 2:
                    engine.ReadLongTextSingleInto(at, length, row, (r & 8) != 0, text);
                    break;
                default:
                    for (uint8_t where : {uint8_t{0x40}, uint8_t{0x00}}) {
                        const std::vector<uint8_t> h = header(length, where, row, page);
                        value = RowValue{};
                        (void)engine.ReadMemoValue(h.data(), h.size(), true, value, (r & 8) != 0);
                        fuzz::Require(!value.deferred);
                    }
                    break;
            }
        }
    }
    return 0;
}
