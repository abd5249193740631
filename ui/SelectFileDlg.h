// The selection dialog: one database file picked directly, or found by a
// search of a folder or a mounted file system on its own thread.
#pragma once

#include <QDateTime>
#include <QDialog>
#include <QString>
#include <QTreeWidget>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/MessageReceiver.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace talmera {
struct CQuorvinAccessRecoveryApp;
}

namespace talmera::ui {

class CMainFrame;
class IPrompts;
class Mailbox;

inline constexpr uint32_t UM_SEARCH_PROGRESS = kUserMessage + 110;
inline constexpr uint32_t UM_SEARCH_DONE = kUserMessage + 111;

// One found file: path, size and the three times, as the list shows them.
struct FILEPROPERTY {
    QString path;
    QString size;
    QString created;
    QString accessed;
    QString modified;
};

// The entries of the drive list: every mounted file system and the home
// folder, as "Logical Drive (<mount point>)".
QStringList DriveEntries();
// The folder of a drive entry: the text inside its parentheses.
QString DriveFolder(const QString& entry);
// A time in the user's default date-and-time format; empty for none.
QString FoundFileTime(const QDateTime& time);
// A found file's record, read from the file system.
FILEPROPERTY ReadFileProperty(const QString& path);

// How the found-files list compares two cells of a column.
enum class SortKind { Text, Number, Date };
SortKind SortKindOf(int column);
// Negative, zero or positive as a sorts before, with or after b (ascending).
int CompareCells(SortKind kind, const QString& a, const QString& b);

// The found-files list: five columns, sorted by a click on a heading.
class CDezFileList : public QTreeWidget {
    Q_OBJECT
public:
    explicit CDezFileList(QWidget* parent = nullptr);
    void AddRow(const FILEPROPERTY& file);
    // The rows as found-file records, in list order.
    std::vector<FILEPROPERTY> Rows() const;
    // A click on column `column`'s heading: ascending first, then reversed.
    void SortByColumn(int column);
    // The size and time columns as wide as their texts.
    void FitColumns();
    int sortColumn() const { return sortColumn_; }
    bool ascending() const { return ascending_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void Recolour();
    int sortColumn_ = -1;
    bool ascending_ = true;
};

class CSelectFileDlg : public QDialog {
    Q_OBJECT
public:
    CSelectFileDlg(CQuorvinAccessRecoveryApp& app, CMainFrame& frame, IPrompts& prompts, QWidget* parent = nullptr);
    ~CSelectFileDlg() override;

    void OnSelectFile();
    void OnSelectFolder();
    void OnFindFiles();
    // Starts a search of `folder` (Find Files and Select Folder).
    void StartSearch(const QString& folder, bool countText);
    void OnStopSearch();
    void OnClearList();
    void OnRepair();
    void OnClose();
    // Waits (processing events) until no search runs.
    void WaitForSearch();

    bool searchRunning() const { return searchRunning_; }
    CDezFileList* list() const { return list_; }
    QLineEdit* pathBox() const { return pathBox_; }
    QComboBox* drives() const { return drives_; }
    QLabel* countText() const { return count_; }
    QPushButton* repairButton() const { return repair_; }
    QCheckBox* subfolders() const { return subfolders_; }
    QCheckBox* deletedRecords() const { return deleted_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void reject() override;

private:
    void Search(QString folder, bool subfolders);
    void SearchFolder(const QString& folder);
    bool SendProgress(int what);
    void OnSearchProgress(int what);
    void OnSearchDone();
    void OnSearchEnded();
    void EnableSearchControls(bool enable);
    void KeepRows();

    CQuorvinAccessRecoveryApp& app_;
    CMainFrame& frame_;
    IPrompts& prompts_;
    Mailbox* mailbox_;
    std::thread searchThread_;
    std::atomic<bool> searchRunning_{false};
    std::atomic<bool> searchStopRequested_{false};
    bool countAfterSearch_ = false;
    // Written by the search thread while it runs; read here on its messages.
    std::vector<FILEPROPERTY> found_;
    QPoint dragOffset_;

    QComboBox* drives_;
    QLineEdit* fileType_;
    QPushButton* selectFile_;
    QPushButton* selectFolder_;
    QPushButton* findFiles_;
    QCheckBox* subfolders_;
    CDezFileList* list_;
    QProgressBar* progress_;
    QLabel* count_;
    QPushButton* clearList_;
    QPushButton* stop_;
    QLineEdit* pathBox_;
    QCheckBox* deleted_;
    QPushButton* repair_;
};

}  // namespace talmera::ui
