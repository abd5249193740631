// Row decoding on databases written by the independent writer: every column
// type (preview text and typed value), null and absent columns, overflow rows,
// long values in all three storage forms, deleted records, Jet 3 rows, and
// damage to long-value chains.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>

#include "engine/ValueDecoders.h"
#include "engine/run/RecoverThread.h"
#include "engine/ValueText.h"
#include "platform/MessageReceiver.h"
#include "platform/TextCodec.h"
#include "tests/engine/Fixtures.h"

namespace talmera::test {
namespace {

using jetwriter::Format;
namespace jw = jetwriter;
using State = RowValue::State;
using Kind = RowValue::Kind;

size_t tableIndex(const CMDBRecovery& e, const std::string& name) {
    for (size_t i = 0; i < e.tables.size(); ++i) {
        if (e.tables[i].name == name) return i;
    }
    ADD_FAILURE() << "no table " << name;
    return 0;
}

std::vector<std::string> texts(const std::vector<RowValue>& row) {
    std::vector<std::string> out;
    for (const RowValue& v : row) {
        if (v.state != State::NoText) out.push_back(v.text);
    }
    return out;
}

jw::Bytes pattern(size_t n) {
    jw::Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + 3);
    return b;
}

const Format kFormats[] = {Format::Jet3, Format::Jet4, Format::Ace};

TEST(Rows, EveryColumnTypeGivesItsTextAndTypedValue) {
    for (Format format : kFormats) {
        SCOPED_TRACE(formatName(format));
        const bool jet3 = format == Format::Jet3;
        jw::Table t;
        t.name = "Types";
        t.columns = {col("Flag", jw::kBool),      col("Tiny", jw::kByte),   col("Small", jw::kInt),
                     col("Count", jw::kLong),     col("Money", jw::kCurrency), col("Ratio", jw::kSingle),
                     col("Whole", jw::kDouble),   col("Tenth", jw::kDouble),   col("When", jw::kDateTime),
                     col("Name", jw::kText, 60),  col("Note", jw::kMemo),   col("Big", jw::kMemo),
                     col("Blob", jw::kOle),       col("Photo", jw::kOle),   col("Raw", jw::kBinary, 8)};
        const std::string name = jet3 ? "Grüße aus Köln" : "Grüße Ωμέγα Привет 日本";
        const std::string big = longText(9000);
        jw::Row full{{true, int64_t{200}, int64_t{-1234}, int64_t{123456789}, int64_t{125000}, 1.5, 2.0, 0.1,
                      45293.75, name, std::string("short memo"), big, pattern(100), pattern(10000),
                      jw::Bytes{0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01, 0x02, 0x03}}};
        if (!jet3) {
            t.columns.push_back(col("Key", jw::kGuid));
            jw::Column dec = col("Price", jw::kDecimal);
            dec.precision = 18;
            dec.scale = 2;
            t.columns.push_back(dec);
            t.columns.push_back(col("One", jw::kDecimal));
            full.values.push_back(jw::Bytes{0x78, 0x56, 0x34, 0x12, 0xCD, 0xAB, 0x01, 0xEF, 1, 2, 3, 4, 5, 6, 7, 8});
            full.values.push_back(std::string("-123.45"));
            full.values.push_back(std::string("1"));
        }
        jw::Row empty;
        empty.values.assign(t.columns.size(), std::monostate{});
        t.rows = {full, empty};
        jw::Database db;
        db.format = format;
        db.tables = {t};
        TempDir dir;
        ScanResult scan = runScan(writeDatabase(dir, "types.mdb", db));
        CMDBRecovery& e = *scan.engine;
        const size_t index = tableIndex(e, "Types");

        const auto preview = readAllRows(e, index, false);
        ASSERT_EQ(preview.size(), 2u);
        std::vector<std::string> expected = {"Yes", "200", "-1234", "123456789", "12.500000", "1.5", "2",
                                             "0.1000000000000000055511151231", FormatDateTime(45293.75), name,
                                             "short memo", "LargeMemoData", "OLE DATA", "OLE DATA",
                                             "DEADBEEF00010203"};
        if (!jet3) {
            expected.push_back("{12345678-ABCD-EF01-0102-030405060708}");
            expected.push_back("-123.45");
            expected.push_back("1");
        }
        EXPECT_EQ(texts(preview[0]), expected);
        EXPECT_EQ(texts(preview[1]), std::vector<std::string>(t.columns.size(), " "));

        // A save reads what a preview defers: the whole memo and the OLE bytes.
        const auto saved = readAllRows(e, index, true);
        ASSERT_EQ(saved.size(), 2u);
        const auto& v = saved[0];
        EXPECT_EQ(v[0].kind, Kind::Boolean);
        EXPECT_EQ(v[3].integer, 123456789);
        EXPECT_EQ(v[4].kind, Kind::Currency);
        EXPECT_EQ(v[4].integer, 125000);
        EXPECT_DOUBLE_EQ(v[8].real, 45293.75);
        EXPECT_EQ(v[9].string, name);
        EXPECT_EQ(v[11].string, big);
        EXPECT_FALSE(v[11].incomplete);
        EXPECT_EQ(v[12].bytes, pattern(100));
        EXPECT_EQ(v[13].bytes, pattern(10000));  // a chain, to its last byte
        EXPECT_EQ(v[14].bytes, (jw::Bytes{0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01, 0x02, 0x03}));
        for (const RowValue& n : saved[1]) EXPECT_EQ(n.state, State::Null);
    }
}

// Rows stored before columns were added hold fewer columns: the new ones are
// absent (not null), a Yes/No then shows "No".
TEST(Rows, RowsOlderThanAColumnShowItAbsent) {
    for (Format format : kFormats) {
        SCOPED_TRACE(formatName(format));
        jw::Table t;
        t.name = "Grown";
        t.columns = {col("ID", jw::kLong), col("Old", jw::kText, 20), col("NewFlag", jw::kBool),
                     col("NewText", jw::kText, 20), col("NewCount", jw::kLong)};
        jw::Row old{{int64_t{1}, std::string("before"), std::monostate{}, std::monostate{}, std::monostate{}}};
        old.storedColumns = 2;
        jw::Row recent{{int64_t{2}, std::string("after"), true, std::string("x"), int64_t{7}}};
        t.rows = {old, recent};
        jw::Database db;
        db.format = format;
        db.tables = {t};
        TempDir dir;
        ScanResult scan = runScan(writeDatabase(dir, "grown.mdb", db));
        const auto rows = readAllRows(*scan.engine, tableIndex(*scan.engine, "Grown"), true);
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(texts(rows[0]), (std::vector<std::string>{"1", "before", "No", "", ""}));
        EXPECT_EQ(rows[0][2].state, State::Absent);
        EXPECT_EQ(rows[0][4].state, State::Absent);
        EXPECT_EQ(texts(rows[1]), (std::vector<std::string>{"2", "after", "Yes", "x", "7"}));
    }
}

// A row behind an overflow pointer is read from its other page, and the slots
// after the pointer on the first page are still read.
TEST(Rows, OverflowRowsAreFollowedWithoutLosingTheirNeighbours) {
    for (Format format : kFormats) {
        SCOPED_TRACE(formatName(format));
        jw::Table t = simpleTable("Moved", 5);
        t.rows[1].overflow = true;
        t.rows[3].overflow = true;
        jw::Database db;
        db.format = format;
        db.tables = {t};
        TempDir dir;
        ScanResult scan = runScan(writeDatabase(dir, "moved.mdb", db), true);
        const auto rows = readAllRows(*scan.engine, tableIndex(*scan.engine, "Moved"), false);
        std::vector<std::string> labels;
        for (const auto& r : rows) labels.push_back(r[1].text);
        EXPECT_EQ(labels, (std::vector<std::string>{"row 1", "row 2", "row 3", "row 4", "row 5"}));
        // The rows the pointers lead to are marked 0x8: live rows, not deleted ones.
        EXPECT_EQ(scan.engine->tables.size(), 1u);
    }
}

// Deleted rows of the Jet 4 layout become a "(deleted records)" table that the
// preview run shows when the option is on; Jet 3 files get none.
TEST(DeletedRecords, DeletedRowsFormTheirOwnTable) {
    for (Format format : kFormats) {
        SCOPED_TRACE(formatName(format));
        jw::Table t = simpleTable("People", 5);
        t.rows[1].deleted = true;
        t.rows[2].deleted = true;
        jw::Database db;
        db.format = format;
        db.tables = {t};
        TempDir dir;
        const std::string path = writeDatabase(dir, "people.mdb", db);
        ScanResult scan = runScan(path, true);
        CMDBRecovery& e = *scan.engine;
        EXPECT_EQ(e.tables[tableIndex(e, "People")].recordCount, 3u);
        if (format == Format::Jet3) {
            EXPECT_EQ(e.tables.size(), 1u);
            continue;
        }
        ASSERT_EQ(e.tables.size(), 2u);
        const tableInfo& deleted = e.tables[1];
        EXPECT_EQ(deleted.name, "People(deleted records)");
        EXPECT_EQ(deleted.deletedRows.size(), 3u);  // the bounding entry and the two deleted slots
        EXPECT_EQ(deleted.recordCount, 2u);
        EXPECT_EQ(scan.app->tableCount, 2);
        const auto& log = scan.receiver->logLines;
        EXPECT_NE(std::find(log.begin(), log.end(), "People(deleted records)  :  2 Record(s)"), log.end());

        // The preview run of the deleted-records table.
        scan.app->previewMode = true;
        std::vector<std::vector<std::string>> shown;
        struct Grid : RecordingReceiver {
            using RecordingReceiver::RecordingReceiver;
            std::vector<std::vector<std::string>>* rows = nullptr;
            CQuorvinAccessRecoveryApp* app = nullptr;
            intptr_t send(uint32_t m, uintptr_t w, intptr_t l) override {
                if (m == UM_ADD_RECORD_ROW && !app->currentRowValues.empty()) rows->push_back(app->currentRowValues);
                return RecordingReceiver::send(m, w, l);
            }
        } grid(*scan.app);
        grid.rows = &shown;
        grid.app = scan.app.get();
        CRecoverThread preview(*scan.app, &grid);
        preview.previewTableIndex = 1;
        preview.Run();
        ASSERT_EQ(shown.size(), 2u);
        EXPECT_EQ(shown[0][1], "row 2");
        EXPECT_EQ(shown[1][1], "row 3");
        EXPECT_EQ(grid.finishedPosts, 1);

        // Off, the summary leaves the table out of the count.
        ScanResult quiet = runScan(path, false);
        const auto& lines = quiet.receiver->logLines;
        EXPECT_NE(std::find(lines.begin(), lines.end(), "Total table(s) present  :  1"), lines.end());
    }
}

// A preview stopped while a row is decoded ends with nothing left in the
// hand-over values, so that the next preview's first row is its own.
TEST(Rows, AStoppedPreviewLeavesNoValuesBehind) {
    TempDir dir;
    const std::string path = writeDatabase(dir, "demo.mdb", jw::demoDatabase(Format::Jet4));
    ScanResult scan = runScan(path);
    struct StopAtFirstPage : RecordingReceiver {
        using RecordingReceiver::RecordingReceiver;
        CQuorvinAccessRecoveryApp* app = nullptr;
        int rows = 0;
        intptr_t send(uint32_t m, uintptr_t w, intptr_t l) override {
            // The stop arrives just before the page's first row is decoded.
            if (m == UM_PROGRESS && w == kProgressStart) app->stopRequested = true;
            if (m == UM_ADD_RECORD_ROW) ++rows;
            return RecordingReceiver::send(m, w, l);
        }
    } receiver(*scan.app);
    receiver.app = scan.app.get();
    scan.app->previewMode = true;
    CRecoverThread preview(*scan.app, &receiver);
    preview.previewTableIndex = static_cast<int32_t>(tableIndex(*scan.engine, "Orders"));
    preview.Run();
    EXPECT_EQ(receiver.finishedPosts, 1);
    EXPECT_EQ(receiver.rows, 0);
    EXPECT_TRUE(scan.app->currentRowValues.empty());
}

// Compressed text: one byte per character (the byte is the code point
// U+0000 to U+00FF), a zero byte switches to two-byte characters and back.
TEST(Text, CompressedTextIsDecodedCompletely) {
    CQuorvinAccessRecoveryApp app;
    CMDBRecovery e(app);
    e.jet4Layout = true;
    const uint8_t plain[] = {0xFF, 0xFE, 'M', 0xFC, 'l', 'l', 'e', 'r', ' ', 0x92, 0xFF};
    EXPECT_EQ(e.DecodeTextBytes(plain, sizeof plain), "M\u00fcller \u0092\u00ff");
    const uint8_t switched[] = {0xFF, 0xFE, 'A', 'B', 0x00, 0x1F, 0x04, 0x40, 0x04, 0x00, 'x'};
    EXPECT_EQ(e.DecodeTextBytes(switched, sizeof switched), "AB\u041f\u0440x");

    // The same through the writer's compressed form, with bytes 0x80 to 0xFF.
    for (Format format : {Format::Jet4, Format::Ace}) {
        jw::Table t;
        t.name = "Compressed";
        t.columns = {col("Name", jw::kText, 60), col("Note", jw::kMemo)};
        t.rows = {{{std::string("Müller \u00a9 \u0092 ÿ"), std::string("Café crème")}}};
        jw::Database db;
        db.format = format;
        db.compressText = true;
        db.tables = {t};
        TempDir dir;
        ScanResult scan = runScan(writeDatabase(dir, "c.mdb", db));
        const auto rows = readAllRows(*scan.engine, 0, false);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(texts(rows[0]), (std::vector<std::string>{"Müller \u00a9 \u0092 ÿ", "Café crème"}));
    }
}

// The value texts written without printf keep printf's forms: the general
// form of doubles (28 digits) and singles (15), whole numbers as integers,
// dates and times as strftime gives them in the C locale, and UCS-2 text with
// ASCII runs of every length around other characters.
TEST(Text, ValueTextsKeepTheFormsOfTheCLibrary) {
    auto general = [](double d, int digits) {
        char buffer[64];
        return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::general, digits).ptr);
    };
    std::vector<double> doubles = {0.5, -0.5, 0.1, 1.0 / 3, 1e-5, 1.5e-5, 0.0001220703125, 3.0517578125e-05,
                                   123456789.015625, -7812.5, 1e22, 1.5e300, 4.9e-324, 2.2250738585072014e-308,
                                   9.3e18, 0.000244140625, 1234567890123456.5, 12345678901234567890.0};
    uint64_t state = 12345;
    auto next = [&] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return state >> 11;
    };
    for (int i = 0; i < 20000; ++i) {
        const double whole = static_cast<double>(static_cast<int64_t>(next() % 4000000001ull) - 2000000000);
        doubles.push_back(whole / static_cast<double>(uint64_t{1} << (i % 40)));
        uint64_t bits = next() << 11 | (next() & 0x7FF);
        double any;
        std::memcpy(&any, &bits, sizeof any);
        if (std::isfinite(any)) doubles.push_back(any);
    }
    for (double d : doubles) {
        const bool integral = d == std::trunc(d) && d >= -9.2e18 && d <= 9.2e18;
        EXPECT_EQ(FormatDouble(d), integral ? std::to_string(static_cast<long long>(d)) : general(d, 28)) << d;
        const float f = static_cast<float>(d);
        if (!std::isfinite(f)) continue;
        const bool fitsInt = f == std::trunc(f) && f >= -2147483648.0f && f < 2147483648.0f;
        EXPECT_EQ(FormatSingle(f), fitsInt ? std::to_string(static_cast<int32_t>(f)) : general(f, 15)) << f;
    }

    for (double days : {-657434.0, -693593.25, -1.5, 0.0, 0.999994, 45293.75, 2958465.999, 2999999.5, 3.5e6}) {
        int year, month, day, hour, minute, second;
        SplitDateTime(days, year, month, day, hour, minute, second);
        std::tm tm{};
        tm.tm_year = year - 1900;
        tm.tm_mon = month - 1;
        tm.tm_mday = day;
        tm.tm_hour = hour;
        tm.tm_min = minute;
        tm.tm_sec = second;
        char buffer[128];
        const size_t n = std::strftime(buffer, sizeof buffer, "%m/%d/%4Y %H:%M:%S", &tm);
        EXPECT_EQ(FormatDateTime(days), std::string(buffer, n)) << days;
    }

    for (size_t run = 0; run < 10; ++run) {
        const std::string text = std::string(run, 'a') + "\u00e9" + std::string(9 - run, 'b') + "\u20ac\U0001F600" +
                                 std::string(run % 5, 'c');
        const std::string units = utf8ToUcs2(text);
        EXPECT_EQ(ucs2ToUtf8(reinterpret_cast<const uint8_t*>(units.data()), units.size()), text);
        std::string appended = "kept ";
        appendUcs2AsUtf8(appended, reinterpret_cast<const uint8_t*>(units.data()), units.size());
        EXPECT_EQ(appended, "kept " + text);
        const std::string plain = std::string(run, 'x') + "plain text";
        const std::string plainUnits = utf8ToUcs2(plain);
        EXPECT_EQ(ucs2ToUtf8(reinterpret_cast<const uint8_t*>(plainUnits.data()), plainUnits.size()), plain);
    }
}

