#include "MdbReader.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <sys/wait.h>

namespace oracle {

namespace {

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs a command; its exit status, with standard output and error in *out.
int run(const std::string& command, std::string& out) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) throw std::runtime_error("cannot run " + command);
    std::array<char, 65536> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
    const int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool haveMdbReader() {
    static const bool have = [] {
        std::string out;
        return std::filesystem::exists(std::filesystem::path(TALMERA_ORACLE_DIR) / "node_modules/mdb-reader/package.json") &&
               run("command -v node", out) == 0;
    }();
    return have;
}

const char* mdbReaderMissing() {
    return "mdb-reader is not installed (needs Node and npm: scripts/setup.sh; the build installs the package)";
}

nlohmann::json mdbReaderDump(const std::string& file, const std::vector<std::string>& tables, bool system) {
    std::string command = "node " + quote(std::string(TALMERA_ORACLE_DIR) + "/mdb-dump.mjs") + " " + quote(file);
    if (system) command += " --system";
    for (const std::string& t : tables) command += " " + quote(t);
    std::string out;
    if (run(command, out) != 0) throw std::runtime_error("mdb-reader refused " + file + ": " + out);
    return nlohmann::json::parse(out);
}

}  // namespace oracle
