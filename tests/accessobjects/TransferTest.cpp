// The transfer through Access, with a stand-in application that records what
// it is asked; the scratch database of the newest Access; the security values.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "TestSupport.h"
#include "accessobjects/AccessObjects.h"
#include "accessobjects/Security.h"
#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "jetwriter/JetWriter.h"
#include "platform/MessageReceiver.h"
#include "engine/save/ObjectsTransfer.h"

namespace talmera {
namespace {

using jetwriter::Bytes;

class FakeAccess : public IAccessApplication {
public:
    std::map<ProjectList, std::vector<std::string>> lists;  // in the project's order
    std::vector<std::string> calls;
    std::set<std::string> refused;                           // copies refused with a dispatch error
    Bytes scratchAtLastOpen;
    int created = 0;

    void SetUserControl(bool) override {}
    void OpenCurrentDatabase(const std::string& path, bool) override {
        calls.push_back("open " + path.substr(path.rfind('/') + 1));
        if (path.size() >= 8 && path.compare(path.size() - 8, 8, "temp.mdb") == 0) {
            std::ifstream in(path, std::ios::binary);
            scratchAtLastOpen.assign(std::istreambuf_iterator<char>(in), {});
        }
    }
    void OpenAccessProject(const std::string&, bool) override { calls.push_back("project"); }
    void CloseCurrentDatabase() override { calls.push_back("close"); }
    int ProjectCount(ProjectList list) override { return static_cast<int>(lists[list].size()); }
    std::string ProjectItemName(ProjectList list, int index) override { return lists[list].at(static_cast<size_t>(index)); }
    std::string CreateForm() override { return "Form" + std::to_string(++created); }
    std::string CreateReport() override { return "Report" + std::to_string(++created); }
    int CurrentObjectType() override { return kAccessForm; }
    std::string CurrentObjectName() override { return "Form1"; }
    std::string AddCodeModule() override { return "Module" + std::to_string(++created); }
    void Save(int, const std::string& name) override { calls.push_back("save " + name); }
    void Close(int, const std::string&, int) override {}
    void Rename(const std::string& newName, int, const std::string& oldName) override {
        calls.push_back("rename " + oldName + " " + newName);
    }
    void CopyObject(const std::string&, const std::string& newName, int type, const std::string& source) override {
        if (refused.count(newName)) throw AutomationError(static_cast<int32_t>(0x800A09B6), "Access", "refused");
        calls.push_back("copy " + std::to_string(type) + " " + source + " as " + newName);
    }
};

struct Transfer {
    CQuorvinAccessRecoveryApp app;
    test::RecordingReceiver receiver{app};
    CMDBRecovery engine{app};
    FakeAccess* access = nullptr;

