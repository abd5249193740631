#include "OleFile.h"

#include <gtest/gtest.h>

#include <sstream>

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

}  // namespace talmera::test
