#include "accessobjects/ObjectsFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "accessobjects/CompoundFile.h"
#include "platform/LittleEndian.h"
#include "platform/TextCodec.h"

namespace talmera {

namespace {

constexpr ObjectKind kKinds[] = {ObjectKind::Form, ObjectKind::Report, ObjectKind::Macro, ObjectKind::Module};

// Bounds on what decompression may produce from one image: a compressed
// container grows up to some thousand times.
constexpr size_t kMaxDirBytes = 16u << 20;
constexpr size_t kMaxSourceBytes = 64u << 20;


// A folder's name list ("\x03DirData"): four bytes, then per object a marker
// byte, a length byte (the name's bytes plus four), the name in UTF-16 and the
// number of its storage.
std::map<uint32_t, std::string> ReadNameList(const std::vector<uint8_t>& data) {
    std::map<uint32_t, std::string> names;
    size_t pos = 4;
    while (pos + 2 <= data.size()) {
        const size_t length = data[pos + 1];
        if (length < 4 || pos + 2 + length > data.size()) break;
        const uint8_t* name = data.data() + pos + 2;
        names.emplace(le::U32(name + length - 4), ucs2ToUtf8(name, length - 4));
        pos += 2 + length;
    }
    return names;
}

bool parseNumber(const std::u16string& name, uint32_t& value) {
    if (name.empty() || name.size() > 9) return false;
    value = 0;
    for (char16_t c : name) {
        if (c < u'0' || c > u'9') return false;
        value = value * 10 + static_cast<uint32_t>(c - u'0');
    }
    return true;
}

size_t countLines(const std::string& text) {
    if (text.empty()) return 0;
    size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    if (text.back() != '\n') ++lines;
    return lines;
}

// The listing's objects by kind and name, so that large storages are
// matched in logarithmic time.
class ObjectIndex {
public:
    explicit ObjectIndex(ObjectsListing& listing) : listing_(listing) {
        for (size_t i = 0; i < listing.objects.size(); ++i)
            index_.emplace(std::make_pair(listing.objects[i].kind, listing.objects[i].name), i);
    }
    StoredObject& operator()(ObjectKind kind, const std::string& name) {
        const auto [it, added] = index_.emplace(std::make_pair(kind, name), listing_.objects.size());
        if (added) {
            listing_.objects.push_back(StoredObject{});
            listing_.objects.back().kind = kind;
            listing_.objects.back().name = name;
        }
        return listing_.objects[it->second];
    }

private:
    ObjectsListing& listing_;
    std::map<std::pair<ObjectKind, std::string>, size_t> index_;
};

void ReadCodeProject(const cfb::Reader& reader, ObjectsListing& listing) {
    const uint32_t vbaStorage = reader.FindPath({u"VBA", u"VBAProject", u"VBA"});
    if (vbaStorage == cfb::kNoStream) return;
    const uint32_t dir = reader.Find(vbaStorage, u"dir");
    if (dir == cfb::kNoStream) return;
    const std::vector<uint8_t> packed = reader.ReadStream(dir);
    vba::DecompressStats stats;
    const std::vector<uint8_t> dirBytes = vba::Decompress(packed.data(), packed.size(), &stats, kMaxDirBytes);
    const vba::ProjectInfo project = vba::ParseDirStream(dirBytes.data(), dirBytes.size());
    if (project.modules.empty()) {
        // A project without modules is complete; one cut short is damage.
        if (project.complete) listing.codeProjectFound = true;
        else ++listing.unreadableParts;
        return;
    }
    listing.codeProjectFound = true;
    const std::string codePage = codePageName(project.codePage);
    std::set<std::string> known;
    for (const ModuleSource& s : listing.modules) known.insert(s.name);
    size_t sourceBudget = kMaxSourceBytes;
    std::map<std::u16string, uint32_t> streams;
    for (uint32_t child : reader.Children(vbaStorage)) streams.emplace(reader.entries()[child].name, child);
    for (const vba::ModuleEntry& m : project.modules) {
        if (!known.insert(m.name).second) continue;
        ModuleSource source;
        source.name = m.name;
        source.kind = m.kind;
        const auto found = streams.find(cfb::ToU16(m.streamName));
        const uint32_t stream = found == streams.end() ? cfb::kNoStream : found->second;
        if (stream == cfb::kNoStream) {
            source.damaged = source.incomplete = true;
            ++listing.unreadableParts;
        } else {
            bool missing = false;
            const std::vector<uint8_t> data = reader.ReadStream(stream, &missing);
            // Bytes of the stream that the project file lacks cut the source short.
            source.incomplete = missing;
            if (m.sourceOffset < data.size()) {
                vba::DecompressStats s;
                // Many modules may name one stream: the sources share one budget.
                const std::vector<uint8_t> text =
                    vba::Decompress(data.data() + m.sourceOffset, data.size() - m.sourceOffset, &s, sourceBudget);
                if (text.size() == sourceBudget) ++s.chunksDamaged;  // cut at the budget
                sourceBudget -= text.size();
                source.text = codePageToUtf8(text.data(), text.size(), codePage);
                if (s.badSignature || s.chunksDamaged != 0) source.incomplete = true;
                source.damaged = source.incomplete;
            } else {
                source.damaged = source.incomplete = true;
            }
            if (source.damaged) ++listing.unreadableParts;
        }
        source.lines = countLines(source.text);
        listing.modules.push_back(std::move(source));
    }
}

}  // namespace

const char* StorageFolderName(ObjectKind kind) {
    switch (kind) {
        case ObjectKind::Form: return "Forms";
        case ObjectKind::Report: return "Reports";
        case ObjectKind::Module: return "Modules";
        case ObjectKind::Macro: return "Scripts";
    }
    return "";
}

const char* KindLabel(ObjectKind kind) {
    switch (kind) {
        case ObjectKind::Form: return "Forms";
        case ObjectKind::Report: return "Reports";
        case ObjectKind::Module: return "Modules";
        case ObjectKind::Macro: return "Macros";
    }
    return "";
}

void ReadProjectImage(const std::vector<uint8_t>& image, ObjectsListing& listing) {
    const cfb::Reader reader(image);
    if (!reader.valid()) {
        ++listing.unreadableParts;
        return;
    }
    ObjectIndex objectFor(listing);
    for (ObjectKind kind : kKinds) {
        const uint32_t folder = reader.Find(0, cfb::ToU16(StorageFolderName(kind)));
        if (folder == cfb::kNoStream) continue;
        std::map<uint32_t, std::string> names;
        const uint32_t nameList = reader.Find(folder, u"\x0003" u"DirData");
        if (nameList != cfb::kNoStream) names = ReadNameList(reader.ReadStream(nameList));
        for (uint32_t child : reader.Children(folder)) {
            const cfb::Entry& e = reader.entries()[child];
            uint32_t number = 0;
            if (e.type != cfb::kStorage || !parseNumber(e.name, number)) continue;
            const auto named = names.find(number);
            const std::string name =
                named != names.end() ? named->second : "(unnamed storage " + std::to_string(number) + ")";
            StoredObject& o = objectFor(kind, name);
            o.storage = number;
            o.streams.clear();
            for (uint32_t s : reader.Children(child)) {
                const cfb::Entry& stream = reader.entries()[s];
                if (stream.type == cfb::kStream) o.streams.emplace_back(cfb::ToUtf8(stream.name), stream.size);
            }
        }
    }
    ReadCodeProject(reader, listing);
    listing.unreadableParts += reader.damagedChains();
}

void CompleteListing(ObjectsListing& listing, const CatalogObjectNames& catalog) {
    const std::pair<ObjectKind, const std::vector<std::string>*> lists[] = {
        {ObjectKind::Form, &catalog.forms},
        {ObjectKind::Report, &catalog.reports},
        {ObjectKind::Macro, &catalog.macros},
        {ObjectKind::Module, &catalog.modules}};
    ObjectIndex objectFor(listing);
    for (const auto& [kind, names] : lists)
        for (const std::string& name : *names) objectFor(kind, name).inCatalog = true;
    // A form's or report's code is the class module named after it; a
    // standard module carries the module's own name.
    std::map<std::string, const ModuleSource*> modules;
    for (const ModuleSource& m : listing.modules) modules.emplace(m.name, &m);
    for (StoredObject& o : listing.objects) {
        std::string moduleName = o.name;
        if (o.kind == ObjectKind::Form) moduleName = "Form_" + o.name;
        if (o.kind == ObjectKind::Report) moduleName = "Report_" + o.name;
        if (o.kind == ObjectKind::Macro) continue;
        const auto m = modules.find(moduleName);
        if (m == modules.end()) continue;
        o.moduleFile = SafeFileName(m->second->name) + ".bas";
        o.codeLines = m->second->lines;
    }
}

std::string SafeFileName(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        if (out.size() >= 120) break;
        const bool reserved = c < 0x20 || c == 0x7F || std::strchr("/\\:*?\"<>|", c) != nullptr;
        out.push_back(reserved ? '_' : static_cast<char>(c));
    }
    // Do not cut a UTF-8 sequence in two.
    while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80) {
        size_t lead = out.size() - 1;
        while (lead > 0 && (static_cast<unsigned char>(out[lead]) & 0xC0) == 0x80) --lead;
        const unsigned char l = static_cast<unsigned char>(out[lead]);
        const size_t need = l >= 0xF0 ? 4 : l >= 0xE0 ? 3 : l >= 0xC0 ? 2 : 1;
        if (out.size() - lead == need) break;
        out.resize(lead);
    }
    if (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0xC0) out.pop_back();
    if (out.empty() || out == "." || out == "..") out = "_" + out;
    if (out[0] == '.') out[0] = '_';  // no hidden files
    return out;
}

