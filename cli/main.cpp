#include <unistd.h>

#include <iostream>

#include "cli/Commands.h"

int main(int argc, char** argv) {
    talmera::cli::installInterruptHandler();
    talmera::cli::Terminal terminal{std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1};
    return talmera::cli::runCommandLine(argc, argv, terminal);
}
