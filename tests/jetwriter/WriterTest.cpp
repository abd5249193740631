// The writer's own promises: damage lands where asked, the command writes what
// the library writes, impossible descriptions are refused, and the marks on
// moved and deleted rows and on split definitions are the ones readers rely on.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "Fixtures.h"
#include "Helpers.h"

namespace jwtest {
namespace {

using namespace jetwriter;

uint16_t u16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
uint32_t u32(const std::vector<uint8_t>& b, size_t at) { return uint32_t(u16(b, at) | uint32_t(u16(b, at + 2)) << 16); }

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Every byte outside `changed` is as it was.
void expectOnlyChanged(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                       const std::vector<std::pair<size_t, size_t>>& changed) {
    ASSERT_EQ(before.size(), after.size());
    for (size_t i = 0; i < before.size(); ++i) {
        bool inside = false;
        for (auto [from, to] : changed) inside = inside || (i >= from && i < to);
        if (!inside) {
            ASSERT_EQ(before[i], after[i]) << "byte " << i << " changed";
        }
    }
}

TEST(Damage, LandsWhereAsked) {
    Layout layout;
    const std::vector<uint8_t> clean = write(demoDatabase(Format::Jet4), &layout);
    const size_t ps = layout.pageSize;
    const uint32_t dataPage = layout.tables[0].dataPages[0];
    ASSERT_EQ(ps, 4096u);

    {
        SCOPED_TRACE("zeroed pages");
        std::vector<uint8_t> img = clean;
        Damage d;
        d.zeroPages = {dataPage, 5};
        applyDamage(img, d, layout);
        for (uint32_t p : d.zeroPages)
            for (size_t i = 0; i < ps; ++i) ASSERT_EQ(img[p * ps + i], 0) << "page " << p;
        expectOnlyChanged(clean, img, {{dataPage * ps, (dataPage + 1) * ps}, {5 * ps, 6 * ps}});
    }
    {
        SCOPED_TRACE("version byte and zeroed catalog definition");
        std::vector<uint8_t> img = clean;
        Damage d;
        d.versionByte = 7;
        d.zeroCatalogDefinition = true;
        applyDamage(img, d, layout);
        EXPECT_EQ(img[0x14], 7);
        EXPECT_EQ(clean[2 * ps], 0x02);
        for (size_t i = 0; i < ps; ++i) ASSERT_EQ(img[2 * ps + i], 0);
        expectOnlyChanged(clean, img, {{0x14, 0x15}, {2 * ps, 3 * ps}});
    }
    {
        SCOPED_TRACE("flips and truncation");
        std::vector<uint8_t> img = clean;
        Damage d;
        d.flips = {{100, 0xFF}, {dataPage * ps + 3, 0x10}};
        d.truncateTo = clean.size() - 1000;
        applyDamage(img, d, layout);
        ASSERT_EQ(img.size(), clean.size() - 1000);
        EXPECT_EQ(img[100], uint8_t(clean[100] ^ 0xFF));
        EXPECT_EQ(img[dataPage * ps + 3], uint8_t(clean[dataPage * ps + 3] ^ 0x10));
        std::vector<uint8_t> head(clean.begin(), clean.begin() + long(img.size()));
        expectOnlyChanged(head, img, {{100, 101}, {dataPage * ps + 3, dataPage * ps + 4}});
    }
    {
        SCOPED_TRACE("out of range");
        std::vector<uint8_t> img = clean;
        Damage page;
        page.zeroPages = {layout.pageCount};
        EXPECT_THROW(applyDamage(img, page, layout), std::out_of_range);
        Damage flip;
        flip.flips = {{clean.size(), 1}};
        EXPECT_THROW(applyDamage(img, flip, layout), std::out_of_range);
        EXPECT_EQ(img, clean);
    }
}

TEST(Command, WritesTheLibrarysImageWithDamage) {
    TempDir dir;
    const std::string exe = JETWRITER_EXE;
    std::string out = dir.file("demo.mdb");
    ASSERT_EQ(run(quote(exe) + " demo --format jet3 --zero-page 4 --zero-page 6 --flip 0x30:0x0f --version-byte 1 "
                  "--truncate 40960 " + quote(out) + " 2>/dev/null"),
              0);
    Layout layout;
    std::vector<uint8_t> expected = write(demoDatabase(Format::Jet3), &layout);
    Damage d;
    d.zeroPages = {4, 6};
    d.flips = {{0x30, 0x0F}};
    d.versionByte = 1;
    d.truncateTo = 40960;
    applyDamage(expected, d, layout);
    EXPECT_EQ(readFile(out), expected);

    std::string help;
    EXPECT_EQ(run(quote(exe) + " --help", &help), 0);
    EXPECT_NE(help.find("demo"), std::string::npos);
    EXPECT_NE(help.find("big"), std::string::npos);
    for (const char* bad : {"demo --format jet5 x.mdb", "demo --flip 12 x.mdb", "demo --version-byte 300 x.mdb", "big --rows 0 x.mdb"})
        EXPECT_NE(run(quote(exe) + " " + bad + " >/dev/null 2>&1"), 0) << bad;
}

TEST(Command, BigWritesTheRowsAsked) {
    if (!haveMdbTools()) GTEST_SKIP() << "mdbtools is not installed";
    TempDir dir;
    std::string out = dir.file("big.mdb");
    ASSERT_EQ(run(quote(JETWRITER_EXE) + std::string(" big --format jet4 --rows 5000 ") + quote(out) + " 2>/dev/null"), 0);
    EXPECT_EQ(mdbTables(out), (std::vector<std::string>{"Events", "Accounts"}));
    EXPECT_EQ(mdbExport(out, "Events").size(), 5000u);
    EXPECT_EQ(mdbExport(out, "Accounts").size(), 100u);
}

// The row-decoding benchmark's table: mdbtools reads every value back, and the
// memo and OLE values take all three storage forms (in the row, one long-value
// row, a chain) in both page sizes.
TEST(Command, BenchRowsWritesEveryValueKind) {
    if (!haveMdbTools()) GTEST_SKIP() << "mdbtools is not installed";
    struct Case {
        Format format;
        const char* name;
        size_t bytesPerChar;
        size_t maxRow;  // the largest row a data page holds
    };
    const size_t rows = 2100;  // reaches the first OLE value over pages (row 1001)
    for (const Case& c : {Case{Format::Jet3, "jet3", 1, 2048 - 12}, Case{Format::Jet4, "jet4", 2, 4096 - 16}}) {
        SCOPED_TRACE(c.name);
        const Table table = benchRowsDatabase(c.format, rows).tables[0];
        size_t memo[3] = {}, ole[3] = {};
        auto form = [&](size_t bytes) { return bytes <= 64 ? 0 : bytes <= c.maxRow ? 1 : 2; };
        Row r;
        for (size_t i = 0; i < rows; ++i) {
            table.rowSource(i, r);
            if (auto* s = std::get_if<std::string>(&r.values[7])) ++memo[form(s->size() * c.bytesPerChar)];
            if (auto* b = std::get_if<Bytes>(&r.values[8])) ++ole[form(b->size())];
        }
        for (int k = 0; k < 3; ++k) {
            EXPECT_GT(memo[k], 0u) << "memo storage form " << k;
            EXPECT_GT(ole[k], 0u) << "OLE storage form " << k;
        }

        TempDir dir;
        const std::string out = dir.file("rows.mdb");
        ASSERT_EQ(run(quote(JETWRITER_EXE) + " bench-rows --format " + c.name + " --rows " + std::to_string(rows) + " " +
                      quote(out) + " 2>/dev/null"),
                  0);
        EXPECT_EQ(mdbTables(out), std::vector<std::string>{"Ledger"});
        const Rows expected = expectedRows(c.format, table);
        const Rows actual = mdbExport(out, "Ledger");
        ASSERT_EQ(actual.size(), expected.size());
        for (size_t i = 0; i < actual.size(); ++i) ASSERT_EQ(actual[i], expected[i]) << "row " << i;
    }
}

TEST(Description, RefusedWhenItCannotBeWritten) {
    struct Case {
        const char* what;
        Format format;
        std::function<void(Table&)> change;
    };
    const std::vector<Case> cases = {
        {"too few values", Format::Jet4, [](Table& t) { t.rows[0].values.pop_back(); }},
        {"text in a long column", Format::Jet4, [](Table& t) { t.rows[0].values[0] = std::string("1"); }},
        {"long out of range", Format::Jet4, [](Table& t) { t.rows[0].values[0] = int64_t(1) << 40; }},
        {"text longer than the column", Format::Jet4, [](Table& t) { t.rows[0].values[1] = std::string(11, 'x'); }},
        {"GUID of 15 bytes", Format::Jet4, [](Table& t) {
             t.columns.push_back(column("G", kGuid));
             t.rows[0].values.push_back(Bytes(15));
         }},
        {"decimal beyond its precision", Format::Jet4, [](Table& t) {
             Column c = column("D", kDecimal);
             c.precision = 4;
             c.scale = 2;
             t.columns.push_back(c);
             t.rows[0].values.push_back(std::string("123.45"));
         }},
        {"decimal in Jet 3", Format::Jet3, [](Table& t) { t.columns.push_back(column("D", kDecimal)); t.rows.clear(); }},
        {"complex column in Jet 4", Format::Jet4, [](Table& t) { t.columns.push_back(column("C", kComplex)); t.rows.clear(); }},
        {"index on a missing column", Format::Jet4, [](Table& t) {
             Index ix;
             ix.name = "Bad";
             ix.columns = {{7}};
             t.indexes.push_back(ix);
         }},
        {"stored with more columns than exist", Format::Jet4, [](Table& t) { t.rows[0].storedColumns = 3; }},
        {"text not in the code page", Format::Jet3, [](Table& t) { t.rows[0].values[1] = std::string("日本"); }},
        {"256 columns", Format::Jet4, [](Table& t) {
             t.rows.clear();
             while (t.columns.size() < 256) t.columns.push_back(column("C" + std::to_string(t.columns.size()), kLong));
         }},
    };
    for (const Case& c : cases) {
        Database db;
        db.format = c.format;
        Table t;
        t.name = "T";
        t.columns = {column("ID", kLong), column("Name", kText, 10)};
        Row r;
        r.values = {int64_t(1), std::string("one")};
        t.rows = {r};
        c.change(t);
        db.tables = {t};
        EXPECT_THROW(write(db), std::invalid_argument) << c.what;
    }
}

class Structure : public ::testing::TestWithParam<Format> {};

// Access marks a deleted row's slot 0xC000, an overflow pointer's slot 0x4000,
// and the row the pointer leads to 0x8000 (as in the real Northwind file).
TEST_P(Structure, MovedAndDeletedRowsCarryAccessMarks) {
    Database db;
    db.format = GetParam();
    db.tables = {editedTable()};
    Layout layout;
    std::vector<uint8_t> img = write(db, &layout);
    const TableLayout& t = layout.tables[0];
    const size_t ps = layout.pageSize, rc = GetParam() == Format::Jet3 ? 8 : 12;
    int deleted = 0, pointers = 0;
    for (uint32_t p : t.dataPages) {
        size_t base = size_t(p) * ps;
        ASSERT_EQ(img[base], 0x01);
        ASSERT_EQ(u32(img, base + 4), t.definitionPage);
        for (int s = 0; s < u16(img, base + rc); ++s) {
            uint16_t slot = u16(img, base + rc + 2 + 2 * s);
            if ((slot & 0xC000) == 0xC000) ++deleted;
            if ((slot & 0xC000) != 0x4000) continue;
            ++pointers;
            uint32_t target = u32(img, base + (slot & 0x1FFF));
            uint32_t page = target >> 8, row = target & 0xFF;
            ASSERT_NE(std::find(t.dataPages.begin(), t.dataPages.end(), page), t.dataPages.end()) << "target off the map";
            EXPECT_EQ(u16(img, size_t(page) * ps + rc + 2 + 2 * row) & 0xC000, 0x8000);
        }
    }
    EXPECT_EQ(deleted, 2);
    EXPECT_EQ(pointers, 3);
    for (uint32_t p : t.stalePages) {
        EXPECT_EQ(img[size_t(p) * ps], 0x01);
        EXPECT_EQ(u32(img, size_t(p) * ps + 4), t.definitionPage);
        EXPECT_EQ(u16(img, size_t(p) * ps + rc), 4);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, Structure, ::testing::Values(Format::Jet3, Format::Jet4, Format::Ace),
                         [](const auto& info) { return std::string(formatName(info.param)); });

// Jet 4 records each definition page's free space (less 8), which is how a
// reader finds where a definition page broken early ends. Reassembled, the
// broken definition equals the one broken only at full pages.
TEST(Definition, ExplicitBreaksKeepTheStream) {
    auto definition = [](const std::vector<size_t>& breaks, std::vector<uint32_t>* pages) {
        Database db;
        db.format = Format::Jet4;
        Table t = manyColumnsTable(30);
        t.definitionBreaks = breaks;
        db.tables = {t};
        Layout layout;
        std::vector<uint8_t> img = write(db, &layout);
        *pages = layout.tables[0].definitionPages;
        std::vector<uint8_t> stream;
        for (size_t k = 0; k < pages->size(); ++k) {
            size_t base = size_t((*pages)[k]) * 4096;
            EXPECT_EQ(img[base], 0x02);
            EXPECT_EQ(u32(img, base + 4), k + 1 < pages->size() ? (*pages)[k + 1] : 0u) << "page chain";
            size_t used = 4096 - 8 - u16(img, base + 2);
            stream.insert(stream.end(), img.begin() + long(base + (k ? 8 : 0)), img.begin() + long(base + used));
        }
        for (size_t i = 0; i < 8; ++i) stream[i] = 0;  // the first page's header differs
        return stream;
    };
    std::vector<uint32_t> whole, broken;
    std::vector<uint8_t> plain = definition({}, &whole);
    // Inside the fixed block, inside a column entry, and inside a name.
    std::vector<uint8_t> split = definition({30, 300, 1001}, &broken);
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(broken.size(), 4u);
    EXPECT_EQ(split, plain);
    EXPECT_EQ(u32(plain, 8), plain.size());

    Database db;
    Table t = manyColumnsTable(3);
    t.definitionBreaks = {5};
    db.tables = {t};
    EXPECT_THROW(write(db), std::invalid_argument) << "a break inside the page header";
}

}  // namespace
}  // namespace jwtest