// Long-value chains that break: the text read so far is kept and the value
// is marked incomplete; a loop in the chain ends.
TEST(LongValues, BrokenAndLoopingChainsEnd) {
    const ChainedMemo memo = chainedMemo();
    const std::string& body = memo.body;
    const std::vector<uint32_t>& lval = memo.chain;
    ASSERT_GE(lval.size(), 3u);
    TempDir dir;

    // The second piece's page is zeroed.
    writeFile(dir.file("broken.mdb"), memo.withChainPageZeroed(1));
    ScanResult a = runScan(dir.file("broken.mdb"));
    auto rows = readAllRows(*a.engine, 0, true);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rows[0][1].incomplete);
    EXPECT_FALSE(rows[0][1].string.empty());
    EXPECT_EQ(body.rfind(rows[0][1].string, 0), 0u) << "the text read so far is the start of the value";
    EXPECT_LT(rows[0][1].string.size(), body.size());

    // The first piece names itself as the next one: a loop.
    std::vector<uint8_t> looped = memo.image;
    const size_t page = static_cast<size_t>(lval[0]) * memo.pageSize;
    const uint16_t start = static_cast<uint16_t>(looped[page + 14] | (looped[page + 15] << 8)) & 0x1FFF;
    const uint32_t self = (lval[0] << 8) | 0;
    std::memcpy(&looped[page + start], &self, 4);
    writeFile(dir.file("loop.mdb"), looped);
    ScanResult b = runScan(dir.file("loop.mdb"));
    rows = readAllRows(*b.engine, 0, true);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rows[0][1].incomplete);
}

