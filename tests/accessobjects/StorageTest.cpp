// The object storage of generated databases: the chunk tables of Jet 3 and
// Jet 4 and MSysAccessStorage of ACE, the project files built from them (read
// back by olefile), the module sources, the objects command and the save's
// folder; and the corpus.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <fstream>
#include <sstream>

#include "OleFile.h"
#include "TestSupport.h"
#include "accessobjects/AccessObjects.h"
#include "accessobjects/CompoundFile.h"
#include "cli/Commands.h"
#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "jetwriter/JetWriter.h"
#include "platform/MessageReceiver.h"
#include "platform/TextCodec.h"
#include "tests/cli/CliTestSupport.h"
#include "engine/save/ObjectsTransfer.h"

namespace talmera {
namespace {

using jetwriter::Bytes;
using jetwriter::Format;
using jetwriter::StorageNode;

const char* formatName(Format f) { return f == Format::Jet3 ? "jet3" : f == Format::Jet4 ? "jet4" : "ace"; }

// A database with the writer's demo storage and its objects in the catalog.
jetwriter::Database storageDatabase(Format format, std::vector<StorageNode> nodes = jetwriter::demoObjectStorage()) {
    jetwriter::Database db;
    db.format = format;
    jetwriter::Table t;
    t.name = "Customers";
    jetwriter::Column c;
    c.name = "Name";
    c.type = jetwriter::kText;
    t.columns = {c};
    t.rows.push_back({{std::string("Ann")}});
    db.tables.push_back(t);
    using K = jetwriter::ObjectKind;
    for (auto [name, kind] : std::vector<std::pair<const char*, K>>{
             {"Customer Form", K::Form}, {"Orders", K::Form}, {"Sales Report", K::Report}, {"AutoExec", K::Macro}, {"Utilities", K::Module}}) {
        jetwriter::CatalogObject o;
        o.name = name;
        o.kind = kind;
        db.objects.push_back(o);
    }
    db.objectStorage = std::move(nodes);
    return db;
}

struct Fixture {
    test::TempDir dir;
    std::string path;
    jetwriter::Layout layout;
    test::ScanResult scan;
    ObjectsListing listing;
    bool stored = false;

