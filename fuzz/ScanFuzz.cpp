// libFuzzer target: the whole scan run on arbitrary bytes. Any crash, hang or
// sanitizer report is a defect: damaged input is the normal case.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "accessobjects/AccessObjects.h"
#include "accessobjects/CompoundFile.h"
#include "accessobjects/ObjectsFolder.h"
#include "accessobjects/VbaCompression.h"
#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "engine/run/RecoverThread.h"
#include "engine/save/OutputDatabase.h"
#include "fuzz/FuzzSupport.h"
#include "platform/MessageReceiver.h"
#include "related/Related.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The engine reads files by path; an anonymous in-memory file gives it one
    // without touching the disk.
    const int fd = memfd_create("fuzz-input", MFD_CLOEXEC);
    if (fd < 0) return 0;
    size_t written = 0;
    while (written < size) {
        const ssize_t n = write(fd, data + written, size - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    for (bool deleted : {false, true}) {
        talmera::CQuorvinAccessRecoveryApp app;
        talmera::fuzz::SilentReceiver receiver;
        app.selectedPath = path;
        app.scanRun = true;
        app.includeDeletedRecords = deleted;
        app.engine = std::make_shared<talmera::CMDBRecovery>(app);
        app.engine->sourcePath = path;
        talmera::CRecoverThread run(app, &receiver);
        run.sourcePath = path;
        run.Run();
        // Decode every row of every table found, long values included, and
        // every entry of the deleted-row lists.
        talmera::CMDBRecovery& engine = *app.engine;
        std::vector<talmera::RowValue> values;
        for (size_t t = 0; t < engine.tables.size(); ++t) {
            const talmera::tableInfo& table = engine.tables[t];
            for (uint64_t page : table.pages) {
                const talmera::SlotTable slots = engine.LoadPageRows(page);
                for (size_t slot = 0; slot < slots.size(); ++slot) {
                    engine.DecodeRowValues(table, page, slots, slot, true, values);
                }
            }
            for (size_t j = 0; j < table.deletedRows.size(); ++j) engine.DecodeDeletedRowValues(table, j, true, values);
        }
        // Related objects: the scan read property blocks, relationships, link
        // paths and complex columns; also read every link's Connect value, each
        // complex column's type (with its value table's property block) and
        // every attachment's data through the inflation.
        for (const talmera::LinkedTableInfo& link : engine.linkedTables) talmera::RelatedReader(engine).RebuildConnect(link);
        std::vector<uint8_t> content;
        for (talmera::tableInfo& table : engine.tables) {
            for (const talmera::columnInfo& column : table.columns) {
                if (column.type != talmera::kJetComplex) continue;
                talmera::OutputOf(engine).ComplexFieldType(table.definitionPage, column.name, table);
                for (const talmera::colRecordAttachmentInfo& a : column.attachments) talmera::RelatedReader(engine).ReadAttachmentContent(a, content);
            }
        }
        // Forms, reports, macros and modules: the chunked and table storage
        // readers, the project file builder, the compound-file reader and the
        // VBA decompression of whatever they find.
        if (!deleted) {
            talmera::ObjectsListing listing;
            talmera::ObjectStorageReader(engine).CollectAccessObjects(listing);
        }
    }
    // The same readers straight on the input, as a compound file and as
    // compressed VBA.
    {
        const std::vector<uint8_t> bytes(data, data + size);
        talmera::ObjectsListing listing;
        talmera::ReadProjectImage(bytes, listing);
        const std::vector<uint8_t> plain = talmera::vba::Decompress(data, size, nullptr, 1u << 20);
        talmera::vba::ParseDirStream(plain.data(), plain.size());
        talmera::vba::ParseDirStream(data, size);
    }
    close(fd);
    return 0;
}
