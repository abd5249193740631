// Forms, reports, macros and modules into the output. With Microsoft Access
// each project file the readers build (accessobjects/) is opened in Access and
// every selected object copied into the output database. Without it (always on
// Linux) the project files, the module sources and a listing are kept beside
// the output, in its objects folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "accessobjects/AccessObjects.h"
#include "engine/MDBRecovery.h"

namespace talmera {

class ObjectsTransfer {
public:
    explicit ObjectsTransfer(CMDBRecovery& engine);

    // The save's step for forms, reports, macros and modules.
    void SaveAccessObjects();
    // The project file just built into the output through Access; kept for
    // the objects folder when Access does not run. 1 when an object was copied
    // (or the kept file holds one).
    int TransferObjects();
    // The chunks of the scratch database at path (newest Access).
    void CountScratchChunks(const std::string& path);
    // Access's security level for automation: 1 low while the transfer runs,
    // 0 back to what it was.
    void SetAutomationSecurity(int32_t flag);

private:
    CMDBRecovery& engine_;
    // The engine's parts the transfer reads and writes, under the engine's names.
    CQuorvinAccessRecoveryApp& app;
    IMessageReceiver*& mainWindow;
    bool& jet4Layout;
    uint16_t& pageSize;
    const std::string& outputPath;
    std::vector<std::string>& outputErrors;
    bool& savingForms;
    bool& savingReports;
    bool& savingMacros;
    bool& savingModules;
    AccessObjectsState& ObjectsState() { return talmera::ObjectsState(engine_); }
    void Log(const std::string& line) { engine_.Log(line); }
    void SendProgress(uintptr_t step, intptr_t value = 0) { engine_.SendProgress(step, value); }
    bool Stopped() const { return engine_.Stopped(); }
};

}  // namespace talmera