    Fixture(Format format, const jetwriter::Database& db) {
        path = dir.file(std::string("objects.") + (format == Format::Ace ? "accdb" : "mdb"));
        jetwriter::saveFile(path, jetwriter::write(db, &layout));
        scan = test::runScan(path);
        stored = ObjectStorageReader(*scan.engine).CollectAccessObjects(listing);
    }
    const std::vector<ProjectFile>& kept() { return ObjectsState(*scan.engine).keptProjects; }
};

const StoredObject* find(const ObjectsListing& l, ObjectKind kind, const std::string& name) {
    for (const StoredObject& o : l.objects)
        if (o.kind == kind && o.name == name) return &o;
    return nullptr;
}

const ModuleSource* module(const ObjectsListing& l, const std::string& name) {
    for (const ModuleSource& m : l.modules)
        if (m.name == name) return &m;
    return nullptr;
}

void expectDemoListing(const ObjectsListing& listing) {
    struct Expected {
        ObjectKind kind;
        const char* name;
        int64_t storage;
        const char* code;
    };
    const Expected objects[] = {{ObjectKind::Form, "Customer Form", 0, "Form_Customer Form.bas"},
                                {ObjectKind::Form, "Orders", 1, ""},
                                {ObjectKind::Report, "Sales Report", 0, "Report_Sales Report.bas"},
                                {ObjectKind::Macro, "AutoExec", 0, ""},
                                {ObjectKind::Module, "Utilities", 0, "Utilities.bas"}};
    for (const Expected& e : objects) {
        SCOPED_TRACE(e.name);
        const StoredObject* o = find(listing, e.kind, e.name);
        ASSERT_NE(o, nullptr);
        EXPECT_EQ(o->storage, e.storage);
        EXPECT_TRUE(o->inCatalog);
        EXPECT_EQ(o->moduleFile, e.code);
    }
    for (const jetwriter::VbaModule& m : jetwriter::demoModules()) {
        const ModuleSource* s = module(listing, m.name);
        ASSERT_NE(s, nullptr) << m.name;
        // The source is 8-bit in the project's code page; the listing holds UTF-8.
        EXPECT_EQ(s->text, codePageToUtf8(reinterpret_cast<const uint8_t*>(m.source.data()), m.source.size(), "WINDOWS-1252"));
        EXPECT_FALSE(s->damaged);
    }
}

// A project file cut short: any module whose text is not the whole source
// says so, and objects.txt shows it.
TEST(ProjectImage, ModuleCutShortIsMarkedIncomplete) {
    // A module whose compressed source is too big for the mini stream lies
    // in sectors of its own, after the small streams.
    std::string source = "Attribute VB_Name = \"Big\"\r\n";
    for (uint32_t i = 0, x = 12345; source.size() < 30000; ++i) {
        x = x * 1103515245u + 12345u;
        source += "Const c" + std::to_string(i) + " = " + std::to_string(x >> 8) + "\r\n";
    }
    const Bytes full = jetwriter::compoundFile(jetwriter::codeProjectNodes({{"Big", false, source}}));
    ObjectsListing whole;
    ReadProjectImage(full, whole);
    ASSERT_FALSE(whole.modules.empty());
    std::map<std::string, std::string> texts;
    for (const ModuleSource& m : whole.modules) {
        EXPECT_FALSE(m.incomplete) << m.name;
        texts[m.name] = m.text;
    }
    size_t marked = 0;
    for (size_t cut = full.size() - 1; cut > 600; cut -= std::min<size_t>(cut, 97)) {
        ObjectsListing listing;
        ReadProjectImage(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut)), listing);
        for (const ModuleSource& m : listing.modules) {
            if (m.text == texts[m.name]) continue;
            EXPECT_TRUE(m.incomplete) << m.name << " cut at " << cut;
            if (!m.incomplete) continue;
            ++marked;
            EXPECT_TRUE(cli::test::contains(ListingText(listing, {}), SafeFileName(m.name) + ".bas  " +
                                                                           (m.kind == vba::ModuleKind::Class ? "class" : "standard") +
                                                                           ", " + std::to_string(m.lines) +
                                                                           " lines, damaged, source incomplete"));
        }
    }
    EXPECT_GT(marked, 0u);
}

class ChunkedStorage : public ::testing::TestWithParam<Format> {};

TEST_P(ChunkedStorage, GluesTheChunksAndListsTheObjects) {
    Fixture f(GetParam(), storageDatabase(GetParam()));
    ASSERT_TRUE(f.stored);
    ASSERT_EQ(f.kept().size(), 1u);
    const Bytes& image = f.kept()[0].image;
    const Bytes& original = f.layout.compoundFile;
    // The last chunk is a whole row: zeros follow the compound file.
    ASSERT_GE(image.size(), original.size());
    EXPECT_TRUE(std::equal(original.begin(), original.end(), image.begin()));
    EXPECT_TRUE(std::all_of(image.begin() + static_cast<long>(original.size()), image.end(), [](uint8_t b) { return b == 0; }));
    expectDemoListing(f.listing);
}

INSTANTIATE_TEST_SUITE_P(Formats, ChunkedStorage, ::testing::Values(Format::Jet3, Format::Jet4),
                         [](const auto& info) { return std::string(formatName(info.param)); });

TEST(ChunkedStorage3, MissingChunkKeepsItsPlaceAsZeros) {
    jetwriter::Database db = storageDatabase(Format::Jet3);
    db.missingChunks = {3};
    Fixture f(Format::Jet3, db);
    ASSERT_EQ(f.kept().size(), 1u);
    const Bytes& image = f.kept()[0].image;
    const Bytes& original = f.layout.compoundFile;
    ASSERT_GE(image.size(), original.size());
    for (size_t i = 0; i < original.size(); ++i) {
        const bool inMissing = i >= 2 * 241 && i < 3 * 241;
        ASSERT_EQ(image[i], inMissing ? 0 : original[i]) << "byte " << i;
    }
}

