// Read-only access to the damaged file through a memory map.
//
// The file is opened for reading only and never locked, so other programs may
// keep reading and writing it. Every read is bounded by the file: bytes past the
// end read as zeros, whatever offset or length the caller passes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace talmera {

class PageFile {
public:
    PageFile() = default;
    ~PageFile();
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    // Opens the file; on failure returns false and sets error() to the
    // operating system's reason (missing, permission, a directory, ...).
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return open_; }
    const std::string& error() const { return error_; }
    uint64_t length() const { return length_; }

    // Copies size bytes from pos; the part past the end of the file is zeros.
    void read(uint64_t pos, size_t size, uint8_t* out) const;
    uint8_t u8(uint64_t pos) const;
    uint16_t u16(uint64_t pos) const;
    uint32_t u24(uint64_t pos) const;
    uint32_t u32(uint64_t pos) const;
    uint64_t u64(uint64_t pos) const;

    // Direct view of the mapped bytes [pos, pos + size) when they lie wholly
    // inside the file, else nullptr.
    const uint8_t* view(uint64_t pos, size_t size) const;

    // Tells the system that the bytes before pos were read and need not stay
    // in memory (they are read again from the file if needed), so that memory
    // stays flat however large the file. Works in steps of a few megabytes.
    void doneBefore(uint64_t pos);
    // Starts a new pass over the file (doneBefore counts from its start again).
    void newPass() { released_ = 0; }

private:
    bool open_ = false;
    int fd_ = -1;
    const uint8_t* map_ = nullptr;
    uint64_t length_ = 0;
    uint64_t released_ = 0;
    std::string error_;
};

}  // namespace talmera
