// Copying forms, reports, macros and modules into the output. With Microsoft
// Access the rebuilt project file is opened in Access and every selected
// object copied into the output database. Without it (always on Linux) the
// project file, the module sources and a listing are kept beside the output.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "accessobjects/AccessObjects.h"
#include "engine/ApplicationState.h"
#include "engine/LogLines.h"
#include "engine/MDBRecovery.h"
#include "engine/save/ObjectsTransfer.h"
#include "engine/save/OutputDatabase.h"
#include "output/dao/ComError.h"
#include "platform/MessageReceiver.h"

namespace talmera {

namespace {

constexpr uint32_t kScratchPage = 4096;
constexpr size_t kScratchChunkBytes = 3992;

// A private folder for the project file Access opens: created with a name
// nobody can predict, readable only by this user, removed afterwards.
class PrivateFolder {
public:
    PrivateFolder() {
        std::string base = std::filesystem::temp_directory_path().string() + "/talmera-XXXXXX";
        if (::mkdtemp(base.data())) path_ = base;
    }
    ~PrivateFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }
    // Keeps the folder: its owner removes it later.
    void release() { path_.clear(); }

private:
    std::string path_;
};

bool writeWhole(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool copyFile(const std::string& from, const std::string& to) {
    std::error_code error;
    return std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
}

}  // namespace

// The newest Access does not open project files: a scratch database made
// from the template gets a placeholder for every selected object and filler
// forms until its chunk table is long enough, then its chunks are overwritten
// with the project file's. Returns false when the transfer must end with 0.
static bool PrepareScratchDatabase(CMDBRecovery& engine, AccessObjectsState& s, const std::string& projectPath) {
    CQuorvinAccessRecoveryApp& app = engine.app;
    IMessageReceiver* window = engine.mainWindow;
    auto progress = [&](uintptr_t step, intptr_t value = 0) {
        if (window) window->send(UM_PROGRESS, step, value);
    };
    auto closeQuietly = [&]() {
        try {
            s.access->CloseCurrentDatabase();
        } catch (const std::exception&) {
        }
    };
    std::error_code sizeError;
    const uint64_t projectSize = std::filesystem::file_size(projectPath, sizeError);
    if (sizeError) return false;
    const uint64_t chunksNeeded = (projectSize + kScratchChunkBytes - 1) / kScratchChunkBytes;
    if (s.scratchFolder.empty()) {
        PrivateFolder folder;
        if (folder.path().empty()) return false;
        s.scratchFolder = folder.path();
        folder.release();
    }
    const std::string templ = s.installFolder + "/newst.dat";
    const std::string temp = s.scratchFolder + "/temp.mdb";
    uint64_t fillerNumber = 0;
    if (s.scratchPrepared) {
        s.access->OpenCurrentDatabase(temp, false);
        s.access->Close(s.access->CurrentObjectType(), s.access->CurrentObjectName(), 1);
        fillerNumber = static_cast<uint64_t>(s.access->ProjectCount(ProjectList::Forms)) + 1;
        closeQuietly();
    } else {
        if (!copyFile(templ, temp)) return false;
        if (!app.selectedMacros.empty()) {
            const std::string macros = s.scratchFolder + "/macro.mdb";
            if (!copyFile(templ, macros)) return false;
            s.access->OpenCurrentDatabase(macros, false);
            const std::string source = s.access->ProjectItemName(ProjectList::Macros, 0);
            progress(kProgressStart, static_cast<intptr_t>(app.selectedMacros.size()));
            for (const std::string& name : app.selectedMacros) {
                if (app.stopRequested) {
                    closeQuietly();
                    return false;
                }
                progress(kProgressStep);
                s.access->CopyObject(temp, name, kAccessMacro, source);
            }
            progress(kProgressEnd);
            closeQuietly();
            std::filesystem::remove(macros, sizeError);
        }
        s.access->OpenCurrentDatabase(temp, false);
        struct Placeholders {
            const std::vector<std::string>* names;
            int type;
        };
        for (const Placeholders& p : {Placeholders{&app.selectedForms, kAccessForm},
                                      Placeholders{&app.selectedReports, kAccessReport},
                                      Placeholders{&app.selectedModules, kAccessModule}}) {
            progress(kProgressStart, static_cast<intptr_t>(p.names->size()));
            for (const std::string& name : *p.names) {
                if (app.stopRequested) {
                    closeQuietly();
                    return false;
                }
                progress(kProgressStep);
                const std::string made = p.type == kAccessForm     ? s.access->CreateForm()
                                         : p.type == kAccessReport ? s.access->CreateReport()
                                                                   : s.access->AddCodeModule();
                s.access->Save(p.type, made);
                s.access->Close(p.type, made, 1);
                s.access->Rename(name, p.type, made);
            }
            progress(kProgressEnd);
        }
        closeQuietly();
        s.scratchPrepared = true;
    }
    ObjectsTransfer(engine).CountScratchChunks(temp);
    auto fillersFor = [&]() { return (chunksNeeded - s.scratchChunkCount) / 2 + 1; };
    if (s.scratchChunkCount < chunksNeeded) {
        uint64_t fillers = fillersFor();
        const uint64_t selected = app.selectedForms.size() + app.selectedReports.size() + app.selectedModules.size() +
                                  app.selectedMacros.size();
        if (fillers > 1000) fillers = fillers > selected ? fillers - selected : 0;
        const std::string fillerSource = s.scratchFolder + "/FormMacroDb.mdb";
        if (!copyFile(templ, fillerSource)) return false;
        // A template whose forms add no chunks would loop for ever: a round
        // that adds none ends the filling.
        uint32_t before = s.scratchChunkCount;
        while (s.scratchChunkCount < chunksNeeded) {
            progress(kProgressStart, static_cast<intptr_t>(fillers));
            if (app.stopRequested) {
                closeQuietly();
                return false;
            }
            s.access->OpenCurrentDatabase(fillerSource, false);
            for (uint64_t k = 0; k < fillers; ++k) {
                if (app.stopRequested) {
                    closeQuietly();
                    return false;
                }
                progress(kProgressStep);
                const std::string form = s.access->ProjectItemName(ProjectList::Forms, 0);
                s.access->CopyObject(temp, form + std::to_string(fillerNumber), kAccessForm, form);
                ++fillerNumber;
            }
            progress(kProgressEnd);
            closeQuietly();
            ObjectsTransfer(engine).CountScratchChunks(temp);
            if (s.scratchChunkCount <= before) break;
            before = s.scratchChunkCount;
            if (s.scratchChunkCount < chunksNeeded) fillers = fillersFor();
        }
        std::filesystem::remove(fillerSource, sizeError);
    }
    // The patch: the project file's chunks into temp.mdb's chunk rows, zeros
    // into the rows beyond them.
    std::ifstream project(projectPath, std::ios::binary);
    std::fstream scratch(temp, std::ios::binary | std::ios::in | std::ios::out);
    if (!project || !scratch) return false;
    progress(kProgressStart, static_cast<intptr_t>(chunksNeeded));
    uint64_t remaining = chunksNeeded;
    std::vector<char> buffer(kScratchChunkBytes);
    for (const auto& [number, page] : s.scratchChunks) {
        if (app.stopRequested) {
            closeQuietly();
            return false;
        }
        std::fill(buffer.begin(), buffer.end(), 0);
        if (remaining != 0) {
            project.clear();
            project.seekg(static_cast<std::streamoff>((uint64_t{number} - 1) * kScratchChunkBytes));
            project.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            --remaining;
        }
        scratch.seekp(static_cast<std::streamoff>(page + 93));
        scratch.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    }
    progress(kProgressEnd);
    return static_cast<bool>(scratch);
}

ObjectsTransfer::ObjectsTransfer(CMDBRecovery& engine)
    : engine_(engine), app(engine.app), mainWindow(engine.mainWindow), jet4Layout(engine.jet4Layout),
      pageSize(engine.pageSize), outputPath(engine.outputPath),
      outputErrors(engine.outputErrors), savingForms(engine.savingForms), savingReports(engine.savingReports),
      savingMacros(engine.savingMacros), savingModules(engine.savingModules) {}

void ObjectsTransfer::SetAutomationSecurity(int32_t flag) {
    AccessObjectsState& s = ObjectsState();
    WriteSecurityValues(*s.registry, s.version, flag == 1);
}

void ObjectsTransfer::CountScratchChunks(const std::string& path) {
    AccessObjectsState& s = ObjectsState();
    s.scratchChunks.clear();
    s.scratchChunkCount = 0;
    PageFile file;
    if (!file.open(path)) return;
    const uint64_t pages = file.length() / kScratchPage;
    SendProgress(kProgressStart, static_cast<intptr_t>(pages));
    std::vector<uint64_t> dataPages;
    for (uint64_t p = 0; p < pages; ++p) {
        SendProgress(kProgressStep);
        if (Stopped()) {
            if (s.access) {
                try {
                    s.access->CloseCurrentDatabase();
                } catch (const std::exception&) {
                }
            }
            return;
        }
        const uint64_t pos = p * kScratchPage;
        uint8_t head[8];
        file.read(pos, 8, head);
        if (head[0] == 0x01 && std::memcmp(head + 4, "LVAL", 4) != 0) dataPages.push_back(pos);
    }
    SendProgress(kProgressEnd);
    bool found = false;
    uint32_t owner = 0;
    for (uint64_t pos : dataPages) {
        uint8_t sig[8];
        file.read(pos + 93, 8, sig);
        if (std::memcmp(sig, cfb::kSignature, 8) == 0 && file.u16(pos + 12) == 1) {
            owner = file.u32(pos + 4);
            found = true;
            break;
        }
    }
    if (!found) return;
    for (uint64_t pos : dataPages) {
        if (file.u32(pos + 4) != owner) continue;
        const uint16_t number = file.u16(pos + 4085);
        if (number != 0) s.scratchChunks.emplace_back(number, pos);
    }
    std::stable_sort(s.scratchChunks.begin(), s.scratchChunks.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    s.scratchChunkCount = static_cast<uint32_t>(s.scratchChunks.size());
}

int ObjectsTransfer::TransferObjects() {
    AccessObjectsState& s = ObjectsState();
    // No Access: the project file is kept as it is for the objects folder;
    // the result says whether it holds any object.
    if (!s.access) return KeepProjectFile(s);
    PrivateFolder work;
    if (work.path().empty()) return 0;
    const std::string projectPath = work.path() + "/seraecg001.adp";
    if (!writeWhole(projectPath, s.projectImage)) return 0;
    // A restart replaces the application object: always call the current one.
    auto closeQuietly = [&]() {
        try {
            if (s.access) s.access->CloseCurrentDatabase();
        } catch (const std::exception&) {
        }
    };
    int result = 0;
    try {
        if (s.version.newest) {
            try {
                if (!PrepareScratchDatabase(engine_, s, projectPath)) return 0;
            } catch (const AutomationError& error) {
                outputErrors.push_back("DbConnection:" + dao::FormatComError(error.code, error.source, error.description));
                return 0;
            } catch (const std::exception&) {
                // A file error ends the preparation; the transfer goes on.
            }
        }
        closeQuietly();
        if (s.version.newest) {
            s.access->OpenCurrentDatabase(s.scratchFolder + "/temp.mdb", false);
            s.access->Close(s.access->CurrentObjectType(), s.access->CurrentObjectName(), 1);
        } else {
            s.access->OpenCurrentDatabase(projectPath, false);
        }
        // Names read from the last item to the first: each list holds the
        // project's order reversed.
        auto readList = [&](ProjectList list, std::vector<std::string>* into) {
            const int count = s.access->ProjectCount(list);
            for (int i = count - 1; i >= 0; --i) {
                if (app.stopRequested) return false;
                const std::string name = s.access->ProjectItemName(list, i);
                if (into) into->push_back(name);
            }
            return true;
        };
        s.projectFormNames.clear();
        s.projectReportNames.clear();
        s.projectModuleNames.clear();
        s.projectMacroNames.clear();
        std::vector<std::string> fifth;
        if (!readList(ProjectList::Forms, &s.projectFormNames) || !readList(ProjectList::Reports, &s.projectReportNames) ||
            !readList(ProjectList::Modules, &s.projectModuleNames) || !readList(ProjectList::Fifth, &fifth) ||
            !readList(ProjectList::Macros, &s.projectMacroNames)) {
            closeQuietly();
            return 0;
        }
        struct Kind {
            int type;
            const char* line;
            bool* saving;
            const std::vector<std::string>* names;
            const std::vector<std::string>* selected;
            const char* kind;
        };
        const Kind kinds[] = {{kAccessForm, "Saving Forms", &savingForms, &s.projectFormNames, &app.selectedForms, "form"},
                              {kAccessReport, "Saving Reports", &savingReports, &s.projectReportNames, &app.selectedReports, "report"},
                              {kAccessMacro, "Saving Macros", &savingMacros, &s.projectMacroNames, &app.selectedMacros, "macro"},
                              {kAccessModule, "Saving Modules", &savingModules, &s.projectModuleNames, &app.selectedModules, "module"}};
        for (const Kind& kind : kinds) {
            if (!kind.names->empty()) {
                Log(kind.line);
                result = 1;
            }
            bool restart = false;
            for (auto name = kind.names->rbegin(); name != kind.names->rend(); ++name) {
                SendProgress(kProgressStart, static_cast<intptr_t>(kind.selected->size()));
                for (size_t n = 0; n < kind.selected->size(); ++n) {
                    const std::string& selected = (*kind.selected)[n];
                    if (app.stopRequested) {
                        closeQuietly();
                        return 0;
                    }
                    if (selected != *name) continue;
                    SendProgress(kProgressStep);
                    try {
                        // Into the database being written (it is moved into place when the save ends).
                        const std::string& into = OutputOf(engine_).writingPath;
                        s.access->CopyObject(into.empty() ? app.savedPath : into, *name, kind.type, *name);
                        *kind.saving = true;
                        // The tree takes the number as the object's place in the selection.
                        if (mainWindow) mainWindow->send(UM_OBJECT_SAVED, 0, static_cast<intptr_t>(n));
                        OutputOf(engine_).ReportObject(kind.kind, *name, true);
                    } catch (const AutomationError& error) {
                        outputErrors.push_back("DbConnection:" + dao::FormatComError(error.code, error.source, error.description));
                        OutputOf(engine_).ReportObject(kind.kind, *name, false, "Access refused to copy it: " + error.description);
                    } catch (const std::exception&) {
                        if (kind.type == kAccessModule) throw;
                        restart = true;
                        break;
                    }
                }
                SendProgress(kProgressEnd);
            }
            *kind.saving = false;
            if (restart) {
                closeQuietly();
                s.access.reset();
                while (s.platform->AccessRunning(true)) {
                }
                s.access = s.platform->CreateApplication();
                if (!s.access) return 0;
                app.accessStarted = true;
                s.access->SetUserControl(false);
                s.access->OpenAccessProject(projectPath, false);
            }
            if (app.stopRequested && kind.type != kAccessModule) {
                if (!kind.names->empty()) {
                    Log(log::kSeparator);
                }
                closeQuietly();
                return 0;
            }
        }
        if (!s.projectFormNames.empty() || !s.projectReportNames.empty() || !s.projectMacroNames.empty() ||
            !s.projectModuleNames.empty() || !fifth.empty()) {
            Log(log::kSeparator);
        }
        closeQuietly();
    } catch (const AutomationError& error) {
        outputErrors.push_back("DbConnection:" + dao::FormatComError(error.code, error.source, error.description));
        return result;
    } catch (const std::exception&) {
        return result;
    }
    return result;
}

void ObjectsTransfer::SaveAccessObjects() {
    if (app.selectedForms.empty() && app.selectedReports.empty() && app.selectedMacros.empty() &&
        app.selectedModules.empty())
        return;
    AccessObjectsState& s = ObjectsState();
    s.version = s.platform->DetectVersion();
    SetAutomationSecurity(1);
    s.access = s.platform->CreateApplication();
    ObjectsListing listing;
    if (s.access) {
        app.accessStarted = true;
        try {
            s.access->SetUserControl(false);
            const bool layout = jet4Layout;
            const uint16_t size = pageSize;
            // Each project file the readers build is copied through Access.
            s.transfer = [this] { return TransferObjects(); };
            ObjectStorageReader reader(engine_);
            if ((jet4Layout ? reader.ReadChunkedStorage() : reader.ReadChunkedStorage3()) == 0) {
                jet4Layout = true;
                reader.ReadStorageTable();
            }
            jet4Layout = layout;
            pageSize = size;
        } catch (const std::exception&) {
        }
        s.transfer = nullptr;
        s.access.reset();
        while (s.platform->AccessRunning(true)) {
        }
        app.accessStarted = false;
        SetAutomationSecurity(0);
        return;
    }
    SetAutomationSecurity(0);

    // No Access: what the storage holds is kept beside the output database.
    Log("MS Access is not installed on this machine.");
    Log("Forms, reports, macros and modules are kept beside the output database");
    ObjectStorageReader(engine_).CollectAccessObjects(listing);
    if (Stopped()) return;
    COutputDatabase& output = OutputOf(engine_);
    // Written into a folder of its own, which goes beside the output
    // database, named after it, when the save is over (PlaceOutput).
    // Outside a save (nothing being written), straight into that folder.
    const std::string folder = COutputDatabase::ObjectsFolderOf(app.savedPath.empty() ? outputPath : app.savedPath);
    const bool saving = !output.writingPath.empty();
    struct Kind {
        ObjectKind kind;
        const char* line;
        bool* saving;
        const std::vector<std::string>* selected;
        const char* name;
    };
    const Kind kinds[] = {{ObjectKind::Form, "Saving Forms", &savingForms, &app.selectedForms, "form"},
                          {ObjectKind::Report, "Saving Reports", &savingReports, &app.selectedReports, "report"},
                          {ObjectKind::Macro, "Saving Macros", &savingMacros, &app.selectedMacros, "macro"},
                          {ObjectKind::Module, "Saving Modules", &savingModules, &app.selectedModules, "module"}};
    auto noneSaved = [&](const std::string& why) {
        for (const Kind& kind : kinds) {
            for (const std::string& name : *kind.selected) output.ReportObject(kind.name, name, false, why);
        }
    };
    if (s.keptProjects.empty()) {
        Log("No object storage could be read from the file");
        Log(log::kSeparator);
        noneSaved("no object storage could be read from the file");
        return;
    }
    std::vector<std::string> written;
    std::string error;
    const std::string writing = saving ? output.ObjectsFolderBeingWritten() : folder;
    if (writing.empty()) error = folder + ": " + std::strerror(errno);
    if (writing.empty() || !WriteObjectsFolder(writing, s.keptProjects, listing, written, error)) {
        Log("The objects folder could not be written  : " + error);
        Log(log::kSeparator);
        noneSaved("the objects folder could not be written: " + error);
        return;
    }
    // Announce each selected object whose storage went into the project file.
    for (const Kind& kind : kinds) {
        if (kind.selected->empty()) continue;
        Log(kind.line);
        size_t stored = 0;
        for (size_t n = 0; n < kind.selected->size(); ++n) {
            bool kept = false;
            for (const StoredObject& o : listing.objects) {
                if (o.kind != kind.kind || o.storage < 0 || o.name != (*kind.selected)[n]) continue;
                // Numbered by the object's place in the selection, which is
                // how the tree finds it: a count would name an earlier object
                // once one without storage was passed over.
                *kind.saving = true;
                if (mainWindow) mainWindow->send(UM_OBJECT_SAVED, 0, static_cast<intptr_t>(n));
                ++stored;
                kept = true;
                break;
            }
            output.ReportObject(kind.name, (*kind.selected)[n], kept,
                                kept ? std::string() : "its storage was not found in the file");
        }
        *kind.saving = false;
        Log(log::Counted("Object(s) kept in the project file  :", stored));
    }
    size_t lines = 0;
    for (const ModuleSource& m : listing.modules) lines += m.lines;
    Log("Objects folder  : " + folder);
    for (const ProjectFile& p : s.keptProjects) Log("Project file written  : " + p.fileName);
    Log(log::Counted("Module source file(s) written  :", listing.modules.size()));
    Log(log::Counted("Module source line(s)  :", lines));
    if (listing.unreadableParts) Log(log::Counted("Unreadable storage part(s) passed over  :", listing.unreadableParts));
    Log(log::kSeparator);
}

}  // namespace talmera
