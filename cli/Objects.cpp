#include "cli/Objects.h"

#include <sys/stat.h>

#include <filesystem>

#include "accessobjects/AccessObjects.h"
#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"

namespace talmera::cli {

namespace {
constexpr const char* kProgram = "talmera-repair";
}

int objectsCommand(CMDBRecovery& engine, CQuorvinAccessRecoveryApp& app, const std::string& path,
                   const std::string& extractDir, const Terminal& terminal) {
    if (!extractDir.empty()) {
        struct stat st {};
        if (::stat(extractDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            terminal.err << kProgram << ": '" << extractDir << "' is not a folder\n";
            return kExitUnreadable;
        }
    }
    ObjectsListing listing;
    const bool stored = ObjectStorageReader(engine).CollectAccessObjects(listing);
    if (app.stopRequested) return kExitInterrupted;
    if (!stored) terminal.err << kProgram << ": '" << path << "' has no readable object storage\n";
    std::vector<ProjectFile> projects;
    if (extractDir.empty()) {
        terminal.out << ListingText(listing, projects);
        terminal.out.flush();
        return terminal.out ? kExitOk : kExitOutputFailed;
    }
    const std::vector<ProjectFile>& kept = ObjectsState(engine).keptProjects;
    const std::string stem = std::filesystem::path(path).stem().string();
    const std::string folder =
        (std::filesystem::path(extractDir) / ("Repaired_" + SafeFileName(stem) + "_objects")).string();
    std::vector<std::string> written;
    std::string error;
    if (!WriteObjectsFolder(folder, kept, listing, written, error)) {
        terminal.err << kProgram << ": cannot write the objects folder: " << error << '\n';
        return kExitUnreadable;
    }
    terminal.out << ListingText(listing, kept);
    terminal.out << "Written to  " << folder << '\n';
    terminal.out.flush();
    return terminal.out ? kExitOk : kExitOutputFailed;
}

}  // namespace talmera::cli
