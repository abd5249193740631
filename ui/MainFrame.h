// The main window: the command ribbon, the object tree, the record view, the
// log pane and the status bar. It starts and stops the runs of the recovery
// thread and is the receiver of their messages.
#pragma once

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QPersistentModelIndex>
#include <QKeySequence>
#include <QString>

#include <atomic>
#include <memory>

#include "platform/MessageReceiver.h"
#include "ui/Prompts.h"
#include "ui/ReportPane.h"
#include "ui/RowFeed.h"

class QAction;
class QLabel;
class QTabWidget;
class QTimer;
class QTreeWidgetItem;

namespace talmera {
struct CQuorvinAccessRecoveryApp;
class CRecoverThread;
}  // namespace talmera

namespace talmera::ui {

class CLeftView;
class COutputWnd;
class CProgressBar;
class CQuorvinAccessRecoveryView;
class CSearch;
class Mailbox;

// Command ids of the ribbon.
enum CommandId {
    ID_FILE_OPEN = 57601,
    ID_FILE_RECOVER = 32771,
    ID_FILE_STOP = 32772,
    ID_APP_EXIT = 57665,
    ID_VIEW_STATUS_BAR = 59393,
    ID_VIEW_MESSAGEBAR = 32773,
    ID_TOOL_SAVELOG = 32774,
    ID_TOOL_CLEARLOG = 32775,
    ID_HELP_UPDATES = 32778,
    ID_TOOL_RECOVER_DELETED_RECORDS = 32776,
    ID_HELP_SUBMITSUPPORTTICKET = 32781,
    ID_HELP_VIEWSUPPORTSECTION = 32782,
    ID_HELP_INDEX = 57666,
    ID_HELP_VISITKNOWLEDGEBASE = 32790,
    ID_APP_ABOUT = 57664,
    ID_TOOL_CODEPAGE = 32791,
};

// Messages of the window's own (the run's are in platform/MessageReceiver.h).
inline constexpr uint32_t UM_REPAIR_SELECTED = kUserMessage + 108;
inline constexpr uint32_t UM_START_REPAIR = kUserMessage + 109;

// What the enabling and check rules of the commands read.
struct CommandContext {
    bool idle = true;
    bool stopRequested = false;
    bool worker = false;
    bool logHasContent = false;
    bool invalidFile = false;
    bool fileLoaded = false;
    int rootState = 0;
    bool statusBarVisible = true;
    bool logVisible = true;
    bool includeDeletedRecords = false;
};
struct CommandState {
    bool enabled = true;
    bool checked = false;
};
CommandState CommandStateFor(int id, const CommandContext& context);

// Fixed values of the product: version, web addresses, the data folder.
struct ProductSettings {
    QString version;
    QString installFolder;  // the help document and the licence text live here
    QString supportTicket;  // "SupTick"
    QString supportLink;    // "SupLink"
    QString knowledgebase;  // "KB"
};

class CMainFrame : public QMainWindow, public IMessageReceiver {
    Q_OBJECT
public:
    CMainFrame(CQuorvinAccessRecoveryApp& app, ProductSettings settings, std::unique_ptr<IPrompts> prompts,
               QWidget* parent = nullptr);
    ~CMainFrame() override;

    // ---- IMessageReceiver: called by the recovery thread -----------------
    intptr_t send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    void post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    void showMessageBox(const std::string& upper, const std::string& lower) override;
    void showPlatformMessage(const std::string& text) override;
    bool askOverwrite(const std::string& path) override;
    std::string askNewLocation(const std::string& existing, const std::string& proposal) override;
    // The password dialog; the answer is remembered for the file, so that the
    // silent re-reading after a save does not ask again.
    std::optional<std::string> askPassword(const std::string& path, int attempt) override;