std::string ListingText(const ObjectsListing& listing, const std::vector<ProjectFile>& projects) {
    std::string text;
    for (ObjectKind kind : kKinds) {
        size_t count = 0;
        for (const StoredObject& o : listing.objects) count += o.kind == kind;
        text += std::string(KindLabel(kind)) + "  " + std::to_string(count) + "\n";
        for (const StoredObject& o : listing.objects) {
            if (o.kind != kind) continue;
            text += "  " + o.name + "\n";
            if (o.storage >= 0) {
                text += "    storage: " + std::string(StorageFolderName(kind)) + "/" + std::to_string(o.storage);
                std::string streams;
                for (const auto& [name, size] : o.streams)
                    streams += (streams.empty() ? "" : ", ") + name + " " + std::to_string(size) + " bytes";
                text += streams.empty() ? "\n" : " (" + streams + ")\n";
            } else {
                text += "    storage: not found\n";
            }
            if (!o.inCatalog) text += "    catalog: not listed\n";
            if (!o.moduleFile.empty())
                text += "    code: " + o.moduleFile + " (" + std::to_string(o.codeLines) + " lines)\n";
        }
    }
    size_t lines = 0;
    for (const ModuleSource& m : listing.modules) lines += m.lines;
    text += "Code modules  " + std::to_string(listing.modules.size()) + " (" + std::to_string(lines) + " lines)\n";
    for (const ModuleSource& m : listing.modules) {
        text += "  " + SafeFileName(m.name) + ".bas  " + (m.kind == vba::ModuleKind::Class ? "class" : "standard") +
                ", " + std::to_string(m.lines) + " lines" +
                (m.incomplete ? ", damaged, source incomplete" : m.damaged ? ", damaged" : "") + "\n";
    }
    if (!listing.codeProjectFound) text += "  code project: not found\n";
    for (const ProjectFile& p : projects)
        text += "Project file  " + p.fileName + " (" + std::to_string(p.image.size()) + " bytes)\n";
    if (listing.unreadableParts)
        text += "Unreadable parts passed over  " + std::to_string(listing.unreadableParts) + "\n";
    return text;
}

