// Compound files: what the writer lays out is read back by olefile, an
// independent reader; the reader takes the writer's files and damaged ones.
#include <gtest/gtest.h>

#include <algorithm>

#include "OleFile.h"
#include "TestSupport.h"
#include "accessobjects/CompoundFile.h"
#include "jetwriter/JetWriter.h"

namespace talmera {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes pattern(size_t size, uint8_t seed) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(seed + i * 13 + i / 509);
    return b;
}

cfb::Entry entry(const char* name, uint8_t type, Bytes data = {}) {
    cfb::Entry e;
    e.name = cfb::ToU16(name);
    e.type = type;
    e.data = std::move(data);
    return e;
}

// Root > Forms > 0 > (Blob, PropData), Root > VBA > dir: a stream on each side
// of the mini-stream cutoff and one exactly at it.
std::vector<cfb::Entry> sampleTree(size_t largeSize) {
    std::vector<cfb::Entry> e = {entry("Root Entry", cfb::kRoot),
                                 entry("Forms", cfb::kStorage),
                                 entry("0", cfb::kStorage),
                                 entry("Blob", cfb::kStream, pattern(largeSize, 1)),
                                 entry("PropData", cfb::kStream, pattern(22, 2)),
                                 entry("VBA", cfb::kStorage),
                                 entry("dir", cfb::kStream, pattern(4095, 3)),
                                 entry("edge", cfb::kStream, pattern(4096, 4)),
                                 entry("empty", cfb::kStream)};
    e[0].child = 1;
    e[1].left = 5;
    e[1].child = 2;
    e[2].child = 3;
    e[3].right = 4;
    e[5].child = 6;
    e[6].right = 7;
    e[7].right = 8;
    return e;
}

TEST(CompoundFileWriter, OleFileReadsTreeNamesAndBytes) {
    if (!test::haveOleFile()) GTEST_SKIP() << "python3-olefile is not installed";
    test::TempDir dir;
    // 8 MB needs more FAT sectors than the header holds: DIFAT sectors too.
    for (size_t large : {size_t{5000}, size_t{8u << 20}}) {
        SCOPED_TRACE(large);
        const std::vector<cfb::Entry> tree = sampleTree(large);
        const std::string path = dir.file("tree.cfb");
        test::writeFile(path, cfb::Write(tree));
        const auto seen = test::oleEntries(path);
        const std::map<std::string, size_t> expected = {{"Forms/0/Blob", 3}, {"Forms/0/PropData", 4},
                                                        {"VBA/dir", 6},      {"VBA/edge", 7},
                                                        {"VBA/empty", 8}};
        EXPECT_EQ(seen.size(), 8u);
        for (const char* storage : {"Forms", "Forms/0", "VBA"}) {
            ASSERT_TRUE(seen.count(storage)) << storage;
            EXPECT_TRUE(seen.at(storage).storage);
        }
        for (const auto& [path, at] : expected) {
            ASSERT_TRUE(seen.count(path)) << path;
            EXPECT_EQ(seen.at(path).size, tree[at].data.size()) << path;
            EXPECT_EQ(seen.at(path).crc, test::crcOf(tree[at].data)) << path;
        }
    }
}

TEST(CompoundFileReader, ReadsWhatBothWritersWrite) {
    const std::vector<cfb::Entry> tree = sampleTree(70000);
    const cfb::Reader ours(cfb::Write(tree));
    ASSERT_TRUE(ours.valid());
    EXPECT_EQ(ours.ReadStream(ours.FindPath({u"Forms", u"0", u"Blob"})), tree[3].data);
    EXPECT_EQ(ours.ReadStream(ours.FindPath({u"VBA", u"dir"})), tree[6].data);
    EXPECT_EQ(ours.ReadStream(ours.FindPath({u"VBA", u"edge"})), tree[7].data);
    EXPECT_TRUE(ours.ReadStream(ours.FindPath({u"VBA", u"empty"})).empty());

    const std::vector<jetwriter::StorageNode> nodes = jetwriter::demoObjectStorage();
    const cfb::Reader theirs(jetwriter::compoundFile(nodes));
    ASSERT_TRUE(theirs.valid());
    for (const jetwriter::StorageNode& n : nodes) {
        if (n.storage) continue;
        std::vector<std::u16string> path;
        size_t from = 0;
        while (from <= n.path.size()) {
            size_t to = n.path.find('/', from);
            if (to == std::string::npos) to = n.path.size();
            path.push_back(cfb::ToU16(n.path.substr(from, to - from)));
            from = to + 1;
        }
        EXPECT_EQ(theirs.ReadStream(theirs.FindPath(path)), n.data) << n.path;
    }
}

