#include "engine/PageFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

namespace talmera {

// ---- The guard against a file shrinking under its map -------------------------
//
// Reading a mapped page that lies wholly past the file's current end (another
// program cut the file) or that the disk cannot deliver raises SIGBUS, which
// would end the process. The guard's handler looks the address up among the
// maps of open page files and maps zeros over the lost part, so the read that
// faulted runs again and reads zeros, as a read past the end does. Faults in
// other memory go on to the handler that was there before.
namespace {

struct GuardSlot {
    std::atomic<bool> taken{false};
    std::atomic<uintptr_t> start{0};  // 0: not in use
    std::atomic<uintptr_t> end{0};    // one past the map, rounded up to whole system pages
    std::atomic<int> fd{-1};          // the mapped file, to tell a cut file from an unreadable page
};

// Enough for every page file a process keeps open; a file opened beyond them
// is read without the guard.
constexpr size_t kGuardSlots = 128;
GuardSlot guardSlots[kGuardSlots];
struct sigaction previousBusAction {};
uintptr_t systemPageSize = 4096;

extern "C" void onBusError(int signal, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    const uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
    for (GuardSlot& slot : guardSlots) {
        const uintptr_t start = slot.start.load(std::memory_order_acquire);
        const uintptr_t end = slot.end.load(std::memory_order_acquire);
        if (start == 0 || address < start || address >= end) continue;
        const uintptr_t from = address & ~(systemPageSize - 1);
        uintptr_t to = end;  // the file was cut: everything from here on is gone
        struct stat status {};
        const int fd = slot.fd.load(std::memory_order_acquire);
        if (fd >= 0 && ::fstat(fd, &status) == 0 && static_cast<uintptr_t>(status.st_size) > from - start) {
            to = from + systemPageSize;  // the file is still there: only this page is unreadable
        }
        void* zeros = ::mmap(reinterpret_cast<void*>(from), to - from, PROT_READ,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        errno = savedErrno;
        if (zeros != MAP_FAILED) return;
        break;
    }
    errno = savedErrno;
    // Not a page file's fault: as if the guard were not there.
    if (previousBusAction.sa_flags & SA_SIGINFO) {
        previousBusAction.sa_sigaction(signal, info, context);
    } else if (previousBusAction.sa_handler != SIG_DFL && previousBusAction.sa_handler != SIG_IGN) {
        previousBusAction.sa_handler(signal);
    } else {
        // The faulting access runs again and ends the process the usual way.
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        ::sigaction(SIGBUS, &fallback, nullptr);
    }
}

void installGuard() {
    static std::once_flag once;
    std::call_once(once, [] {
        systemPageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        ::sigaction(SIGBUS, &action, &previousBusAction);
    });
}

int takeGuardSlot(const uint8_t* map, uint64_t length, int fd) {
    installGuard();
    const uintptr_t start = reinterpret_cast<uintptr_t>(map);
    const uintptr_t end = start + ((length + systemPageSize - 1) & ~(systemPageSize - 1));
    for (size_t i = 0; i < kGuardSlots; ++i) {
        bool expected = false;
        if (!guardSlots[i].taken.compare_exchange_strong(expected, true)) continue;
        guardSlots[i].fd.store(fd, std::memory_order_release);
        guardSlots[i].end.store(end, std::memory_order_release);
        guardSlots[i].start.store(start, std::memory_order_release);
        return static_cast<int>(i);
    }
    return -1;
}

void releaseGuardSlot(int slot) {
    if (slot < 0) return;
    GuardSlot& s = guardSlots[slot];
    s.start.store(0, std::memory_order_release);
    s.end.store(0, std::memory_order_release);
    s.fd.store(-1, std::memory_order_release);
    s.taken.store(false, std::memory_order_release);
}

// Reads [pos, pos + size) of the stored file into out; what cannot be read
// (past the end, or pages the disk refuses) is zeros.
void readStored(int fd, uint64_t pos, size_t size, uint32_t pageSize, uint8_t* out) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, out + done, size - done, static_cast<off_t>(pos + done));
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) break;  // the end of the file
        // An unreadable stretch: try the next page on its own.
        const size_t next = std::min(size, (done / pageSize + 1) * pageSize);
        std::memset(out + done, 0, next - done);
        done = next;
    }
    if (done < size) std::memset(out + done, 0, size - done);
}

bool writeAll(int fd, uint64_t pos, const uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(pos + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// An unnamed file of `length` bytes for a decoded image: in the temporary
// folder, or else in memory. -1 with errno set when neither can be had.
int createImageFile(uint64_t length) {
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    if (!error) {
        const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC | O_EXCL, 0600);
        if (fd >= 0) {
            if (::posix_fallocate(fd, 0, static_cast<off_t>(length)) == 0) return fd;
            ::close(fd);
        }
    }
    const int fd = ::memfd_create("talmera-decoded-pages", MFD_CLOEXEC);
    if (fd < 0) return -1;
    const int failed = ::posix_fallocate(fd, 0, static_cast<off_t>(length));
    if (failed == 0) return fd;
    ::close(fd);
    errno = failed;
    return -1;
}

}  // namespace

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
        mapGuarded(static_cast<const uint8_t*>(m), fd);
    }
    fd_ = fd;
    released_ = 0;
    open_ = true;
    return true;
}

