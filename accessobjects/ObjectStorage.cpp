// The object storage of the damaged file. Jet 3 and Jet 4 files keep it as a
// compound file cut into chunks, one chunk per row of a system table; the
// chunks are put back together in chunk-number order. ACE files keep it as a
// tree of rows in MSysAccessStorage, read here into storage entries that the
// project file builder writes out one object kind at a time.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

#include "accessobjects/AccessObjects.h"
#include "accessobjects/CompoundFile.h"
#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "platform/MessageReceiver.h"
#include "platform/TextCodec.h"

namespace talmera {

namespace {

constexpr size_t kJet4ChunkBytes = 3992;
constexpr uint32_t kJet4ChunkData = 93;
constexpr uint32_t kJet4ChunkNumber = 4085;
constexpr size_t kJet3ChunkBytes = 241;
constexpr uint32_t kJet3RowSize = 250;
constexpr uint32_t kJet3FirstRow = 48;
constexpr uint32_t kJet3SignatureOffset = 299;
constexpr uint32_t kAcePage = 4096;
// MSysAccessStorage: DateCreate, DateUpdate, Id, Lv, Name, ParentId, Type.
constexpr uint32_t kStorageColumns = 7;

bool hasSignature(const PageFile& file, uint64_t pos) {
    uint8_t bytes[8];
    file.read(pos, 8, bytes);
    return std::memcmp(bytes, cfb::kSignature, 8) == 0;
}

// Names whose rows never reach a project file.
constexpr const char* kDroppedNames[] = {"BlobDelta", "TypeInfo", "PROJECTwm", "CustomGroups", "DataAccessPages",
                                         "Cmdbars", "MSysAccessStorage_SCRATCH", "PropDataCopy", "BlobCopy",
                                         "TypeInfoCopy"};

bool dropped(const std::string& name) {
    for (const char* n : kDroppedNames)
        if (equalsIgnoreCase(name, n)) return true;
    return startsWith(name, "\x03" "DirDataCopy");
}

void sortByNumber(std::vector<std::pair<uint16_t, uint64_t>>& chunks) {
    std::stable_sort(chunks.begin(), chunks.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
}

}  // namespace

AccessObjectsState& ObjectsState(CMDBRecovery& engine) {
    if (!engine.accessObjects) engine.accessObjects = std::make_shared<AccessObjectsState>();
    return *engine.accessObjects;
}

void DropScratchDatabase(AccessObjectsState& state) {
    if (!state.scratchFolder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(state.scratchFolder, ignored);
        state.scratchFolder.clear();
    }
    state.scratchPrepared = false;
}

int KeepProjectFile(AccessObjectsState& s) {
    if (s.projectImage.empty()) return 0;
    ObjectsListing listing;
    ReadProjectImage(s.projectImage, listing);
    s.keptProjects.push_back({s.projectFileName, s.projectImage});
    return listing.objects.empty() ? 0 : 1;
}

ObjectStorageReader::ObjectStorageReader(CMDBRecovery& engine)
    : engine_(engine), app(engine.app), databaseFile(engine.databaseFile), pageSize(engine.pageSize),
      jet4Layout(engine.jet4Layout), fileLength(engine.fileLength), otherDataPages(engine.otherDataPages),
      storageTableId(engine.storageTableId) {}

int ObjectStorageReader::HandOnProjectFile() {
    AccessObjectsState& s = ObjectsState();
    return s.transfer ? s.transfer() : KeepProjectFile(s);
}

namespace {

// Hands the glued project file on (to Access, or to the objects folder) and
// drops it and the scratch database afterwards.
int transferGlued(AccessObjectsState& s, const std::function<int()>& handOn) {
    s.projectFileName = "project.adp";
    s.projectFileUsable = true;
    const int result = handOn();
    s.projectImage.clear();
    DropScratchDatabase(s);
    return result;
}

}  // namespace

bool ObjectStorageReader::FindChunkPages() {
    AccessObjectsState& s = ObjectsState();
    s.chunkPages.clear();
    const uint32_t at = jet4Layout ? kJet4ChunkData : kJet3SignatureOffset;
    SendProgress(kProgressStart, static_cast<intptr_t>(otherDataPages.size()));
    for (uint64_t page : otherDataPages) {
        if (Stopped()) return false;
        if (hasSignature(databaseFile, page + at)) s.chunkPages.push_back(page);
        SendProgress(kProgressStep);
    }
    SendProgress(kProgressEnd);
    return !s.chunkPages.empty();
}

// Glues the chunks of one chunk table back into the project file, then hands
// it on (to Access when it runs, else to the objects folder).
int ObjectStorageReader::ReadChunkedStorage() {
    AccessObjectsState& s = ObjectsState();
    if (!jet4Layout || !FindChunkPages()) return 0;
    uint32_t owner = 0;
    bool ownerFound = false;
    for (uint64_t page : s.chunkPages) {
        // The chunk page of chunk 1 holds that one row.
        if (LoadPageRows(page).size() == 1) {
            owner = databaseFile.u32(page + 4);
            ownerFound = true;
            break;
        }
    }
    if (!ownerFound) return 0;
    std::vector<std::pair<uint16_t, uint64_t>> chunks;  // (number, page)
    SendProgress(kProgressStart, static_cast<intptr_t>(otherDataPages.size()));
    for (uint64_t page : otherDataPages) {
        if (Stopped()) return 0;
        if (databaseFile.u32(page + 4) == owner) {
            const uint16_t number = databaseFile.u16(page + kJet4ChunkNumber);
            if (number != 0) chunks.emplace_back(number, page);
        }
        SendProgress(kProgressStep);
    }
    SendProgress(kProgressEnd);
    sortByNumber(chunks);
    s.projectImage.assign(chunks.size() * kJet4ChunkBytes, 0);
    for (size_t i = 0; i < chunks.size(); ++i)
        databaseFile.read(chunks[i].second + kJet4ChunkData, kJet4ChunkBytes, s.projectImage.data() + i * kJet4ChunkBytes);
    return transferGlued(s, [this] { return HandOnProjectFile(); });
}

int ObjectStorageReader::ReadChunkedStorage3() {
    AccessObjectsState& s = ObjectsState();
    if (!FindChunkPages()) return 0;
    const uint64_t lastFound = s.chunkPages.back();
    const uint32_t owner = databaseFile.u32(lastFound + 4);
    std::vector<uint64_t> pages;
    for (uint64_t page : s.chunkPages)
        if (databaseFile.u32(page + 4) == owner) pages.push_back(page);
    for (uint64_t page : otherDataPages)
        if (page > lastFound && databaseFile.u32(page + 4) == owner) pages.push_back(page);

    std::vector<std::pair<uint16_t, uint64_t>> chunks;  // (number, row start)
    SendProgress(kProgressStart, static_cast<intptr_t>(pages.size()));
    for (size_t i = 0; i < pages.size(); ++i) {
        if (Stopped()) return 0;
        const uint64_t page = pages[i];
        if (i + 1 < pages.size()) {
            // Full pages: eight rows of 250 bytes, from offset 48.
            for (uint32_t k = 0; k < 8; ++k) {
                const uint64_t row = page + kJet3FirstRow + kJet3RowSize * k;
                const uint16_t number = databaseFile.u16(row + 242);
                if (number != 0) chunks.emplace_back(number, row);
            }
        } else {
            for (const Slot& slot : LoadPageRows(page)) {
                if (slot.kind == SlotKind::OverflowPointer || slot.kind == SlotKind::Deleted) continue;
                if (!slot.inRowArea || slot.start + kJet3RowSize > pageSize) continue;
                const uint16_t number = databaseFile.u16(page + slot.start + 242);
                if (number != 0) chunks.emplace_back(number, page + slot.start);
            }
        }
        SendProgress(kProgressStep);
    }
    SendProgress(kProgressEnd);
    sortByNumber(chunks);
    s.projectImage.clear();
    uint16_t previous = 0;
    for (const auto& [number, row] : chunks) {
        // A missing chunk keeps its place as zeros, so that later chunks stay
        // at their offsets.
        if (number > previous + 1) s.projectImage.resize(s.projectImage.size() + (number - previous - 1) * kJet3ChunkBytes, 0);
        const size_t at = s.projectImage.size();
        s.projectImage.resize(at + kJet3ChunkBytes);
        databaseFile.read(row + 1, kJet3ChunkBytes, s.projectImage.data() + at);
        previous = number;
    }
    return transferGlued(s, [this] { return HandOnProjectFile(); });
}

int ObjectStorageReader::ReadStorageTable() {
    AccessObjectsState& s = ObjectsState();
    if (storageTableId == 0 || Stopped()) return 0;
    pageSize = kAcePage;
    const uint64_t pages = fileLength / kAcePage;
    const uint64_t definition = static_cast<uint64_t>(storageTableId) * kAcePage;

    // The definition names the columns; a damaged one leaves Access's own
    // column numbers in place.
    int nameColumn = 4, idColumn = 2, lvColumn = 3, parentColumn = 5, typeColumn = 6;
    if (definition + kAcePage <= fileLength && databaseFile.u8(definition) == 0x02) {
        const uint32_t columns = std::min<uint32_t>(databaseFile.u16(definition + 45), 255);
        const uint32_t realIndexes = std::min<uint32_t>(databaseFile.u32(definition + 51), 1000);
        const uint64_t descriptors = definition + 63 + 12ull * realIndexes;
        uint64_t name = descriptors + 25ull * columns;
        for (uint32_t c = 0; c < columns; ++c) {
            const uint64_t d = descriptors + 25ull * c;
            const uint16_t length = databaseFile.u16(name);
            if (d + 25 > definition + kAcePage || name + 2 + length > definition + kAcePage) break;
            std::vector<uint8_t> text(length);
            databaseFile.read(name + 2, length, text.data());
            const std::string columnName = ucs2ToUtf8(text.data(), text.size());
            const int number = databaseFile.u16(d + 5);
            if (equalsIgnoreCase(columnName, "Name")) nameColumn = number;
            if (equalsIgnoreCase(columnName, "Id")) idColumn = number;
            if (equalsIgnoreCase(columnName, "Lv")) lvColumn = number;
            if (equalsIgnoreCase(columnName, "ParentId")) parentColumn = number;
            if (equalsIgnoreCase(columnName, "Type")) typeColumn = number;
            name += 2 + length;
        }
    }

    s.storage.clear();
    bool sawVbaProject = false, sawAccessData = false, sawProject = false, sawDir = false;
    uint32_t firstVba = 0, laterVba = 0, vbaProjectId = 0;
    bool firstVbaSeen = false;
    SendProgress(kProgressStart, static_cast<intptr_t>(pages));
    for (uint64_t p = 0; p < pages; ++p) {
        if (Stopped()) return 0;
        const uint64_t page = p * kAcePage;
        SendProgress(kProgressStep);
        const uint8_t* pageBytes = databaseFile.view(page, kAcePage);
        if (!pageBytes || pageBytes[0] != 0x01 || databaseFile.u32(page + 4) != storageTableId) continue;
        const SlotTable slots(pageBytes, kAcePage, PageLayout::Jet4());
        for (const Slot& slot : slots) {
            if (slot.kind == SlotKind::OverflowPointer || slot.kind == SlotKind::Deleted) continue;
            if (slot.size() <= 3) {
                ++s.rowsSkipped;
                continue;
            }
            const uint64_t rowStart = page + slot.start;
            const uint32_t rowSize = slot.size();
            // The seven columns are all variable ones: the row's offset table
            // gives each (engine/PageRows.h).
            RowFrame frame;
            if (!frame.read(pageBytes + slot.start, rowSize, true) || frame.variables() < kStorageColumns) {
                ++s.rowsSkipped;
                continue;
            }
            auto column = [&](int c, uint64_t& at, uint32_t& size) {
                at = 0;
                size = 0;
                if (c < 0 || c >= static_cast<int>(kStorageColumns)) return;
                const uint32_t from = frame.offset(static_cast<uint32_t>(c));
                const uint32_t to = frame.offset(static_cast<uint32_t>(c) + 1);
                if (from > to || to > rowSize) return;
                at = rowStart + from;
                size = to - from;
            };
            uint64_t at = 0;
            uint32_t size = 0;
            tagObjectDetail d;
            column(nameColumn, at, size);
            std::vector<uint8_t> nameBytes(std::min<uint32_t>(size, 512));
            if (!nameBytes.empty()) databaseFile.read(at, nameBytes.size(), nameBytes.data());
            size_t units = 0;
            while (units * 2 + 1 < nameBytes.size() && (nameBytes[units * 2] | nameBytes[units * 2 + 1])) ++units;
            d.name = ucs2ToUtf8(nameBytes.data(), units * 2);
            if (dropped(d.name)) continue;
            column(idColumn, at, size);
            d.id = size >= 4 ? databaseFile.u32(at) : 0;
            column(typeColumn, at, size);
            d.type = size >= 4 ? databaseFile.u32(at) : 0;
            column(parentColumn, at, size);
            d.parentId = size >= 4 ? databaseFile.u32(at) : 0;
            column(lvColumn, at, size);
            d.dataPosition = size ? static_cast<uint32_t>(at) : 0;
            d.dataSize = size;
            if (d.name == "_VBA_PROJECT") sawVbaProject = true;
            if (d.name == "AcessVBAData") sawAccessData = true;
            if (d.name == "PROJECT") sawProject = true;
            if (d.name == "dir") sawDir = true;
            if (d.name == "VBA") {
                if (!firstVbaSeen) {
                    firstVba = d.id;
                    firstVbaSeen = true;
                } else {
                    laterVba = d.id;
                }
            }
            if (d.name == "VBAProject") vbaProjectId = d.id;
            s.storage.push_back(std::move(d));
        }
    }
    SendProgress(kProgressEnd);
    auto addMissing = [&](bool present, const char* name, uint32_t parent) {
        if (present) return;
        tagObjectDetail d;
        d.name = name;
        d.parentId = parent;
        d.type = 2;
        s.storage.push_back(d);
    };
    addMissing(sawVbaProject, "_VBA_PROJECT", laterVba);
    addMissing(sawAccessData, "AcessVBAData", firstVba);
    addMissing(sawProject, "PROJECT", vbaProjectId);
    addMissing(sawDir, "dir", laterVba);

    auto root = std::find_if(s.storage.begin(), s.storage.end(),
                             [](const tagObjectDetail& d) { return equalsIgnoreCase(d.name, "MSysAccessStorage_ROOT"); });
    if (root == s.storage.end()) return 1;
    s.storage.erase(root);

    struct KindPass {
        const char* folder;
        int kind;
        const std::vector<std::string>* selected;
    };
    const KindPass passes[] = {{"Forms", 0, &app.selectedForms},
                               {"Reports", 1, &app.selectedReports},
                               {"Scripts", 3, &app.selectedMacros},
                               {"Modules", 2, &app.selectedModules}};
    int result = 0;
    s.codeProjectFound = false;
    for (const KindPass& pass : passes) {
        if (pass.selected->empty() && !s.collectAllKinds) continue;
        s.modulesPass = pass.kind == 2;
        s.reportsPass = pass.kind == 1;
        CollectFolder(pass.folder, pass.kind);
        s.modulesPass = s.reportsPass = false;
        if (Stopped()) return 0;
        // A kind whose folder is missing or whose transfer fails does not
        // keep the other kinds from being transferred.
        if (s.projectFileUsable) {
            s.projectFileName = std::string("project_") + pass.folder + ".adp";
            if (HandOnProjectFile() == 1) result = 1;
            if (s.access) {
                try {
                    s.access->CloseCurrentDatabase();
                } catch (const std::exception&) {
                }
            }
        }
        s.projectImage.clear();
    }
    s.storage.clear();
    DropScratchDatabase(s);
    return result;
}

void ObjectStorageReader::CollectFolder(const std::string& folderName, int kind) {
    AccessObjectsState& s = ObjectsState();
    s.folderList.clear();
    s.folderFound = false;
    // Decided afresh for each kind: a kind whose folder is missing must not
    // be transferred with the previous kind's project file.
    s.projectFileUsable = false;
    s.projectImage.clear();
    // Moves the subtree below id into list, breadth first.
    auto collect = [&](uint32_t id, std::list<tagObjectDetail>& list) {
        const size_t before = list.size();
        // Children by parent, in storage order (equal keys keep their order).
        std::multimap<uint32_t, std::list<tagObjectDetail>::iterator> byParent;
        for (auto it = s.storage.begin(); it != s.storage.end(); ++it) byParent.emplace(it->parentId, it);
        auto take = [&](uint32_t parent) {
            const auto range = byParent.equal_range(parent);
            for (auto it = range.first; it != range.second; ++it) {
                list.push_back(*it->second);
                s.storage.erase(it->second);
            }
            byParent.erase(range.first, range.second);
        };
        take(id);
        // The list only grows while it is walked; each entry is taken once,
        // so a parent loop in a damaged table cannot run forever.
        auto next = list.begin();
        std::advance(next, static_cast<long>(before));
        for (; next != list.end(); ++next) take(next->id);
    };
    auto folder = std::find_if(s.storage.begin(), s.storage.end(),
                               [&](const tagObjectDetail& d) { return equalsIgnoreCase(d.name, folderName); });
    if (folder == s.storage.end()) return;
    const uint32_t folderId = folder->id;
    s.folderId = folderId;
    s.storage.erase(folder);
    collect(folderId, s.folderList);
    if (s.folderList.empty()) return;
    s.folderFound = true;

    if (!s.codeProjectFound) {
        auto vba = std::find_if(s.storage.begin(), s.storage.end(), [](const tagObjectDetail& d) {
            return equalsIgnoreCase(d.name, "VBA") && d.parentId == 1 && d.type != 0;
        });
        if (vba != s.storage.end()) {
            const uint32_t vbaId = vba->id;
            s.storage.erase(vba);
            s.codeProjectList.clear();
            collect(vbaId, s.codeProjectList);
            s.codeProjectFound = true;
            if (equalsIgnoreCase(folderName, "Forms")) {
                for (const tagObjectDetail& d : s.codeProjectList) {
                    bool plain = false;
                    for (const char* n : {"dir", "_VBA_PROJECT", "PROJECT", "AcessVBAData", "VBAProject", "VBA"})
                        plain = plain || equalsIgnoreCase(d.name, n);
                    if (!plain) s.formsHaveCode = true;
                }
            }
        }
    }
    // Siblings in ascending id order, the order the folder list is written in.
    // Each parent's entries keep their places in the list and are sorted
    // among themselves by id.
    std::vector<tagObjectDetail> entries(s.folderList.begin(), s.folderList.end());
    std::map<uint32_t, std::vector<size_t>> places;
    for (size_t i = 0; i < entries.size(); ++i) places[entries[i].parentId].push_back(i);
    for (auto& [parent, at] : places) {
        std::vector<tagObjectDetail> group;
        for (size_t i : at) group.push_back(entries[i]);
        std::stable_sort(group.begin(), group.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
        for (size_t k = 0; k < at.size(); ++k) entries[at[k]] = std::move(group[k]);
    }
    s.folderList.assign(entries.begin(), entries.end());
    BuildProjectFile(kind);
}

bool ObjectStorageReader::CollectAccessObjects(ObjectsListing& listing) {
    AccessObjectsState& s = ObjectsState();
    s.keptProjects.clear();
    s.collectAllKinds = true;
    const bool layout = jet4Layout;
    const uint16_t size = pageSize;
    // The chunked forms first; a file without a chunk table may keep its
    // objects in MSysAccessStorage.
    const int chunked = jet4Layout ? ReadChunkedStorage() : ReadChunkedStorage3();
    if (chunked == 0 && !Stopped()) {
        jet4Layout = true;
        ReadStorageTable();
    }
    // The reading changes the layout it reads with; the engine keeps its own.
    jet4Layout = layout;
    pageSize = size;
    s.collectAllKinds = false;
    for (const ProjectFile& p : s.keptProjects) ReadProjectImage(p.image, listing);
    CatalogObjectNames names{app.formNames, app.reportNames, app.macroNames, app.moduleNames};
    CompleteListing(listing, names);
    return !s.keptProjects.empty();
}

}  // namespace talmera