    Transfer() {
        engine.mainWindow = &receiver;
        auto fake = std::make_unique<FakeAccess>();
        access = fake.get();
        ObjectsState(engine).access = std::move(fake);
        ObjectsState(engine).projectImage = Bytes(100, 1);
        app.savedPath = "/out/Repaired_shop.mdb";
    }
    // The UM_OBJECT_SAVED numbers, in order.
    std::vector<intptr_t> saved() const {
        std::vector<intptr_t> n;
        for (const auto& e : receiver.events)
            if (e.message == UM_OBJECT_SAVED) n.push_back(e.lParam);
        return n;
    }
};

TEST(TransferObjects, CopiesEachSelectionInTheProjectsOrder) {
    Transfer t;
    t.access->lists[ProjectList::Forms] = {"Orders", "Customers"};
    t.access->lists[ProjectList::Macros] = {"AutoExec"};
    t.access->refused = {"AutoExec"};
    // Selected twice: copied twice; a different letter case: not copied.
    t.app.selectedForms = {"Customers", "orders", "Customers", "Orders"};
    t.app.selectedMacros = {"AutoExec"};
    EXPECT_EQ(ObjectsTransfer(t.engine).TransferObjects(), 1);
    std::vector<std::string> copies;
    for (const std::string& c : t.access->calls)
        if (c.rfind("copy", 0) == 0) copies.push_back(c);
    EXPECT_EQ(copies, (std::vector<std::string>{"copy 2 Orders as Orders", "copy 2 Customers as Customers",
                                                "copy 2 Customers as Customers"}));
    // Each copy is announced by its place in the selection (the window marks
    // that item); the refused macro is not announced.
    EXPECT_EQ(t.saved(), (std::vector<intptr_t>{3, 0, 2}));
    EXPECT_EQ(t.receiver.logLines, (std::vector<std::string>{"Saving Forms", "Saving Macros", std::string(48, '-')}));
    EXPECT_FALSE(t.engine.savingForms);
    ASSERT_FALSE(t.engine.outputErrors.empty());
    EXPECT_EQ(t.engine.outputErrors.back().rfind("DbConnection:Message : ", 0), 0u);
}

TEST(TransferObjects, EmptyProjectLogsNothingAndFails) {
    Transfer t;
    t.app.selectedForms = {"Customers"};
    EXPECT_EQ(ObjectsTransfer(t.engine).TransferObjects(), 0);
    EXPECT_TRUE(t.receiver.logLines.empty());
    EXPECT_TRUE(t.saved().empty());
}

TEST(TransferObjects, StopEndsTheTransfer) {
    Transfer t;
    t.access->lists[ProjectList::Forms] = {"Customers"};
    t.app.selectedForms = {"Customers"};
    t.app.stopRequested = true;
    EXPECT_EQ(ObjectsTransfer(t.engine).TransferObjects(), 0);
    EXPECT_TRUE(t.saved().empty());
}

// A Jet 4 database whose chunk table holds `chunks` chunks.
Bytes chunkedDatabase(size_t chunks) {
    jetwriter::Database db;
    db.format = jetwriter::Format::Jet4;
    Bytes blob(chunks * 3992 - 3000, 9);
    db.objectStorage = {{"Forms/0/Blob", false, blob}};
    jetwriter::Layout layout;
    Bytes image = jetwriter::write(db, &layout);
    return image;
}

TEST(TransferObjects, NewestAccessPatchesTheScratchDatabase) {
    test::TempDir dir;
    const Bytes templ = chunkedDatabase(6);
    test::writeFile(dir.file("newst.dat"), templ);
    Transfer t;
    ObjectsTransfer(t.engine).CountScratchChunks(dir.file("newst.dat"));
    const uint32_t templateChunks = ObjectsState(t.engine).scratchChunkCount;
    ASSERT_GE(templateChunks, 5u);
    AccessObjectsState& s = ObjectsState(t.engine);
    s.version.newest = s.version.v14 = true;
    s.installFolder = dir.path().string();
    // Two whole chunks and one byte: three chunks are needed.
    s.projectImage = Bytes(2 * 3992 + 1, 0);
    for (size_t i = 0; i < s.projectImage.size(); ++i) s.projectImage[i] = static_cast<uint8_t>(1 + i % 200);
    t.access->lists[ProjectList::Forms] = {"Customers"};
    t.app.selectedForms = {"Customers"};
    EXPECT_EQ(ObjectsTransfer(t.engine).TransferObjects(), 1);
    EXPECT_TRUE(s.scratchPrepared);
    // The placeholder: a new form saved and renamed to the selected name.
    EXPECT_NE(std::find(t.access->calls.begin(), t.access->calls.end(), "rename Form1 Customers"), t.access->calls.end());
    // temp.mdb as Access opened it after the patch: the project's chunks in
    // the first chunk rows, zeros in the rest.
    const Bytes& scratch = t.access->scratchAtLastOpen;
    ASSERT_EQ(scratch.size(), templ.size());
    ASSERT_EQ(s.scratchChunks.size(), templateChunks);
    for (size_t k = 0; k < s.scratchChunks.size(); ++k) {
        const uint64_t at = s.scratchChunks[k].second + 93;
        for (size_t i = 0; i < 3992; ++i) {
            const size_t projectAt = (s.scratchChunks[k].first - 1) * 3992 + i;
            const uint8_t expected = k < 3 && projectAt < s.projectImage.size() ? s.projectImage[projectAt] : 0;
            ASSERT_EQ(scratch[at + i], expected) << "chunk row " << k << " byte " << i;
        }
    }
    DropScratchDatabase(s);
    EXPECT_FALSE(s.scratchPrepared);
}

class RecordingRegistry : public IUserRegistry {
public:
    std::vector<std::string> writes;
    bool WriteDword(const std::string& key, const std::string& value, uint32_t data) override {
        writes.push_back(key + "|" + value + "=" + std::to_string(data));
        return true;
    }
};

TEST(AutomationSecurity, KeysFollowTheDetectedVersion) {
    struct Case {
        const char* version;
        const char* office;  // nullptr: nothing written
    };
    const Case cases[] = {{"Access.Application.16", "14.0"}, {"Access.Application.15", "14.0"},
                          {"Access.Application.14", "14.0"}, {"Access.Application.12", "12.0"},
                          {"Access.Application.9", "9.0"},   {"Access.Application.8", nullptr},
                          {"", nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        CQuorvinAccessRecoveryApp app;
        CMDBRecovery engine(app);
        auto registry = std::make_unique<RecordingRegistry>();
        RecordingRegistry& r = *registry;
        ObjectsState(engine).registry = std::move(registry);
        ObjectsState(engine).version = ParseAccessVersion(c.version);
        ObjectsTransfer(engine).SetAutomationSecurity(1);
        ObjectsTransfer(engine).SetAutomationSecurity(0);
        if (!c.office) {
            EXPECT_TRUE(r.writes.empty());
            continue;
        }
        const std::string base = std::string("Software\\Microsoft\\Office\\") + c.office + "\\Access";
        EXPECT_EQ(r.writes, (std::vector<std::string>{
                                base + "\\Security|VBAWarnings=1", base + "\\Security|Level=1",
                                base + "\\Jet\\4.0\\Engines|SandboxMode=1", base + "\\Security|VBAWarnings=0",
                                base + "\\Security|Level=2", base + "\\Jet\\4.0\\Engines|SandboxMode=0"}));
    }
    // Linux: no Access, no registry: the save is not held up.
    EXPECT_EQ(NoAccessPlatform().CreateApplication(), nullptr);
    EXPECT_FALSE(NoAccessPlatform().AccessRunning(true));
}

}  // namespace
}  // namespace talmera
