// The export's csv quoting under its options, and the OLE wrapper taken off
// objects built here byte by byte.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/ExportWriters.h"
#include "cli/OleUnwrap.h"

namespace talmera::cli {
namespace {

ExportCell text(const std::string& value) {
    ExportCell cell;
    cell.kind = ExportCell::Kind::Text;
    cell.text = value;
    return cell;
}

ExportCell integer(int64_t value) {
    ExportCell cell;
    cell.kind = ExportCell::Kind::Integer;
    cell.integer = value;
    return cell;
}

ExportCell bytes(std::vector<uint8_t> value) {
    ExportCell cell;
    cell.kind = ExportCell::Kind::Bytes;
    cell.bytes = std::move(value);
    return cell;
}

std::string csv(const CsvOptions& options, const std::vector<ExportCell>& row) {
    ExportTable table;
    table.name = "T";
    for (size_t c = 0; c < row.size(); ++c) table.columns.push_back({"c" + std::to_string(c)});
    std::ostringstream out;
    auto writer = makeCsvWriter(out, options);
    writer->beginTable(table);
    writer->row(row);
    writer->endTable();
    return out.str();
}

TEST(CsvWriterTest, QuotesAsRfc4180AndAsTheOptionsSay) {
    const std::vector<ExportCell> row{text("plain"), text("a,b"), text("say \"hi\""), text("two\r\nlines"),
                                      text(""),      ExportCell{}, integer(-7)};
    struct Case {
        const char* what;
        CsvOptions options;
        std::string expected;
    };
    CsvOptions semicolon;
    semicolon.delimiter = ";";
    CsvOptions singleQuote;
    singleQuote.quote = "'";
    CsvOptions backslash;
    backslash.escape = "\\";
    CsvOptions all;
    all.quoting = Quoting::All;
    all.nullText = "NULL";
    all.header = false;
    all.rowDelimiter = "\n";
    CsvOptions none;
    none.quoting = Quoting::None;
    none.escape = "\\";
    none.header = false;
    const Case cases[] = {
        {"RFC 4180: quotes where needed, a quote doubled, an empty text apart from NULL, CR LF",
         {},
         "c0,c1,c2,c3,c4,c5,c6\r\nplain,\"a,b\",\"say \"\"hi\"\"\",\"two\r\nlines\",\"\",,-7\r\n"},
        {"-d ';': the comma needs no quotes, the semicolon would",
         semicolon,
         "c0;c1;c2;c3;c4;c5;c6\r\nplain;a,b;\"say \"\"hi\"\"\";\"two\r\nlines\";\"\";;-7\r\n"},
        {"-q \"'\": the double quote is plain text",
         singleQuote,
         "c0,c1,c2,c3,c4,c5,c6\r\nplain,'a,b',say \"hi\",'two\r\nlines','',,-7\r\n"},
        {"-X '\\': a quote inside is escaped, not doubled",
         backslash,
         "c0,c1,c2,c3,c4,c5,c6\r\nplain,\"a,b\",\"say \\\"hi\\\"\",\"two\r\nlines\",\"\",,-7\r\n"},
        {"--quoting all, -0 NULL, -H, -R '\\n': NULL stays unquoted",
         all,
         "\"plain\",\"a,b\",\"say \"\"hi\"\"\",\"two\r\nlines\",\"\",NULL,\"-7\"\n"},
        {"--quoting none -X '\\': the escape goes before the delimiter and the quote",
         none,
         "plain,a\\,b,say \\\"hi\\\",two\r\nlines,,,-7\r\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(csv(c.options, row), c.expected) << c.what;
}

TEST(CsvWriterTest, ATextThatReadsAsTheNullTextIsQuoted) {
    CsvOptions options;
    options.nullText = "NULL";
    options.header = false;
    EXPECT_EQ(csv(options, {text("NULL"), ExportCell{}}), "\"NULL\",NULL\r\n");
}

TEST(CsvWriterTest, BinaryValuesAsTheModeSays) {
    const std::vector<uint8_t> value{0x00, 'a', ',', 0xFF};
    struct Case {
        BinaryMode mode;
        std::string expected;
    };
    const Case cases[] = {
        {BinaryMode::Base64, "AGEs/w==\r\n"},
        {BinaryMode::Hex, "00612CFF\r\n"},
        {BinaryMode::Strip, "\r\n"},
        {BinaryMode::Raw, std::string("\"\0a,\xFF\"\r\n", 8)},
    };
    for (const Case& c : cases) {
        CsvOptions options;
        options.header = false;
        options.binary = c.mode;
        EXPECT_EQ(csv(options, {bytes(value)}), c.expected) << static_cast<int>(c.mode);
    }
}

// ---- OLE objects -------------------------------------------------------------

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}
void putText(std::vector<uint8_t>& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }
void putCounted(std::vector<uint8_t>& out, const std::string& text) {
    put32(out, static_cast<uint32_t>(text.size() + 1));
    putText(out, text);
    out.push_back(0);
}

// The value Access stores: the OLE header naming the object and its class,
// then the OLE 1.0 stream of an embedded object around `native`.
std::vector<uint8_t> oleObject(const std::string& className, const std::vector<uint8_t>& native) {
    const std::string name = "Object";
    std::vector<uint8_t> out;
    const uint16_t headerSize = static_cast<uint16_t>(20 + name.size() + 1 + className.size() + 1);
    put16(out, 0x1C15);
    put16(out, headerSize);
    put32(out, 2);  // embedded
    put16(out, static_cast<uint32_t>(name.size() + 1));
    put16(out, static_cast<uint32_t>(className.size() + 1));
    put16(out, 20);
    put16(out, static_cast<uint32_t>(20 + name.size() + 1));
    put32(out, 0xFFFFFFFF);
    putText(out, name);
    out.push_back(0);
    putText(out, className);
    out.push_back(0);
    put32(out, 0x0501);
    put32(out, 2);
    putCounted(out, className);
    putCounted(out, "");
    putCounted(out, "");
    put32(out, static_cast<uint32_t>(native.size()));
    out.insert(out.end(), native.begin(), native.end());
    return out;
}

// The Packager's package of one file.
std::vector<uint8_t> package(const std::string& label, const std::string& path, const std::string& content) {
    std::vector<uint8_t> out;
    put16(out, 2);
    putText(out, label);
    out.push_back(0);
    putText(out, path);
    out.push_back(0);
    put32(out, 3);  // an embedded file
    put32(out, static_cast<uint32_t>(path.size() + 1));
    putText(out, path);
    out.push_back(0);
    put32(out, static_cast<uint32_t>(content.size()));
    putText(out, content);
    return out;
}

TEST(OleUnwrapTest, APackageGivesItsFileAndName) {
    const UnwrappedOle got = unwrapOle(oleObject("Package", package("notes.txt", "C:\\Docs\\notes.txt", "hello")));
    ASSERT_TRUE(got.unwrapped) << got.reason;
    EXPECT_EQ(std::string(got.data.begin(), got.data.end()), "hello");
    EXPECT_EQ(got.fileName, "notes.txt");
    EXPECT_EQ(got.extension, ".txt");
}

TEST(OleUnwrapTest, APaintPictureGivesItsBitmap) {
    std::vector<uint8_t> bitmap{'B', 'M'};
    bitmap.resize(64, 0x11);
    const UnwrappedOle got = unwrapOle(oleObject("PBrush", bitmap));
    ASSERT_TRUE(got.unwrapped) << got.reason;
    EXPECT_EQ(got.data, bitmap);
    EXPECT_EQ(got.className, "PBrush");
    EXPECT_EQ(got.extension, ".bmp");
}

// Whatever is not a whole wrapper stays as stored, with the reason; no cut
// makes the reader go past the value (the sanitizer build watches).
TEST(OleUnwrapTest, WhatCannotBeUnwrappedStaysRawAndSaysWhy) {
    const std::vector<uint8_t> whole = oleObject("Package", package("a.txt", "a.txt", "content"));
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        const std::vector<uint8_t> part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
        const UnwrappedOle got = unwrapOle(part);
        EXPECT_FALSE(got.unwrapped) << "cut at " << cut;
        EXPECT_EQ(got.data, part);
        EXPECT_FALSE(got.reason.empty());
    }
    std::vector<uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0};
    const UnwrappedOle bare = unwrapOle(png);
    EXPECT_FALSE(bare.unwrapped);
    EXPECT_EQ(bare.reason, "it has no OLE header");
    EXPECT_EQ(bare.extension, ".png");
}

}  // namespace
}  // namespace talmera::cli