TEST(CompoundFileReader, DamagedImagesAreReadAsFarAsTheyGo) {
    const Bytes good = cfb::Write(sampleTree(20000));
    struct Case {
        const char* name;
        size_t offset;
        std::vector<uint8_t> bytes;
        size_t truncateTo;
    };
    // Sector 0 is the FAT: entry k at file offset 512 + 4k.
    const Case cases[] = {
        {"FAT chain loops back", 512 + 4 * 1, {0x01, 0, 0, 0}, 0},
        {"directory start beyond the file", 48, {0xF0, 0xFF, 0xFF, 0x0F}, 0},
        {"FAT count huge", 44, {0xFF, 0xFF, 0xFF, 0x7F}, 0},
        {"root size huge", 1024 + 120, {0xFF, 0xFF, 0xFF, 0xFF}, 0},
        {"sibling loop", 1024 + 128 * 2 + 72, {0x02, 0, 0, 0}, 0},
        {"cut in the middle", 0, {}, good.size() / 2},
        {"header only", 0, {}, 512},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes image = good;
        for (size_t i = 0; i < c.bytes.size(); ++i) image[c.offset + i] = c.bytes[i];
        if (c.truncateTo) image.resize(c.truncateTo);
        const cfb::Reader reader(image);
        for (uint32_t i = 0; i < reader.entries().size(); ++i) {
            const Bytes data = reader.ReadStream(i);
            EXPECT_LE(data.size(), image.size());
            EXPECT_LE(reader.Children(i).size(), reader.entries().size());
        }
    }
}

// Access writes the project file's last sector only as far as its streams
// reach: a short final sector holds bytes, not a gap.
TEST(CompoundFileReader, ShortFinalSectorKeepsItsBytes) {
    std::vector<cfb::Entry> tree = sampleTree(5000);
    // A tail no other stream has, to find where the stream ends in the image.
    std::fill(tree[3].data.end() - 32, tree[3].data.end(), uint8_t{0x5A});
    const Bytes good = cfb::Write(tree);
    const Bytes& blob = tree[3].data;
    const auto found = std::search(good.begin(), good.end(), blob.end() - 32, blob.end());
    ASSERT_NE(found, good.end());
    const size_t dataEnd = static_cast<size_t>(found - good.begin()) + 32;
    ASSERT_NE(dataEnd % 512, 0u) << "the stream should end inside a sector";
    struct Case {
        const char* name;
        size_t cut;           // bytes kept of the image
        bool incomplete;
    };
    const Case cases[] = {{"cut right after the stream", dataEnd, false},
                          {"cut inside the stream's last sector", dataEnd - 100, true},
                          {"cut inside an earlier sector", dataEnd - 1000, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const cfb::Reader reader(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(c.cut)));
        ASSERT_TRUE(reader.valid());
        bool incomplete = !c.incomplete;
        const Bytes data = reader.ReadStream(reader.FindPath({u"Forms", u"0", u"Blob"}), &incomplete);
        EXPECT_EQ(incomplete, c.incomplete);
        ASSERT_EQ(data.size(), blob.size());
        const size_t kept = blob.size() - (dataEnd - c.cut);
        EXPECT_TRUE(std::equal(blob.begin(), blob.begin() + static_cast<std::ptrdiff_t>(kept), data.begin()));
        EXPECT_TRUE(std::all_of(data.begin() + static_cast<std::ptrdiff_t>(kept), data.end(), [](uint8_t b) { return b == 0; }));
        // The streams before it are whole.
        bool dirIncomplete = true;
        EXPECT_EQ(reader.ReadStream(reader.FindPath({u"VBA", u"dir"}), &dirIncomplete), tree[6].data);
        EXPECT_FALSE(dirIncomplete);
    }
}

}  // namespace
}  // namespace talmera
