// The talmera-repair commands, callable in-process (the tests do) or from main.
#pragma once

#include <istream>
#include <ostream>
#include <string>

namespace talmera::cli {

// Exit statuses of talmera-repair.
inline constexpr int kExitOk = 0;            // scanned (objects found, or a valid but empty catalog); repair: saved, nothing lost
inline constexpr int kExitUnreadable = 1;    // the file cannot be read; repair: or the output cannot be written
inline constexpr int kExitNotAccess = 2;     // the file was read but is not an Access database
inline constexpr int kExitEncrypted = 2;     // the file is encrypted, and no correct password was given
inline constexpr int kExitNoSuchTable = 3;   // preview: no table of that name; repair: --only names nothing
inline constexpr int kExitExists = 4;        // repair: the output or report exists and may not be replaced
inline constexpr int kExitPartial = 5;       // repair: saved, but something was lost or refused
inline constexpr int kExitUsage = 64;        // bad command line
inline constexpr int kExitOutputFailed = 74; // standard output could not be written
inline constexpr int kExitInterrupted = 130; // stopped with Ctrl-C
// Standard output's reader went away (a closed pipe): main ends the program by
// SIGPIPE, quietly, as other Unix tools end.
inline constexpr int kExitClosedPipe = 141;

struct Terminal {
    std::ostream& out;
    std::ostream& err;
    bool progressBar = false;  // draw the progress bar on `err` (it is a terminal)
    bool outputIsTerminal = false;  // `out` is a terminal too: rows and the bar would mix
    // Where the repair's questions are answered (they are asked on `err`);
    // null when standard input or standard error is no terminal: nobody to ask.
    std::istream* in = nullptr;
};

// Parses the arguments (argv[0] is the program name) and runs the command.
// Returns the exit status.
int runCommandLine(int argc, const char* const* argv, const Terminal& terminal);

// Empty when `path` names a regular file that can be opened for reading;
// otherwise the reason, in the operating system's words where it has some.
std::string unreadableReason(const std::string& path);

// Lets the first Ctrl-C ask a running scan to stop; a second one ends the
// program the usual way.
void installInterruptHandler();

}  // namespace talmera::cli