TEST(ChunkedStorage, FileWithoutChunkTableHasNoStorage) {
    for (Format format : {Format::Jet3, Format::Jet4}) {
        SCOPED_TRACE(formatName(format));
        Fixture f(format, storageDatabase(format, {}));
        EXPECT_FALSE(f.stored);
        EXPECT_EQ(ObjectStorageReader(*f.scan.engine).ReadChunkedStorage3(), 0);
        // Catalog entries without storage are still listed.
        ASSERT_NE(find(f.listing, ObjectKind::Form, "Customer Form"), nullptr);
        EXPECT_EQ(find(f.listing, ObjectKind::Form, "Customer Form")->storage, -1);
    }
}

std::map<std::string, uint32_t> nodeCrcs(const std::vector<StorageNode>& nodes) {
    std::map<std::string, uint32_t> crcs;
    for (const StorageNode& n : nodes)
        if (!n.storage) crcs[n.path] = test::crcOf(n.data);
    return crcs;
}

TEST(StorageTable, ProjectFilesPerKindHoldTheStorageBytes) {
    std::vector<StorageNode> nodes = jetwriter::demoObjectStorage();
    nodes.push_back({"Forms/0/BlobCopy", false, Bytes(40, 7)});
    nodes.push_back({"Forms/1/TypeInfo", false, Bytes(30, 8)});
    Fixture f(Format::Ace, storageDatabase(Format::Ace, nodes));
    ASSERT_TRUE(f.stored);
    expectDemoListing(f.listing);
    std::map<std::string, const ProjectFile*> files;
    for (const ProjectFile& p : f.kept()) files[p.fileName] = &p;
    for (const char* name : {"project_Forms.adp", "project_Reports.adp", "project_Scripts.adp", "project_Modules.adp"})
        ASSERT_TRUE(files.count(name)) << name;
    if (!test::haveOleFile()) GTEST_SKIP() << "python3-olefile is not installed";
    const auto crcs = nodeCrcs(nodes);
    struct Check {
        const char* file;
        const char* folder;
        bool codeProject;
    };
    // Forms with code, reports and modules carry the code project; macros never.
    for (const Check& c : {Check{"project_Forms.adp", "Forms", true}, Check{"project_Reports.adp", "Reports", true},
                           Check{"project_Scripts.adp", "Scripts", false}, Check{"project_Modules.adp", "Modules", true}}) {
        SCOPED_TRACE(c.file);
        const std::string path = f.dir.file(c.file);
        test::writeFile(path, files[c.file]->image);
        const auto seen = test::oleEntries(path);
        for (const auto& [nodePath, crc] : crcs) {
            const bool inFolder = nodePath.rfind(std::string(c.folder) + "/", 0) == 0;
            const bool inCode = nodePath.rfind("VBA/", 0) == 0;
            const bool dropped = nodePath.find("BlobCopy") != std::string::npos || nodePath.find("TypeInfo") != std::string::npos;
            const std::string name = nodePath;
            if ((inFolder || (inCode && c.codeProject)) && !dropped) {
                ASSERT_TRUE(seen.count(name)) << name;
                EXPECT_EQ(seen.at(name).crc, crc) << name;
            } else {
                EXPECT_FALSE(seen.count(name)) << name;
            }
        }
        // Nothing else: the folder, its storages and the code project's storages,
        // and the entry after the folder.
        for (const auto& [name, e] : seen) {
            EXPECT_TRUE(crcs.count(name) || e.storage) << name;
        }
    }
}

// A row whose Name is empty (a stream of that name under Forms): nothing is
// read for its name, the row is passed on like any other, and the objects
// around it are all found. (Its read of no bytes into no buffer was a report
// of undefined behaviour that stopped a sanitizer build's repair.)
TEST(StorageTable, AnEntryWithAnEmptyNameIsRead) {
    std::vector<StorageNode> nodes = jetwriter::demoObjectStorage();
    nodes.push_back({"Forms/", false, Bytes(20, 9)});
    Fixture f(Format::Ace, storageDatabase(Format::Ace, nodes));
    ASSERT_TRUE(f.stored);
    expectDemoListing(f.listing);
}