void PageFile::mapGuarded(const uint8_t* map, int fd) {
    madvise(const_cast<uint8_t*>(map), length_, MADV_SEQUENTIAL);
    map_ = map;
    guardSlot_ = takeGuardSlot(map, length_, fd);
    stretches_ = (length_ + (uint64_t{1} << kStretchShift) - 1) >> kStretchShift;
    const uint64_t words = (stretches_ + 63) / 64;
    touched_ = std::make_unique<std::atomic<uint64_t>[]>(words);
    for (uint64_t w = 0; w < words; ++w) touched_[w].store(0, std::memory_order_relaxed);
    touchedCount_.store(0, std::memory_order_relaxed);
    lowTouched_.store(UINT64_MAX, std::memory_order_relaxed);
    highTouched_.store(0, std::memory_order_relaxed);
}

void PageFile::noteStretch(uint64_t stretch) const {
    // The range of touched stretches, so that the drop covers only it.
    uint64_t low = lowTouched_.load(std::memory_order_relaxed);
    while (stretch < low && !lowTouched_.compare_exchange_weak(low, stretch, std::memory_order_relaxed)) {
    }
    uint64_t high = highTouched_.load(std::memory_order_relaxed);
    while (stretch > high && !highTouched_.compare_exchange_weak(high, stretch, std::memory_order_relaxed)) {
    }
    constexpr uint64_t kBudgetStretches = kResidentBudget >> kStretchShift;
    if (touchedCount_.fetch_add(1, std::memory_order_relaxed) + 1 >= kBudgetStretches) dropTouched();
}

void PageFile::dropTouched() const {
    // One thread drops; a read on another thread meanwhile only re-reads its page.
    std::unique_lock<std::mutex> lock(dropping_, std::try_to_lock);
    if (!lock.owns_lock() || !map_) return;
    const uint64_t low = lowTouched_.exchange(UINT64_MAX, std::memory_order_relaxed);
    const uint64_t high = highTouched_.exchange(0, std::memory_order_relaxed);
    touchedCount_.store(0, std::memory_order_relaxed);
    if (low > high || low >= stretches_) return;
    for (uint64_t w = low >> 6; w <= (high >> 6); ++w) touched_[w].store(0, std::memory_order_relaxed);
    const uint64_t from = low << kStretchShift;
    const uint64_t to = std::min(length_, (high + 1) << kStretchShift);
    madvise(const_cast<uint8_t*>(map_) + from, to - from, MADV_DONTNEED);
}

void PageFile::unmap() {
    // Out of the guard's list first: the range may be reused by the next map.
    releaseGuardSlot(guardSlot_);
    guardSlot_ = -1;
    if (map_) munmap(const_cast<uint8_t*>(map_), length_);
    map_ = nullptr;
    touched_.reset();
    stretches_ = 0;
}

void PageFile::close() {
    unmap();
    if (imageFd_ >= 0) ::close(imageFd_);
    if (fd_ >= 0) ::close(fd_);
    imageFd_ = -1;
    fd_ = -1;
    length_ = 0;
    open_ = false;
}

bool PageFile::decodePages(uint32_t pageSize, const PageDecodeFunction& decode, const DecodeProgress& progress) {
    if (!open_ || pageSize == 0 || imageFd_ >= 0) {
        error_ = "the file is not open";
        return false;
    }
    if (length_ == 0) return true;
    const int image = createImageFile(length_);
    if (image < 0) {
        error_ = std::string("no room for the decoded pages: ") + std::strerror(errno);
        return false;
    }
    // About a megabyte of whole pages at a time.
    const size_t chunk = std::max<size_t>(1, (1u << 20) / pageSize) * pageSize;
    std::vector<uint8_t> stored(chunk), plain(chunk);
    for (uint64_t pos = 0; pos < length_; pos += chunk) {
        const size_t size = static_cast<size_t>(std::min<uint64_t>(chunk, length_ - pos));
        readStored(fd_, pos, size, pageSize, stored.data());
        for (size_t at = 0; at < size; at += pageSize) {
            const uint64_t page = (pos + at) / pageSize;
            decode(static_cast<uint32_t>(page), stored.data() + at, plain.data() + at,
                   std::min<size_t>(pageSize, size - at));
        }
        if (!writeAll(image, pos, plain.data(), size)) {
            error_ = std::string("cannot keep the decoded pages: ") + std::strerror(errno);
            ::close(image);
            return false;
        }
        if (progress && !progress(pos + size, length_)) {
            error_ = "stopped";
            ::close(image);
            return false;
        }
    }
    void* m = mmap(nullptr, length_, PROT_READ, MAP_SHARED, image, 0);
    if (m == MAP_FAILED) {
        error_ = std::strerror(errno);
        ::close(image);
        return false;
    }
    unmap();
    imageFd_ = image;
    mapGuarded(static_cast<const uint8_t*>(m), image);
    released_ = 0;
    return true;
}

void PageFile::read(uint64_t pos, size_t size, uint8_t* out) const {
    size_t avail = 0;
    if (map_ && pos < length_) {
        uint64_t left = length_ - pos;
        avail = left < size ? static_cast<size_t>(left) : size;
        // An empty read may come with no buffer at all (an empty vector's data()).
        if (avail > 0) {
            touch(pos, avail);
            std::memcpy(out, map_ + pos, avail);
        }
    }
    if (avail < size) std::memset(out + avail, 0, size - avail);
}

const uint8_t* PageFile::view(uint64_t pos, size_t size) const {
    if (!map_ || pos > length_ || size > length_ - pos) return nullptr;
    touch(pos, size);
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

uint8_t PageFile::u8(uint64_t pos) const {
    if (!map_ || pos >= length_) return 0;
    touch(pos, 1);
    return map_[pos];
}

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
