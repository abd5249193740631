// libFuzzer target: the object storage (accessobjects/ObjectStorage.cpp,
// ProjectFile.cpp): the chunk tables of Jet 3 and Jet 4 put back together,
// the rows of MSysAccessStorage read into storage entries and their long
// values, the project file of each object kind built from them, and what the
// objects folder reads from those (compound files, the code project, VBA).
//
// Input (fuzz/seeds/storage/): a file image (fuzz/FuzzSupport.h) of the
// object storage of a seed file: the data pages of MSysAccessObjects (Jet),
// or MSysAccessStorage's definition page (the first definition page of the
// input), its data pages and the long-value pages of its values (ACE).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "accessobjects/AccessObjects.h"
#include "fuzz/FuzzSupport.h"

using namespace talmera;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Image image;
    if (!fuzz::LoadImage(data, size, image)) return 0;
    fuzz::EngineOverImage over(image.jet4, image.length(), image.jet4);
    CMDBRecovery& engine = *over;
    for (uint32_t page : image.pageNumbers) {
        if (engine.storageTableId == 0 && page != 0 &&
            engine.databaseFile.u8(static_cast<uint64_t>(page) * image.pageSize) == 0x02)
            engine.storageTableId = page;
    }
    for (uint32_t page : image.filePages) {
        if (page == 0) continue;
        if (over.isDataPage(page) && !over.isLongValuePage(page))
            engine.otherDataPages.push_back(static_cast<uint64_t>(page) * image.pageSize);
    }
    over.app.formNames = {"Form1"};
    over.app.moduleNames = {"Module1"};

    ObjectsListing listing;
    ObjectStorageReader(engine).CollectAccessObjects(listing);
    (void)ListingText(listing, ObjectsState(engine).keptProjects);
    return 0;
}