TEST(StorageTable, MissingDirLeavesTheCodeProjectOut) {
    std::vector<StorageNode> nodes;
    for (const StorageNode& n : jetwriter::demoObjectStorage())
        if (n.path != "VBA/VBAProject/VBA/dir") nodes.push_back(n);
    Fixture f(Format::Ace, storageDatabase(Format::Ace, nodes));
    ASSERT_TRUE(f.stored);
    // The search finds no "dir" text in the file: no project file has a code
    // project from then on.
    EXPECT_TRUE(ObjectsState(*f.scan.engine).codeProjectUnusable);
    for (const ProjectFile& p : f.kept()) {
        const cfb::Reader reader(p.image);
        ASSERT_TRUE(reader.valid()) << p.fileName;
        EXPECT_EQ(reader.Find(0, u"VBA"), cfb::kNoStream) << p.fileName;
    }
    EXPECT_TRUE(f.listing.modules.empty());
}

TEST(StorageTable, ObjectStoragesFormTheirTree) {
    // Objects 0, 2 and 10: 2 is the folder's child with 0 on its left and 10
    // on its right; the name list follows 10.
    std::vector<StorageNode> nodes = {
        {"Forms", true, {}},
        {"Forms/\x03" "DirData", false, jetwriter::folderNameList({{"A", 0}, {"B", 2}, {"C", 10}})},
        {"Forms/0/Blob", false, Bytes(100, 1)},
        {"Forms/2/Blob", false, Bytes(100, 2)},
        {"Forms/10/Blob", false, Bytes(100, 3)},
        {"Forms/PropData", false, Bytes(30, 4)},
    };
    Fixture f(Format::Ace, storageDatabase(Format::Ace, nodes));
    ASSERT_EQ(f.kept().size(), 1u);
    const cfb::Reader reader(f.kept()[0].image);
    ASSERT_TRUE(reader.valid());
    const auto& e = reader.entries();
    const uint32_t folder = reader.Find(0, u"Forms");
    ASSERT_NE(folder, cfb::kNoStream);
    const uint32_t s2 = e[folder].child;
    ASSERT_LT(s2, e.size());
    EXPECT_EQ(e[s2].name, u"2");
    ASSERT_LT(e[s2].left, e.size());
    EXPECT_EQ(e[e[s2].left].name, u"0");
    const uint32_t s10 = e[s2].right;
    ASSERT_LT(s10, e.size());
    EXPECT_EQ(e[s10].name, u"10");
    ASSERT_LT(e[s10].right, e.size());
    EXPECT_EQ(e[e[s10].right].name, u"\x0003" u"DirData");
    // Every storage has its Blob and the PropData added after it; the
    // folder's own PropData is reachable too.
    for (const char16_t* s : {u"0", u"2", u"10"}) {
        const uint32_t storage = reader.Find(folder, s);
        EXPECT_NE(reader.Find(storage, u"Blob"), cfb::kNoStream);
    }
    const uint32_t own = reader.Find(folder, u"PropData");
    ASSERT_NE(own, cfb::kNoStream);
    EXPECT_EQ(reader.ReadStream(own), Bytes(30, 4));
    EXPECT_EQ(f.listing.objects.size(), 8u);  // A, B, C and the catalog's five names
}

TEST(ObjectsFolder, SafeFileNames) {
    const std::pair<std::string, std::string> cases[] = {
        {"Utility Functions", "Utility Functions"}, {"../../etc/passwd", "_._.._etc_passwd"},
        {"..", "_.."},                              {"", "_"},
        {"a\\b:c*d?e\"f<g>h|i", "a_b_c_d_e_f_g_h_i"}, {std::string("x\ny\x01z"), "x_y_z"},
        {".hidden", "_hidden"},                      {std::string(200, 'm'), std::string(120, 'm')},
        {std::string(119, 'm') + "\xC3\xBC", std::string(119, 'm')}};
    for (const auto& [name, safe] : cases) EXPECT_EQ(SafeFileName(name), safe) << name;
}

