// The page file: a file cut by another program while it is open reads as
// zeros past its new end (no crash), and decoded pages replace the stored
// ones for every read.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>

#include "Fixtures.h"
#include "engine/PageFile.h"
#include "engine/run/RecoverThread.h"

namespace talmera::test {
namespace {

constexpr size_t kFileSize = 64 * 1024;

std::vector<uint8_t> pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(0x80 | (i * 7));
    return bytes;
}

// What another program does: cut the file to `length` bytes.
void cut(const std::string& path, off_t length) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, length), 0);
    ::close(fd);
}

// A read of no bytes may come with no buffer (an empty vector's data()):
// nothing is copied, wherever it reads, and nothing is reported.
TEST(PageFileTest, AnEmptyReadTakesNoBuffer) {
    TempDir dir;
    const std::string path = dir.file("small.bin");
    writeFile(path, pattern(100));
    PageFile file;
    ASSERT_TRUE(file.open(path));
    for (uint64_t at : {uint64_t{0}, uint64_t{50}, uint64_t{100}, uint64_t{1} << 40}) file.read(at, 0, nullptr);
    PageFile empty;
    writeFile(dir.file("empty.bin"), {});
    ASSERT_TRUE(empty.open(dir.file("empty.bin")));
    empty.read(0, 0, nullptr);
    EXPECT_EQ(file.u8(99), pattern(100)[99]);
}

TEST(PageFileTest, AFileCutWhileOpenReadsZerosPastItsNewEnd) {
    TempDir dir;
    const std::string path = dir.file("cut.bin");
    const std::vector<uint8_t> bytes = pattern(kFileSize);
    writeFile(path, bytes);
    PageFile file;
    ASSERT_TRUE(file.open(path));
    const uint8_t* all = file.view(0, kFileSize);
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all[kFileSize - 1], bytes[kFileSize - 1]);  // mapped in before the cut

    // Cut inside a system page, then to nothing: each time the bytes before
    // the new end stay, everything after reads as zeros, through every read.
    struct Step {
        off_t length;
    };
    for (const Step step : {Step{20000}, Step{0}}) {
        SCOPED_TRACE(step.length);
        cut(path, step.length);
        EXPECT_EQ(file.length(), kFileSize);  // the length read at open
        for (size_t at : {size_t(0), size_t(4095), size_t(19999), size_t(20000), size_t(20480), size_t(40000),
                          kFileSize - 1}) {
            const uint8_t expected = static_cast<off_t>(at) < step.length ? bytes[at] : 0;
            EXPECT_EQ(all[at], expected) << at;
            EXPECT_EQ(file.u8(at), expected) << at;
        }
        uint8_t buffer[64];
        file.read(40000, sizeof buffer, buffer);
        EXPECT_EQ(std::count(buffer, buffer + sizeof buffer, 0), long(sizeof buffer));
        EXPECT_EQ(file.u32(kFileSize - 4), 0u);
        file.doneBefore(kFileSize);
    }
}

// A scan whose file is cut by another program during the page walk ends
// normally; rows read after a cut are those of the pages before it.
TEST(PageFileTest, AScanOfAFileCutDuringThePageWalkEnds) {
    TempDir dir;
    jetwriter::Database db;
    db.format = jetwriter::Format::Jet4;
    db.tables = {simpleTable("Items", 3000)};
    const std::string path = writeDatabase(dir, "cut.mdb", db);
    const uint64_t half = std::filesystem::file_size(path) / 2;

    class Cutter : public RecordingReceiver {
    public:
        Cutter(CQuorvinAccessRecoveryApp& app, std::string path, off_t length)
            : RecordingReceiver(app), path_(std::move(path)), length_(length) {}
        intptr_t send(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
            if (message == UM_PROGRESS && wParam == kProgressStep && !done_) {
                done_ = true;
                cut(path_, length_);
            }
            return RecordingReceiver::send(message, wParam, lParam);
        }

    private:
        std::string path_;
        off_t length_;
        bool done_ = false;
    };

    CQuorvinAccessRecoveryApp app;
    app.selectedPath = path;
    app.scanRun = true;
    Cutter receiver(app, path, static_cast<off_t>(half));
    app.engine = std::make_shared<CMDBRecovery>(app);
    app.engine->sourcePath = path;
    CRecoverThread thread(app, &receiver);
    thread.Run();
    EXPECT_EQ(receiver.finishedPosts, 1);

    // Cut after the scan, while the rows are read (a window showing the
    // table): the rows of the pages before the cut stay.
    writeDatabase(dir, "cut.mdb", db);
    ScanResult scan = runScan(path);
    const tableInfo* items = findTable(*scan.engine, "Items");
    ASSERT_NE(items, nullptr);
    cut(path, static_cast<off_t>(half));
    const size_t rows = readAllRows(*scan.engine, static_cast<size_t>(items - &scan.engine->tables[0]), true).size();
    EXPECT_GT(rows, 0u);
    EXPECT_LT(rows, 3000u);
}

// A fault in memory that is no page file's still ends the process: the guard
// takes only what is its own.
TEST(PageFileDeathTest, OtherMappedFilesStillFault) {
    TempDir dir;
    const std::string path = dir.file("other.bin");
    writeFile(path, pattern(kFileSize));
    PageFile file;  // the guard is in place
    ASSERT_TRUE(file.open(path));
    EXPECT_EXIT(
        {
            const int fd = ::open(path.c_str(), O_RDONLY);
            void* m = ::mmap(nullptr, kFileSize, PROT_READ, MAP_PRIVATE, fd, 0);
            cut(path, 0);
            volatile uint8_t byte = static_cast<const uint8_t*>(m)[kFileSize - 1];
            (void)byte;
            std::_Exit(0);
        },
        [](int status) { return !WIFEXITED(status) || WEXITSTATUS(status) != 0; }, "");
}

TEST(PageFileTest, DecodedPagesReplaceTheStoredOnes) {
    TempDir dir;
    const std::string path = dir.file("coded.bin");
    const std::vector<uint8_t> bytes = pattern(kFileSize + 100);  // a partial last page
    writeFile(path, bytes);
    PageFile file;
    ASSERT_TRUE(file.open(path));
    const auto decode = [](uint32_t page, const uint8_t* in, uint8_t* out, size_t size) {
        for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(in[i] ^ page);
    };

    // Stopped part-way: nothing changes.
    EXPECT_FALSE(file.decodePages(4096, decode, [](uint64_t done, uint64_t) { return done < 8192; }));
    EXPECT_FALSE(file.decoded());
    EXPECT_EQ(file.u8(3 * 4096), bytes[3 * 4096]);

    ASSERT_TRUE(file.decodePages(4096, decode));
    EXPECT_TRUE(file.decoded());
    EXPECT_EQ(file.length(), bytes.size());
    const uint8_t* all = file.view(0, bytes.size());
    ASSERT_NE(all, nullptr);
    for (size_t at : {size_t(0), size_t(4096), size_t(3 * 4096 + 17), bytes.size() - 1}) {
        EXPECT_EQ(all[at], static_cast<uint8_t>(bytes[at] ^ (at / 4096))) << at;
    }
    EXPECT_EQ(file.u8(bytes.size()), 0);
    // The decoded pages are the file's own: cutting the stored file changes nothing.
    cut(path, 0);
    EXPECT_EQ(all[bytes.size() - 1], static_cast<uint8_t>(bytes.back() ^ (bytes.size() / 4096)));
}

}  // namespace
}  // namespace talmera::test