// An OLE object kept in one long-value row whose header claims more than the
// row holds (a damaged length): the value is the row's bytes, marked
// incomplete, not the claimed length padded with zeros.
TEST(LongValues, SingleRowOleValueIsNoLongerThanItsRow) {
    for (Format format : kFormats) {
        SCOPED_TRACE(formatName(format));
        jw::Table t;
        t.name = "Objects";
        t.columns = {col("ID", jw::kLong), col("Blob", jw::kOle)};
        const jw::Bytes object = pattern(1500);  // one long-value row in every layout
        t.rows = {{{int64_t{1}, object}}};
        jw::Database db;
        db.format = format;
        db.tables = {t};
        jw::Layout layout;
        std::vector<uint8_t> image = jw::write(db, &layout);
        // The value's header in the table's row: 1500 with the one-row flag.
        const uint8_t stored[4] = {0xDC, 0x05, 0x00, 0x40};
        uint8_t* header = static_cast<uint8_t*>(memmem(image.data(), image.size(), stored, sizeof stored));
        ASSERT_NE(header, nullptr);
        const uint8_t claimed[4] = {0x00, 0x90, 0x02, 0x40};  // 167,936 bytes
        std::memcpy(header, claimed, sizeof claimed);
        TempDir dir;
        writeFile(dir.file("objects.mdb"), image);
        ScanResult scan = runScan(dir.file("objects.mdb"));
        const auto rows = readAllRows(*scan.engine, tableIndex(*scan.engine, "Objects"), true);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0][1].bytes, object);
        EXPECT_TRUE(rows[0][1].incomplete);
        EXPECT_EQ(scan.engine->statistics.valuesIncomplete, 1u);
    }
}

