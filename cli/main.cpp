#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>

#include "cli/Commands.h"

int main(int argc, char** argv) {
    talmera::cli::installInterruptHandler();
    // A reader that went away (a closed pipe) makes a write fail with EPIPE:
    // the command stops writing, and the program then ends by SIGPIPE as
    // other tools do (a repair first finishes its output file).
    std::signal(SIGPIPE, SIG_IGN);
    const bool outputIsTerminal = ::isatty(STDOUT_FILENO) == 1;
    const bool errorIsTerminal = ::isatty(STDERR_FILENO) == 1;
    // A preview writes millions of lines: into a file or a pipe they go in
    // large blocks, flushed once at the end.
    if (!outputIsTerminal) std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    talmera::cli::Terminal terminal{std::cout, std::cerr, errorIsTerminal, outputIsTerminal};
    // Questions (an existing output) only when someone at a terminal can answer.
    if (errorIsTerminal && ::isatty(STDIN_FILENO) == 1) terminal.in = &std::cin;
    const int status = talmera::cli::runCommandLine(argc, argv, terminal);
    if (status == talmera::cli::kExitClosedPipe) {
        std::signal(SIGPIPE, SIG_DFL);
        std::raise(SIGPIPE);
    }
    return status;
}
