// Access's object storage for fixtures: a compound file written from a list
// of storages and streams, the VBA compression and the code project's
// streams, and the system tables that hold the storage in a database file.
// Written from the published format descriptions; nothing is shared with the
// engine's reader or builder.
#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>

#include "jetwriter/Internal.h"
#include "jetwriter/JetWriter.h"
#include "jetwriter/StorageTables.h"

namespace jetwriter {

using namespace detail;

namespace {

constexpr uint32_t kFree = 0xFFFFFFFF, kEnd = 0xFFFFFFFE, kFatMark = 0xFFFFFFFD, kNone = 0xFFFFFFFF;

struct Node {
    std::u16string name;
    bool storage = true;
    Bytes data;
    std::vector<size_t> children;
    uint32_t left = kNone, right = kNone, child = kNone;
    uint32_t start = kEnd;
    uint64_t size = 0;
};

bool lessName(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return a.size() < b.size();
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i] >= u'a' && a[i] <= u'z' ? char16_t(a[i] - 32) : a[i];
        char16_t y = b[i] >= u'a' && b[i] <= u'z' ? char16_t(b[i] - 32) : b[i];
        if (x != y) return x < y;
    }
    return false;
}

std::vector<std::string> splitPath(const std::string& path) {
    std::vector<std::string> parts;
    size_t from = 0;
    while (from <= path.size()) {
        size_t to = path.find('/', from);
        if (to == std::string::npos) to = path.size();
        parts.push_back(path.substr(from, to - from));
        from = to + 1;
    }
    return parts;
}

// Calls add(name, storage, data, parent) once for each storage and stream the
// paths name, parents first; add returns the new entry's key, which its
// children then receive as their parent.
template <typename Key, typename Add>
void walkEntries(const std::vector<StorageNode>& list, Key root, Add add) {
    std::map<std::string, Key> keys;
    for (const StorageNode& n : list) {
        const std::vector<std::string> parts = splitPath(n.path);
        Key parent = root;
        std::string prefix;
        for (size_t k = 0; k < parts.size(); ++k) {
            prefix += (k ? "/" : "") + parts[k];
            const bool last = k + 1 == parts.size();
            auto it = keys.find(prefix);
            if (it == keys.end())
                it = keys.emplace(prefix, add(parts[k], !last || n.storage, last ? &n.data : nullptr, parent)).first;
            parent = it->second;
        }
    }
}

// A subtree of sorted siblings as a balanced binary tree; returns its root.
uint32_t balance(std::vector<Node>& nodes, const std::vector<size_t>& sorted, size_t lo, size_t hi) {
    if (lo >= hi) return kNone;
    const size_t mid = lo + (hi - lo) / 2;
    Node& n = nodes[sorted[mid]];
    n.left = balance(nodes, sorted, lo, mid);
    n.right = balance(nodes, sorted, mid + 1, hi);
    return uint32_t(sorted[mid]);
}

}  // namespace