// A value of a deleted record points at a long-value row that Access marked
// deleted with it: the row's bytes are still there and are read.
TEST(LongValues, LongValueRowMarkedDeletedIsStillRead) {
    for (Format format : {Format::Jet3, Format::Jet4}) {
        SCOPED_TRACE(formatName(format));
        jw::Table t;
        t.name = "Notes";
        t.columns = {col("ID", jw::kLong), col("Body", jw::kMemo)};
        const std::string body = longText(1500);  // one long-value row, not a chain
        t.rows = {{{int64_t{1}, body}}};
        jw::Database db;
        db.format = format;
        db.tables = {t};
        jw::Layout layout;
        std::vector<uint8_t> image = jw::write(db, &layout);
        const std::vector<uint32_t> lval = lvalPages(image, layout.pageSize);
        ASSERT_EQ(lval.size(), 1u);
        const size_t page = static_cast<size_t>(lval[0]) * layout.pageSize;
        const size_t slot = page + (format == Format::Jet3 ? 10 : 14);
        image[slot + 1] = static_cast<uint8_t>((image[slot + 1] & 0x0F) | 0xC0);
        TempDir dir;
        writeFile(dir.file("notes.mdb"), image);
        ScanResult scan = runScan(dir.file("notes.mdb"));
        const auto rows = readAllRows(*scan.engine, 0, false);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0][1].text, body);
    }
}

