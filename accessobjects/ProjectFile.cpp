// The project file of an ACE database: the storage entries of one object kind
// (its folder with the subtree, siblings by ascending id) and the code project,
// written as a compound file in the layout Access expects of a project. The
// fixed parts come from the template; streams the storage lacks are stood in
// for, and the code project's "PROJECT" and "dir" texts are searched for in the
// whole file when their rows are gone.
#include <algorithm>
#include <cstring>
#include <map>
#include <optional>

#include "accessobjects/AccessObjects.h"
#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "platform/MessageReceiver.h"
#include "platform/TextCodec.h"

namespace talmera {

namespace {

// 2008-01-23 11:22:16.125 UTC, the time stamp of every written entry.
constexpr uint64_t kEntryTime = (uint64_t{0x01C85DB2} << 32) | 0x356236D0u;
constexpr uint32_t kPage = 4096;
constexpr size_t kMaxSearchedStream = 16u << 20;

const uint8_t kPropDataDefault[22] = {0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                      0x00, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
const uint8_t kVbaProjectDefault[7] = {0xCC, 0x61, 0x6D, 0x00, 0x00, 0x01, 0x00};
const uint8_t kAccessVbaData[12] = {0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
const uint8_t kProjectMarker[5] = {0x49, 0x44, 0x3D, 0x22, 0x7B};  // ID="{
const uint8_t kDirMarker[29] = {0x80, 0x01, 0x00, 0x04, 0x00, 0x00, 0x00, 0x01, 0x00, 0x30, 0x2A, 0x02, 0x02, 0x90, 0x09,
                                0x00, 0x70, 0x14, 0x06, 0x48, 0x03, 0x00, 0x82, 0x02, 0x00, 0x64, 0xE4, 0x04, 0x04};

cfb::Entry storageEntry(const std::string& name, uint8_t type) {
    cfb::Entry e;
    e.name = cfb::ToU16(name);
    if (e.name.size() > 31) e.name.resize(31);
    e.type = type;
    e.color = 1;
    e.created = e.modified = kEntryTime;
    return e;
}

bool isNumberName(const std::string& name, uint32_t& value) {
    if (name.empty() || name.size() > 9) return false;
    value = 0;
    for (char c : name) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return true;
}

// Chains entries as right siblings in the format's name order; returns the first.
uint32_t chainByName(std::vector<cfb::Entry>& dir, std::vector<size_t> members) {
    if (members.empty()) return cfb::kNoStream;
    std::stable_sort(members.begin(), members.end(),
                     [&](size_t a, size_t b) { return cfb::CompareNames(dir[a].name, dir[b].name) < 0; });
    for (size_t k = 0; k + 1 < members.size(); ++k) dir[members[k]].right = static_cast<uint32_t>(members[k + 1]);
    dir[members.back()].right = cfb::kNoStream;
    return static_cast<uint32_t>(members.front());
}

}  // namespace

std::vector<uint8_t> ProjectTemplate() {
    std::vector<cfb::Entry> entries(14);
    for (cfb::Entry& e : entries) {
        e.type = 0;
        e.color = 0;
        e.start = 0;
    }
    auto storage = [&](size_t at, const char* name) {
        entries[at] = storageEntry(name, cfb::kStorage);
    };
    entries[0] = storageEntry("Root Entry", cfb::kRoot);
    entries[0].child = 1;
    storage(1, "Forms");
    storage(2, "Reports");
    storage(3, "Modules");
    storage(4, "Scripts");
    storage(5, "VBA");
    // Written after a folder's subtree as the folder's right sibling: a name
    // that sorts after every folder name.
    storage(13, "Databases");
    // The template's own tree: Forms with VBA on its left and Modules,
    // Reports, Scripts, Databases on its right.
    entries[1].left = 5;
    entries[1].right = 3;
    entries[3].right = 2;
    entries[2].right = 4;
    entries[4].right = 13;
    return cfb::Write(entries);
}

std::vector<uint8_t> ObjectStorageReader::ReadStorageValue(const tagObjectDetail& entry) {
    std::vector<uint8_t> data;
    if (entry.dataPosition == 0) return data;
    AccessObjectsState& s = ObjectsState();
    // Every stream's bytes lie in the file once: all values of one project
    // file together cannot be longer than the file. Entries of a damaged
    // table that point at the same chain again are read empty past that.
    if (s.valueBudget == 0) {
        ++s.valuesUnreadable;
        return data;
    }
    if (entry.dataSize < 12) {
        ++s.valuesUnreadable;
        return data;
    }
    const uint32_t raw = databaseFile.u32(entry.dataPosition);
    const uint32_t length = raw & 0x3FFFFFFF;
    const uint8_t where = static_cast<uint8_t>(raw >> 24) & 0xC0;
    const uint32_t pointer = databaseFile.u32(entry.dataPosition + 4);
    const uint64_t page = static_cast<uint64_t>(pointer >> 8) * kPage;
    const uint8_t row = static_cast<uint8_t>(pointer & 0xFF);
    if (where == 0x80) {
        // Copied whole: the value's bytes are all in the row after the header.
        data.resize(std::min<uint32_t>(length, entry.dataSize - 12));
        databaseFile.read(entry.dataPosition + 12, data.size(), data.data());
    } else if (where == 0x40) {
        if (!ReadLongBinarySingle(page, std::min<uint32_t>(length, kPage), row, data)) ++s.valuesUnreadable;
    } else {
        bool incomplete = false;
        ReadLongBinaryChain(page, row, length & 0x0FFFFFFF, data, incomplete);
        if (incomplete) ++s.valuesUnreadable;
    }
    if (data.size() > s.valueBudget) {
        data.resize(static_cast<size_t>(s.valueBudget));
        ++s.valuesUnreadable;
    }
    s.valueBudget -= data.size();
    return data;
}

namespace {

// The first position in the file, inside a data page (first bytes 01 01), where
// pattern begins; false when there is none.
bool searchFile(const PageFile& file, uint64_t fileLength, const uint8_t* pattern, size_t size, uint64_t& found) {
    const uint64_t pages = fileLength / kPage;
    for (uint64_t p = 0; p < pages; ++p) {
        const uint8_t* page = file.view(p * kPage, kPage);
        if (!page || page[0] != 0x01 || page[1] != 0x01) continue;
        const void* hit = memmem(page, kPage, pattern, size);
        if (hit) {
            found = p * kPage + static_cast<uint64_t>(static_cast<const uint8_t*>(hit) - page);
            return true;
        }
    }
    return false;
}

// Bytes from position to the end of the row that holds it, on a page of
// several rows (slots: the page's slot table).
std::vector<uint8_t> rowFrom(const PageFile& file, const SlotTable& slots, uint64_t position) {
    const uint32_t offset = static_cast<uint32_t>(position % kPage);
    const uint32_t end = slots.rowEndAfter(offset);
    std::vector<uint8_t> bytes(end > offset ? end - offset : 0);
    file.read(position, bytes.size(), bytes.data());
    return bytes;
}

void cutAtHelpLine(std::vector<uint8_t>& text) {
    static const char kHelp[] = "HelpContextID=";
    for (size_t i = 0; i + sizeof kHelp - 1 <= text.size(); ++i) {
        if ((i == 0 || text[i - 1] == '\n') && std::memcmp(text.data() + i, kHelp, sizeof kHelp - 1) == 0) {
            text.resize(i);
            return;
        }
    }
}

}  // namespace

bool ObjectStorageReader::RecoverCodeProjectStream(const tagObjectDetail& entry, std::vector<uint8_t>& data) {
    AccessObjectsState& s = ObjectsState();
    if (Stopped()) return false;
    data.clear();
    const bool hasData = entry.dataPosition != 0;
    if (entry.name == "_VBA_PROJECT" && !hasData) {
        data.assign(kVbaProjectDefault, kVbaProjectDefault + sizeof kVbaProjectDefault);
        return true;
    }
    if (entry.name == "AcessVBAData") {
        data.assign(kAccessVbaData, kAccessVbaData + sizeof kAccessVbaData);
        return true;
    }
    // A found text: on a page of several rows the row that starts there, on
    // a page of one row a chain of long-value rows.
    auto readFound = [&](uint64_t position) {
        const uint64_t page = position - position % kPage;
        const SlotTable slots = LoadPageRows(page);
        if (slots.size() > 1) return rowFrom(databaseFile, slots, position);
        std::vector<uint8_t> chain;
        bool incomplete = false;
        ReadLongBinaryChain(page, 0, kMaxSearchedStream, chain, incomplete);
        const uint64_t skip = position - page;  // where the text begins within the chain's first piece
        const uint32_t first = slots.empty() ? 0 : slots[0].start;
        const uint64_t dataStart = first + 4;
        if (skip > dataStart && skip - dataStart < chain.size()) chain.erase(chain.begin(), chain.begin() + (skip - dataStart));
        return chain;
    };
    if (entry.name == "PROJECT") {
        if (hasData) {
            data = ReadStorageValue(entry);
            if (data.size() >= 13 && std::memcmp(data.data() + 5, "00000000", 8) != 0) return true;
        }
        if (!s.projectText.searched) {
            s.projectText.searched = true;
            s.projectText.found =
                searchFile(databaseFile, fileLength, kProjectMarker, sizeof kProjectMarker, s.projectText.matchPosition);
        }
        if (!s.projectText.found) {
            s.codeProjectUnusable = true;
            data.clear();
            return true;
        }
        data = readFound(s.projectText.matchPosition);
        cutAtHelpLine(data);
        return true;
    }
    if (entry.name == "dir" && !hasData) {
        if (!s.dirStream.searched) {
            s.dirStream.searched = true;
            uint64_t match = 0;
            s.dirStream.found = searchFile(databaseFile, fileLength, kDirMarker, sizeof kDirMarker, match) && match >= 3;
            s.dirStream.matchPosition = match >= 3 ? match - 3 : 0;
        }
        if (!s.dirStream.found) {
            s.codeProjectUnusable = true;
            return true;
        }
        data = readFound(s.dirStream.matchPosition);
        return true;
    }
    data = ReadStorageValue(entry);
    return true;
}

void ObjectStorageReader::WriteCodeProjectStreams() {
    AccessObjectsState& s = ObjectsState();
    auto recover = [&](std::pair<size_t, tagObjectDetail>& item) {
        std::vector<uint8_t> data;
        if (!RecoverCodeProjectStream(item.second, data)) return false;
        if (item.first < s.directory.size()) s.directory[item.first].data = std::move(data);
        SendProgress(kProgressStep);
        return true;
    };
    for (auto& item : s.codeStreams) {
        const std::string& name = item.second.name;
        if (name == "PROJECT" || name == "AcessVBAData") continue;
        if (item.second.dataPosition == 0 && name != "_VBA_PROJECT" && name != "dir") continue;
        if (!recover(item)) return;
    }
    for (const char* last : {"AcessVBAData", "PROJECT"})
        for (auto& item : s.codeStreams)
            if (item.second.name == last && !recover(item)) return;
}

void ObjectStorageReader::BuildProjectFile(int kind) {
    AccessObjectsState& s = ObjectsState();
    s.projectFileUsable = false;
    s.projectImage.clear();
    s.directory.clear();
    s.codeStreams.clear();
    s.valueBudget = fileLength + (1u << 20);
    const std::vector<uint8_t> templ = ProjectTemplate();
    auto templateEntry = [&](size_t k) {
        const size_t at = 1024 + cfb::kEntrySize * k;
        return at + cfb::kEntrySize <= templ.size() ? cfb::DecodeEntry(templ.data() + at) : cfb::Entry{};
    };
    std::vector<cfb::Entry>& dir = s.directory;
    dir.push_back(templateEntry(0));
    if (!s.folderFound || kind < 0 || kind > 3) return;
    SendProgress(kProgressStart, 1000);

    // ---- Folder pass: the directory entries in list order.
    const size_t folderAt = dir.size();
    dir.push_back(templateEntry(static_cast<size_t>(kind) + 1));
    struct Written {
        size_t at;
        tagObjectDetail detail;
        bool added = false;  // the PropData written after a Blob that lacked one
    };
    std::vector<Written> written;
    auto write = [&](const tagObjectDetail& d, bool added = false) {
        cfb::Entry e = storageEntry(d.name, static_cast<uint8_t>(d.type & 0xFF));
        written.push_back({dir.size(), d, added});
        dir.push_back(std::move(e));
    };
    std::optional<tagObjectDetail> heldPropData, heldDirData;
    bool propDataSeen = false, heldWritten = false;
    const std::vector<tagObjectDetail> list(s.folderList.begin(), s.folderList.end());
    for (size_t i = 0; i < list.size(); ++i) {
        if (Stopped()) return;
        const tagObjectDetail& d = list[i];
        if (d.name == "PropData" && !propDataSeen) {
            propDataSeen = true;
            heldPropData = d;
            continue;
        }
        if (d.name.size() >= 8 && d.name.compare(0, 8, "\x03" "DirData") == 0) {
            if (!heldDirData) heldDirData = d;
            s.projectFileUsable = true;
            continue;
        }
        if (d.name == "Blob" && heldPropData && !heldWritten && kind != 2) {
            write(*heldPropData);
            heldWritten = true;
        }
        write(d);
        if (d.name == "Blob" && i + 1 < list.size() && list[i + 1].name != "PropData" &&
            list[i + 1].parentId != d.parentId) {
            tagObjectDetail added;
            added.name = "PropData";
            added.type = d.type;
            added.parentId = d.parentId;
            write(added, true);
        }
        SendProgress(kProgressStep);
    }
    if (heldPropData && !heldWritten) {
        write(*heldPropData);
        heldWritten = true;
    }
    std::optional<size_t> dirDataAt, heldPropDataAt;
    for (const Written& w : written)
        if (heldPropData && !w.added && w.detail.name == "PropData" && w.detail.id == heldPropData->id &&
            w.detail.parentId == heldPropData->parentId)
            heldPropDataAt = w.at;
    if (heldDirData) {
        dirDataAt = dir.size();
        write(*heldDirData);
    }
    const size_t afterFolderAt = dir.size();
    dir.push_back(templateEntry(13));

    // ---- Code project: only for reports, modules, and forms with code; never
    // for macros.
    std::optional<size_t> codeAt;
    std::vector<Written> codeWritten;
    // formsHaveCode stays set after the forms: only the forms' own file takes it.
    const bool wantsCode = s.modulesPass || s.reportsPass || (kind == 0 && s.formsHaveCode);
    if (!s.codeProjectUnusable && wantsCode && !s.codeProjectList.empty()) {
        auto keep = [](const tagObjectDetail& d) {
            return d.name == "VBAProject" || d.name == "VBA" || d.name == "_VBA_PROJECT" || d.name == "dir" ||
                   d.dataPosition != 0;
        };
        std::vector<tagObjectDetail> order;
        for (const tagObjectDetail& d : s.codeProjectList)
            if (keep(d) && d.name != "PROJECT" && d.name != "AcessVBAData") order.push_back(d);
        for (const tagObjectDetail& d : s.codeProjectList)
            if (d.name == "PROJECT" || d.name == "AcessVBAData") order.push_back(d);
        // The streams' contents first: a search that finds nothing leaves the
        // code project out of this and every later project file.
        const size_t base = dir.size() + 1;
        for (size_t k = 0; k < order.size(); ++k)
            if (order[k].type == cfb::kStream) s.codeStreams.emplace_back(base + k, order[k]);
        dir.push_back(templateEntry(5));
        for (const tagObjectDetail& d : order) {
            codeWritten.push_back({dir.size(), d, false});
            dir.push_back(storageEntry(d.name, static_cast<uint8_t>(d.type & 0xFF)));
        }
        WriteCodeProjectStreams();
        if (Stopped()) return;
        if (s.codeProjectUnusable) {
            dir.resize(base - 1);
            codeWritten.clear();
            s.codeStreams.clear();
        } else {
            codeAt = base - 1;
        }
    }

    // ---- Stream pass: the folder's data.
    for (const Written& w : written) {
        if (Stopped()) return;
        cfb::Entry& e = dir[w.at];
        if (e.type != cfb::kStream) continue;
        if (w.detail.dataPosition != 0) {
            e.data = ReadStorageValue(w.detail);
        } else if (w.detail.name == "PropData" && !w.added) {
            e.data.assign(kPropDataDefault, kPropDataDefault + sizeof kPropDataDefault);
        }
        SendProgress(kProgressStep);
    }
    if (!s.projectFileUsable) {
        SendProgress(kProgressEnd);
        return;
    }

    // ---- Links.
    dir[0].child = static_cast<uint32_t>(folderAt);
    cfb::Entry& folder = dir[folderAt];
    folder.right = static_cast<uint32_t>(afterFolderAt);
    dir[afterFolderAt].left = dir[afterFolderAt].right = dir[afterFolderAt].child = cfb::kNoStream;
    if (codeAt) folder.left = static_cast<uint32_t>(*codeAt);
    else if (s.codeProjectUnusable) folder.left = cfb::kNoStream;
    else folder.left = cfb::kNoStream;  // the template's folders have no code project of their own

    // Object storages: the folder's numbered children, by number.
    std::vector<std::pair<uint32_t, size_t>> storages;
    for (const Written& w : written) {
        uint32_t number = 0;
        if (w.detail.parentId == s.folderId && dir[w.at].type == cfb::kStorage && isNumberName(w.detail.name, number))
            storages.emplace_back(number, w.at);
    }
    std::stable_sort(storages.begin(), storages.end());
    const uint32_t dirData = dirDataAt ? static_cast<uint32_t>(*dirDataAt) : cfb::kNoStream;
    folder.child = dirData;
    if (storages.size() == 1) {
        folder.child = static_cast<uint32_t>(storages[0].second);
        dir[storages[0].second].right = dirData;
    } else if (storages.size() > 1) {
        auto at = [&](size_t i) { return storages[i].second; };
        folder.child = static_cast<uint32_t>(at(1));
        size_t last = 1;
        for (size_t i = 1; i < storages.size(); i += 2) {
            dir[at(i)].left = static_cast<uint32_t>(at(i - 1));
            last = i;
            if (i + 2 < storages.size()) {
                dir[at(i)].right = static_cast<uint32_t>(at(i + 2));
            } else if (i + 1 < storages.size()) {
                dir[at(i)].right = static_cast<uint32_t>(at(i + 1));
                last = i + 1;
            }
        }
        dir[at(last)].right = dirData;
    }
    // The folder's own property stream follows its name list, so that it is
    // reachable in the tree like every other written entry.
    // (The first PropData of the list is the folder's own only when the
    // folder has one; otherwise it belongs to an object and is linked there.)
    const bool folderOwn = heldPropData && heldPropData->parentId == s.folderId;
    if (folderOwn && dirDataAt && heldPropDataAt) dir[*dirDataAt].right = static_cast<uint32_t>(*heldPropDataAt);
    else if (folderOwn && heldPropDataAt) folder.child = static_cast<uint32_t>(*heldPropDataAt);

    // Each storage's own entries, chained in name order.
    std::multimap<uint32_t, size_t> byParent;
    for (const Written& c : written) byParent.emplace(c.detail.parentId, c.at);
    for (const Written& w : written) {
        if (dir[w.at].type != cfb::kStorage) continue;
        std::vector<size_t> members;
        const auto range = byParent.equal_range(w.detail.id);
        for (auto it = range.first; it != range.second; ++it)
            if (it->second != w.at) members.push_back(it->second);
        dir[w.at].child = chainByName(dir, members);
    }

    if (codeAt) {
        std::optional<size_t> project, inner, accessData, projectText;
        std::vector<size_t> streams;
        for (const Written& w : codeWritten) {
            if (w.detail.name == "VBAProject" && !project) project = w.at;
            else if (w.detail.name == "VBA" && !inner) inner = w.at;
            else if (w.detail.name == "AcessVBAData" && !accessData) accessData = w.at;
            else if (w.detail.name == "PROJECT" && !projectText) projectText = w.at;
            else if (dir[w.at].type == cfb::kStream) streams.push_back(w.at);
        }
        cfb::Entry& code = dir[*codeAt];
        code.left = code.right = cfb::kNoStream;
        code.child = project ? static_cast<uint32_t>(*project) : cfb::kNoStream;
        if (project) {
            dir[*project].child = inner ? static_cast<uint32_t>(*inner) : cfb::kNoStream;
            dir[*project].right = accessData ? static_cast<uint32_t>(*accessData) : cfb::kNoStream;
        }
        if (inner) {
            dir[*inner].right = projectText ? static_cast<uint32_t>(*projectText) : cfb::kNoStream;
            dir[*inner].child = chainByName(dir, streams);
        }
    }
    s.projectImage = cfb::Write(dir);
    SendProgress(kProgressEnd);
}

}  // namespace talmera
