// Helpers shared by the test programs: a receiver that records a run, a
// temporary folder, running a command, and the corpus location.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "platform/MessageReceiver.h"

namespace talmera::test {

// Records every message of a run, with the hand-over texts as they were when
// the message arrived.
class RecordingReceiver : public IMessageReceiver {
public:
    explicit RecordingReceiver(CQuorvinAccessRecoveryApp& app) : app_(app) {}

    struct Event {
        uint32_t message;
        uintptr_t wParam;
        intptr_t lParam;
        std::string text;  // the log line or box texts
    };

    intptr_t send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    void post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    void showMessageBox(const std::string& upper, const std::string& lower) override;
    void showPlatformMessage(const std::string& text) override;
    // Answers with passwords[attempt] while there is one.
    std::optional<std::string> askPassword(const std::string& path, int attempt) override;

    std::vector<std::string> passwords;  // the answers to the password question, in turn
    int passwordQuestions = 0;
    std::vector<Event> events;
    std::vector<std::string> logLines;
    std::vector<std::string> boxes;  // "upper|lower" of each tool box; "platform:" + text otherwise
    int finishedPosts = 0;

private:
    CQuorvinAccessRecoveryApp& app_;
};

// A scan of one file, as the window or the command line would run it.
struct ScanResult {
    std::unique_ptr<CQuorvinAccessRecoveryApp> app;
    std::unique_ptr<RecordingReceiver> receiver;
    std::shared_ptr<CMDBRecovery> engine;
};
ScanResult runScan(const std::string& path, bool includeDeleted = false, bool includeUnlisted = false,
                   const std::vector<std::string>& passwords = {});

// A fresh folder under the system's temporary directory, removed on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Runs a shell command; returns its exit status and standard output.
int runCommand(const std::string& command, std::string* output);
std::string shellQuote(const std::string& text);
bool haveProgram(const std::string& name);

// The folder of real Access files, or empty when it is absent.
std::filesystem::path corpusDir();
// The folder of password-protected and encrypted Access files (password
// "password"), or empty when it is absent.
std::filesystem::path encryptedDir();

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace talmera::test

namespace talmera::test {

// Every decoded row of one table, in page and slot order (live rows only).
std::vector<std::vector<RowValue>> readAllRows(CMDBRecovery& engine, size_t tablePosition, bool readLongValues);

// mdb-export's rows of a table: cells split, NULL as std::nullopt. Dates as
// "%Y-%m-%d %H:%M:%S", binary as hexadecimal.
std::vector<std::vector<std::optional<std::string>>> mdbExportRows(const std::string& file, const std::string& table);

// Our value in mdb-export's conventions, for comparison.
std::optional<std::string> exportText(const RowValue& value);
// Compares one of our cells with one of mdb-export's; numbers numerically.
bool sameCell(const RowValue& ours, const std::optional<std::string>& theirs, std::string* why);

}  // namespace talmera::test