// A large number (0x13) and an extended date/time (0x14), which the writer
// does not write: a currency and a binary column are relabelled in the
// definition, so their bytes are read as the other types.
TEST(Rows, LargeNumberAndExtendedDateTime) {
    jw::Table t;
    t.name = "Newer";
    t.columns = {col("Big", jw::kBigInt), col("When", jw::kDateTimeExt)};
    t.rows = {{{int64_t{-9000000000000000000LL}, std::string("2021-07-30 12:34:56.1234567")}},
              {{int64_t{INT64_MAX}, std::string("0001-01-01 00:00:00")}},
              {{int64_t{0}, std::string("9999-12-31 23:59:59.9999999")}}};
    jw::Database db;
    db.format = Format::Ace;
    db.tables = {t};
    TempDir dir;
    const std::string path = writeDatabase(dir, "newer.accdb", db);
    ScanResult scan = runScan(path);
    const auto rows = readAllRows(*scan.engine, 0, true);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][0].text, "-9000000000000000000");
    EXPECT_EQ(rows[0][0].integer, -9000000000000000000LL);
    EXPECT_EQ(rows[1][0].integer, INT64_MAX);
    // Extended dates: ISO text with seven decimals, 100-nanosecond units.
    EXPECT_EQ(rows[0][1].text, "2021-07-30 12:34:56.1234567");
    EXPECT_EQ(rows[1][1].text, "0001-01-01 00:00:00.0000000");
    EXPECT_EQ(rows[2][1].text, "9999-12-31 23:59:59.9999999");
}

