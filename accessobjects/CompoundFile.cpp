#include "accessobjects/CompoundFile.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "platform/LittleEndian.h"
#include "platform/TextCodec.h"

namespace talmera::cfb {

namespace {

void set16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void set32(uint8_t* p, uint32_t v) {
    set16(p, static_cast<uint16_t>(v));
    set16(p + 2, static_cast<uint16_t>(v >> 16));
}
void set64(uint8_t* p, uint64_t v) {
    set32(p, static_cast<uint32_t>(v));
    set32(p + 4, static_cast<uint32_t>(v >> 32));
}
size_t ceilDiv(size_t a, size_t b) { return (a + b - 1) / b; }

char16_t upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

}  // namespace

std::u16string ToU16(const std::string& utf8) {
    const std::string bytes = utf8ToUcs2(utf8);
    std::u16string out(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) | (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
    return out;
}

std::string ToUtf8(const std::u16string& text) {
    std::string bytes(text.size() * 2, '\0');
    for (size_t i = 0; i < text.size(); ++i) {
        bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
    return ucs2ToUtf8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

int CompareNames(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (size_t i = 0; i < a.size(); ++i) {
        const char16_t x = upper(a[i]), y = upper(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

void EncodeEntry(const Entry& e, uint8_t* out) {
    std::memset(out, 0, kEntrySize);
    const size_t units = std::min<size_t>(e.name.size(), 31);
    for (size_t i = 0; i < units; ++i) set16(out + 2 * i, static_cast<uint16_t>(e.name[i]));
    set16(out + 64, static_cast<uint16_t>(e.type == 0 ? 0 : (units + 1) * 2));
    out[66] = e.type;
    out[67] = e.color;
    set32(out + 68, e.left);
    set32(out + 72, e.right);
    set32(out + 76, e.child);
    std::memcpy(out + 80, e.classId, 16);
    set32(out + 96, e.stateBits);
    set64(out + 100, e.created);
    set64(out + 108, e.modified);
    set32(out + 116, e.start);
    set64(out + 120, e.size);
}

Entry DecodeEntry(const uint8_t* in) {
    Entry e;
    const size_t bytes = std::min<size_t>(le::U16(in + 64), 64);
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        const char16_t c = static_cast<char16_t>(le::U16(in + i));
        if (c == 0) break;
        e.name.push_back(c);
    }
    e.type = in[66];
    e.color = in[67];
    e.left = le::U32(in + 68);
    e.right = le::U32(in + 72);
    e.child = le::U32(in + 76);
    std::memcpy(e.classId, in + 80, 16);
    e.stateBits = le::U32(in + 96);
    e.created = le::U64(in + 100);
    e.modified = le::U64(in + 108);
    e.start = le::U32(in + 116);
    e.size = le::U64(in + 120);
    return e;
}

std::vector<uint8_t> Write(std::vector<Entry> entries) {
    if (entries.empty()) throw std::invalid_argument("a compound file needs a root entry");
    // Sector plan: the first FAT sector (0), the directory, the mini stream,
    // the mini FAT, the large streams, then further FAT and DIFAT sectors.
    const size_t dirSectors = ceilDiv(entries.size() * kEntrySize, kSectorSize);
    std::vector<uint8_t> mini;
    std::vector<size_t> large;
    for (size_t i = 1; i < entries.size(); ++i) {
        Entry& e = entries[i];
        if (e.type != kStream) {
            e.start = 0;
            e.size = 0;
            continue;
        }
        e.size = e.data.size();
        if (e.data.empty()) {
            e.start = kEndOfChain;
        } else if (e.data.size() < kMiniStreamCutoff) {
            e.start = static_cast<uint32_t>(mini.size() / kMiniSectorSize);
            mini.insert(mini.end(), e.data.begin(), e.data.end());
            mini.resize(ceilDiv(mini.size(), kMiniSectorSize) * kMiniSectorSize, 0);
        } else {
            large.push_back(i);
        }
    }
    const size_t miniSectors = ceilDiv(mini.size(), kSectorSize);
    const size_t miniFatSectors = ceilDiv(mini.size() / kMiniSectorSize * 4, kSectorSize);
    size_t largeSectors = 0;
    for (size_t i : large) largeSectors += ceilDiv(entries[i].data.size(), kSectorSize);
    const size_t dataSectors = dirSectors + miniSectors + miniFatSectors + largeSectors;
    size_t fatSectors = 1, difatSectors = 0;
    for (;;) {
        const size_t difat = fatSectors > 109 ? ceilDiv(fatSectors - 109, 127) : 0;
        const size_t total = dataSectors + fatSectors + difat;
        const size_t need = ceilDiv(total, kSectorSize / 4);
        if (need <= fatSectors) {
            difatSectors = difat;
            break;
        }
        fatSectors = need;
    }
    const size_t totalSectors = dataSectors + fatSectors + difatSectors;
    std::vector<uint32_t> fat(fatSectors * (kSectorSize / 4), kFreeSector);
    uint32_t next = 0;
    std::vector<uint32_t> fatPlaces;
    fatPlaces.push_back(next);
    fat[next++] = kFatSector;
    auto chain = [&](size_t count) {
        const uint32_t first = count ? next : kEndOfChain;
        for (size_t k = 0; k < count; ++k, ++next) fat[next] = k + 1 < count ? next + 1 : kEndOfChain;
        return first;
    };
    const uint32_t dirStart = chain(dirSectors);
    const uint32_t miniStart = chain(miniSectors);
    const uint32_t miniFatStart = chain(miniFatSectors);
    for (size_t i : large) entries[i].start = chain(ceilDiv(entries[i].data.size(), kSectorSize));
    for (size_t k = 1; k < fatSectors; ++k) {
        fatPlaces.push_back(next);
        fat[next++] = kFatSector;
    }
    std::vector<uint32_t> difatPlaces;
    for (size_t k = 0; k < difatSectors; ++k) {
        difatPlaces.push_back(next);
        fat[next++] = kDifatSector;
    }

    entries[0].type = kRoot;
    entries[0].start = miniSectors ? miniStart : kEndOfChain;
    entries[0].size = mini.size();

    std::vector<uint8_t> file((totalSectors + 1) * kSectorSize, 0);
    auto sector = [&](uint32_t n) { return file.data() + (static_cast<size_t>(n) + 1) * kSectorSize; };
    uint8_t* h = file.data();
    std::memcpy(h, kSignature, 8);
    set16(h + 24, 0x003E);
    set16(h + 26, 0x0003);
    set16(h + 28, 0xFFFE);
    set16(h + 30, 9);
    set16(h + 32, 6);
    set32(h + 44, static_cast<uint32_t>(fatSectors));
    set32(h + 48, dirStart);
    set32(h + 56, static_cast<uint32_t>(kMiniStreamCutoff));
    set32(h + 60, miniFatSectors ? miniFatStart : kEndOfChain);
    set32(h + 64, static_cast<uint32_t>(miniFatSectors));
    set32(h + 68, difatSectors ? difatPlaces[0] : kEndOfChain);
    set32(h + 72, static_cast<uint32_t>(difatSectors));
    for (size_t k = 0; k < 109; ++k) set32(h + 76 + 4 * k, k < fatPlaces.size() ? fatPlaces[k] : kFreeSector);
    for (size_t d = 0; d < difatSectors; ++d) {
        uint8_t* s = sector(difatPlaces[d]);
        std::memset(s, 0xFF, kSectorSize);
        for (size_t k = 0; k < 127; ++k) {
            const size_t place = 109 + d * 127 + k;
            if (place < fatPlaces.size()) set32(s + 4 * k, fatPlaces[place]);
        }
        set32(s + 508, d + 1 < difatSectors ? difatPlaces[d + 1] : kEndOfChain);
    }
    for (size_t k = 0; k < fatSectors; ++k)
        for (size_t j = 0; j < kSectorSize / 4; ++j) set32(sector(fatPlaces[k]) + 4 * j, fat[k * (kSectorSize / 4) + j]);

    // The directory, padded with empty entries.
    std::vector<uint8_t> dir(dirSectors * kSectorSize, 0);
    for (size_t i = 0; i < dirSectors * kSectorSize / kEntrySize; ++i) {
        Entry empty;
        empty.type = 0;
        empty.color = 0;
        empty.start = 0;
        EncodeEntry(i < entries.size() ? entries[i] : empty, dir.data() + i * kEntrySize);
    }
    std::memcpy(sector(dirStart), dir.data(), dir.size());
    if (miniSectors) std::memcpy(sector(miniStart), mini.data(), mini.size());
    if (miniFatSectors) {
        uint8_t* s = sector(miniFatStart);
        std::memset(s, 0xFF, miniFatSectors * kSectorSize);
        size_t m = 0;
        for (size_t i = 1; i < entries.size(); ++i) {
            const Entry& e = entries[i];
            if (e.type != kStream || e.data.empty() || e.data.size() >= kMiniStreamCutoff) continue;
            const size_t count = ceilDiv(e.data.size(), kMiniSectorSize);
            for (size_t k = 0; k < count; ++k, ++m) set32(s + 4 * m, k + 1 < count ? static_cast<uint32_t>(m + 1) : kEndOfChain);
        }
    }
    for (size_t i : large) std::memcpy(sector(entries[i].start), entries[i].data.data(), entries[i].data.size());
    return file;
}

// ---------------------------------------------------------------------------

Reader::Reader(std::vector<uint8_t> image) : image_(std::move(image)) {
    if (image_.size() < kSectorSize || std::memcmp(image_.data(), kSignature, 8) != 0) return;
    const uint8_t* h = image_.data();
    sectorShift_ = le::U16(h + 30) == 12 ? 12 : 9;
    const size_t sectorSize = size_t{1} << sectorShift_;
    const size_t sectorCount = image_.size() / sectorSize;  // an upper bound for any count
    // FAT sectors: the header's 109 places, then the DIFAT chain.
    std::vector<uint32_t> fatPlaces;
    const size_t fatCount = std::min<size_t>(le::U32(h + 44), sectorCount);
    for (size_t k = 0; k < 109 && fatPlaces.size() < fatCount; ++k) fatPlaces.push_back(le::U32(h + 76 + 4 * k));
    uint32_t difat = le::U32(h + 68);
    for (size_t visits = 0; difat < kDifatSector && fatPlaces.size() < fatCount && visits < sectorCount; ++visits) {
        const std::vector<uint8_t> s = WholeSector(difat);
        if (s.empty()) break;
        for (size_t k = 0; k + 1 < sectorSize / 4 && fatPlaces.size() < fatCount; ++k) fatPlaces.push_back(le::U32(&s[4 * k]));
        difat = le::U32(&s[sectorSize - 4]);
    }
    for (uint32_t place : fatPlaces) {
        // A FAT sector cut short by the end of the image keeps the entries it
        // has; the missing ones are free.
        size_t available = 0;
        const uint8_t* s = Sector(place, &available);
        for (size_t k = 0; k < sectorSize / 4; ++k) fat_.push_back(s && 4 * k + 4 <= available ? le::U32(s + 4 * k) : kFreeSector);
    }
    const std::vector<uint8_t> dir = ReadChain(le::U32(h + 48), UINT64_MAX, false);
    for (size_t i = 0; i + kEntrySize <= dir.size(); i += kEntrySize) entries_.push_back(DecodeEntry(dir.data() + i));
    if (entries_.empty()) return;
    const std::vector<uint8_t> miniFat = ReadChain(le::U32(h + 60), uint64_t{le::U32(h + 64)} * sectorSize, false);
    for (size_t i = 0; i + 4 <= miniFat.size(); i += 4) miniFat_.push_back(le::U32(miniFat.data() + i));
    miniStream_ = ReadChain(entries_[0].start, entries_[0].size, false);
    valid_ = true;
}

const uint8_t* Reader::Sector(uint32_t number, size_t* available) const {
    const size_t sectorSize = size_t{1} << sectorShift_;
    const uint64_t pos = (uint64_t{number} + 1) * sectorSize;
    *available = 0;
    if (number >= kDifatSector || pos >= image_.size()) return nullptr;
    // The last sector of a file may be cut short: Access writes a project's
    // final sector only as far as its streams reach.
    *available = static_cast<size_t>(std::min<uint64_t>(sectorSize, image_.size() - pos));
    return image_.data() + pos;
}

std::vector<uint8_t> Reader::WholeSector(uint32_t number) const {
    size_t available = 0;
    const uint8_t* p = Sector(number, &available);
    if (!p) return {};
    std::vector<uint8_t> out(size_t{1} << sectorShift_, 0);
    std::memcpy(out.data(), p, available);
    return out;
}

std::vector<uint32_t> Reader::ChainOf(const std::vector<uint32_t>& table, uint32_t start, size_t limit) const {
    std::vector<uint32_t> chain;
    std::vector<bool> seen(table.size(), false);
    uint32_t s = start;
    while (s < table.size() && !seen[s] && chain.size() < limit) {
        seen[s] = true;
        chain.push_back(s);
        s = table[s];
    }
    if (s != kEndOfChain && chain.size() < limit) ++damagedChains_;
    return chain;
}

std::vector<uint8_t> Reader::ReadChain(uint32_t start, uint64_t size, bool mini, bool* incomplete) const {
    const size_t unit = mini ? kMiniSectorSize : (size_t{1} << sectorShift_);
    const std::vector<uint32_t>& table = mini ? miniFat_ : fat_;
    // Never more than the image (or the mini stream) could hold.
    const uint64_t cap = mini ? miniStream_.size() : image_.size();
    const uint64_t wanted = std::min(size, cap);
    const size_t limit = size == UINT64_MAX ? table.size() : static_cast<size_t>((wanted + unit - 1) / unit);
    const std::vector<uint32_t> chain = ChainOf(table, start, limit);
    std::vector<uint8_t> out;
    out.reserve(chain.size() * unit);
    bool missing = false;  // some of the stream's bytes are not in the image
    for (uint32_t s : chain) {
        const size_t at = out.size();
        out.resize(at + unit, 0);
        size_t available = 0;
        if (mini) {
            const uint64_t pos = uint64_t{s} * unit;
            if (pos < miniStream_.size()) {
                available = static_cast<size_t>(std::min<uint64_t>(unit, miniStream_.size() - pos));
                std::memcpy(out.data() + at, miniStream_.data() + pos, available);
            }
        } else if (const uint8_t* p = Sector(s, &available)) {
            std::memcpy(out.data() + at, p, available);
        }
        // Bytes of the stream beyond what the image holds, in the middle of
        // the chain or at its end.
        if (at + available < wanted && available < unit) missing = true;
    }
    if (size != UINT64_MAX) {
        if (out.size() < wanted || wanted < size) missing = true;
        out.resize(static_cast<size_t>(wanted), 0);
    }
    if (incomplete) *incomplete = missing;
    return out;
}

std::vector<uint8_t> Reader::ReadStream(uint32_t entry, bool* incomplete) const {
    if (entry >= entries_.size() || entries_[entry].type != kStream) return {};
    const Entry& e = entries_[entry];
    const uint32_t cutoff = le::U32(image_.data() + 56);
    return ReadChain(e.start, e.size, e.size < cutoff, incomplete);
}

std::vector<uint32_t> Reader::Children(uint32_t storage) const {
    std::vector<uint32_t> out;
    if (storage >= entries_.size()) return out;
    std::vector<bool> seen(entries_.size(), false);
    // In-order walk with an explicit stack; every entry is visited at most once.
    std::vector<uint32_t> stack;
    uint32_t node = entries_[storage].child;
    while ((node < entries_.size() && !seen[node]) || !stack.empty()) {
        while (node < entries_.size() && !seen[node]) {
            seen[node] = true;
            stack.push_back(node);
            node = entries_[node].left;
        }
        if (stack.empty()) break;
        node = stack.back();
        stack.pop_back();
        out.push_back(node);
        node = entries_[node].right;
    }
    return out;
}

uint32_t Reader::Find(uint32_t storage, const std::u16string& name) const {
    for (uint32_t c : Children(storage))
        if (entries_[c].name == name) return c;
    return kNoStream;
}

uint32_t Reader::FindPath(const std::vector<std::u16string>& path) const {
    uint32_t at = 0;
    for (const std::u16string& name : path) {
        at = Find(at, name);
        if (at == kNoStream) return at;
    }
    return at;
}

}  // namespace talmera::cfb
