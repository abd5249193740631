// libFuzzer target: compound files (accessobjects/CompoundFile.cpp: the
// reader and the builder) and what the objects folder reads from a project
// image (accessobjects/ObjectsFolder.cpp: folders, name lists, the code
// project and its modules).
//
// Input (fuzz/seeds/compound/): a compound file, as the object storage of the
// seed files holds them. What the reader makes of it is written again with
// the builder and read back: every stream must come back as it was.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "accessobjects/CompoundFile.h"
#include "accessobjects/ObjectsFolder.h"
#include "fuzz/FuzzSupport.h"

using namespace talmera;

namespace {

// Entries and bytes the round trip is tried for: a damaged directory may
// claim far more than a project holds.
constexpr size_t kMaxRoundTripEntries = 2048;
constexpr size_t kMaxRoundTripBytes = 8u << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> image(data, data + size);
    {
        ObjectsListing listing;
        ReadProjectImage(image, listing);
        (void)ListingText(listing, {{"project.adp", image}});
    }
    const cfb::Reader reader(image);
    if (!reader.valid()) return 0;
    (void)reader.FindPath({u"VBA", u"dir"});
    std::vector<cfb::Entry> entries = reader.entries();
    size_t bytes = 0;
    for (uint32_t i = 0; i < entries.size() && i < kMaxRoundTripEntries; ++i) {
        bool incomplete = false;
        entries[i].data = reader.ReadStream(i, &incomplete);
        bytes += entries[i].data.size();
        (void)reader.Children(i);
    }
    if (entries.size() > kMaxRoundTripEntries || bytes > kMaxRoundTripBytes) return 0;

    const std::vector<uint8_t> written = cfb::Write(entries);
    const cfb::Reader again(written);
    fuzz::Require(again.valid());
    fuzz::Require(again.entries().size() >= entries.size());
    fuzz::Require(again.damagedChains() == 0);
    for (uint32_t i = 1; i < entries.size(); ++i) {
        const cfb::Entry& e = again.entries()[i];
        fuzz::Require(e.type == entries[i].type);
        // An unused entry (type 0) keeps no name; a name keeps 31 characters.
        if (e.type != 0) fuzz::Require(e.name == entries[i].name.substr(0, 31));
        if (e.type != cfb::kStream) continue;
        bool incomplete = true;
        fuzz::Require(again.ReadStream(i, &incomplete) == entries[i].data);
        fuzz::Require(!incomplete);
    }
    return 0;
}
