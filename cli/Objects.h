// The objects command: the forms, reports, macros and modules a file holds,
// with their storage entries and the source of their code; with a folder, the
// same files the save keeps beside its output.
#pragma once

#include <string>

#include "cli/Commands.h"

namespace talmera {
class CMDBRecovery;
struct CQuorvinAccessRecoveryApp;
}

namespace talmera::cli {

// Runs on a file already scanned. extractDir empty: list only. Otherwise the
// folder Repaired_<name>_objects is written inside extractDir.
int objectsCommand(CMDBRecovery& engine, CQuorvinAccessRecoveryApp& app, const std::string& path,
                   const std::string& extractDir, const Terminal& terminal);

}  // namespace talmera::cli
