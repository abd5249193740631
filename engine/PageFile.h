// Read-only access to the damaged file through a memory map.
//
// The file is opened for reading only and never locked, so other programs may
// keep reading and writing it. Every read is bounded by the file: bytes past the
// end read as zeros, whatever offset or length the caller passes. That holds
// also when another program shrinks the file while it is open: the part of the
// map that lost its file reads as zeros from then on (a guard catches the fault
// the system raises and maps zeros over that part).
//
// An encrypted file is read through its decoded pages (decodePages): every
// read then sees the plain pages, held in an unnamed temporary file mapped the
// same way, so that view() keeps its promise and memory stays flat.
//
// Memory stays bounded however the file is read: every read notes the
// stretches of the map it touched, and once they add up to kResidentBudget the
// system is told to drop the touched pages from the process (they stay mapped
// and are read again from the file, or the system's cache, when next used).
// So a pass over a file of any size, in order or jumping about (long values,
// overflow rows), keeps at most about that much of it resident. Reads from
// several threads are safe.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
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
    // inside the file, else nullptr. The bytes stay valid while the file is open.
    const uint8_t* view(uint64_t pos, size_t size) const;

    // Tells the system that the bytes before pos were read and need not stay
    // in memory (they are read again from the file if needed), so that memory
    // stays flat however large the file. Works in steps of a few megabytes.
    void doneBefore(uint64_t pos);
    // Starts a new pass over the file (doneBefore counts from its start again).
    void newPass() { released_ = 0; }

    // Turns the stored bytes of page `page` (at page × pageSize; the last page
    // may be shorter) into its plain bytes; `in` and `out` hold `size` bytes.
    using PageDecodeFunction = std::function<void(uint32_t page, const uint8_t* in, uint8_t* out, size_t size)>;
    // Told the bytes decoded so far and the file's length; false stops the decoding.
    using DecodeProgress = std::function<bool(uint64_t done, uint64_t total)>;

    // Makes every later read see the decoded pages instead of the stored ones.
    // The stored file is read once, page by page (a page that cannot be read
    // decodes from zeros), and the decoded image is kept in an unnamed
    // temporary file (or, where the temporary folder refuses one, in an
    // unnamed memory file). Returns false with error() set when the image
    // cannot be made or `progress` stopped it; the reads then stay as before.
    bool decodePages(uint32_t pageSize, const PageDecodeFunction& decode, const DecodeProgress& progress = {});
    // Whether the reads see decoded pages.
    bool decoded() const { return imageFd_ >= 0; }

    // How much of the map may be resident before the touched pages are
    // dropped, and the stretch the reads are counted in (the system maps a
    // file's pages in around a fault by up to this much).
    static constexpr uint64_t kResidentBudget = 16u << 20;
    static constexpr unsigned kStretchShift = 16;  // 64 KiB

private:
    void mapGuarded(const uint8_t* map, int fd);
    void unmap();
    // Notes that [pos, pos + size) of the map was read; drops the touched
    // pages once they reach the budget.
    void touch(uint64_t pos, size_t size) const {
        if (size == 0) return;
        const uint64_t first = pos >> kStretchShift;
        const uint64_t last = (pos + size - 1) >> kStretchShift;
        for (uint64_t k = first; k <= last && k < stretches_; ++k) {
            std::atomic<uint64_t>& word = touched_[k >> 6];
            const uint64_t bit = uint64_t{1} << (k & 63);
            if (word.load(std::memory_order_relaxed) & bit) continue;
            word.fetch_or(bit, std::memory_order_relaxed);
            noteStretch(k);
        }
    }
    void noteStretch(uint64_t stretch) const;
    void dropTouched() const;

    bool open_ = false;
    int fd_ = -1;
    int imageFd_ = -1;      // the decoded image, when decodePages made one
    const uint8_t* map_ = nullptr;
    int guardSlot_ = -1;    // the map's place among the guarded maps
    uint64_t length_ = 0;
    uint64_t released_ = 0;
    std::string error_;
    // One bit per stretch of the map: touched since the last drop.
    std::unique_ptr<std::atomic<uint64_t>[]> touched_;
    uint64_t stretches_ = 0;
    mutable std::atomic<uint64_t> touchedCount_{0};
    mutable std::atomic<uint64_t> lowTouched_{0};
    mutable std::atomic<uint64_t> highTouched_{0};
    mutable std::mutex dropping_;
};

}  // namespace talmera