    // ---- Messages and commands ------------------------------------------------
    intptr_t HandleMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);
    void OnRepairSelected();
    void StartRepair(bool rescan);
    void ResetTree();
    void OnFileOpen();
    // The next selection dialog proposes this file in its path box.
    void ProposeFile(const QString& path) { proposedFile_ = path; }
    void OnSave();
    void OnStop();
    void OnDeletedRecords();
    void OnRunFinished();
    void OnSaveLog();
    void OnClearLog();
    void OnHelp();
    // The code page of Access 97 texts; an open file is read again with it.
    void ApplyCodePage(unsigned codePage);
    void OnUpdates();
    void OnAbout();
    void OnTreeTextClicked(QTreeWidgetItem* item);
    void OnFindTextChanged();
    void OnFindNext();
    void OnFindPrevious();
    void AddLogLine(const QString& text);
    void UpdateCommands();
    // Processes events until no run is in progress; never blocks on the thread.
    void WaitUntilIdle();
    // Takes the rows the preview has read so far into the grid.
    void DrainRows();
    // Draws the progress steps the run counted since the window last looked.
    void ApplyPendingSteps();

    CommandContext Context() const;
    QAction* Command(int id) const { return commands_.value(id); }
    CLeftView* tree() const { return tree_; }
    CQuorvinAccessRecoveryView* view() const { return view_; }
    COutputWnd* log() const { return log_; }
    ReportPane* report() const { return report_; }
    // The recovery report of the run just ended in its pane, its tables with
    // losses marked in the tree, and the page map of the file.
    void ShowReport(bool afterSave = false);
    CSearch* findBar() const { return findBar_; }
    CProgressBar* progressBar() const { return progress_.get(); }
    QLabel* statusPane(int pane) const { return pane == 0 ? pane0_ : pane1_; }
    IPrompts& prompts() const { return *prompts_; }
    Mailbox* mailbox() const { return mailbox_; }
    CQuorvinAccessRecoveryApp& app() const { return app_; }
    QWidget* ribbon() const { return ribbonArea_; }
    const QList<QTreeWidgetItem*>& foundHistory() const { return foundHistory_; }
    QString currentPath() const { return currentPath_; }
    bool fileLoaded() const { return fileLoaded_; }
    bool logHasContent() const { return logHasContent_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildRibbon();
    QAction* AddCommand(int id, const QString& label, const QString& prompt, const QString& letter, const QColor& colour,
                        const QKeySequence& shortcut);
    void PlaceRibbonChildren();
    void StartPreview(size_t tableIndex);
    void StartWorker(std::unique_ptr<CRecoverThread> thread);
    void DiscardWorker();
    void ShowMessage(const QString& upper, const QString& lower);
    void ChooseCodePage();
    void ShowTreeItem(QTreeWidgetItem* item);

    CQuorvinAccessRecoveryApp& app_;
    ProductSettings settings_;
    std::unique_ptr<IPrompts> prompts_;
    Mailbox* mailbox_;
    std::unique_ptr<CRecoverThread> worker_;

    // Rows of a preview, taken on the run's thread and shown in batches.
    RowFeed rowFeed_;
    std::atomic<bool> previewRun_{false};
    // Progress steps are counted on the run's thread and drawn a few times a second.
    std::atomic<long long> pendingSteps_{0};
    // The run has posted its end (and not been seen finishing yet).
    std::atomic<bool> runEnded_{false};
    QTimer* runTimer_ = nullptr;

    QWidget* ribbonArea_ = nullptr;
    QTabWidget* ribbonTabs_ = nullptr;
    QWidget* findRow_ = nullptr;  // the find bar's place below the ribbon in a narrow window
    QWidget* logo_ = nullptr;
    CSearch* findBar_ = nullptr;
    CLeftView* tree_ = nullptr;
    CQuorvinAccessRecoveryView* view_ = nullptr;
    COutputWnd* log_ = nullptr;
    ReportPane* report_ = nullptr;
    // The save's report stays in the pane over the re-read that follows it.
    bool keepReport_ = false;
    ReportSummary lastReport_;
    QLabel* pane0_ = nullptr;
    QLabel* pane1_ = nullptr;
    std::unique_ptr<CProgressBar> progress_;
    QHash<int, QAction*> commands_;

    QString proposedFile_;
    QString currentPath_;
    QString lastRepairedPath_;
    // The password last given for an encrypted file, and that file.
    std::string passwordPath_;
    std::string password_;
    bool fileLoaded_ = false;
    bool logHasContent_ = false;
    bool newFolderChosen_ = false;
    QList<QTreeWidgetItem*> foundHistory_;
    bool showingItem_ = false;
    QPersistentModelIndex pendingItem_;
};

}  // namespace talmera::ui
