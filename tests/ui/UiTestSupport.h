// Helpers of the window tests: scripted answers to the window's questions, a
// record of its boxes, fixtures written by the independent writer.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>

#include "engine/ApplicationState.h"
#include "jetwriter/JetWriter.h"
#include "tests/support/TestSupport.h"
#include "ui/MainFrame.h"
#include "ui/Prompts.h"

namespace talmera::ui::test {

// Answers every question from fields the test sets; records every box.
class ScriptedPrompts : public IPrompts {
public:
    QStringList boxes;            // "upper|lower" of each message box
    QStringList confirmations;    // "upper|lower" of each confirmation box
    QStringList platformMessages;
    QStringList overwriteQuestions;
    QStringList newLocationProposals;
    bool confirmAnswer = true;
    bool overwriteAnswer = false;
    // Each answer is used once, then the next; when empty the proposal is taken.
    QStringList newLocationAnswers;
    QString saveFolder;           // empty: Cancel
    QStringList logFiles;         // each Save Log dialog takes the next; empty: Cancel
    QString databaseFile;
    QString folder;
    // The password dialog: each question is recorded as the path (with
    // " (retry)" after a refused one) and takes the next answer; when none is
    // left, it is cancelled.
    QStringList passwordQuestions;
    QStringList passwordAnswers;
    // Runs inside a message box, while it is open.
    std::function<void(const QString& upper)> onMessageBox;
    // Runs inside a confirmation box, while it is open, before the answer.
    std::function<void(const QString& upper)> onConfirm;

    void MessageBox(const QString& upper, const QString& lower) override;
    bool Confirm(const QString& upper, const QString& lower) override;
    void PlatformMessage(const QString& text) override { platformMessages << text; }
    bool ChooseSaveFolder(CQuorvinAccessRecoveryApp& app, bool& newFolderChosen) override;
    bool AskOverwrite(const QString& path) override;
    QString AskNewLocation(const QString& existing, const QString& proposal) override;
    QString ChooseLogFile(const QString& proposedName) override;
    QString ChooseDatabaseFile() override { return databaseFile; }
    QString ChooseFolder() override { return folder; }
    std::optional<QString> AskPassword(const QString& path, bool retry) override {
        passwordQuestions << path + (retry ? " (retry)" : "");
        if (passwordAnswers.isEmpty()) return std::nullopt;
        return passwordAnswers.takeFirst();
    }
};

// A main window with scripted prompts over its own application state.
struct Window {
    Window();
    ~Window();
    CQuorvinAccessRecoveryApp app;
    ScriptedPrompts* prompts;  // owned by the frame
    std::unique_ptr<CMainFrame> frame;

    // Picks `path` in the selection dialog's way and waits for the scan.
    void Repair(const std::string& path, bool deleted = false);
    // Processes events until no run is in progress and no thread is left.
    bool WaitIdle(int milliseconds = 120000);
};

// Writes a database of the writer into dir and returns its path.
std::string WriteDatabase(const talmera::test::TempDir& dir, const std::string& name, const jetwriter::Database& db);

}  // namespace talmera::ui::test