// The extended date decoder takes only what Access writes; anything else
// stays the characters stored.
TEST(Rows, ExtendedDateTimeBytes) {
    struct Case {
        const char* bytes;
        const char* iso;  // nullptr: not an extended date
    };
    const Case cases[] = {
        {"0000000000000737592:0000000000000000000:7", "2020-06-17 00:00:00.0000000"},
        {"0000000000000000000:0000000863990000001:7", "0001-01-01 23:59:59.0000001"},
        {"0000000000003652058:0000000000000000000:7", "9999-12-31 00:00:00.0000000"},
        {"0000000000003652059:0000000000000000000:7", nullptr},  // beyond the year 9999
        {"0000000000000737592:0000000864000000000:7", nullptr},  // a day has 86400 seconds
        {"00000000000007375x2:0000000000000000000:7", nullptr},
        {"0000000000000737592:00000000000", nullptr},            // cut short
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        const auto iso = DecodeDateTimeExtended(reinterpret_cast<const uint8_t*>(c.bytes), std::strlen(c.bytes));
        if (c.iso) {
            ASSERT_TRUE(iso.has_value());
            EXPECT_EQ(*iso, c.iso);
        } else {
            EXPECT_FALSE(iso.has_value()) << *iso;
        }
    }
    // ResultType names DAO types; Decimal (20) and Large Number (16) have
    // other column type codes.
    EXPECT_EQ(ColumnTypeOfResultType(20), 0x10);
    EXPECT_EQ(ColumnTypeOfResultType(16), 0x13);
    EXPECT_EQ(ColumnTypeOfResultType(12), 0x0C);
    EXPECT_EQ(ColumnTypeOfResultType(9), 0);
}

