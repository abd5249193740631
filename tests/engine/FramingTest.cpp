// The readers of row pages frame their rows through the one slot table and
// row frame (engine/PageRows.h). Each case here is a file on which a reader
// that framed rows by its own rule read the wrong bytes: a deleted catalog
// entry, a Jet 3 catalog row long enough for a jump table, a deleted row
// behind emptied slots, a long-value piece behind an emptied slot, a Jet 3
// link value on a long-value page, and a Jet 3 relationship row with a filler
// jump byte.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/PageRows.h"
#include "related/Related.h"
#include "tests/engine/Fixtures.h"

namespace talmera::test {
namespace {

namespace jw = jetwriter;

uint16_t get16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
void set16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

PageLayout layoutOf(jw::Format f) { return f == jw::Format::Jet3 ? PageLayout::Jet3() : PageLayout::Jet4(); }

SlotTable slotsOf(const std::vector<uint8_t>& image, uint32_t page, const PageLayout& layout) {
    return SlotTable(image.data() + static_cast<size_t>(page) * layout.pageSize, layout.pageSize, layout);
}

// The slot of `page` whose row holds `needle`; -1 when none does.
int slotHolding(const std::vector<uint8_t>& image, uint32_t page, const PageLayout& layout, const std::string& needle) {
    const uint8_t* p = image.data() + static_cast<size_t>(page) * layout.pageSize;
    const void* hit = memmem(p, layout.pageSize, needle.data(), needle.size());
    if (!hit) return -1;
    const uint32_t at = static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - p);
    const SlotTable slots(p, layout.pageSize, layout);
    for (size_t i = 0; i < slots.size(); ++i) {
        if (slots[i].hasBytes() && slots[i].start <= at && at < slots[i].end) return static_cast<int>(i);
    }
    return -1;
}

std::string ucs2(const std::string& ascii) {
    std::string out;
    for (char c : ascii) out += {c, '\0'};
    return out;
}

// A catalog entry deleted in place (both flags set, its bytes kept) bounds
// the entry after it: that entry is read from its own bytes, not from the
// deleted one's.
TEST(Framing, DeletedCatalogEntryBoundsTheNextEntry) {
    TempDir dir;
    jw::Database db;
    db.format = jw::Format::Jet4;
    db.tables = {simpleTable("Alpha"), simpleTable("Beta"), simpleTable("Gamma")};
    jw::Layout layout;
    std::vector<uint8_t> image = jw::write(db, &layout);
    const PageLayout pl = layoutOf(db.format);
    ASSERT_FALSE(layout.catalogPages.empty());
    const uint32_t page = layout.catalogPages[0];
    const int alpha = slotHolding(image, page, pl, ucs2("Alpha"));
    const int beta = slotHolding(image, page, pl, ucs2("Beta"));
    ASSERT_GE(alpha, 0);
    ASSERT_EQ(beta, alpha + 1) << "Beta's entry follows Alpha's";
    const size_t entry = static_cast<size_t>(page) * pl.pageSize + pl.rowCountOffset + 2 + 2 * alpha;
    set16(image, entry, get16(image, entry) | kSlotDeleted | kSlotOverflow);
    const std::string path = dir.file("deleted-entry.mdb");
    writeFile(path, image);

    ScanResult scan = runScan(path);
    EXPECT_EQ(tableNames(*scan.engine), (std::vector<std::string>{"Beta", "Gamma"}));
    EXPECT_EQ(scan.engine->statistics.catalogRowsSkipped, 0u);
}

// Jet 3 catalog rows of 256 bytes or more keep a jump table before their
// offsets: a link whose path stays in the row is read through it.
TEST(Framing, Jet3CatalogRowWithJumpTable) {
    TempDir dir;
    jw::Database db;
    db.format = jw::Format::Jet3;
    db.tables = {simpleTable("Items")};
    jw::CatalogObject link;
    link.name = "Far";
    link.kind = jw::ObjectKind::LinkedTable;
    link.linkPath = "C:\\" + std::string(300, 'p') + "\\far.mdb";
    link.connect = ";DATABASE=" + link.linkPath;
    link.foreignName = "Stock";
    db.objects = {link};
    jw::Layout layout;
    const std::vector<uint8_t> image = jw::write(db, &layout);
    const PageLayout pl = layoutOf(db.format);
    const int slot = slotHolding(image, layout.catalogPages[0], pl, "ppppp");
    ASSERT_GE(slot, 0);
    ASSERT_GE(slotsOf(image, layout.catalogPages[0], pl)[slot].size(), 256u);
    const std::string path = dir.file("long-link.mdb");
    writeFile(path, image);

    ScanResult scan = runScan(path);
    ASSERT_EQ(scan.engine->linkedTables.size(), 1u);
    EXPECT_EQ(scan.engine->linkedTables[0].linkName, "Far");
    EXPECT_EQ(scan.engine->linkedTables[0].databasePath, link.linkPath);
    EXPECT_EQ(scan.engine->linkedTables[0].foreignName, "Stock");
    EXPECT_EQ(tableNames(*scan.engine), std::vector<std::string>{"Items"});
}

// Access empties the slots of deleted rows whose space it took back (0xD000:
// the page's end); a deleted row after them ends at the page's end, also on
// a later page of the table.
TEST(Framing, DeletedRowBehindEmptiedSlotsOnALaterPage) {
    TempDir dir;
    jw::Database db;
    db.format = jw::Format::Jet4;
    jw::Table t = simpleTable("Log", 240);
    for (size_t i = 1; i < t.rows.size(); ++i) t.rows[i].deleted = true;
    db.tables = {t};
    jw::Layout layout;
    std::vector<uint8_t> image = jw::write(db, &layout);
    const PageLayout pl = layoutOf(db.format);
    const std::vector<uint32_t>& pages = layout.tables[0].dataPages;
    ASSERT_GE(pages.size(), 2u);
    const uint32_t second = pages[1];
    const SlotTable before = slotsOf(image, second, pl);
    ASSERT_FALSE(before.empty());
    ASSERT_EQ(before[0].kind, SlotKind::Deleted);
    // Room for one more entry before the lowest row.
    uint32_t lowest = pl.pageSize;
    for (const Slot& s : before) lowest = std::min(lowest, s.start);
    ASSERT_GE(lowest, before.rowArea() + 2);
    // An emptied slot in front of the page's slots.
    const size_t base = static_cast<size_t>(second) * pl.pageSize + pl.rowCountOffset;
    for (size_t i = before.size(); i-- > 0;) set16(image, base + 4 + 2 * i, get16(image, base + 2 + 2 * i));
    set16(image, base + 2, 0xD000);
    set16(image, base, static_cast<uint16_t>(before.size() + 1));
    const std::string path = dir.file("emptied.mdb");
    writeFile(path, image);

    ScanResult scan = runScan(path, true);
    const tableInfo* deleted = findTable(*scan.engine, "Log(deleted records)");
    ASSERT_NE(deleted, nullptr);
    EXPECT_EQ(deleted->recordCount, 239u);
    std::vector<std::string> labels;
    std::vector<RowValue> values;
    for (size_t j = 0; j < deleted->deletedRows.size(); ++j) {
        if (!scan.engine->IsDeletedRowEntry(deleted->deletedRows[j])) continue;
        if (scan.engine->DecodeDeletedRowValues(*deleted, j, true, values)) labels.push_back(values[1].string);
    }
    ASSERT_EQ(labels.size(), 239u);
    for (size_t i = 0; i < labels.size(); ++i) EXPECT_EQ(labels[i], "row " + std::to_string(i + 2));
}

// A long-value chain whose piece follows an emptied slot: the piece ends at
// the row above it, not at the page's end. Three pages written here: the
// header page and two long-value pages.
TEST(Framing, LongValuePieceBehindAnEmptiedSlot) {
    TempDir dir;
    const uint32_t ps = 4096;
    std::vector<uint8_t> image(3 * ps, 0);
    image[20] = 1;  // Jet 4
    auto lvalPage = [&](uint32_t page, const std::vector<uint16_t>& entries) {
        uint8_t* p = image.data() + page * ps;
        p[0] = 0x01;  // a data page, with the marker byte Access writes after the type
        p[1] = 0x01;
        std::memcpy(p + 4, "LVAL", 4);
        set16(image, page * ps + 12, static_cast<uint16_t>(entries.size()));
        for (size_t i = 0; i < entries.size(); ++i) set16(image, page * ps + 14 + 2 * i, entries[i]);
    };
    // Page 1: another value's row at 0xF00, an emptied slot, then the first
    // piece at 0xE00: pointer to row 0 of page 2, then 252 bytes.
    lvalPage(1, {0x0F00, 0xD000, 0x0E00});
    std::memset(&image[ps + 0xF00], 'X', 256);
    image[ps + 0xE00] = 0;   // row 0
    image[ps + 0xE01] = 2;   // of page 2
    std::memset(&image[ps + 0xE04], 'A', 252);
    // Page 2: the last piece, no next pointer.
    lvalPage(2, {0x0F00});
    std::memset(&image[2 * ps + 0xF04], 'B', 252);
    const std::string path = dir.file("lval.mdb");
    writeFile(path, image);

    CQuorvinAccessRecoveryApp app;
    CMDBRecovery engine(app);
    engine.sourcePath = path;
    ASSERT_TRUE(engine.OpenDatabaseFile());
    std::vector<uint8_t> value;
    bool incomplete = true;
    engine.ReadLongBinaryChain(ps, 2, 504, value, incomplete);
    EXPECT_FALSE(incomplete);
    EXPECT_EQ(std::string(value.begin(), value.end()), std::string(252, 'A') + std::string(252, 'B'));
}

// A Jet 3 link whose path is kept on a long-value page: that page's slots
// are where a Jet 3 page keeps them, and its text is 8-bit, as is the
// Connect value an ODBC link keeps in its row.
TEST(Framing, Jet3LinkTexts) {
    TempDir dir;
    jw::Database db;
    db.format = jw::Format::Jet3;
    db.tables = {simpleTable("Items")};
    jw::CatalogObject link;
    link.name = "Far";
    link.kind = jw::ObjectKind::LinkedTable;
    link.linkPath = "C:\\" + std::string(1100, 'q') + "\\far.mdb";
    link.connect = ";DATABASE=";
    jw::CatalogObject odbc;
    odbc.name = "Remote";
    odbc.kind = jw::ObjectKind::OdbcLink;
    odbc.connect = "ODBC;DSN=Invoices;DATABASE=billing";
    odbc.foreignName = "dbo.Invoices";
    db.objects = {link, odbc};
    const std::string path = writeDatabase(dir, "lval-link.mdb", db);

    ScanResult scan = runScan(path);
    CMDBRecovery& e = *scan.engine;
    ASSERT_EQ(e.linkedTables.size(), 2u);
    EXPECT_NE(e.linkedTables[0].databaseFlags, 0x8000) << "the path is not kept in the row";
    EXPECT_EQ(e.linkedTables[0].databasePath, link.linkPath);
    EXPECT_EQ(RelatedReader(e).ReadConnectValue(e.linkedTables[1].connectPosition), odbc.connect);
    EXPECT_EQ(RelatedReader(e).RebuildConnect(e.linkedTables[1]), odbc.connect);
}

// Access writes 0xFF as the filler jump byte of a Jet 3 row whose offsets
// all lie below the last boundary; whatever the filler holds, it names no
// offset.
TEST(Framing, Jet3RelationshipRowWithAFillerJump) {
    TempDir dir;
    jw::Database db;
    db.format = jw::Format::Jet3;
    jw::Table customers = simpleTable("Customers");
    jw::Table orders = simpleTable("Orders");
    orders.columns.push_back(col("CustomerID", jw::kLong));
    for (jw::Row& r : orders.rows) r.values.push_back(int64_t{1});
    db.tables = {customers, orders};
    // 27 bytes of table and column names and a long name: a row of 259
    // bytes whose data ends at 250, below the boundary at 256.
    const std::string name = "R" + std::string(209, 'r');
    db.relationships = {{name, "Orders", "CustomerID", "Customers", "ID", 0, 1, 0, false}};
    std::vector<uint8_t> image = jw::write(db);
    const PageLayout pl = layoutOf(db.format);
    // The row holding the name, on a page MSysRelationships (page 5) owns.
    int slot = -1;
    uint32_t page = 0;
    for (uint32_t p = 0; p * pl.pageSize < image.size() && slot < 0; ++p) {
        const size_t at = static_cast<size_t>(p) * pl.pageSize;
        if (image[at] != 0x01 || get16(image, at + 4) != 5) continue;
        slot = slotHolding(image, p, pl, name);
        page = p;
    }
    ASSERT_GE(slot, 0);
    const Slot row = slotsOf(image, page, pl)[slot];
    ASSERT_EQ((row.size() - 1) / 256, 1u);
    const size_t filler = static_cast<size_t>(page) * pl.pageSize + row.end - 3;
    ASSERT_EQ(image[filler], 0xFF);
    image[filler] = 1;  // would name offset 1 as the first past 256
    const std::string path = dir.file("filler.mdb");
    writeFile(path, image);

    ScanResult scan = runScan(path);
    ASSERT_EQ(scan.engine->relations.size(), 1u);
    EXPECT_EQ(scan.engine->relations[0].relationName, name);
    EXPECT_EQ(scan.engine->relations[0].tableName, "Customers");
    EXPECT_EQ(scan.engine->relations[0].foreignColumnName, "CustomerID");
    EXPECT_EQ(scan.engine->relatedStatistics.relationRowsSkipped, 0u);
}

}  // namespace
}  // namespace talmera::test
