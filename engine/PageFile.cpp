#include "engine/PageFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>

namespace talmera {

PageFile::~PageFile() { close(); }

bool PageFile::open(const std::string& path) {
    close();
    error_.clear();
    // Read-only, no lock: other programs keep full access to the file.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error_ = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        error_ = std::strerror(errno);
        ::close(fd);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error_ = std::strerror(EISDIR);
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error_ = "not a regular file";
        ::close(fd);
        return false;
    }
    length_ = static_cast<uint64_t>(st.st_size);
    if (length_ > 0) {
        void* m = mmap(nullptr, length_, PROT_READ, MAP_PRIVATE, fd, 0);
        if (m == MAP_FAILED) {
            error_ = std::strerror(errno);
            ::close(fd);
            length_ = 0;
            return false;
        }
        madvise(m, length_, MADV_SEQUENTIAL);
        map_ = static_cast<const uint8_t*>(m);
    }
    fd_ = fd;
    released_ = 0;
    open_ = true;
    return true;
}

void PageFile::close() {
    if (map_) munmap(const_cast<uint8_t*>(map_), length_);
    if (fd_ >= 0) ::close(fd_);
    map_ = nullptr;
    fd_ = -1;
    length_ = 0;
    open_ = false;
}

void PageFile::read(uint64_t pos, size_t size, uint8_t* out) const {
    size_t avail = 0;
    if (map_ && pos < length_) {
        uint64_t left = length_ - pos;
        avail = left < size ? static_cast<size_t>(left) : size;
        std::memcpy(out, map_ + pos, avail);
    }
    if (avail < size) std::memset(out + avail, 0, size - avail);
}

const uint8_t* PageFile::view(uint64_t pos, size_t size) const {
    if (!map_ || pos > length_ || size > length_ - pos) return nullptr;
    return map_ + pos;
}

void PageFile::doneBefore(uint64_t pos) {
    constexpr uint64_t kStep = 8u << 20;
    if (!map_ || pos <= released_ + kStep) return;
    const uint64_t pageMask = static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) - 1;
    const uint64_t from = released_ & ~pageMask;
    const uint64_t to = std::min(pos, length_) & ~pageMask;
    if (to > from) madvise(const_cast<uint8_t*>(map_) + from, to - from, MADV_DONTNEED);
    released_ = to;
}

uint8_t PageFile::u8(uint64_t pos) const { return (map_ && pos < length_) ? map_[pos] : 0; }

uint16_t PageFile::u16(uint64_t pos) const {
    uint8_t b[2];
    read(pos, 2, b);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t PageFile::u24(uint64_t pos) const {
    uint8_t b[3];
    read(pos, 3, b);
    return b[0] | (b[1] << 8) | (static_cast<uint32_t>(b[2]) << 16);
}

uint32_t PageFile::u32(uint64_t pos) const {
    uint8_t b[4];
    read(pos, 4, b);
    return b[0] | (b[1] << 8) | (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

uint64_t PageFile::u64(uint64_t pos) const {
    return u32(pos) | (static_cast<uint64_t>(u32(pos + 4)) << 32);
}

}  // namespace talmera
