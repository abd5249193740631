// The independent reader of compound files in the tests: Debian's
// python3-olefile, run as a separate program. Its view of a file is a list of
// entries: path (names joined by '/'), type and, for streams, the bytes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace talmera::test {

struct OleEntry {
    bool storage = false;
    uint64_t size = 0;
    uint32_t crc = 0;  // CRC-32 of a stream's bytes (zlib's)
};

uint32_t crcOf(const std::vector<uint8_t>& bytes);

// True when a Python 3 with the olefile module can be run.
bool haveOleFile();

// Every storage and stream olefile finds in the file, by path. Fails the
// calling test (and returns empty) when olefile rejects the file.
std::map<std::string, OleEntry> oleEntries(const std::string& path);

// Every module of a project file's code project, name to source text (UTF-8),
// decoded on the test's side: olefile reads the streams, and a decompression
// written from the VBA format's description (not the project's) unpacks the
// dir stream and each module's source. Fails the calling test when olefile
// rejects the file.
std::map<std::string, std::string> oleModuleSources(const std::string& path);

}  // namespace talmera::test
