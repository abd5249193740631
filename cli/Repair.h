// The repair command's pieces: what a save selects, where the output goes,
// what happens when the output exists already, and the log report.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "cli/TerminalReceiver.h"

namespace talmera {
class CMDBRecovery;
struct CQuorvinAccessRecoveryApp;
}

namespace talmera::cli {

inline constexpr std::string_view kLogReportHeader =
    "Quorvin Talmera Access Database Repair...... Repairs Corrupted MS Access Database File..... Log Report";

// What the last line of a successful repair starts with.
inline constexpr std::string_view kSavedAtPrefix = "File saved at the location  : ";

// DIR/Repaired_<file name without its extension>.sqlite; DIR is the source's
// folder when outputDir is empty.
std::string repairOutputPath(const std::string& source, const std::string& outputDir);

// The report's file name: the requested one, with ".log" appended unless it
// ends in ".log" already (in any case).
std::string logReportPath(const std::string& requested);

// The report's bytes: the header line, then each line, every one followed by
// CR LF, as UTF-16 little-endian without a byte-order mark. Bytes that are not
// UTF-8 become U+FFFD; control characters are kept.
std::string logReportBytes(const std::vector<std::string>& lines);

// Fills the save's selection in the application state: every object the scan
// found (tables of deleted records only with includeDeleted), or only those
// named in `only`. Returns the names of `only` that name nothing the save can
// write.
std::vector<std::string> selectObjects(CQuorvinAccessRecoveryApp& app, const CMDBRecovery& engine,
                                       bool includeDeleted, const std::vector<std::string>& only);

// How an output file that exists already is handled.
enum class ExistingOutput {
    Refuse,     // nobody to ask: the repair ends before writing anything
    Ask,        // ask on the terminal
    Overwrite,  // --overwrite
    Rename,     // --rename: the time-stamped name beside it
};

// Thrown out of the output's creation when an existing output may not be
// replaced and no other name was accepted.
struct OutputDeclined {};

// The repair's receiver: prints the log as scan does, keeps every log line for
// the report, and answers the questions about an existing output.
class RepairReceiver : public TerminalReceiver {
public:
    // `in` and `err`: where the questions are answered and asked (Ask only).
    RepairReceiver(CQuorvinAccessRecoveryApp& app, std::ostream& out, ProgressBar& bar, ExistingOutput policy,
                   std::istream* in, std::ostream& err);

    const std::vector<std::string>& logLines() const { return logLines_; }

    intptr_t send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    bool askOverwrite(const std::string& path) override;
    std::string askNewLocation(const std::string& existing, const std::string& proposal) override;

private:
    bool ask(const std::string& question);

    CQuorvinAccessRecoveryApp& app_;
    ProgressBar& bar_;
    ExistingOutput policy_;
    std::istream* in_;
    std::ostream& err_;
    bool inputEnded_ = false;
    std::vector<std::string> logLines_;
};

}  // namespace talmera::cli
