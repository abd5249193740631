// The attachments command's pieces: listing a table's attached files and
// writing them out under safe names.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace talmera {
class CMDBRecovery;
struct tableInfo;
}

namespace talmera::cli {

// A name from the damaged file made safe as one file name: no path
// separators, no "..", no control characters, not empty, at most 200 bytes.
std::string SafeFileName(const std::string& name);

// Creates dir/name for writing, or dir/"name (n).ext" when that exists;
// never replaces a file nor follows a link. Returns the descriptor (path: the
// file's path), or -1 with errno set.
int createNewFile(const std::string& dir, const std::string& name, std::string& path);

// Writes data into dir under the safe form of name, as a new file
// (createNewFile); returns its path, or empty when it could not be written
// (err says why).
std::string writeNewFile(const std::string& dir, const std::string& name, const std::vector<uint8_t>& data,
                         std::ostream& err);

// Lists the table's attachments (a header line, then one tab-separated line
// each: column, row key, file name, bytes, and "incomplete" when the data
// broke), and with extractDir writes each file there, never replacing an
// existing file (a second name gets " (2)", " (3)", ... before its
// extension). Returns false when a file could not be written (err says why).
bool listAttachments(CMDBRecovery& engine, const tableInfo& table, const std::string& extractDir,
                     std::ostream& out, std::ostream& err);

}  // namespace talmera::cli
