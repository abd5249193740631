// The small modal windows of the tool (message box, confirmation box,
// overwrite question, new save location, save destination, About box) and the
// status bar's progress bar.
#pragma once

#include <QDialog>
#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QTimer;

namespace talmera {
struct CQuorvinAccessRecoveryApp;
}

namespace talmera::ui {

class IPrompts;

inline const QString kProductName = QStringLiteral("Quorvin Talmera Access Database Repair");
inline const QString kEighteenSpaces = QStringLiteral("                  ");

// White background, as every box of the tool has.
void MakeWhite(QWidget* widget);

// The tool's own boxes are marked so: Enter presses none of their buttons
// (a stray key must not answer a question); Escape closes them.
void MarkAsToolBox(QWidget* window);
bool IsToolBox(const QWidget* window);

// The tool's message box: an information sign, an upper and a lower text, OK.
class CMessageDialog : public QDialog {
    Q_OBJECT
public:
    CMessageDialog(const QString& upper, const QString& lower, QWidget* parent = nullptr);
};

// Yes / No question with a question mark: result 1 for Yes, 2 for No.
class CMyExitStopDialog : public QDialog {
    Q_OBJECT
public:
    CMyExitStopDialog(const QString& upper, const QString& lower, QWidget* parent = nullptr);
    static constexpr int kYes = 1;
    static constexpr int kNo = 2;
};

// "Overwrite File": "File already exists." / "Do you want to overwrite?".
class FileExistDlg : public CMyExitStopDialog {
    Q_OBJECT
public:
    explicit FileExistDlg(QWidget* parent = nullptr);
};

// "New Save Location": the existing file above, an editable proposal below.
class CRenameDialog : public QDialog {
    Q_OBJECT
public:
    CRenameDialog(const QString& existing, const QString& proposal, QWidget* parent = nullptr);
    // The path accepted with OK; the existing path when the box was closed
    // otherwise (the overwrite question then comes back for the same file).
    QString chosenPath() const { return chosen_; }
    QLineEdit* newLocationBox() const { return newBox_; }

private:
    QString chosen_;
    QLineEdit* newBox_;
};

// "Save At": the default location of the file or a new folder.
class CSaveFilesDlg : public QDialog {
    Q_OBJECT
public:
    CSaveFilesDlg(CQuorvinAccessRecoveryApp& app, bool& newFolderChosen, IPrompts& prompts, QWidget* parent = nullptr);
    void OnDefaultLocation();
    void OnSelectNewFolder();
    void OnBrowse();
    void OnOk();
    QLineEdit* pathBox() const { return pathBox_; }

private:
    CQuorvinAccessRecoveryApp& app_;
    bool& newFolderChosen_;
    IPrompts& prompts_;
    QString defaultFolder_;
    QRadioButton* defaultOption_;
    QRadioButton* newOption_;
    QLineEdit* pathBox_;
    QPushButton* browse_;
};

// About the product and the running system.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    CAboutDlg(const QString& version, const QString& supportAddress, const QString& licenceFile, QWidget* parent = nullptr);
    // "Version     :" of the running system, "%ld. %ld.%ld".
    static QString SystemVersionText();
    static QString OperatingSystemName();
};

// The licence text of the product ("View User License").
class CLicenceDlg : public QDialog {
    Q_OBJECT
public:
    CLicenceDlg(const QString& licenceFile, QWidget* parent = nullptr);
    QString text() const;

private:
    QPlainTextEdit* text_;
};

// The progress bar of a run, drawn in pane 0 of the status bar after its
// caption; it gives the pane's text back when it goes.
class CProgressBar : public QWidget {
    Q_OBJECT
public:
    // `paneText` is the label of pane 0 that the bar covers while it exists.
    CProgressBar(QStatusBar* statusBar, QLabel* paneText, const QString& caption);
    ~CProgressBar() override;

    void SetRange(int low, int high);
    void SetStep(int step);
    void Step();
    void SetPosition(int position);
    // `steps` steps at once, wrapping as Step() does.
    void StepBy(long long steps);
    int Position() const;
    int Maximum() const;
    void Destroy();
    QString Caption() const;
    // Pixels between the caption's end and the bar's start.
    int Gap() const;

private:
    QStatusBar* statusBar_;
    QLabel* paneText_;
    QString previousText_;
    QLabel* caption_;
    QProgressBar* bar_;
    QTimer* refresh_;
    int position_ = 0;
    int step_ = 1;
    bool destroyed_ = false;
};

}  // namespace talmera::ui
