// Every question and box the window puts to the user goes through this
// interface: the real dialogs in the program, scripted answers in the tests.
#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace talmera {
struct CQuorvinAccessRecoveryApp;
}

namespace talmera::ui {

class IPrompts {
public:
    virtual ~IPrompts() = default;
    // The tool's message box (upper and lower text, OK).
    virtual void MessageBox(const QString& upper, const QString& lower) = 0;
    // The confirmation box: true for Yes.
    virtual bool Confirm(const QString& upper, const QString& lower) = 0;
    // The platform's plain message box.
    virtual void PlatformMessage(const QString& text) = 0;
    // The save destination dialog; on OK the folder is in app.outputFolder.
    virtual bool ChooseSaveFolder(CQuorvinAccessRecoveryApp& app, bool& newFolderChosen) = 0;
    // "Overwrite File": true for Yes.
    virtual bool AskOverwrite(const QString& path) = 0;
    // "New Save Location": the path accepted (the existing one when closed).
    virtual QString AskNewLocation(const QString& existing, const QString& proposal) = 0;
    // The save-file dialog of Save Log; empty when cancelled.
    virtual QString ChooseLogFile(const QString& proposedName) = 0;
    // The open-file dialog of Select File; empty when cancelled.
    virtual QString ChooseDatabaseFile() = 0;
    // The folder browser "Select a Folder"; empty when cancelled.
    virtual QString ChooseFolder() = 0;
    // The password of the encrypted file at `path`; `retry`: the last one was
    // not correct. Nothing when the user cancels (or nobody is asked).
    virtual std::optional<QString> AskPassword(const QString& path, bool retry) {
        (void)path;
        (void)retry;
        return std::nullopt;
    }
};

// The open-file dialog's filter of Select File.
QString DatabaseFileFilter();

// The real dialogs, modal over `parent`.
class DialogPrompts : public IPrompts {
public:
    explicit DialogPrompts(QWidget* parent) : parent_(parent) {}
    void MessageBox(const QString& upper, const QString& lower) override;
    bool Confirm(const QString& upper, const QString& lower) override;
    void PlatformMessage(const QString& text) override;
    bool ChooseSaveFolder(CQuorvinAccessRecoveryApp& app, bool& newFolderChosen) override;
    bool AskOverwrite(const QString& path) override;
    QString AskNewLocation(const QString& existing, const QString& proposal) override;
    QString ChooseLogFile(const QString& proposedName) override;
    QString ChooseDatabaseFile() override;
    QString ChooseFolder() override;
    std::optional<QString> AskPassword(const QString& path, bool retry) override;

private:
    QWidget* parent_;
};

}  // namespace talmera::ui
