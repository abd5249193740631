#include "OleFile.h"

#include <gtest/gtest.h>

#include <sstream>

#include <nlohmann/json.hpp>

#include <zlib.h>

#include "TestSupport.h"

namespace talmera::test {

namespace {

// Debian's olefile lives in the system's Python, which may not be the first
// python3 on the path.
std::string python() {
    for (const char* candidate : {"/usr/bin/python3", "python3"}) {
        std::string out;
        if (runCommand(std::string(candidate) + " -c 'import olefile' 2>/dev/null", &out) == 0) return candidate;
    }
    return {};
}

const char kScript[] = R"(
import sys, zlib, olefile
ole = olefile.OleFileIO(sys.argv[1], raise_defects=olefile.DEFECT_INCORRECT)
for entry in ole.listdir(streams=True, storages=True):
    path = '/'.join(entry)
    name = path.encode('utf-16-le').hex()
    if ole.get_type(path) == olefile.STGTY_STORAGE:
        print('S', name, 0, 0)
    else:
        data = ole.openstream(path).read()
        print('F', name, len(data), zlib.crc32(data))
)";

// The code project: VBA/VBAProject/VBA holds "dir" (the module list, with
// each module's stream and the offset of its compressed source) and the
// module streams. Prints one JSON object, module name to source text.
const char kModulesScript[] = R"(
import sys, json, olefile

def decompress(data):
    # A signature byte 1, then chunks: a 2-byte header (size - 3 in the low
    # 12 bits, bit 15 set when compressed), then tokens in groups of eight
    # behind a flag byte: a literal byte, or a copy token whose split between
    # offset and length follows how much of the chunk is already unpacked.
    if not data or data[0] != 1:
        raise ValueError('no compressed container')
    out = bytearray()
    pos = 1
    while pos + 2 <= len(data):
        header = data[pos] | data[pos + 1] << 8
        pos += 2
        end = min(len(data), pos + (header & 0x0FFF) + 1)
        start = len(out)
        if not header & 0x8000:
            out += data[pos:pos + 4096]
            pos += 4096
            continue
        while pos < end:
            flags = data[pos]
            pos += 1
            for bit in range(8):
                if pos >= end:
                    break
                if not flags >> bit & 1:
                    out.append(data[pos])
                    pos += 1
                    continue
                token = data[pos] | data[pos + 1] << 8
                pos += 2
                bits = max((len(out) - start - 1).bit_length(), 4)
                length = (token & (0xFFFF >> bits)) + 3
                offset = (token >> (16 - bits)) + 1
                for _ in range(length):
                    out.append(out[-offset])
    return bytes(out)

ole = olefile.OleFileIO(sys.argv[1])
base = ['VBA', 'VBAProject', 'VBA']
d = decompress(ole.openstream(base + ['dir']).read())
pos, codepage, modules = 0, 1252, []
while pos + 6 <= len(d):
    rid = d[pos] | d[pos + 1] << 8
    size = int.from_bytes(d[pos + 2:pos + 6], 'little')
    if rid == 0x09:
        size = 6  # PROJECTVERSION: its size field says 4, six bytes follow
    body = d[pos + 6:pos + 6 + size]
    pos += 6 + size
    if rid == 0x03:
        codepage = body[0] | body[1] << 8
    elif rid == 0x19:
        modules.append({'name': body})
    elif rid == 0x1A and modules:
        modules[-1]['stream'] = body
    elif rid == 0x31 and modules:
        modules[-1]['offset'] = int.from_bytes(body, 'little')
    elif rid == 0x10:
        break
encoding = 'cp%d' % codepage
sources = {}
for m in modules:
    stream = ole.openstream(base + [m['stream'].decode(encoding)]).read()
    sources[m['name'].decode(encoding)] = decompress(stream[m['offset']:]).decode(encoding)
print(json.dumps(sources))
)";

std::vector<uint8_t> fromHex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

}  // namespace

uint32_t crcOf(const std::vector<uint8_t>& bytes) {
    return static_cast<uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
}

bool haveOleFile() { return !python().empty(); }

std::map<std::string, OleEntry> oleEntries(const std::string& path) {
    std::map<std::string, OleEntry> entries;
    const std::string interpreter = python();
    std::string output;
    const int status = runCommand(interpreter + " -c " + shellQuote(kScript) + " " + shellQuote(path), &output);
    EXPECT_EQ(status, 0) << "olefile rejects " << path;
    std::istringstream lines(output);
    std::string kind, name;
    uint64_t size = 0;
    uint32_t crc = 0;
    while (lines >> kind >> name >> size >> crc) {
        const std::vector<uint8_t> nameBytes = fromHex(name);
        std::string utf8;
        for (size_t i = 0; i + 1 < nameBytes.size(); i += 2) {
            const unsigned c = nameBytes[i] | (nameBytes[i + 1] << 8);
            if (c < 0x80) utf8.push_back(static_cast<char>(c));
            else utf8 += "?";
        }
        OleEntry e;
        e.storage = kind == "S";
        e.size = size;
        e.crc = crc;
        entries[utf8] = std::move(e);
    }
    return entries;
}

std::map<std::string, std::string> oleModuleSources(const std::string& path) {
    std::string output;
    const int status = runCommand(python() + " -c " + shellQuote(kModulesScript) + " " + shellQuote(path), &output);
    EXPECT_EQ(status, 0) << "the test's decoder rejects " << path << ": " << output;
    std::map<std::string, std::string> sources;
    if (status != 0) return sources;
    const nlohmann::json parsed = nlohmann::json::parse(output);
    for (const auto& [name, text] : parsed.items()) sources[name] = text.get<std::string>();
    return sources;
}

}  // namespace talmera::test
