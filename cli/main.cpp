#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "cli/Commands.h"

int main(int argc, char** argv) {
    talmera::cli::installInterruptHandler();
    const bool outputIsTerminal = ::isatty(STDOUT_FILENO) == 1;
    // A preview writes millions of lines: into a file or a pipe they go in
    // large blocks, flushed once at the end.
    if (!outputIsTerminal) std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    talmera::cli::Terminal terminal{std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1, outputIsTerminal};
    return talmera::cli::runCommandLine(argc, argv, terminal);
}
