// Running talmera-repair in-process for the command tests.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/Commands.h"

namespace talmera::cli::test {

struct CommandResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs `talmera-repair args...` in this process, with both streams captured
// and no progress bar. With `answers`, questions are asked as on a terminal
// and answered with its lines.
inline CommandResult runTool(const std::vector<std::string>& args, const std::string* answers = nullptr) {
    std::vector<const char*> argv{"talmera-repair"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    std::ostringstream out, err;
    std::istringstream in(answers ? *answers : "");
    Terminal terminal{out, err, false};
    if (answers) terminal.in = &in;
    CommandResult result;
    result.status = runCommandLine(static_cast<int>(argv.size()), argv.data(), terminal);
    result.out = out.str();
    result.err = err.str();
    return result;
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace talmera::cli::test