Bytes compoundFile(const std::vector<StorageNode>& list) {
    std::vector<Node> nodes(1);
    nodes[0].name = u"Root Entry";
    walkEntries(list, size_t{0}, [&](const std::string& name, bool storage, const Bytes* data, size_t parent) {
        Node n;
        n.name = utf8ToUtf16(name);
        if (n.name.size() > 31) throw std::invalid_argument("storage name too long: " + name);
        n.storage = storage;
        if (data) n.data = *data;
        nodes.push_back(std::move(n));
        nodes[parent].children.push_back(nodes.size() - 1);
        return nodes.size() - 1;
    });
    for (Node& n : nodes) {
        std::vector<size_t> sorted = n.children;
        std::sort(sorted.begin(), sorted.end(), [&](size_t a, size_t b) { return lessName(nodes[a].name, nodes[b].name); });
        n.child = balance(nodes, sorted, 0, sorted.size());
    }
    // Sectors: FAT first, then the directory, the mini stream, the mini FAT
    // and the large streams.
    Bytes mini;
    std::vector<uint32_t> miniFat;
    std::vector<size_t> large;
    for (size_t i = 1; i < nodes.size(); ++i) {
        Node& n = nodes[i];
        if (n.storage) {
            n.start = 0;
            continue;
        }
        n.size = n.data.size();
        if (n.data.empty()) continue;
        if (n.data.size() < 4096) {
            n.start = uint32_t(mini.size() / 64);
            size_t count = (n.data.size() + 63) / 64;
            for (size_t k = 0; k < count; ++k) miniFat.push_back(k + 1 < count ? n.start + uint32_t(k) + 1 : kEnd);
            mini.insert(mini.end(), n.data.begin(), n.data.end());
            mini.resize(miniFat.size() * 64, 0);
        } else {
            large.push_back(i);
        }
    }
    auto sectorsOf = [](size_t bytes) { return (bytes + 511) / 512; };
    const size_t dirSectors = sectorsOf(nodes.size() * 128);
    const size_t miniSectors = sectorsOf(mini.size());
    const size_t miniFatSectors = sectorsOf(miniFat.size() * 4);
    size_t largeSectors = 0;
    for (size_t i : large) largeSectors += sectorsOf(nodes[i].data.size());
    size_t fatSectors = 1;
    while (fatSectors * 128 < fatSectors + dirSectors + miniSectors + miniFatSectors + largeSectors) ++fatSectors;
    if (fatSectors > 109) throw std::invalid_argument("compound file too large for a fixture");
    const size_t total = fatSectors + dirSectors + miniSectors + miniFatSectors + largeSectors;
    std::vector<uint32_t> fat(fatSectors * 128, kFree);
    uint32_t next = 0;
    for (size_t k = 0; k < fatSectors; ++k) fat[next++] = kFatMark;
    auto run = [&](size_t count) {
        uint32_t first = count ? next : kEnd;
        for (size_t k = 0; k < count; ++k, ++next) fat[next] = k + 1 < count ? next + 1 : kEnd;
        return first;
    };
    const uint32_t dirStart = run(dirSectors);
    const uint32_t miniStart = run(miniSectors);
    const uint32_t miniFatStart = run(miniFatSectors);
    for (size_t i : large) nodes[i].start = run(sectorsOf(nodes[i].data.size()));
    nodes[0].start = miniSectors ? miniStart : kEnd;
    nodes[0].size = mini.size();

    Bytes file((total + 1) * 512, 0);
    auto sector = [&](uint32_t s) { return file.data() + (size_t(s) + 1) * 512; };
    const uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(file.data(), signature, 8);
    uint8_t* h = file.data();
    set16(h + 24, 0x3E);
    set16(h + 26, 3);
    set16(h + 28, 0xFFFE);
    set16(h + 30, 9);
    set16(h + 32, 6);
    set32(h + 44, uint32_t(fatSectors));
    set32(h + 48, dirStart);
    set32(h + 56, 4096);
    set32(h + 60, miniFatSectors ? miniFatStart : kEnd);
    set32(h + 64, uint32_t(miniFatSectors));
    set32(h + 68, kEnd);
    for (size_t k = 0; k < 109; ++k) set32(h + 76 + 4 * k, k < fatSectors ? uint32_t(k) : kFree);
    for (size_t k = 0; k < fat.size(); ++k) set32(sector(uint32_t(k / 128)) + 4 * (k % 128), fat[k]);
    for (size_t i = 0; i < dirSectors * 4; ++i) {
        uint8_t* e = sector(dirStart) + i * 128;  // directory sectors are consecutive
        if (i >= nodes.size()) {
            set32(e + 68, kNone);
            set32(e + 72, kNone);
            set32(e + 76, kNone);
            continue;
        }
        const Node& n = nodes[i];
        for (size_t c = 0; c < n.name.size(); ++c) set16(e + 2 * c, uint16_t(n.name[c]));
        set16(e + 64, uint16_t((n.name.size() + 1) * 2));
        e[66] = i == 0 ? 5 : (n.storage ? 1 : 2);
        e[67] = 1;
        set32(e + 68, n.left);
        set32(e + 72, n.right);
        set32(e + 76, n.child);
        set32(e + 116, n.start);
        set32(e + 120, uint32_t(n.size));
    }
    if (miniSectors) std::memcpy(sector(miniStart), mini.data(), mini.size());
    for (size_t k = 0; k < miniFatSectors * 128; ++k)
        set32(sector(miniFatStart) + 4 * k, k < miniFat.size() ? miniFat[k] : kFree);
    for (size_t i : large) std::memcpy(sector(nodes[i].start), nodes[i].data.data(), nodes[i].data.size());
    return file;
}

