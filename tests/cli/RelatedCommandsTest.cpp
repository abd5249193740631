// catalog --json's related objects, and the attachments command: listing,
// writing out under safe names, and never replacing a file.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "cli/Attachments.h"
#include "tests/cli/CliFixtures.h"
#include "tests/cli/CliTestSupport.h"

namespace talmera::cli::test {
namespace {

namespace jw = jetwriter;
using json = nlohmann::json;
using talmera::test::TempDir;

jw::Bytes bytes(const std::string& s) { return jw::Bytes(s.begin(), s.end()); }

// An ACE file: Docs with an attachment column whose file names are hostile,
// a multi-valued column, properties, a relationship and a link.
jw::Database relatedDatabase() {
    jw::Database db;
    db.format = jw::Format::Ace;
    jw::Table owners;
    owners.name = "Owners";
    owners.columns = {column("ID", jw::kLong)};
    owners.rows = {{{int64_t{1}}}};
    owners.indexes = {jw::Index{"PrimaryKey", {{0}}, true, true, false, false}};
    jw::Table docs;
    docs.name = "Docs";
    docs.columns = {column("ID", jw::kLong), column("Owner", jw::kLong), column("Files", jw::kComplex),
                    column("Tags", jw::kComplex)};
    docs.rows = {{{int64_t{1}, int64_t{1}, int64_t{1}, int64_t{1}}}, {{int64_t{2}, int64_t{1}, int64_t{2}, int64_t{2}}}};
    docs.properties = {{"Owner", false, {jw::textProperty("Caption", "Owned by")}}};
    db.tables = {owners, docs,
                 jw::attachmentValueTable("Docs", "Files",
                                          {{1, {"../../escape.txt", bytes("one"), true}},
                                           {1, {"dir/sub\\name.txt", bytes("two"), false}},
                                           {2, {"bell\a.txt", bytes("three"), true}},
                                           {2, {"same.txt", bytes("four"), true}},
                                           {2, {"same.txt", bytes("five"), true}}}),
                 jw::multiValueTable("Docs", "Tags", jw::kText, {{1, std::string("a")}, {2, std::string("b")}})};
    db.complexColumns = {{"Docs", "Files", db.tables[2].name}, {"Docs", "Tags", db.tables[3].name}};
    db.relationships = {{"OwnersDocs", "Docs", "Owner", "Owners", "ID", 0x100, 1, 0, false}};
    jw::CatalogObject link;
    link.name = "Sales";
    link.kind = jw::ObjectKind::LinkedTable;
    link.linkPath = "C:\\Data\\Sales.mdb";
    link.connect = ";DATABASE=C:\\Data\\Sales.mdb";
    db.objects = {link};
    return db;
}

TEST(RelatedCommandsTest, CatalogJsonHasRelationsLinksPropertiesAndComplexColumns) {
    TempDir dir;
    const CommandResult r = runTool({"catalog", "--json", writeDatabase(dir, "docs.accdb", relatedDatabase())});
    ASSERT_EQ(r.status, 0) << r.err;
    const json catalog = json::parse(r.out);
    ASSERT_EQ(catalog["relations"].size(), 1u);
    const json& rel = catalog["relations"][0];
    EXPECT_EQ(rel["name"], "OwnersDocs");
    EXPECT_EQ(rel["table"], "Owners");
    EXPECT_EQ(rel["foreignTable"], "Docs");
    EXPECT_EQ(rel["columns"], json::parse(R"([{"column": "ID", "foreignColumn": "Owner"}])"));
    EXPECT_EQ(rel["cascadeUpdates"], true);
    EXPECT_EQ(rel["cascadeDeletes"], false);
    EXPECT_EQ(catalog["linkedTables"][0]["connect"], ";DATABASE=C:\\Data\\Sales.mdb");
    EXPECT_EQ(catalog["linkedTables"][0]["outputConnect"], ";DATABASE=C:\\Data\\Sales.mdb");
    EXPECT_EQ(catalog["linkedTables"][0]["path"], "C:\\Data\\Sales.mdb");
    json docs;
    for (const json& t : catalog["tables"])
        if (t["name"] == "Docs") docs = t;
    ASSERT_FALSE(docs.is_null());
    EXPECT_EQ(docs["columns"][1]["properties"], json::parse(R"([{"name": "Caption", "value": "Owned by"}])"));
    EXPECT_EQ(docs["columns"][2]["complex"]["attachments"], 5);
    EXPECT_EQ(docs["columns"][3]["complex"]["values"], 2);
    const CommandResult preview = runTool({"preview", writeDatabase(dir, "p.accdb", relatedDatabase()), "Docs"});
    EXPECT_TRUE(contains(preview.out, "1\t1\tComplex Data Type\tComplex Data Type\n")) << preview.out;
}

TEST(RelatedCommandsTest, AttachmentsAreListedAndWrittenOutUnderSafeNewNames) {
    TempDir dir;
    const std::string path = writeDatabase(dir, "docs.accdb", relatedDatabase());
    const CommandResult list = runTool({"attachments", path, "Docs"});
    ASSERT_EQ(list.status, 0) << list.err;
    // Names are escaped as preview's tsv escapes them (a backslash doubled).
    EXPECT_EQ(list.out,
              "column\trow key\tfile name\tbytes\n"
              "Files\t1\t../../escape.txt\t3\n"
              "Files\t1\tdir/sub\\\\name.txt\t3\n"
              "Files\t2\tbell\a.txt\t5\n"
              "Files\t2\tsame.txt\t4\n"
              "Files\t2\tsame.txt\t4\n");

    const std::string out = dir.file("out");
    std::filesystem::create_directory(out);
    std::ofstream(out + "/same.txt") << "kept";  // already there: never replaced
    const CommandResult extract = runTool({"attachments", path, "Docs", "--extract", out});
    ASSERT_EQ(extract.status, 0) << extract.err;
    auto read = [&](const std::string& name) {
        std::ifstream in(out + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(read(SafeFileName("../../escape.txt")), "one");
    EXPECT_EQ(read("dir_sub_name.txt"), "two");
    EXPECT_EQ(read("bell_.txt"), "three");
    EXPECT_EQ(read("same.txt"), "kept");
    EXPECT_EQ(read("same (2).txt"), "four");
    EXPECT_EQ(read("same (3).txt"), "five");
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(out)) files += entry.is_regular_file();
    EXPECT_EQ(files, 6u);  // nothing outside the folder

    EXPECT_EQ(runTool({"attachments", path, "Nope"}).status, kExitNoSuchTable);
    EXPECT_EQ(runTool({"attachments", path, "Docs", "--extract", dir.file("missing")}).status, kExitUnreadable);
}

TEST(RelatedCommandsTest, SafeFileNamesStayInTheirFolder) {
    const std::pair<std::string, std::string> cases[] = {
        {"report.pdf", "report.pdf"}, {"../x", "_._x"},         {"..", "_."},
        {"a/b\\c:d", "a_b_c_d"},     {"tab\there", "tab_here"}, {"", "attachment"},
        {".", "attachment"},           {"....", "___."},        {"ünïcode.txt", "ünïcode.txt"},
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(SafeFileName(name), expected) << name;
    const std::string longName = std::string(300, 'x') + ".txt";
    EXPECT_EQ(SafeFileName(longName).size(), 200u);
    EXPECT_EQ(SafeFileName(longName).substr(196), ".txt");
}

}  // namespace
}  // namespace talmera::cli::test
