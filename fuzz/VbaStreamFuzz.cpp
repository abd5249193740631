// libFuzzer target: the VBA compression (accessobjects/VbaCompression.cpp)
// and the records of a decompressed "dir" stream.
//
// Input (fuzz/seeds/stream/): a stream of a code project (a compressed
// container: "dir" and the modules' sources), or any stream of the seed
// files' compound files.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "accessobjects/VbaCompression.h"
#include "fuzz/FuzzSupport.h"

using namespace talmera;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vba::DecompressStats stats;
    const std::vector<uint8_t> plain = vba::Decompress(data, size, &stats, 4u << 20);
    fuzz::Require(plain.size() <= 4u << 20);
    // A container of n bytes holds at most n chunks of 4096 bytes each.
    fuzz::Require(plain.size() <= (size + 1) * 4096);
    (void)vba::ParseDirStream(plain.data(), plain.size());
    (void)vba::ParseDirStream(data, size);
    // A small output limit cuts a container anywhere.
    const std::vector<uint8_t> cut = vba::Decompress(data, size, nullptr, 100);
    fuzz::Require(cut.size() <= 100 && cut.size() <= plain.size());
    fuzz::Require(std::equal(cut.begin(), cut.end(), plain.begin()));
    // A source text starts anywhere in its module's stream.
    if (size > 1) {
        const size_t offset = data[0] % size;
        (void)vba::Decompress(data + offset, size - offset, nullptr, 1u << 20);
    }
    return 0;
}