std::string readText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(ObjectsCommand, ListsAndExtracts) {
    test::TempDir dir;
    const std::string path = dir.file("shop.mdb");
    jetwriter::saveFile(path, jetwriter::write(storageDatabase(Format::Jet4)));
    const auto listed = cli::test::runTool({"objects", path});
    EXPECT_EQ(listed.status, cli::kExitOk) << listed.err;
    EXPECT_TRUE(cli::test::contains(listed.out, "Forms  2\n  Customer Form\n    storage: Forms/0 (Blob 5000 bytes, PropData 22 bytes)\n    code: Form_Customer Form.bas"));
    EXPECT_TRUE(cli::test::contains(listed.out, "Code modules  3"));

    const auto extracted = cli::test::runTool({"objects", path, "--extract", dir.path().string()});
    EXPECT_EQ(extracted.status, cli::kExitOk) << extracted.err;
    const auto folder = dir.path() / "Repaired_shop_objects";
    for (const char* file : {"project.adp", "Utilities.bas", "Form_Customer Form.bas", "Report_Sales Report.bas", "objects.txt"})
        EXPECT_TRUE(std::filesystem::is_regular_file(folder / file)) << file;
    EXPECT_TRUE(cli::test::contains(readText(folder / "Utilities.bas"), "Function Twice0(x As Long) As Long\r\n"));
    EXPECT_TRUE(cli::test::contains(readText(folder / "Form_Customer Form.bas"), "Kunden \xC3\xBC" "bersicht"));
    EXPECT_EQ(readText(folder / "objects.txt"), listed.out.substr(0, listed.out.find("Project file")) +
                                                    "Project file  project.adp (" +
                                                    std::to_string(std::filesystem::file_size(folder / "project.adp")) +
                                                    " bytes)\n");

    const auto missing = cli::test::runTool({"objects", path, "--extract", dir.file("nowhere")});
    EXPECT_EQ(missing.status, cli::kExitUnreadable);
}

TEST(ObjectsCommand, SaveKeepsTheObjectsBesideTheOutput) {
    for (Format format : {Format::Jet3, Format::Ace}) {
        SCOPED_TRACE(formatName(format));
        test::TempDir dir;
        const std::string path = dir.file(format == Format::Ace ? "shop.accdb" : "shop.mdb");
        jetwriter::saveFile(path, jetwriter::write(storageDatabase(format)));
        const auto repaired = cli::test::runTool({"repair", path});
        ASSERT_EQ(repaired.status, cli::kExitOk) << repaired.err;
        EXPECT_TRUE(cli::test::contains(repaired.out, "Objects folder  : " + (dir.path() / "Repaired_shop_objects").string()));
        EXPECT_TRUE(cli::test::contains(repaired.out, "Module source file(s) written  :  3"));
        EXPECT_TRUE(cli::test::contains(repaired.out, "Saving Forms\nObject(s) kept in the project file  :  2"));
        EXPECT_TRUE(std::filesystem::is_regular_file(dir.path() / "Repaired_shop_objects" / "Utilities.bas"));
        EXPECT_TRUE(std::filesystem::is_regular_file(dir.path() / "Repaired_shop.sqlite"));
    }
}

