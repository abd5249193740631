#include "accessobjects/VbaCompression.h"

#include <algorithm>

#include "platform/LittleEndian.h"
#include "platform/TextCodec.h"

namespace talmera::vba {

namespace {

constexpr size_t kChunkSize = 4096;


// A copy token splits its 16 bits between offset and length by how far the
// chunk's output has come: the more has been written, the more offset bits.
void splitToken(size_t decompressedInChunk, uint16_t token, size_t& offset, size_t& length) {
    unsigned bitCount = 4;
    while ((size_t{1} << bitCount) < decompressedInChunk) ++bitCount;
    bitCount = std::min(bitCount, 12u);
    const uint16_t lengthMask = static_cast<uint16_t>(0xFFFFu >> bitCount);
    length = static_cast<size_t>(token & lengthMask) + 3;
    offset = static_cast<size_t>(token >> (16 - bitCount)) + 1;
}

}  // namespace

std::vector<uint8_t> Decompress(const uint8_t* data, size_t size, DecompressStats* stats, size_t maxOutput) {
    std::vector<uint8_t> out;
    DecompressStats local;
    DecompressStats& s = stats ? *stats : local;
    if (size == 0) return out;
    if (data[0] != 0x01) s.badSignature = true;
    size_t pos = 1;
    while (pos + 2 <= size && out.size() < maxOutput) {
        const uint16_t header = le::U16(data + pos);
        const size_t declaredEnd = pos + (header & 0x0FFF) + 3;
        const size_t chunkEnd = std::min(size, declaredEnd);
        const bool cut = declaredEnd > size;  // the container ends inside this chunk
        const bool compressed = (header & 0x8000) != 0;
        // The signature bits 12 to 14 are always 011; a header without them is
        // damage, but its bytes are still the best guess of the chunk.
        if (((header >> 12) & 0x7) != 0x3) ++s.chunksDamaged;
        pos += 2;
        const size_t chunkStart = out.size();
        if (!compressed) {
            const size_t n = std::min({kChunkSize, size - pos, maxOutput - out.size()});
            out.insert(out.end(), data + pos, data + pos + n);
            if (n < kChunkSize && pos + n < size) ++s.chunksDamaged;
            pos += kChunkSize;
            continue;
        }
        bool damaged = false;
        while (pos < chunkEnd && !damaged) {
            const uint8_t flags = data[pos++];
            for (int bit = 0; bit < 8 && pos < chunkEnd; ++bit) {
                if (out.size() - chunkStart >= kChunkSize || out.size() >= maxOutput) {
                    damaged = true;
                    break;
                }
                if (((flags >> bit) & 1) == 0) {
                    out.push_back(data[pos++]);
                    continue;
                }
                if (pos + 2 > chunkEnd) {
                    damaged = true;
                    break;
                }
                const uint16_t token = le::U16(data + pos);
                pos += 2;
                size_t offset = 0, length = 0;
                splitToken(out.size() - chunkStart, token, offset, length);
                if (offset > out.size() - chunkStart) {
                    damaged = true;
                    break;
                }
                length = std::min({length, kChunkSize - (out.size() - chunkStart), maxOutput - out.size()});
                // Byte by byte: a copy may overlap the bytes it produces.
                for (size_t k = 0; k < length; ++k) out.push_back(out[out.size() - offset]);
            }
        }
        if (damaged || cut) ++s.chunksDamaged;
        pos = chunkEnd;
    }
    return out;
}

ProjectInfo ParseDirStream(const uint8_t* data, size_t size) {
    ProjectInfo info;
    std::string codePage = "WINDOWS-1252";
    auto text = [&](const uint8_t* p, size_t n) { return codePageToUtf8(p, n, codePage); };
    ModuleEntry module;
    bool inModule = false;
    bool unicodeName = false, unicodeStream = false;
    size_t pos = 0;
    while (pos + 6 <= size) {
        const uint16_t id = le::U16(data + pos);
        uint32_t length = le::U32(data + pos + 2);
        pos += 6;
        // The version record's size field is a fixed 4 followed by six bytes.
        if (id == 0x0009) length = 6;
        if (length > size - pos) break;
        const uint8_t* value = data + pos;
        pos += length;
        switch (id) {
            case 0x0003:  // code page of the project's 8-bit texts
                if (length >= 2) {
                    info.codePage = le::U16(value);
                    codePage = codePageName(info.codePage);
                }
                break;
            case 0x0004:
                info.projectName = text(value, length);
                break;
            case 0x0019:  // a module begins with its name
                module = ModuleEntry{};
                module.name = text(value, length);
                inModule = true;
                unicodeName = unicodeStream = false;
                break;
            case 0x0047:  // the name again in UTF-16, preferred when present
                if (inModule && length > 0) {
                    module.name = ucs2ToUtf8(value, length);
                    unicodeName = true;
                }
                break;
            case 0x001A:
                if (inModule && !unicodeStream) module.streamName = text(value, length);
                break;
            case 0x0032:
                if (inModule && length > 0) {
                    module.streamName = ucs2ToUtf8(value, length);
                    unicodeStream = true;
                }
                break;
            case 0x0031:
                if (inModule && length >= 4) module.sourceOffset = le::U32(value);
                break;
            case 0x0021: module.kind = ModuleKind::Standard; break;
            case 0x0022: module.kind = ModuleKind::Class; break;
            case 0x002B:  // the module's terminator
                if (inModule) {
                    if (module.streamName.empty()) module.streamName = module.name;
                    info.modules.push_back(std::move(module));
                    module = ModuleEntry{};
                }
                inModule = false;
                break;
            case 0x0010:
                info.complete = true;
                return info;
            default:
                break;
        }
        (void)unicodeName;
    }
    return info;
}

}  // namespace talmera::vba
