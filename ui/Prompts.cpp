#include "ui/Prompts.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

#include "ui/Dialogs.h"

namespace talmera::ui {

void DialogPrompts::MessageBox(const QString& upper, const QString& lower) {
    CMessageDialog box(upper, lower, parent_);
    box.exec();
}

bool DialogPrompts::Confirm(const QString& upper, const QString& lower) {
    CMyExitStopDialog box(upper, lower, parent_);
    return box.exec() == CMyExitStopDialog::kYes;
}

void DialogPrompts::PlatformMessage(const QString& text) { QMessageBox::information(parent_, kProductName, text); }

bool DialogPrompts::ChooseSaveFolder(CQuorvinAccessRecoveryApp& app, bool& newFolderChosen) {
    CSaveFilesDlg dialog(app, newFolderChosen, *this, parent_);
    return dialog.exec() == QDialog::Accepted;
}

bool DialogPrompts::AskOverwrite(const QString& path) {
    (void)path;
    FileExistDlg box(parent_);
    return box.exec() == CMyExitStopDialog::kYes;
}

QString DialogPrompts::AskNewLocation(const QString& existing, const QString& proposal) {
    CRenameDialog dialog(existing, proposal, parent_);
    dialog.exec();
    return dialog.chosenPath();
}

std::optional<QString> DialogPrompts::AskPassword(const QString& path, bool retry) {
    const QString question = (retry ? QString("The password is not correct. Try again?\n\n") : QString()) +
                             "The file " + path + " is encrypted.\nIts password:";
    bool ok = false;
    const QString password =
        QInputDialog::getText(parent_, "Password", question, QLineEdit::Password, QString(), &ok);
    if (!ok) return std::nullopt;
    return password;
}

QString DialogPrompts::ChooseLogFile(const QString& proposedName) {
    return QFileDialog::getSaveFileName(parent_, QString(), proposedName, "All Files(*.log) (*.log)", nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

QString DatabaseFileFilter() {
    // Every letter case of the extensions (Shop.Mdb too), whether the dialog
    // compares names with or without case; the patterns stay out of sight.
    return "Access Files (*.mdb,*.accdb) (*.[mM][dD][bB] *.[aA][cC][cC][dD][bB])";
}

QString DialogPrompts::ChooseDatabaseFile() {
    return QFileDialog::getOpenFileName(parent_, QString(), QString(), DatabaseFileFilter(), nullptr,
                                        QFileDialog::HideNameFilterDetails);
}

QString DialogPrompts::ChooseFolder() {
    return QFileDialog::getExistingDirectory(parent_, "Select a Folder", QString(), QFileDialog::ShowDirsOnly);
}

}  // namespace talmera::ui
