#include "tests/ui/UiTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include "ui/Application.h"

namespace talmera::ui::test {

void ScriptedPrompts::MessageBox(const QString& upper, const QString& lower) {
    boxes << upper + "|" + lower;
    if (onMessageBox) onMessageBox(upper);
}

bool ScriptedPrompts::Confirm(const QString& upper, const QString& lower) {
    confirmations << upper + "|" + lower;
    if (onConfirm) onConfirm(upper);
    return confirmAnswer;
}

bool ScriptedPrompts::ChooseSaveFolder(CQuorvinAccessRecoveryApp& app, bool& newFolderChosen) {
    if (saveFolder.isEmpty()) return false;
    app.outputFolder = saveFolder.toStdString();
    newFolderChosen = true;
    return true;
}

bool ScriptedPrompts::AskOverwrite(const QString& path) {
    overwriteQuestions << path;
    return overwriteAnswer;
}

QString ScriptedPrompts::AskNewLocation(const QString& existing, const QString& proposal) {
    (void)existing;
    newLocationProposals << proposal;
    if (newLocationAnswers.isEmpty()) return proposal;
    return newLocationAnswers.takeFirst();
}

QString ScriptedPrompts::ChooseLogFile(const QString& proposedName) {
    (void)proposedName;
    return logFiles.isEmpty() ? QString() : logFiles.takeFirst();
}

Window::Window() {
    InitialiseState(app);
    auto scripted = std::make_unique<ScriptedPrompts>();
    prompts = scripted.get();
    frame = std::make_unique<CMainFrame>(app, ReadProductSettings(), std::move(scripted));
    frame->resize(1200, 800);
}

Window::~Window() {
    WaitIdle();
    frame.reset();
}

bool Window::WaitIdle(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (!app.idle || app.worker != nullptr) {
        if (timer.elapsed() > milliseconds) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    QCoreApplication::processEvents();
    return true;
}

void Window::Repair(const std::string& path, bool deleted) {
    app.includeDeletedRecords = deleted;
    app.selectedPath = path;
    frame->HandleMessage(UM_REPAIR_SELECTED, 0, 0);
    WaitIdle();
}

std::string WriteDatabase(const talmera::test::TempDir& dir, const std::string& name, const jetwriter::Database& db) {
    const std::string path = dir.file(name);
    jetwriter::saveFile(path, jetwriter::write(db));
    return path;
}

}  // namespace talmera::ui::test
