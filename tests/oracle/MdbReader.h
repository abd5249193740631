// mdb-reader (the npm package) as a second independent reader of Access
// files: tests compare what the writer wrote, and what the repair kept, with
// what it reads.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace oracle {

// True when Node and the pinned mdb-reader are installed in the build folder.
bool haveMdbReader();
// What a test that needs it says when it skips.
const char* mdbReaderMissing();

// The tables of a file as mdb-dump.mjs prints them (all user tables when
// `tables` is empty; with `system` the hidden ones too). Throws
// std::runtime_error with mdb-reader's message when it refuses the file.
nlohmann::json mdbReaderDump(const std::string& file, const std::vector<std::string>& tables = {}, bool system = false);

}  // namespace oracle
