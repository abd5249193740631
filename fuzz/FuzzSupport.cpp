#include "fuzz/FuzzSupport.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace talmera::fuzz {

MemoryFile& MemoryFile::Instance() {
    static MemoryFile file;
    return file;
}

MemoryFile::MemoryFile() {
    size_ = static_cast<size_t>(kMaxImagePages) * 4096;
    fd_ = memfd_create("fuzz-image", MFD_CLOEXEC);
    if (fd_ < 0 || ftruncate(fd_, static_cast<off_t>(size_)) != 0) {
        std::perror("fuzz: no memory file");
        std::abort();
    }
    void* map = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (map == MAP_FAILED) {
        std::perror("fuzz: the memory file cannot be mapped");
        std::abort();
    }
    map_ = static_cast<uint8_t*>(map);
    path_ = "/proc/self/fd/" + std::to_string(fd_);
}

void MemoryFile::clear() {
    for (const auto& [offset, size] : written_) std::memset(map_ + offset, 0, size);
    written_.clear();
}

void MemoryFile::write(uint64_t offset, const uint8_t* data, size_t size) {
    if (offset >= size_ || size == 0) return;
    size = std::min<size_t>(size, size_ - offset);
    std::memcpy(map_ + offset, data, size);
    written_.emplace_back(offset, size);
}

bool LoadImage(const uint8_t* data, size_t size, Image& image) {
    MemoryFile& file = MemoryFile::Instance();
    file.clear();
    if (size < 3) return false;
    image = Image{};
    image.options = data[0];
    image.jet4 = (data[0] & 1) != 0;
    image.pageSize = image.jet4 ? 4096 : 2048;
    image.pages = std::min<uint32_t>(static_cast<uint32_t>(data[1] | (data[2] << 8)), kMaxImagePages);
    size_t at = 3;
    while (at + 2 <= size) {
        const uint32_t page = static_cast<uint32_t>(data[at] | (data[at + 1] << 8));
        at += 2;
        const size_t take = std::min<size_t>(image.pageSize, size - at);
        if (page < kMaxImagePages) {
            file.write(static_cast<uint64_t>(page) * image.pageSize, data + at, take);
            image.pageNumbers.push_back(page);
            image.pages = std::max(image.pages, page + 1);
        }
        at += take;
    }
    image.filePages = image.pageNumbers;
    std::sort(image.filePages.begin(), image.filePages.end());
    image.filePages.erase(std::unique(image.filePages.begin(), image.filePages.end()), image.filePages.end());
    return true;
}

EngineOverImage::EngineOverImage(bool jet4, uint64_t length, bool ace) {
    MemoryFile& file = MemoryFile::Instance();
    app.selectedPath = file.path();
    engine = std::make_shared<CMDBRecovery>(app);
    app.engine = engine;
    CMDBRecovery& e = *engine;
    e.sourcePath = file.path();
    e.mainWindow = &receiver;
    e.fileOpened = e.databaseFile.open(file.path());
    if (!e.fileOpened) {
        std::fprintf(stderr, "fuzz: the memory file cannot be opened: %s\n", e.databaseFile.error().c_str());
        std::abort();
    }
    // The reads are bounded by the image's length, as by a file of that length.
    e.fileLength = std::min<uint64_t>(length, file.capacity());
    e.jet4Layout = jet4;
    e.pageSize = jet4 ? 4096 : 2048;
    e.rowCountOffset = jet4 ? 12 : 8;
    e.textUnit = jet4 ? 2 : 1;
    e.aceFormat = ace;
    e.versionByte = ace ? 2 : (jet4 ? 1 : 0);
}

bool EngineOverImage::isDataPage(uint32_t page) const {
    return engine->databaseFile.u8(static_cast<uint64_t>(page) * engine->pageSize) == 0x01;
}

bool EngineOverImage::isLongValuePage(uint32_t page) const {
    return isDataPage(page) && engine->databaseFile.u32(static_cast<uint64_t>(page) * engine->pageSize + 4) == 0x4C41564C;
}

std::vector<uint8_t> DataPage(bool jet4, uint32_t owner, const std::vector<std::vector<uint8_t>>& rows) {
    const uint32_t pageSize = jet4 ? 4096 : 2048;
    const uint32_t countAt = jet4 ? 12 : 8;
    std::vector<uint8_t> page(pageSize, 0);
    page[0] = 0x01;
    page[1] = 0x01;
    for (int b = 0; b < 4; ++b) page[4 + b] = static_cast<uint8_t>(owner >> (8 * b));
    uint32_t end = pageSize;
    uint16_t count = 0;
    for (const std::vector<uint8_t>& row : rows) {
        const uint32_t slotsEnd = countAt + 2 + 2 * (count + 1u);
        if (row.size() > end || end - row.size() < slotsEnd) break;
        end -= static_cast<uint32_t>(row.size());
        std::copy(row.begin(), row.end(), page.begin() + end);
        page[countAt + 2 + 2 * count] = static_cast<uint8_t>(end);
        page[countAt + 3 + 2 * count] = static_cast<uint8_t>(end >> 8);
        ++count;
    }
    page[countAt] = static_cast<uint8_t>(count);
    page[countAt + 1] = static_cast<uint8_t>(count >> 8);
    const uint32_t freeSpace = end - (countAt + 2 + 2u * count);
    page[2] = static_cast<uint8_t>(freeSpace);
    page[3] = static_cast<uint8_t>(freeSpace >> 8);
    return page;
}

}  // namespace talmera::fuzz
