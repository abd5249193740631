// Forms, reports, macros and modules: the readers of the object storage in the
// damaged file (the chunk tables of Jet 3 and Jet 4, MSysAccessStorage in ACE)
// and the project file built from it, over the engine's core; and the
// engine's state for them: the storage entries read, the project file being
// built, the code-project search results and the transfer's working lists.
// The state lives beside the engine (ObjectsState) so that the engine's own
// header stays free of compound-file details. The transfer of the objects
// into the output (with Microsoft Access) belongs to the save
// (engine/save/ObjectsTransfer.h).
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "accessobjects/Automation.h"
#include "accessobjects/CompoundFile.h"
#include "accessobjects/ObjectsFolder.h"
#include "accessobjects/Security.h"
#include "engine/MDBRecovery.h"

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
    // Where a project file the readers built goes: set by the save while
    // Access runs (its transfer into the output); when empty the file is
    // kept for the objects folder (KeepProjectFile).
    std::function<int()> transfer;
};

// The object storage state of this engine (made on first use).
AccessObjectsState& ObjectsState(CMDBRecovery& engine);

// Keeps the project file just built (projectImage, projectFileName) for the
// objects folder; 1 when it holds any object.
int KeepProjectFile(AccessObjectsState& state);

class ObjectStorageReader {
public:
    explicit ObjectStorageReader(CMDBRecovery& engine);

    // ---- The storage (ObjectStorage.cpp) -----------------------------------
    bool FindChunkPages();
    // Jet 4 and Jet 3: the chunks glued back into the project file, handed on.
    int ReadChunkedStorage();
    int ReadChunkedStorage3();
    // ACE: the rows of MSysAccessStorage, one project file per object kind,
    // each handed on.
    int ReadStorageTable();
    void CollectFolder(const std::string& folderName, int kind);
    // Reads every form, report, macro and module the storage holds, without
    // Access (the objects command and the save's folder). Returns false when
    // the file has no readable object storage.
    bool CollectAccessObjects(ObjectsListing& listing);

    // ---- The project file (ProjectFile.cpp) --------------------------------
    void BuildProjectFile(int kind);
    void WriteCodeProjectStreams();
    // The bytes of one code-project stream (fixed contents, its own value, or
    // the text found by searching the file); false when stopped.
    bool RecoverCodeProjectStream(const tagObjectDetail& entry, std::vector<uint8_t>& data);
    // The bytes of a storage entry's Lv value.
    std::vector<uint8_t> ReadStorageValue(const tagObjectDetail& entry);

private:
    // The project file just built goes to the save's transfer or is kept.
    int HandOnProjectFile();

    CMDBRecovery& engine_;
    // The engine's parts these readers use, under the engine's names. The
    // layout is changed while the storage of another layout is read, and
    // restored.
    CQuorvinAccessRecoveryApp& app;
    const PageFile& databaseFile;
    uint16_t& pageSize;
    bool& jet4Layout;
    const uint64_t& fileLength;
    const std::vector<uint64_t>& otherDataPages;
    const uint32_t& storageTableId;
    AccessObjectsState& ObjectsState() { return talmera::ObjectsState(engine_); }
    void SendProgress(uintptr_t step, intptr_t value = 0) { engine_.SendProgress(step, value); }
    bool Stopped() const { return engine_.Stopped(); }
    SlotTable LoadPageRows(uint64_t pagePosition) const { return engine_.LoadPageRows(pagePosition); }
    bool ReadLongBinarySingle(uint64_t pagePosition, uint32_t length, uint8_t row, std::vector<uint8_t>& buffer) {
        return engine_.ReadLongBinarySingle(pagePosition, length, row, buffer);
    }
    void ReadLongBinaryChain(uint64_t pagePosition, uint8_t row, uint32_t length, std::vector<uint8_t>& buffer,
                             bool& incomplete) {
        engine_.ReadLongBinaryChain(pagePosition, row, length, buffer, incomplete);
    }
};

// The template compound file "a000st.dat": the header, the root entry, the
// four folder storages (entries 1 to 4), the code-project storage (entry 5)
// and the entry written after a folder's subtree (entry 13). Generated here,
// the same bytes every time.
std::vector<uint8_t> ProjectTemplate();

// Removes the scratch folder (and "temp.mdb" in it) and clears scratchPrepared.
void DropScratchDatabase(AccessObjectsState& state);

}  // namespace talmera