namespace {

bool writeFile(const std::string& path, const void* data, size_t size, std::string& error) {
    // O_NOFOLLOW: a link planted where the file goes is refused, not followed.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = path + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

bool WriteObjectsFolder(const std::string& folder, const std::vector<ProjectFile>& projects, ObjectsListing& listing,
                        std::vector<std::string>& written, std::string& error) {
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        error = folder + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = folder + ": not a folder";
        return false;
    }
    std::set<std::string> used;
    for (const ProjectFile& p : projects) {
        if (!writeFile(folder + "/" + p.fileName, p.image.data(), p.image.size(), error)) return false;
        written.push_back(p.fileName);
        used.insert(p.fileName);
    }
    used.insert("objects.txt");
    std::map<std::string, std::string> fileOf;
    for (const ModuleSource& m : listing.modules) {
        std::string base = SafeFileName(m.name);
        std::string file = base + ".bas";
        for (int k = 2; used.count(file); ++k) file = base + " (" + std::to_string(k) + ").bas";
        used.insert(file);
        fileOf[m.name] = file;
        if (!writeFile(folder + "/" + file, m.text.data(), m.text.size(), error)) return false;
        written.push_back(file);
    }
    for (StoredObject& o : listing.objects) {
        if (o.moduleFile.empty()) continue;
        const std::string moduleName = o.kind == ObjectKind::Form     ? "Form_" + o.name
                                       : o.kind == ObjectKind::Report ? "Report_" + o.name
                                                                      : o.name;
        if (auto it = fileOf.find(moduleName); it != fileOf.end()) o.moduleFile = it->second;
    }
    const std::string text = ListingText(listing, projects);
    if (!writeFile(folder + "/objects.txt", text.data(), text.size(), error)) return false;
    written.push_back("objects.txt");
    return true;
}

}  // namespace talmera
