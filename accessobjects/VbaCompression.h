// The code project's compressed streams: the "dir" stream and each module's
// source are stored with the VBA compression (a container of 4096-byte chunks,
// each either raw or a run of literal bytes and copy tokens), and the "dir"
// stream lists the modules and where their source text starts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace talmera::vba {

// What a decompression passed over, for the log.
struct DecompressStats {
    uint32_t chunksDamaged = 0;   // chunks whose header or tokens did not fit; kept up to the fault
    bool badSignature = false;    // the container did not start with 0x01
};

// Decompresses a compressed container. Damage never stops it: a chunk whose
// tokens run past its end or point before the chunk's start is cut there and
// counted, and decompression goes on with the next chunk. The output never
// grows beyond maxOutput bytes.
std::vector<uint8_t> Decompress(const uint8_t* data, size_t size, DecompressStats* stats = nullptr,
                                size_t maxOutput = 64u << 20);

enum class ModuleKind { Standard, Class };

struct ModuleEntry {
    std::string name;         // UTF-8
    std::string streamName;   // UTF-8, the module's stream in the VBA storage
    uint32_t sourceOffset = 0;  // where the compressed source begins in that stream
    ModuleKind kind = ModuleKind::Standard;
};

struct ProjectInfo {
    uint16_t codePage = 1252;
    std::string projectName;
    std::vector<ModuleEntry> modules;
    bool complete = false;    // the terminator record was reached
};

// Reads the records of a decompressed "dir" stream. Records that do not fit
// end the reading; what was read so far is returned.
ProjectInfo ParseDirStream(const uint8_t* data, size_t size);

}  // namespace talmera::vba