TEST(ObjectsCommand, SaveAnnouncesTheStoredSelection) {
    Fixture f(Format::Jet4, storageDatabase(Format::Jet4));
    CQuorvinAccessRecoveryApp& app = *f.scan.app;
    test::RecordingReceiver receiver(app);
    f.scan.engine->mainWindow = &receiver;
    ObjectsState(*f.scan.engine).keptProjects.clear();
    app.savedPath = f.dir.file("Repaired_objects.sqlite");
    // A name the storage lacks is not announced; the others by their place
    // in the selection.
    app.selectedForms = {"Orders", "Missing", "Customer Form"};
    app.selectedModules = {"Utilities"};
    ObjectsTransfer(*f.scan.engine).SaveAccessObjects();
    std::vector<intptr_t> saved;
    for (const auto& e : receiver.events)
        if (e.message == UM_OBJECT_SAVED) saved.push_back(e.lParam);
    EXPECT_EQ(saved, (std::vector<intptr_t>{0, 2, 0}));
    EXPECT_FALSE(f.scan.engine->savingForms || f.scan.engine->savingModules);
    EXPECT_TRUE(std::filesystem::is_regular_file(f.dir.path() / "Repaired_objects_objects" / "project.adp"));
    EXPECT_NE(std::find(receiver.logLines.begin(), receiver.logLines.end(), "Object(s) kept in the project file  :  2"),
              receiver.logLines.end());
}

TEST(ObjectsCorpus, NorthwindFormsReportsMacrosModulesAndSources) {
    const auto corpus = test::corpusDir();
    if (corpus.empty()) GTEST_SKIP() << "no corpus";
    auto scan = test::runScan((corpus / "mdbtestdata" / "nwind.mdb").string());
    ObjectsListing listing;
    ASSERT_TRUE(ObjectStorageReader(*scan.engine).CollectAccessObjects(listing));
    size_t counts[4] = {};
    for (const StoredObject& o : listing.objects) {
        EXPECT_GE(o.storage, 0) << o.name;
        EXPECT_TRUE(o.inCatalog) << o.name;
        ++counts[static_cast<int>(o.kind)];
    }
    EXPECT_EQ(counts[static_cast<int>(ObjectKind::Form)], 21u);
    EXPECT_EQ(counts[static_cast<int>(ObjectKind::Report)], 13u);
    EXPECT_EQ(counts[static_cast<int>(ObjectKind::Macro)], 7u);
    EXPECT_EQ(counts[static_cast<int>(ObjectKind::Module)], 3u);
    size_t lines = 0;
    for (const ModuleSource& m : listing.modules) {
        EXPECT_FALSE(m.damaged) << m.name;
        EXPECT_EQ(m.text.rfind("Attribute VB_Name = \"" + m.name + "\"\r\n", 0), 0u) << m.name;
        lines += m.lines;
    }
    EXPECT_EQ(listing.modules.size(), 15u);
    EXPECT_GT(lines, 900u);
    const ModuleSource* utility = module(listing, "Utility Functions");
    ASSERT_NE(utility, nullptr);
    EXPECT_TRUE(cli::test::contains(utility->text, "Function IsLoaded(ByVal strFormName As String) As Boolean"));

    // Every module, text for text, against an independent decode of the
    // rebuilt project file (its last sector is shorter than a sector).
    if (!test::haveOleFile()) GTEST_SKIP() << "python3-olefile is not installed";
    const std::vector<ProjectFile>& projects = ObjectsState(*scan.engine).keptProjects;
    ASSERT_EQ(projects.size(), 1u);
    EXPECT_NE(projects[0].image.size() % 512, 0u);
    test::TempDir dir;
    const std::string path = dir.file("project.adp");
    test::writeFile(path, projects[0].image);
    const std::map<std::string, std::string> theirs = test::oleModuleSources(path);
    EXPECT_EQ(theirs.size(), listing.modules.size());
    for (const ModuleSource& m : listing.modules) {
        SCOPED_TRACE(m.name);
        EXPECT_FALSE(m.incomplete);
        ASSERT_EQ(theirs.count(m.name), 1u);
        EXPECT_EQ(m.text, theirs.at(m.name));
        EXPECT_EQ(m.text.find('\0'), std::string::npos);
    }
    const ModuleSource* dialog = module(listing, "Form_Sales Reports Dialog");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->lines, 96u);
    const std::string ending = dialog->text.substr(0, dialog->text.find_last_not_of("\r\n") + 1);
    EXPECT_TRUE(ending.size() >= 7 && ending.compare(ending.size() - 7, 7, "End Sub") == 0)
        << ending.substr(ending.size() > 80 ? ending.size() - 80 : 0);
}

}  // namespace
}  // namespace talmera
