// What the structure targets share: a file image the engine reads by path
// without touching the disk, the engine over it, and the input formats the
// seeds of tools/talmera-seeds use.
//
// The targets are built twice: with libFuzzer (a clang build with
// -DTALMERA_FUZZ=ON, fuzz/run.sh) and, in every test build, as replay
// programs that run LLVMFuzzerTestOneInput over the regression corpus
// (tests/fuzz-regressions/<structure>/, ReplayMain.cpp). So nothing here
// needs libFuzzer or clang.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "platform/MessageReceiver.h"

namespace talmera::fuzz {

// A promise of the code under test that the input broke: ends the run as a
// finding (a trap, so that the sanitizers and libFuzzer report where).
inline void Require(bool condition) {
    if (!condition) __builtin_trap();
}

class SilentReceiver : public IMessageReceiver {
public:
    intptr_t send(uint32_t, uintptr_t, intptr_t) override { return 0; }
    void post(uint32_t, uintptr_t, intptr_t) override {}
    void showMessageBox(const std::string&, const std::string&) override {}
    void showPlatformMessage(const std::string&) override {}
    // The seeds' encrypted files have the password "password".
    std::optional<std::string> askPassword(const std::string&, int attempt) override {
        if (attempt > 0) return std::nullopt;
        return std::string("password");
    }
};

// The most pages a file image holds: the real files the seeds come from have
// fewer, and a page number beyond it is dropped from the input.
inline constexpr uint32_t kMaxImagePages = 4096;

// One memory file per process, of kMaxImagePages pages of 4096 bytes, mapped
// once for writing. The engine opens it by path (/proc/self/fd/N) and reads
// it as any file; between inputs only the pages an input wrote are zeroed
// again, so that an input costs no system call but the engine's own open.
class MemoryFile {
public:
    static MemoryFile& Instance();
    const std::string& path() const { return path_; }
    size_t capacity() const { return size_; }
    // Zeros everything the previous input wrote.
    void clear();
    // Writes bytes at offset (cut at the capacity).
    void write(uint64_t offset, const uint8_t* data, size_t size);

private:
    MemoryFile();
    int fd_ = -1;
    uint8_t* map_ = nullptr;
    size_t size_ = 0;
    std::string path_;
    // The written stretches, to zero them again.
    std::vector<std::pair<uint64_t, size_t>> written_;
};

// A file image as the image seeds give it:
//   byte 0     options: bit 0 the Jet 4 / ACE layout (4096-byte pages, else
//              Jet 3 with 2048); bits 1 to 7 are the target's own
//   bytes 1-2  the file's length in pages (little-endian)
//   then       pages: 2 bytes page number, then the page's bytes (the last
//              may be cut short; the rest of it reads as zeros)
// Pages the input does not hold are zeros. A page number at or beyond
// kMaxImagePages is dropped; the length is at least one past the highest page.
struct Image {
    uint8_t options = 0;
    bool jet4 = true;
    uint32_t pageSize = 4096;
    uint32_t pages = 0;                  // the file's length in pages
    std::vector<uint32_t> pageNumbers;   // the pages the input holds, in input order
    std::vector<uint32_t> filePages;     // the same in file order, each once: the only pages not all zeros
    uint64_t length() const { return static_cast<uint64_t>(pages) * pageSize; }
};
// Reads an image input into the memory file. False when it is too short to be one.
bool LoadImage(const uint8_t* data, size_t size, Image& image);

// An engine whose source is the memory file, laid out as a scan of a file of
// `length` bytes in that layout would leave it: open, and nothing read yet.
class EngineOverImage {
public:
    EngineOverImage(bool jet4, uint64_t length, bool ace = false);
    CQuorvinAccessRecoveryApp app;
    SilentReceiver receiver;
    std::shared_ptr<CMDBRecovery> engine;
    CMDBRecovery& operator*() { return *engine; }
    CMDBRecovery* operator->() { return engine.get(); }
    // What kind of page the engine reads at that page number.
    bool isDataPage(uint32_t page) const;
    bool isLongValuePage(uint32_t page) const;
};

// Little-endian reads from input bytes, bounded by them (zeros past the end).
struct Bytes {
    const uint8_t* data;
    size_t size;
    uint8_t u8(size_t at) const { return at < size ? data[at] : 0; }
    uint16_t u16(size_t at) const { return static_cast<uint16_t>(u8(at) | (u8(at + 1) << 8)); }
    uint32_t u32(size_t at) const { return u16(at) | (static_cast<uint32_t>(u16(at + 2)) << 16); }
};

// Builds a data page of the given layout holding rows, stored from the page's
// end downwards as Access stores them; rows that do not fit are left out.
// owner: the page's owner (offset 4).
std::vector<uint8_t> DataPage(bool jet4, uint32_t owner, const std::vector<std::vector<uint8_t>>& rows);

}  // namespace talmera::fuzz
