#include "ui/RowStore.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>

namespace talmera::ui {

namespace {

// A block is sealed early when its texts grow past this, so that its
// offsets stay well inside 32 bits whatever the rows hold.
constexpr size_t kMaxBlockText = size_t(64) << 20;

uint32_t readU32(const char* at) {
    uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

void appendU32(std::string& out, uint32_t value) {
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    out.append(bytes, sizeof value);
}

// Layout of a sealed block: rows R, then R + 1 row starts (cell indexes),
// then one end offset per cell (into the texts), then the texts.
struct BlockView {
    const char* data;
    uint32_t rows;
    uint32_t cells;
    const char* rowStarts;
    const char* cellEnds;
    const char* text;

    explicit BlockView(const std::string& buffer) : data(buffer.data()) {
        rows = readU32(data);
        rowStarts = data + 4;
        cells = readU32(rowStarts + 4 * size_t(rows));
        cellEnds = rowStarts + 4 * (size_t(rows) + 1);
        text = cellEnds + 4 * size_t(cells);
    }
    uint32_t rowStart(size_t row) const { return readU32(rowStarts + 4 * row); }
    uint32_t cellEnd(size_t cell) const { return readU32(cellEnds + 4 * cell); }
    std::string_view cell(size_t row, size_t column) const {
        const uint32_t first = rowStart(row), last = rowStart(row + 1);
        if (column >= last - first) return {};
        const size_t index = first + column;
        const uint32_t begin = index == 0 ? 0 : cellEnd(index - 1);
        return {text + begin, cellEnd(index) - begin};
    }
};

}  // namespace

RowStore::RowStore(size_t memoryBudget, size_t blockRows)
    : blockRows_(std::max<size_t>(1, blockRows)), memoryBudget_(memoryBudget) {}

RowStore::~RowStore() {
    if (spill_ >= 0) ::close(spill_);
}

void RowStore::Clear() {
    blocks_.clear();
    blockFirstRow_.clear();
    memoryBytes_ = 0;
    rows_ = 0;
    openRowStarts_.assign(1, 0);
    openCellEnds_.clear();
    openText_.clear();
    if (spill_ >= 0) ::close(spill_);
    spill_ = -1;
    spillEnd_ = 0;
    spillFailed_ = false;
}

size_t RowStore::openBytes() const {
    return openText_.size() + 4 * (openCellEnds_.size() + openRowStarts_.size());
}

void RowStore::Append(const std::vector<std::string>& cells) {
    std::vector<std::string_view> views(cells.begin(), cells.end());
    Append(views.data(), views.size());
}

void RowStore::Append(const std::string_view* cells, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        openText_ += cells[i];
        openCellEnds_.push_back(static_cast<uint32_t>(openText_.size()));
    }
    openRowStarts_.push_back(static_cast<uint32_t>(openCellEnds_.size()));
    ++rows_;
    if (openRowStarts_.size() - 1 >= blockRows_ || openText_.size() >= kMaxBlockText) Seal();
}

void RowStore::Seal() {
    const size_t rows = openRowStarts_.size() - 1;
    if (rows == 0) return;
    Block block;
    block.data.reserve(4 + 4 * (openRowStarts_.size() + openCellEnds_.size()) + openText_.size());
    appendU32(block.data, static_cast<uint32_t>(rows));
    for (uint32_t start : openRowStarts_) appendU32(block.data, start);
    for (uint32_t end : openCellEnds_) appendU32(block.data, end);
    block.data += openText_;
    block.size = static_cast<uint32_t>(block.data.size());
    block.lastUse = ++useClock_;
    memoryBytes_ += block.data.size();
    blockFirstRow_.push_back(rows_ - rows);
    blocks_.push_back(std::move(block));
    openRowStarts_.assign(1, 0);
    openCellEnds_.clear();
    openText_.clear();
    KeepWithinBudget(blocks_.size() - 1);
}

size_t RowStore::BlockOf(size_t row) const {
    // Blocks hold blockRows_ rows unless their texts sealed them early.
    const auto after = std::upper_bound(blockFirstRow_.begin(), blockFirstRow_.end(), row);
    return static_cast<size_t>(after - blockFirstRow_.begin()) - 1;
}

bool RowStore::Load(size_t index) const {
    Block& block = blocks_[index];
    if (!block.inMemory && !ReadIn(block)) return false;
    block.lastUse = ++useClock_;
    KeepWithinBudget(index);
    return true;
}

size_t RowStore::BlocksOnDisk() const {
    size_t count = 0;
    for (const Block& block : blocks_) count += block.onDisk ? 1 : 0;
    return count;
}

bool RowStore::WriteOut(Block& block) const {
    if (spillFailed_) return false;
    if (spill_ < 0) {
        // An unnamed file in the temporary folder (TMPDIR): it disappears
        // with the process, whatever happens. Where the file system cannot
        // make one, a named file that is removed at once.
        std::error_code error;
        const std::string folder = std::filesystem::temp_directory_path(error).string();
        const std::string base = error ? std::string("/tmp") : folder;
        spill_ = ::open(base.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (spill_ < 0) {
            std::string pattern = base + "/talmera-grid-XXXXXX";
            spill_ = ::mkostemp(pattern.data(), O_CLOEXEC);
            if (spill_ >= 0) ::unlink(pattern.c_str());
        }
        if (spill_ < 0) {
            spillFailed_ = true;
            return false;
        }
    }
    const int fd = spill_;
    size_t written = 0;
    while (written < block.data.size()) {
        const ssize_t n = ::pwrite(fd, block.data.data() + written, block.data.size() - written,
                                   static_cast<off_t>(spillEnd_ + written));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            spillFailed_ = true;
            return false;
        }
        written += static_cast<size_t>(n);
    }
    block.fileOffset = spillEnd_;
    spillEnd_ += block.data.size();
    block.onDisk = true;
    return true;
}

bool RowStore::ReadIn(Block& block) const {
    std::string data(block.size, '\0');
    const int fd = spill_;
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pread(fd, data.data() + done, data.size() - done, static_cast<off_t>(block.fileOffset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    block.data = std::move(data);
    block.inMemory = true;
    memoryBytes_ += block.data.size();
    return true;
}

void RowStore::KeepWithinBudget(size_t keep) const {
    while (memoryBytes_ > memoryBudget_) {
        size_t oldest = blocks_.size();
        for (size_t i = 0; i < blocks_.size(); ++i) {
            if (i == keep || !blocks_[i].inMemory) continue;
            if (oldest == blocks_.size() || blocks_[i].lastUse < blocks_[oldest].lastUse) oldest = i;
        }
        if (oldest == blocks_.size()) return;
        Block& block = blocks_[oldest];
        if (!block.onDisk && !WriteOut(block)) return;  // it stays in memory
        memoryBytes_ -= block.data.size();
        std::string().swap(block.data);
        block.inMemory = false;
    }
}

size_t RowStore::CellCount(size_t row) const {
    if (row >= rows_) return 0;
    const size_t openFirst = rows_ - (openRowStarts_.size() - 1);
    if (row < openFirst) {
        const size_t index = BlockOf(row);
        if (!Load(index)) return 0;
        const BlockView view(blocks_[index].data);
        const size_t local = row - blockFirstRow_[index];
        return view.rowStart(local + 1) - view.rowStart(local);
    }
    const size_t local = row - openFirst;
    return openRowStarts_[local + 1] - openRowStarts_[local];
}

std::string_view RowStore::Cell(size_t row, size_t column) const {
    if (row >= rows_) return {};
    const size_t openFirst = rows_ - (openRowStarts_.size() - 1);
    if (row < openFirst) {
        const size_t index = BlockOf(row);
        if (!Load(index)) return {};
        return BlockView(blocks_[index].data).cell(row - blockFirstRow_[index], column);
    }
    const size_t local = row - openFirst;
    const uint32_t first = openRowStarts_[local], last = openRowStarts_[local + 1];
    if (column >= last - first) return {};
    const size_t cell = first + column;
    const uint32_t begin = cell == 0 ? 0 : openCellEnds_[cell - 1];
    return std::string_view(openText_).substr(begin, openCellEnds_[cell] - begin);
}

}  // namespace talmera::ui