Bytes vbaCompress(const Bytes& raw) {
    Bytes out{0x01};
    for (size_t chunkStart = 0; chunkStart < raw.size(); chunkStart += 4096) {
        const size_t chunkEnd = std::min(raw.size(), chunkStart + 4096);
        Bytes chunk;
        size_t pos = chunkStart;
        while (pos < chunkEnd) {
            const size_t flagAt = chunk.size();
            chunk.push_back(0);
            for (int bit = 0; bit < 8 && pos < chunkEnd; ++bit) {
                // The token's split of offset and length bits follows how far
                // the chunk has come.
                const size_t done = pos - chunkStart;
                unsigned bitCount = 4;
                while ((size_t(1) << bitCount) < done) ++bitCount;
                if (bitCount > 12) bitCount = 12;
                const size_t maxLength = (size_t(0xFFFF) >> bitCount) + 3;
                size_t bestLength = 0, bestOffset = 0;
                for (size_t from = chunkStart; from < pos; ++from) {
                    size_t n = 0;
                    while (pos + n < chunkEnd && n < maxLength && raw[from + n] == raw[pos + n]) ++n;
                    if (n > bestLength) {
                        bestLength = n;
                        bestOffset = pos - from;
                    }
                }
                if (bestLength >= 3) {
                    const uint16_t token = uint16_t(((bestOffset - 1) << (16 - bitCount)) | (bestLength - 3));
                    put16(chunk, token);
                    chunk[flagAt] |= uint8_t(1 << bit);
                    pos += bestLength;
                } else {
                    chunk.push_back(raw[pos++]);
                }
            }
        }
        put16(out, uint16_t(0xB000 | (chunk.size() - 1)));
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    return out;
}

namespace {

void record(Bytes& out, uint16_t id, const Bytes& value) {
    put16(out, id);
    put32(out, uint32_t(value.size()));
    out.insert(out.end(), value.begin(), value.end());
}
void record(Bytes& out, uint16_t id, const std::string& text) { record(out, id, Bytes(text.begin(), text.end())); }
Bytes u16le(const std::string& ascii) {
    Bytes b;
    for (char c : ascii) {
        b.push_back(uint8_t(c));
        b.push_back(0);
    }
    return b;
}
Bytes n32(uint32_t v) {
    Bytes b;
    put32(b, v);
    return b;
}
Bytes n16(uint16_t v) {
    Bytes b;
    put16(b, v);
    return b;
}

std::string streamNameOf(size_t k) {
    std::string s = "MODULESTREAM";
    s += char('A' + k % 26);
    return s;
}

}  // namespace

std::vector<StorageNode> codeProjectNodes(const std::vector<VbaModule>& modules, size_t cacheBytes) {
    // The "dir" stream's records, as the format description lists them.
    Bytes dir;
    record(dir, 0x01, n32(1));              // SysKind: 32-bit Windows
    record(dir, 0x02, n32(0x409));          // Lcid
    record(dir, 0x14, n32(0x409));          // LcidInvoke
    record(dir, 0x03, n16(1252));           // CodePage
    record(dir, 0x04, std::string("VBAProject"));
    record(dir, 0x05, std::string());       // DocString, then its Unicode form
    record(dir, 0x40, Bytes());
    record(dir, 0x06, std::string());       // HelpFile 1 and 2
    record(dir, 0x3D, std::string());
    record(dir, 0x07, n32(0));              // HelpContext
    record(dir, 0x08, n32(0));              // LibFlags
    put16(dir, 0x09);                       // Version: a fixed 4, then 4 + 2 bytes
    put32(dir, 4);
    put32(dir, 0x6D);
    put16(dir, 1);
    record(dir, 0x0C, std::string());       // Constants
    record(dir, 0x3C, Bytes());
    record(dir, 0x0F, n16(uint16_t(modules.size())));
    record(dir, 0x13, n16(0xFFFF));         // Cookie
    std::vector<StorageNode> nodes;
    nodes.push_back({"VBA", true, {}});
    nodes.push_back({"VBA/VBAProject", true, {}});
    nodes.push_back({"VBA/VBAProject/VBA", true, {}});
    std::string project = "ID=\"{12345678-90AB-CDEF-1234-567890ABCDEF}\"\r\n";
    for (size_t k = 0; k < modules.size(); ++k) {
        const VbaModule& m = modules[k];
        const std::string stream = streamNameOf(k);
        record(dir, 0x19, m.name);
        record(dir, 0x47, u16le(m.name));
        record(dir, 0x1A, stream);
        record(dir, 0x32, u16le(stream));
        record(dir, 0x1C, std::string());
        record(dir, 0x48, Bytes());
        record(dir, 0x31, n32(uint32_t(cacheBytes)));
        record(dir, 0x1E, n32(0));
        record(dir, 0x2C, n16(0xFFFF));
        record(dir, m.classModule ? 0x22 : 0x21, Bytes());
        record(dir, 0x2B, Bytes());
        Bytes data(cacheBytes, 0xA5);
        const Bytes packed = vbaCompress(Bytes(m.source.begin(), m.source.end()));
        data.insert(data.end(), packed.begin(), packed.end());
        nodes.push_back({"VBA/VBAProject/VBA/" + stream, false, data});
        project += (m.classModule ? "Class=" : "Module=") + m.name + "\r\n";
    }
    record(dir, 0x10, Bytes());
    project += "Name=\"VBAProject\"\r\nHelpContextID=\"0\"\r\nVersionCompatible32=\"393222000\"\r\n";
    nodes.push_back({"VBA/VBAProject/VBA/dir", false, vbaCompress(dir)});
    nodes.push_back({"VBA/VBAProject/VBA/_VBA_PROJECT", false, {0xCC, 0x61, 0xFF, 0xFF, 0x00, 0x03, 0x00}});
    nodes.push_back({"VBA/VBAProject/PROJECT", false, Bytes(project.begin(), project.end())});
    nodes.push_back({"VBA/AcessVBAData", false, {1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}});
    return nodes;
}

Bytes folderNameList(const std::vector<std::pair<std::string, uint32_t>>& names) {
    Bytes out(4, 0);
    for (const auto& [name, number] : names) {
        const std::u16string u = utf8ToUtf16(name);
        if (u.size() * 2 + 4 > 255) throw std::invalid_argument("object name too long: " + name);
        out.push_back(0x04);
        out.push_back(uint8_t(u.size() * 2 + 4));
        for (char16_t c : u) put16(out, uint16_t(c));
        put32(out, number);
    }
    return out;
}

std::vector<VbaModule> demoModules() {
    std::string longSource = "Attribute VB_Name = \"Utilities\"\r\nOption Compare Database\r\n";
    for (int i = 0; longSource.size() < 9000; ++i)
        longSource += "Function Twice" + std::to_string(i) + "(x As Long) As Long\r\n    Twice" + std::to_string(i) +
                      " = 2 * x + " + std::to_string(i) + "\r\nEnd Function\r\n";
    return {
        {"Utilities", false, longSource},
        {"Form_Customer Form", true,
         "Attribute VB_Name = \"Form_Customer Form\"\r\nOption Compare Database\r\n\r\nPrivate Sub Form_Load()\r\n"
         "    Me.Caption = \"Kunden \xFC\x62\x65rsicht\"\r\nEnd Sub\r\n"},
        {"Report_Sales Report", true,
         "Attribute VB_Name = \"Report_Sales Report\"\r\nPrivate Sub Report_Open(Cancel As Integer)\r\n    Cancel = False\r\nEnd Sub\r\n"},
    };
}

std::vector<StorageNode> demoObjectStorage() {
    auto blob = [](size_t size, uint8_t seed) {
        Bytes b(size);
        for (size_t i = 0; i < size; ++i) b[i] = uint8_t(seed + i * 7 + i / 251);
        return b;
    };
    const Bytes prop{0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 2, 1, 0, 0, 0, 1, 0, 0, 0};
    std::vector<StorageNode> nodes = {
        {"Forms", true, {}},
        {"Forms/\x03" "DirData", false, folderNameList({{"Customer Form", 0}, {"Orders", 1}})},
        {"Forms/0/Blob", false, blob(5000, 3)},
        {"Forms/0/PropData", false, prop},
        {"Forms/1/Blob", false, blob(700, 9)},
        {"Forms/1/PropData", false, prop},
        {"Reports", true, {}},
        {"Reports/\x03" "DirData", false, folderNameList({{"Sales Report", 0}})},
        {"Reports/0/Blob", false, blob(9000, 17)},
        {"Reports/0/PropData", false, prop},
        {"Scripts", true, {}},
        {"Scripts/\x03" "DirData", false, folderNameList({{"AutoExec", 0}})},
        {"Scripts/0/Blob", false, blob(300, 21)},
        {"Scripts/0/PropData", false, Bytes(13, 0)},
        {"Modules", true, {}},
        {"Modules/\x03" "DirData", false, folderNameList({{"Utilities", 0}})},
        {"Modules/0/PropData", false, Bytes(13, 0)},
    };
    for (StorageNode& n : codeProjectNodes(demoModules())) nodes.push_back(std::move(n));
    return nodes;
}

namespace detail {

Table chunkTable(const Fmt& f, const Bytes& compound, const std::vector<uint16_t>& missing) {
    Table t;
    t.name = "MSysAccessObjects";
    t.system = true;
    t.tableType = 0x53;
    const uint16_t chunk = f.jet3 ? 241 : 3992;
    Column data;
    data.name = "Data";
    data.type = kBinary;
    data.length = chunk;
    data.storedFixed = true;
    Column id;
    id.name = "ID";
    id.type = kLong;
    // Access keeps one more, variable column after them; it is empty.
    Column extra;
    extra.name = "Extra";
    extra.type = kBinary;
    extra.length = 16;
    t.columns = {data, id, extra};
    const size_t count = (compound.size() + chunk - 1) / chunk;
    std::vector<uint32_t> order;
    // Row 0 as Access keeps it; then the chunks, so that in Jet 3 chunk 1
    // lands where Access puts it: the seventh row of the table's first page,
    // 299 bytes into the page.
    auto present = [&](uint32_t k) { return std::find(missing.begin(), missing.end(), k) == missing.end(); };
    order.push_back(0);
    if (f.jet3) {
        std::vector<uint32_t> others;
        for (uint32_t k = 3; k <= count; ++k)
            if (present(k)) others.push_back(k);
        const size_t before = std::min<size_t>(5, others.size());
        order.insert(order.end(), others.begin(), others.begin() + long(before));
        for (uint32_t k = 1; k <= 2 && k <= count; ++k)
            if (present(k)) order.push_back(k);
        order.insert(order.end(), others.begin() + long(before), others.end());
    } else {
        for (uint32_t k = 1; k <= count; ++k)
            if (present(k)) order.push_back(k);
    }
    for (uint32_t k : order) {
        Row r;
        Bytes piece;
        if (k == 0) {
            piece = {0x05};
        } else {
            const size_t from = size_t(k - 1) * chunk;
            piece.assign(compound.begin() + long(from), compound.begin() + long(std::min(compound.size(), from + chunk)));
        }
        r.values = {piece, int64_t(k), std::monostate{}};
        t.rows.push_back(std::move(r));
    }
    if (f.jet3 && count < 7) throw std::invalid_argument("a Jet 3 chunk table needs at least 7 chunks");
    return t;
}

Table accessStorageTable(const std::vector<StorageNode>& nodes) {
    Table t;
    t.name = "MSysAccessStorage";
    t.system = true;
    t.tableType = 0x53;
    auto variable = [](const char* name, uint8_t type) {
        Column c;
        c.name = name;
        c.type = type;
        c.storedVariable = type != kOle && type != kText;
        if (type == kText) c.length = 128;
        return c;
    };
    t.columns = {variable("DateCreate", kDateTime), variable("DateUpdate", kDateTime), variable("Id", kLong),
                 variable("Lv", kOle),           variable("Name", kText),           variable("ParentId", kLong),
                 variable("Type", kLong)};
    const double when = 45293.5;
    auto row = [&](uint32_t id, const std::string& name, uint32_t parent, uint32_t type, const Bytes* data) {
        Row r;
        r.values = {when, when, int64_t(id), data && !data->empty() ? Value(*data) : Value(std::monostate{}), name,
                    int64_t(parent), int64_t(type)};
        t.rows.push_back(std::move(r));
    };
    row(1, "MSysAccessStorage_ROOT", 1, 1, nullptr);
    row(2, "MSysAccessStorage_SCRATCH", 2, 1, nullptr);
    uint32_t next = 3;
    walkEntries(nodes, uint32_t{1}, [&](const std::string& name, bool storage, const Bytes* data, uint32_t parent) {
        const uint32_t id = next++;
        row(id, name, parent, storage ? 1 : 2, data);
        return id;
    });
    return t;
}

}  // namespace detail

}  // namespace jetwriter
