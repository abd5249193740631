// The engine's state for forms, reports, macros and modules: the object
// storage entries read from the damaged file, the project file being built,
// the code-project search results and the transfer's working lists. It lives
// beside the engine (CMDBRecovery::ObjectsState) so that the engine's own
// header stays free of compound-file details.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "accessobjects/Automation.h"
#include "accessobjects/CompoundFile.h"
#include "accessobjects/ObjectsFolder.h"
#include "accessobjects/Security.h"

namespace talmera {

// One row of MSysAccessStorage: a storage or stream of the object storage.
struct tagObjectDetail {
    std::string name;           // UTF-8
    uint32_t id = 0;
    uint32_t parentId = 0;
    uint32_t type = 0;          // 1 storage, 2 stream
    uint32_t dataPosition = 0;  // file position of the Lv value's header; 0 when empty
    uint32_t dataSize = 0;      // bytes of the Lv entry in its row (bounds an inline value)
};

// Where a code-project text found by the search lies.
struct FoundStream {
    bool searched = false;
    bool found = false;
    uint64_t matchPosition = 0;  // file position of the stream's first byte
};

struct AccessObjectsState {
    // Object storage (ACE)
    std::list<tagObjectDetail> storage;
    std::list<tagObjectDetail> folderList;
    std::list<tagObjectDetail> codeProjectList;
    bool folderFound = false;
    uint32_t folderId = 0;
    bool codeProjectFound = false;
    bool formsHaveCode = false;
    // Every kind, not only the chosen ones (a listing of all objects).
    bool collectAllKinds = false;
    // Chunk pages (Jet 3, Jet 4)
    std::vector<uint64_t> chunkPages;
    // Project file builder
    bool projectFileUsable = false;
    bool codeProjectUnusable = false;
    bool modulesPass = false;
    bool reportsPass = false;
    FoundStream projectText;
    FoundStream dirStream;
    // The project file: built in memory, written only where it is kept.
    std::vector<uint8_t> projectImage;
    std::string projectFileName = "project.adp";
    // The directory being built, and the code-project entries whose data
    // WriteCodeProjectStreams supplies (their places in the directory).
    std::vector<cfb::Entry> directory;
    std::vector<std::pair<size_t, tagObjectDetail>> codeStreams;
    // Passed over while reading the storage, for the log.
    uint32_t rowsSkipped = 0;
    uint32_t valuesUnreadable = 0;
    uint64_t valueBudget = 0;    // bytes the values of the project file being built may still take

    // Transfer
    bool scratchPrepared = false;
    std::vector<std::pair<uint16_t, uint64_t>> scratchChunks;
    uint32_t scratchChunkCount = 0;
    std::vector<std::string> projectFormNames, projectReportNames, projectMacroNames, projectModuleNames;
    std::string installFolder;   // where the template database "newst.dat" is
    // The scratch databases of the newest Access ("temp.mdb" and the copies it
    // is made from) live in a private folder of unpredictable name, kept while
    // scratchPrepared is set.
    std::string scratchFolder;

    // Automation
    std::unique_ptr<IAccessPlatform> platform = std::make_unique<NoAccessPlatform>();
    std::unique_ptr<IUserRegistry> registry = std::make_unique<NoRegistry>();
    std::unique_ptr<IAccessApplication> access;
    AccessVersion version;

    // Without Access: the project files kept for the objects folder, and
    // the objects of the selection found in them.
    std::vector<ProjectFile> keptProjects;
};

// The template compound file "a000st.dat": the header, the root entry, the
// four folder storages (entries 1 to 4), the code-project storage (entry 5)
// and the entry written after a folder's subtree (entry 13). Generated here,
// the same bytes every time.
std::vector<uint8_t> ProjectTemplate();

// Removes the scratch folder (and "temp.mdb" in it) and clears scratchPrepared.
void DropScratchDatabase(AccessObjectsState& state);

}  // namespace talmera
