#include "tests/support/TestSupport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>

#include "engine/RecoverThread.h"

namespace talmera::test {

intptr_t RecordingReceiver::send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    std::string text;
    if (message == UM_LOG_LINE) {
        text = app_.logLine;
        logLines.push_back(text);
    }
    events.push_back({message, wParam, lParam, text});
    return 0;
}

void RecordingReceiver::post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (message == UM_RUN_FINISHED) ++finishedPosts;
    events.push_back({message, wParam, lParam, {}});
}

void RecordingReceiver::showMessageBox(const std::string& upper, const std::string& lower) {
    boxes.push_back(upper + "|" + lower);
}

void RecordingReceiver::showPlatformMessage(const std::string& text) { boxes.push_back("platform:" + text); }

ScanResult runScan(const std::string& path, bool includeDeleted, bool includeUnlisted) {
    ScanResult r;
    r.app = std::make_unique<CQuorvinAccessRecoveryApp>();
    r.app->selectedPath = path;
    r.app->scanRun = true;
    r.app->includeDeletedRecords = includeDeleted;
    r.app->includeUnlistedPages = includeUnlisted;
    r.receiver = std::make_unique<RecordingReceiver>(*r.app);
    r.engine = std::make_shared<CMDBRecovery>(*r.app);
    r.engine->sourcePath = path;
    r.app->engine = r.engine;
    CRecoverThread thread(*r.app, r.receiver.get());
    thread.sourcePath = path;
    thread.Run();
    return r;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "talmera-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

int runCommand(const std::string& command, std::string* output) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    std::string out;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    int status = pclose(pipe);
    if (output) *output = std::move(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string shellQuote(const std::string& text) {
    std::string q = "'";
    for (char c : text) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

bool haveProgram(const std::string& name) {
    return runCommand("command -v " + shellQuote(name) + " >/dev/null 2>&1", nullptr) == 0;
}

std::filesystem::path corpusDir() {
    std::filesystem::path dir = TALMERA_CORPUS_DIR;
    std::error_code ec;
    return std::filesystem::is_directory(dir, ec) ? dir : std::filesystem::path{};
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace talmera::test