// Jet 3 rows: fixed columns sit at their offsets even beside text columns and
// after a null fixed column; rows of 256 bytes or more carry a jump table.
TEST(Rows, Jet3FixedColumnsAndLongRows) {
    jw::Table t;
    t.name = "Legacy";
    t.columns = {col("Name", jw::kText, 50), col("Born", jw::kDateTime), col("Count", jw::kLong),
                 col("When", jw::kDateTime), col("A", jw::kText, 200), col("B", jw::kText, 200),
                 col("C", jw::kText, 200)};
    const std::string a(150, 'a'), b(170, 'b'), c(90, 'c');
    t.rows = {{{std::string("first"), 36526.0, std::monostate{}, 36527.5, a, b, c}},
              {{std::string("second"), std::monostate{}, int64_t{5}, 40000.25, std::string("x"),
                std::monostate{}, std::string("z")}}};
    jw::Database db;
    db.format = Format::Jet3;
    db.tables = {t};
    TempDir dir;
    ScanResult scan = runScan(writeDatabase(dir, "legacy.mdb", db));
    const auto rows = readAllRows(*scan.engine, 0, true);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0].string, "first");
    EXPECT_DOUBLE_EQ(rows[0][1].real, 36526.0);
    EXPECT_EQ(rows[0][2].state, State::Null);
    EXPECT_DOUBLE_EQ(rows[0][3].real, 36527.5);
    EXPECT_EQ(rows[0][4].string, a);
    EXPECT_EQ(rows[0][5].string, b);
    EXPECT_EQ(rows[0][6].string, c);
    EXPECT_EQ(rows[1][1].state, State::Null);
    EXPECT_EQ(rows[1][2].integer, 5);
    EXPECT_DOUBLE_EQ(rows[1][3].real, 40000.25);
    EXPECT_EQ(rows[1][5].state, State::Null);
    EXPECT_EQ(rows[1][6].string, "z");
}

}  // namespace
}  // namespace talmera::test

namespace talmera::test {
namespace {

// The writer's demo databases, read by us and by mdbtools: every value agrees.
TEST(Rows, DemoDatabasesAgreeWithMdbExport) {
    if (!haveProgram("mdb-export")) GTEST_SKIP() << "mdbtools is not installed";
    for (jetwriter::Format format : {jetwriter::Format::Jet3, jetwriter::Format::Jet4, jetwriter::Format::Ace}) {
        SCOPED_TRACE(formatName(format));
        TempDir dir;
        const std::string path = writeDatabase(dir, "demo.mdb", jetwriter::demoDatabase(format));
        ScanResult scan = runScan(path);
        CMDBRecovery& e = *scan.engine;
        size_t compared = 0;
        for (size_t t = 0; t < e.tables.size(); ++t) {
            const tableInfo table = e.tables[t];
            if (!table.deletedRows.empty()) continue;
            SCOPED_TRACE(table.name);
            const auto ours = readAllRows(e, t, true);
            const auto theirs = mdbExportRows(path, table.name);
            ASSERT_EQ(ours.size(), theirs.size());
            std::vector<size_t> order(table.columns.size());
            for (size_t c = 0; c < order.size(); ++c) order[c] = c;
            std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
                return table.columns[a].columnNumber < table.columns[b].columnNumber;
            });
            for (size_t r = 0; r < ours.size(); ++r) {
                ASSERT_EQ(ours[r].size(), theirs[r].size());
                for (size_t k = 0; k < order.size(); ++k) {
                    const size_t c = order[k];
                    if (table.columns[c].type == 0x12) continue;
                    std::string why;
                    EXPECT_TRUE(sameCell(ours[r][c], theirs[r][k], &why))
                        << "row " << r << " column " << table.columns[c].name << ": " << why;
                }
            }
            ++compared;
        }
        EXPECT_GT(compared, 0u);
    }
}

}  // namespace
}  // namespace talmera::test
