// The one process-wide state shared by the front ends and the recovery thread.
//
// The recovery thread and the front end share it without locks: the run sends
// every message synchronously, so hand-over texts are consumed before the run
// writes them again, and the front end writes only stopRequested while a run is
// active. Flags that one side polls while the other writes are atomic.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace talmera {

class CMDBRecovery;
class CRecoverThread;
struct RecoveryReport;

struct CQuorvinAccessRecoveryApp {
    // Run control
    std::shared_ptr<CMDBRecovery> engine;
    CRecoverThread* worker = nullptr;
    std::atomic<bool> idle{true};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> treeLocked{false};
    bool scanRun = false;
    bool previewMode = false;
    bool outputCreated = false;
    bool rescan = false;
    bool includeDeletedRecords = false;
    bool saveSucceeded = false;
    bool outputStarted = false;
    bool invalidFile = false;
    bool catalogFound = false;
    bool accessMissing = true;
    bool accessNewTypeNames = false;
    bool accessStarted = false;

    // Pages the usage map does not list are normally set aside; this takes them too.
    bool includeUnlistedPages = false;
    // Code page of 8-bit texts (Jet 3 names and texts), as an iconv name.
    std::string codePage = "WINDOWS-1252";

    // Paths
    std::string selectedPath;
    std::string outputFolder;
    std::string fileName;
    std::string savedPath;
    std::string tempFolder;

    // Hand-over texts
    std::string logLine;
    std::string messageLine1;
    std::string messageLine2;
    std::vector<std::string> currentRowValues;

    // Counts and names from the catalog
    int tableCount = 0;
    int queryCount = 0;
    int formCount = 0;
    int reportCount = 0;
    int macroCount = 0;  // includes the database's own catalog entry
    int moduleCount = 0;
    std::vector<std::string> formNames;
    std::vector<std::string> reportNames;
    std::vector<std::string> macroNames;
    std::vector<std::string> moduleNames;

    // What the last scan found and lost, or what the last save saved and
    // lost (engine/save/RecoveryReport.h): set by the run before it posts
    // UM_RUN_FINISHED, kept when the engine is replaced (a silent re-scan
    // leaves it alone). Empty before the first scan.
    std::shared_ptr<const RecoveryReport> recoveryReport;

    // What a save is to write: names of the objects checked when Save starts.
    std::vector<std::string> selectedTables;
    std::vector<std::string> selectedQueries;
    std::vector<std::string> selectedForms;
    std::vector<std::string> selectedReports;
    std::vector<std::string> selectedMacros;
    std::vector<std::string> selectedModules;
    std::vector<std::string> selectedLinkedTables;
};

}  // namespace talmera
