// The VBA compression: the published examples, streams the fixture writer
// compresses, and damaged containers.
#include <gtest/gtest.h>

#include <string>

#include "accessobjects/VbaCompression.h"
#include "jetwriter/JetWriter.h"

namespace talmera {
namespace {

using Bytes = std::vector<uint8_t>;

std::string decompressText(const Bytes& packed, vba::DecompressStats* stats = nullptr) {
    const Bytes out = vba::Decompress(packed.data(), packed.size(), stats);
    return std::string(out.begin(), out.end());
}

TEST(VbaDecompression, PublishedExamples) {
    struct Case {
        const char* name;
        Bytes packed;
        std::string text;
    };
    const Case cases[] = {
        {"no compression",
         {0x01, 0x19, 0xB0, 0x00, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x00, 0x69, 0x6A,
          0x6B, 0x6C, 0x6D, 0x6E, 0x6F, 0x70, 0x00, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x2E},
         "abcdefghijklmnopqrstuv."},
        {"normal compression",
         {0x01, 0x2F, 0xB0, 0x00, 0x23, 0x61, 0x61, 0x61, 0x62, 0x63, 0x64, 0x65, 0x82, 0x66, 0x00, 0x70, 0x61,
          0x67, 0x68, 0x69, 0x6A, 0x01, 0x38, 0x08, 0x61, 0x6B, 0x6C, 0x00, 0x30, 0x6D, 0x6E, 0x6F, 0x70, 0x06,
          0x71, 0x02, 0x70, 0x04, 0x10, 0x72, 0x73, 0x74, 0x75, 0x76, 0x10, 0x77, 0x78, 0x79, 0x7A, 0x00, 0x3C},
         "#aaabcdefaaaaghijaaaaaklaaamnopqaaaaaaaaaaaarstuvwxyzaaa"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        vba::DecompressStats stats;
        EXPECT_EQ(decompressText(c.packed, &stats), c.text);
        EXPECT_EQ(stats.chunksDamaged, 0u);
        EXPECT_FALSE(stats.badSignature);
    }
}

TEST(VbaDecompression, StreamsTheWriterCompresses) {
    std::string repetitive;
    for (int i = 0; i < 800; ++i) repetitive += "Dim x" + std::to_string(i % 13) + " As Long\r\n";
    std::string noisy;
    for (int i = 0; i < 9000; ++i) noisy.push_back(static_cast<char>((i * 7919 + i / 3) % 251));
    const std::string texts[] = {"", "a", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", repetitive, noisy,
                                 std::string(4096, 'z') + "tail"};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.size());
        const Bytes packed = jetwriter::vbaCompress(Bytes(text.begin(), text.end()));
        EXPECT_EQ(decompressText(packed), text);
    }
}

TEST(VbaDecompression, DamageIsCutAndCounted) {
    const std::string text = "Option Explicit\r\nOption Explicit\r\nOption Explicit\r\n" + std::string(5000, 'q');
    const Bytes good = jetwriter::vbaCompress(Bytes(text.begin(), text.end()));
    struct Case {
        const char* name;
        Bytes packed;
        bool damaged;
    };
    Bytes truncated(good.begin(), good.begin() + static_cast<long>(good.size() / 2));
    Bytes badOffset = {0x01, 0x03, 0xB0, 0x01, 0xFF, 0xFF};  // a copy before the chunk's start
    Bytes badSignature = good;
    badSignature[0] = 0x07;
    Bytes rawChunkCut = {0x01, 0xFF, 0x3F, 'a', 'b', 'c'};  // an uncompressed chunk that ends early
    const Case cases[] = {{"truncated", truncated, true},
                          {"copy before the start", badOffset, true},
                          {"signature", badSignature, false},
                          {"raw chunk cut short", rawChunkCut, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        vba::DecompressStats stats;
        const Bytes out = vba::Decompress(c.packed.data(), c.packed.size(), &stats);
        EXPECT_LE(out.size(), text.size() + 4096);
        if (c.damaged) {
            EXPECT_GT(stats.chunksDamaged, 0u);
        }
    }
    vba::DecompressStats stats;
    vba::Decompress(badSignature.data(), badSignature.size(), &stats);
    EXPECT_TRUE(stats.badSignature);
    // The output never grows past the cap, however the tokens repeat.
    const Bytes capped = vba::Decompress(good.data(), good.size(), nullptr, 100);
    EXPECT_EQ(capped.size(), 100u);
}

TEST(VbaDirStream, ModulesOfTheWriterCodeProject) {
    const std::vector<jetwriter::VbaModule> modules = jetwriter::demoModules();
    Bytes dir;
    for (const jetwriter::StorageNode& n : jetwriter::codeProjectNodes(modules, 40))
        if (n.path == "VBA/VBAProject/VBA/dir") dir = n.data;
    ASSERT_FALSE(dir.empty());
    const Bytes plain = vba::Decompress(dir.data(), dir.size());
    const vba::ProjectInfo info = vba::ParseDirStream(plain.data(), plain.size());
    EXPECT_TRUE(info.complete);
    EXPECT_EQ(info.codePage, 1252);
    EXPECT_EQ(info.projectName, "VBAProject");
    ASSERT_EQ(info.modules.size(), modules.size());
    for (size_t k = 0; k < modules.size(); ++k) {
        EXPECT_EQ(info.modules[k].name, modules[k].name);
        EXPECT_EQ(info.modules[k].sourceOffset, 40u);
        EXPECT_EQ(info.modules[k].kind, modules[k].classModule ? vba::ModuleKind::Class : vba::ModuleKind::Standard);
        EXPECT_FALSE(info.modules[k].streamName.empty());
    }
    // Cut anywhere, the records read so far are kept and nothing overruns.
    for (size_t cut = 0; cut < plain.size(); cut += 7) {
        const vba::ProjectInfo part = vba::ParseDirStream(plain.data(), cut);
        EXPECT_LE(part.modules.size(), modules.size());
        EXPECT_FALSE(part.complete);
    }
}

}  // namespace
}  // namespace talmera
