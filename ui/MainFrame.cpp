#include "ui/MainFrame.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "engine/run/RecoverThread.h"
#include "engine/save/OutputDatabase.h"
#include "output/dao/SqliteEngine.h"
#include "platform/LocalTime.h"
#include "platform/TextCodec.h"
#include "ui/Dialogs.h"
#include "ui/FindBar.h"
#include "ui/Images.h"
#include "ui/LeftView.h"
#include "ui/OutputWnd.h"
#include "ui/Prompts.h"
#include "ui/RecordView.h"
#include "ui/SelectFileDlg.h"
#include "ui/SyncCall.h"

namespace talmera::ui {
namespace {

QString q(const std::string& text) { return QString::fromStdString(text); }


// A preview's rows reach the grid in batches of this many (or every
// kRunRefreshMilliseconds); the run waits when this many more are queued.
constexpr size_t kFeedBatchRows = 4096;
constexpr size_t kFeedLimitRows = 65536;
constexpr size_t kFeedLimitBytes = size_t(32) << 20;
constexpr int kRunRefreshMilliseconds = 50;

// The window's own log lines carry two spaces before the hour and before AM/PM.
QString windowTimestamp() { return q(formatLocalTime("%A, %B %d, %Y  %I:%M:%S  %p", std::time(nullptr))); }

}  // namespace

CommandState CommandStateFor(int id, const CommandContext& c) {
    CommandState state;
    switch (id) {
        case ID_FILE_OPEN:
        case ID_HELP_UPDATES: state.enabled = c.idle; break;
        case ID_FILE_RECOVER:
            // No Access is needed to save here: its absence does not count.
            state.enabled = !c.invalidFile && c.fileLoaded && c.idle &&
                            (c.rootState == kStateChecked || c.rootState == kStatePartial);
            break;
        case ID_FILE_STOP: state.enabled = !c.idle && !c.stopRequested; break;
        case ID_VIEW_STATUS_BAR: state.checked = c.statusBarVisible; break;
        case ID_VIEW_MESSAGEBAR: state.checked = c.logVisible; break;
        case ID_TOOL_SAVELOG:
        case ID_TOOL_CLEARLOG: state.enabled = !c.worker && c.logHasContent; break;
        case ID_TOOL_RECOVER_DELETED_RECORDS:
            state.enabled = !c.worker;
            state.checked = c.includeDeletedRecords;
            break;
        case ID_TOOL_CODEPAGE: state.enabled = c.idle; break;
        default: break;  // always enabled
    }
    return state;
}

CMainFrame::CMainFrame(CQuorvinAccessRecoveryApp& app, ProductSettings settings, std::unique_ptr<IPrompts> prompts,
                       QWidget* parent)
    : QMainWindow(parent),
      app_(app),
      settings_(std::move(settings)),
      prompts_(std::move(prompts)),
      rowFeed_(kFeedBatchRows, kFeedLimitRows, kFeedLimitBytes, [this] { mailbox_->post([this] { DrainRows(); }); },
               app.stopRequested) {
    if (!prompts_) prompts_ = std::make_unique<DialogPrompts>(this);
    mailbox_ = new Mailbox(this);
    setWindowTitle(kProductName);

    BuildRibbon();

    // The tree and the record view side by side; the tree starts 187 pixels wide.
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    tree_ = new CLeftView(app_, splitter);
    view_ = new CQuorvinAccessRecoveryView(app_, splitter);
    splitter->addWidget(tree_);
    splitter->addWidget(view_);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({187, 1000});
    splitter->setChildrenCollapsible(false);
    setCentralWidget(splitter);
    connect(tree_, &CLeftView::itemTextClicked, this, &CMainFrame::OnTreeTextClicked);

    log_ = new COutputWnd(this);
    addDockWidget(Qt::BottomDockWidgetArea, log_);
    resizeDocks({log_}, {160}, Qt::Vertical);
    report_ = new ReportPane(this);
    addDockWidget(Qt::RightDockWidgetArea, report_);
    resizeDocks({report_}, {380}, Qt::Horizontal);

    pane0_ = new QLabel("Ready");
    pane1_ = new QLabel;
    pane1_->setFixedWidth(500);
    statusBar()->addWidget(pane0_, 1);
    statusBar()->addPermanentWidget(pane1_);

    connect(findBar_, &CSearch::textChanged, this, &CMainFrame::OnFindTextChanged);
    connect(findBar_, &CSearch::findNext, this, &CMainFrame::OnFindNext);
    connect(findBar_, &CSearch::findPrevious, this, &CMainFrame::OnFindPrevious);

    // While a run lasts: its rows and progress steps, a few times a second.
    runTimer_ = new QTimer(this);
    runTimer_->setInterval(kRunRefreshMilliseconds);
    connect(runTimer_, &QTimer::timeout, this, [this] {
        DrainRows();
        ApplyPendingSteps();
    });

    ResetTree();
    // Command states follow the flags; the recovery thread changes some of
    // them between messages, so they are also looked at now and then.
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &CMainFrame::UpdateCommands);
    timer->start(250);
    UpdateCommands();
}

CMainFrame::~CMainFrame() {
    // A run still going reports to this window: it is stopped and its end awaited.
    if (worker_) {
        app_.stopRequested = true;
        WaitUntilIdle();
    }
    DiscardWorker();
    rowFeed_.Close();
    mailbox_->close();
}

// ---- The ribbon -----------------------------------------------------------------

QAction* CMainFrame::AddCommand(int id, const QString& label, const QString& prompt, const QString& letter,
                                const QColor& colour, const QKeySequence& shortcut) {
    auto* action = new QAction(CommandIcon(letter, colour), label, this);
    const qsizetype newline = prompt.indexOf('\n');
    action->setStatusTip(prompt.left(newline < 0 ? prompt.size() : newline));
    // The tooltip names the key too.
    action->setShortcut(shortcut);
    action->setToolTip((newline < 0 ? prompt : prompt.mid(newline + 1)) + " (" +
                       shortcut.toString(QKeySequence::NativeText) + ")");
    // Held by the window itself, so that its key works whichever ribbon
    // category is shown.
    addAction(action);
    commands_.insert(id, action);
    return action;
}

void CMainFrame::BuildRibbon() {
    const QColor blue(40, 90, 160), green(40, 130, 70), red(180, 50, 40), grey(100, 100, 110), orange(200, 120, 20);
    using K = QKeySequence;
    const auto ctrlShift = [](Qt::Key key) { return K(Qt::CTRL | Qt::SHIFT | key); };
    QAction* open = AddCommand(ID_FILE_OPEN, "Select Database", "\nSelect Database", "D", blue, K::Open);
    QAction* save = AddCommand(ID_FILE_RECOVER, "Save", "\nSave", "S", green, K(Qt::CTRL | Qt::Key_S));
    // Escape stops a run (after the question); in a menu or box it closes that first.
    QAction* stop = AddCommand(ID_FILE_STOP, "Stop", "\nStop", "X", red, K(Qt::Key_Escape));
    QAction* exit = AddCommand(ID_APP_EXIT, "Exit", "\nExit", "E", grey, K(Qt::CTRL | Qt::Key_Q));
    QAction* status = AddCommand(ID_VIEW_STATUS_BAR, "Status Bar", "\nShow or hide the Status Bar", "B", grey,
                                 ctrlShift(Qt::Key_B));
    QAction* messages = AddCommand(ID_VIEW_MESSAGEBAR, "Message Log", "\nShow or hide the message log", "M", grey,
                                   ctrlShift(Qt::Key_M));
    QAction* saveLog = AddCommand(ID_TOOL_SAVELOG, "Save Log", "\nSave Log Report", "L", green, ctrlShift(Qt::Key_L));
    QAction* clearLog = AddCommand(ID_TOOL_CLEARLOG, "Clear Log", "\nClear Log Report", "C", orange,
                                   ctrlShift(Qt::Key_Delete));
    QAction* updates = AddCommand(ID_HELP_UPDATES, "Updates", "\nUpdates", "U", blue, ctrlShift(Qt::Key_U));
    QAction* deleted = AddCommand(ID_TOOL_RECOVER_DELETED_RECORDS, "Deleted Records", "\nDeleted records", "R", red,
                                  ctrlShift(Qt::Key_D));
    QAction* codePage = AddCommand(ID_TOOL_CODEPAGE, "Code Page", "\nCode page of Access 97 texts", "P", grey,
                                   ctrlShift(Qt::Key_P));
    QAction* enquiry = AddCommand(ID_HELP_SUBMITSUPPORTTICKET, "Enquiry", "\nSubmit Ticket", "Q", blue,
                                  ctrlShift(Qt::Key_T));
    QAction* support = AddCommand(ID_HELP_VIEWSUPPORTSECTION, "Support", "\nView Support Section", "S", blue,
                                  ctrlShift(Qt::Key_F1));
    QAction* help = AddCommand(ID_HELP_INDEX, "Help", "\nQuorvin Talmera Access Database Repair Help", "?", blue,
                               K(Qt::Key_F1));
    QAction* kb = AddCommand(ID_HELP_VISITKNOWLEDGEBASE, "Knowledgebase", "\nVisit Knowledgebase", "K", blue,
                             K(Qt::SHIFT | Qt::Key_F1));
    QAction* about = AddCommand(ID_APP_ABOUT, "About", "\nAbout Quorvin Talmera Access Database Repair", "i", blue,
                                K(Qt::CTRL | Qt::Key_F1));
    status->setCheckable(true);
    messages->setCheckable(true);
    deleted->setCheckable(true);

    connect(open, &QAction::triggered, this, &CMainFrame::OnFileOpen);
    connect(save, &QAction::triggered, this, &CMainFrame::OnSave);
    connect(stop, &QAction::triggered, this, &CMainFrame::OnStop);
    connect(exit, &QAction::triggered, this, &QWidget::close);
    connect(status, &QAction::triggered, this, [this] {
        statusBar()->setVisible(!statusBar()->isVisible());
        UpdateCommands();
    });
    connect(messages, &QAction::triggered, this, [this] {
        log_->setVisible(!log_->isVisible());
        UpdateCommands();
    });
    connect(saveLog, &QAction::triggered, this, &CMainFrame::OnSaveLog);
    connect(clearLog, &QAction::triggered, this, &CMainFrame::OnClearLog);
    connect(updates, &QAction::triggered, this, &CMainFrame::OnUpdates);
    connect(deleted, &QAction::triggered, this, &CMainFrame::OnDeletedRecords);
    connect(codePage, &QAction::triggered, this, &CMainFrame::ChooseCodePage);
    connect(enquiry, &QAction::triggered, this, [this] { QDesktopServices::openUrl(QUrl(settings_.supportTicket)); });
    connect(support, &QAction::triggered, this, [this] { QDesktopServices::openUrl(QUrl(settings_.supportLink)); });
    connect(kb, &QAction::triggered, this, [this] { QDesktopServices::openUrl(QUrl(settings_.knowledgebase)); });
    connect(help, &QAction::triggered, this, &CMainFrame::OnHelp);
    connect(about, &QAction::triggered, this, &CMainFrame::OnAbout);

    ribbonArea_ = new QWidget(this);
    ribbonArea_->setObjectName("Ribbon");
    auto* column = new QVBoxLayout(ribbonArea_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // The quick-access bar, above the ribbon.
    auto* quick = new QToolBar("Quick Access", ribbonArea_);
    quick->setIconSize(QSize(16, 16));
    quick->setToolButtonStyle(Qt::ToolButtonIconOnly);
    for (QAction* action : {open, save, stop, exit}) quick->addAction(action);
    column->addWidget(quick);

    ribbonTabs_ = new QTabWidget(ribbonArea_);
    ribbonTabs_->setDocumentMode(true);
    auto* appButton = new QToolButton;
    appButton->setText("Menu");
    appButton->setIcon(NodeImages().value(kImageDatabase));
    appButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    appButton->setPopupMode(QToolButton::InstantPopup);
    auto* appMenu = new QMenu(appButton);
    for (QAction* action : {open, save, stop, exit}) appMenu->addAction(action);
    appButton->setMenu(appMenu);
    ribbonTabs_->setCornerWidget(appButton, Qt::TopLeftCorner);

    const auto panel = [](const QString& title, const QList<QAction*>& actions, bool small) {
        auto* box = new QWidget;
        auto* layout = new QVBoxLayout(box);
        layout->setContentsMargins(4, 2, 4, 0);
        layout->setSpacing(1);
        auto* buttons = small ? static_cast<QBoxLayout*>(new QVBoxLayout) : new QHBoxLayout;
        buttons->setSpacing(2);
        for (QAction* action : actions) {
            auto* button = new QToolButton;
            button->setDefaultAction(action);
            button->setAutoRaise(true);
            if (small) {
                button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
                button->setIconSize(QSize(16, 16));
            } else {
                button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
                button->setIconSize(QSize(32, 32));
                button->setMinimumWidth(58);
            }
            buttons->addWidget(button);
        }
        layout->addLayout(buttons);
        layout->addStretch(1);
        auto* label = new QLabel(title);
        label->setAlignment(Qt::AlignHCenter);
        label->setStyleSheet("color: #555;");
        layout->addWidget(label);
        return box;
    };
    const auto category = [&](const QString& title, const QList<QWidget*>& panels) {
        auto* page = new QWidget;
        auto* row = new QHBoxLayout(page);
        row->setContentsMargins(2, 2, 2, 2);
        row->setSpacing(6);
        for (QWidget* p : panels) row->addWidget(p);
        row->addStretch(1);
        ribbonTabs_->addTab(page, title);
    };
    category("File", {panel("File", {open, save, stop, exit}, false), panel("View", {status, messages}, true)});
    category("Tools", {panel("Log", {saveLog, clearLog}, false), panel("Update", {updates}, false),
                       panel("Deleted Records", {deleted}, false), panel("Code Page", {codePage}, false)});
    category("Help", {panel("Support", {enquiry, support}, false), panel("Help", {help, kb}, false),
                      panel("About", {about}, false)});
    ribbonTabs_->setFixedHeight(ribbonTabs_->sizeHint().height());
    column->addWidget(ribbonTabs_);
    // In a window too narrow for it beside the commands, the find bar moves
    // into a row of its own below the ribbon.
    findRow_ = new QWidget(ribbonArea_);
    auto* findRowLayout = new QHBoxLayout(findRow_);
    findRowLayout->setContentsMargins(4, 0, 4, 0);
    findRow_->hide();
    column->addWidget(findRow_);

    // Inside the ribbon area: the find bar and the logo panel.
    findBar_ = new CSearch(ribbonTabs_);
    // Its keys: Ctrl+F to type the text, F3 and Shift+F3 for its buttons
    // (Enter in the text box is Find too).
    auto* focusFind = new QAction("Find Tree Item", this);
    focusFind->setShortcut(QKeySequence::Find);
    connect(focusFind, &QAction::triggered, this, [this] {
        if (!findBar_->textBox()->isEnabled()) return;
        findBar_->textBox()->setFocus(Qt::ShortcutFocusReason);
        findBar_->textBox()->selectAll();
    });
    auto* findNext = new QAction("Find", this);
    findNext->setShortcut(QKeySequence::FindNext);
    connect(findNext, &QAction::triggered, this, [this] {
        if (findBar_->findButton()->isEnabled()) findBar_->PressFind();
    });
    auto* findPrevious = new QAction("Find Previous", this);
    findPrevious->setShortcut(QKeySequence::FindPrevious);
    connect(findPrevious, &QAction::triggered, this, [this] {
        if (findBar_->previousButton()->isEnabled()) findBar_->PressPrevious();
    });
    addActions({focusFind, findNext, findPrevious});
    findBar_->textBox()->setToolTip("The text to find in the tree's names (" +
                                    focusFind->shortcut().toString(QKeySequence::NativeText) + ")");
    findBar_->findButton()->setToolTip("The next tree item whose name holds the text (Enter, " +
                                       findNext->shortcut().toString(QKeySequence::NativeText) + ")");
    findBar_->previousButton()->setToolTip("Back to the item found before (" +
                                           findPrevious->shortcut().toString(QKeySequence::NativeText) + ")");
    auto* logo = new QLabel(kProductName, ribbonTabs_);
    logo->setStyleSheet("color: #285aa0; font-weight: bold; font-size: 13pt;");
    logo->adjustSize();
    logo_ = logo;
    setMenuWidget(ribbonArea_);
    PlaceRibbonChildren();
}

void CMainFrame::PlaceRibbonChildren() {
    if (!ribbonTabs_ || !findBar_) return;
    // The find bar keeps its size at x = 370; its lowest 6 pixels fall below
    // the ribbon's edge and are clipped. The logo sits right-aligned on the
    // bottom edge, never left of x = 720.
    const QSize size = findBar_->sizeHint();
    const int height = ribbonTabs_->height();
    // Wider panels than the ribbon this was drawn for push it right, so that
    // it never covers a command.
    int panelsEnd = 0;
    for (int i = 0; i < ribbonTabs_->count(); ++i) panelsEnd = std::max(panelsEnd, ribbonTabs_->widget(i)->sizeHint().width());
    const int x = std::max(370, panelsEnd + 8);
    const bool besideCommands = x + size.width() <= ribbonTabs_->width();
    if (besideCommands) {
        if (findBar_->parentWidget() != ribbonTabs_) {
            findBar_->setParent(ribbonTabs_);
            findRow_->hide();
        }
        findBar_->resize(size);
        findBar_->move(x, height - size.height() + 6);
        findBar_->show();
        findBar_->raise();
    } else if (findBar_->parentWidget() != findRow_) {
        // Too narrow: below the ribbon, whole.
        findRow_->layout()->addWidget(findBar_);
        findRow_->show();
        findBar_->show();
    }
    if (logo_) {
        const int right = besideCommands ? findBar_->x() + findBar_->width() + 8 : 0;
        const int logoX = std::max({720, right, ribbonTabs_->width() - logo_->width() - 8});
        logo_->move(logoX, height - logo_->height() - 4);
        // Shown only where it covers nothing and is not cut off.
        logo_->setVisible(logoX + logo_->width() <= ribbonTabs_->width());
        logo_->raise();
    }
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    PlaceRibbonChildren();
}

// ---- Command states -------------------------------------------------------------

CommandContext CMainFrame::Context() const {
    CommandContext c;
    c.idle = app_.idle;
    c.stopRequested = app_.stopRequested;
    c.worker = worker_ != nullptr;
    c.logHasContent = logHasContent_;
    c.invalidFile = app_.invalidFile;
    c.fileLoaded = fileLoaded_;
    c.rootState = tree_ ? tree_->RootCheckState() : 0;
    c.statusBarVisible = statusBar()->isVisible() || !isVisible();
    c.logVisible = log_ && (log_->isVisible() || (!isVisible() && !log_->isHidden()));
    c.includeDeletedRecords = app_.includeDeletedRecords;
    return c;
}

void CMainFrame::UpdateCommands() {
    const CommandContext context = Context();
    for (auto it = commands_.begin(); it != commands_.end(); ++it) {
        const CommandState state = CommandStateFor(it.key(), context);
        if (it.value()->isEnabled() != state.enabled) it.value()->setEnabled(state.enabled);
        if (it.value()->isCheckable() && it.value()->isChecked() != state.checked) it.value()->setChecked(state.checked);
    }
    PlaceRibbonChildren();
}

// ---- Messages of the recovery thread --------------------------------------------

intptr_t CMainFrame::send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    // The two messages that come once per row are taken here, on the run's
    // thread, without waiting for the window: the row's values go into the
    // feed (currentRowValues is left empty, as the grid leaves it), a step
    // into a counter. Waking the window for each would make it, not the
    // decoding, set the pace of a preview.
    if (message == UM_ADD_RECORD_ROW && rowFeed_.Take(app_.currentRowValues, lParam == 1)) return 0;
    if (message == UM_PROGRESS && wParam == kProgressStep) {
        pendingSteps_.fetch_add(1, std::memory_order_relaxed);
        return 0;
    }
    // A preview's bar counts the rows of the whole table: the run's bars of
    // one page each are not drawn.
    if (message == UM_PROGRESS && previewRun_) return 0;
    intptr_t result = 0;
    mailbox_->call([&] { result = HandleMessage(message, wParam, lParam); });
    return result;
}

void CMainFrame::post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (message == UM_RUN_FINISHED) runEnded_ = true;
    mailbox_->post([this, message, wParam, lParam] { HandleMessage(message, wParam, lParam); });
}

void CMainFrame::showMessageBox(const std::string& upper, const std::string& lower) {
    mailbox_->call([&] { ShowMessage(q(upper), q(lower)); });
}

void CMainFrame::showPlatformMessage(const std::string& text) {
    mailbox_->call([&] { prompts_->PlatformMessage(q(text)); });
}

bool CMainFrame::askOverwrite(const std::string& path) {
    bool answer = false;
    mailbox_->call([&] { answer = prompts_->AskOverwrite(q(path)); });
    return answer;
}

std::string CMainFrame::askNewLocation(const std::string& existing, const std::string& proposal) {
    std::string answer = existing;
    mailbox_->call([&] { answer = prompts_->AskNewLocation(q(existing), q(proposal)).toStdString(); });
    return answer;
}

std::optional<std::string> CMainFrame::askPassword(const std::string& path, int attempt) {
    if (attempt == 0 && path == passwordPath_) return password_;
    std::optional<QString> answer;
    mailbox_->call([&] { answer = prompts_->AskPassword(q(path), attempt > 0); });
    if (!answer) return std::nullopt;
    passwordPath_ = path;
    password_ = answer->toStdString();
    return password_;
}

void CMainFrame::ShowMessage(const QString& upper, const QString& lower) {
    app_.messageLine1 = upper.toStdString();
    app_.messageLine2 = lower.toStdString();
    prompts_->MessageBox(upper, lower);
}

intptr_t CMainFrame::HandleMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    switch (message) {
        case UM_REPAIR_SELECTED: OnRepairSelected(); break;
        case UM_START_REPAIR: StartRepair(lParam == 1); break;
        case UM_LOG_LINE:
            if (log_->isHidden()) log_->show();
            pane1_->setText(currentPath_);
            log_->AddLogLine(q(app_.logLine));
            logHasContent_ = true;
            break;
        case UM_PROGRESS:
            if (wParam == kProgressStart) {
                // Steps counted before belong to the bar that goes.
                pendingSteps_ = 0;
                progress_.reset();
                progress_ = std::make_unique<CProgressBar>(statusBar(), pane0_, "Processing");
                progress_->SetRange(1, int(std::clamp<intptr_t>(lParam, 1, INT32_MAX)));
                progress_->SetStep(2);
                progress_->Step();
            } else if (wParam == kProgressStep) {
                if (progress_) progress_->Step();
            } else if (wParam == kProgressEnd) {
                pendingSteps_ = 0;
                if (progress_) {
                    progress_->SetPosition(10);
                    progress_->Destroy();
                    progress_.reset();
                }
            }
            return 0;
        case UM_BUILD_TREE:
            foundHistory_.clear();
            if (app_.engine && tree_->BuildTree(*app_.engine, currentPath_)) pane1_->setText(currentPath_);
            view_->ShowPicture(0);
            if (tree_->Root()) tree_->Root()->setExpanded(true);
            if (fileLoaded_) findBar_->EnableInput();
            break;
        case UM_OBJECT_SAVED:
            // The steps so far first, so that the bar is not behind the tree.
            ApplyPendingSteps();
            if (app_.engine) {
                for (const QString& name : tree_->MarkSaved(int(lParam), *app_.engine)) AddLogLine("Not saved  : " + name);
            }
            break;
        case UM_ADD_RECORD_ROW: view_->AddRecordRow(lParam == 1); return 0;
        case UM_RUN_FINISHED: OnRunFinished(); break;
        default: return 0;
    }
    UpdateCommands();
    return 0;
}

// ---- Runs -----------------------------------------------------------------------

void CMainFrame::DiscardWorker() {
    if (!worker_) return;
    // The thread has posted its last message by now; what is left is its return.
    worker_->Join();
    worker_.reset();
    app_.worker = nullptr;
}

void CMainFrame::StartWorker(std::unique_ptr<CRecoverThread> thread) {
    DiscardWorker();
    worker_ = std::move(thread);
    app_.worker = worker_.get();
    app_.idle = false;
    runEnded_ = false;
    runTimer_->start();
    worker_->Start();
    UpdateCommands();
}

void CMainFrame::WaitUntilIdle() {
    while (!app_.idle) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void CMainFrame::DrainRows() {
    const RowBatch rows = rowFeed_.TakeAll();
    if (rows.Rows() > 0) view_->AddRecordRows(rows);
}

void CMainFrame::ApplyPendingSteps() {
    const long long steps = pendingSteps_.exchange(0);
    if (!progress_ || steps <= 0) return;
    if (previewRun_) {
        // Rows of the table: the bar fills once, and stays full should the
        // definition have counted fewer rows than the pages hold.
        progress_->SetPosition(int(std::min<long long>(progress_->Position() + steps, progress_->Maximum())));
    } else {
        progress_->StepBy(steps);
    }
}

void CMainFrame::OnRepairSelected() {
    view_->ShowPicture(0);
    const QString selected = q(app_.selectedPath);
    if (!lastRepairedPath_.isEmpty() && !selected.isEmpty() && lastRepairedPath_ == selected) {
        ShowMessage(" \n\n\nThis file is already selected.", kEighteenSpaces);
        return;
    }
    StartRepair(false);
}

void CMainFrame::StartRepair(bool rescan) {
    app_.rescan = rescan;
    if (worker_ && !app_.idle) {
        app_.stopRequested = true;
        WaitUntilIdle();
    }
    DiscardWorker();
    app_.engine.reset();
    app_.engine = std::make_shared<CMDBRecovery>(app_);

    currentPath_ = q(app_.selectedPath);
    const qsizetype slash = currentPath_.lastIndexOf('/');
    const QString folder = slash < 0 ? QString(".") : (slash == 0 ? QString("/") : currentPath_.left(slash));
    const QString file = slash < 0 ? currentPath_ : currentPath_.mid(slash + 1);

    app_.invalidFile = false;
    const QString lower = file.toLower();
    if (lower.contains(".mdb") || lower.contains(".accdb")) {
        lastRepairedPath_ = currentPath_;
        fileLoaded_ = true;
        findBar_->EnableAll(false);
        pane1_->setText(currentPath_);
        app_.fileName = file.toStdString();
        app_.outputFolder = folder.toStdString();
        if (!rescan) ResetTree();
        app_.engine->sourcePath = currentPath_.toStdString();
        auto thread = std::make_unique<CRecoverThread>(app_, this);
        thread->sourcePath = currentPath_.toStdString();
        app_.scanRun = true;
        StartWorker(std::move(thread));
    } else {
        app_.invalidFile = true;
        ShowMessage("This is not a valid MS Access file.", kEighteenSpaces);
        app_.fileName.clear();
        ResetTree();
    }
    if (app_.stopRequested) findBar_->EnableInput();
    UpdateCommands();
}

void CMainFrame::ResetTree() {
    if (worker_ && app_.idle) DiscardWorker();
    foundHistory_.clear();
    tree_->ResetRoot(app_.fileName.empty() ? kProductName : currentPath_);
    view_->ShowPicture(0);
}

void CMainFrame::OnFileOpen() {
    findBar_->textBox()->clear();
    CSelectFileDlg dialog(app_, *this, *prompts_, this);
    if (!proposedFile_.isEmpty()) dialog.pathBox()->setText(proposedFile_);
    proposedFile_.clear();
    dialog.exec();
    UpdateCommands();
}

void CMainFrame::OnSave() {
    if (!CommandStateFor(ID_FILE_RECOVER, Context()).enabled || !app_.engine) return;
    // A save with nothing checked would make an empty database, over a
    // good one of the same name if the user lets it.
    tree_->CollectSelection();
    if (app_.selectedTables.empty() && app_.selectedQueries.empty() && app_.selectedForms.empty() &&
        app_.selectedReports.empty() && app_.selectedMacros.empty() && app_.selectedModules.empty() &&
        app_.selectedLinkedTables.empty()) {
        ShowMessage("\nNothing is checked to be saved.", "Check the objects to save in the tree, then press Save.");
        UpdateCommands();
        return;
    }
    findBar_->textBox()->clear();
    lastRepairedPath_.clear();
    if (!prompts_->ChooseSaveFolder(app_, newFolderChosen_)) return;
    findBar_->EnableAll(false);

    CMDBRecovery& engine = *app_.engine;
    std::string folder = app_.outputFolder;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const std::string separator = folder == "/" ? "" : "/";
    engine.outputPath = folder + separator + "Repaired_" + QFileInfo(q(app_.fileName)).completeBaseName().toStdString() +
                        ".sqlite";
    OutputOf(engine).engineFactory = dao::CreateSqliteEngine;

    app_.includeDeletedRecords = false;
    for (const std::string& name : app_.selectedTables) {
        for (const tableInfo& table : engine.tables) {
            if (table.deletedRecords && table.name == name) app_.includeDeletedRecords = true;
        }
    }
    auto thread = std::make_unique<CRecoverThread>(app_, this);
    thread->sourcePath = currentPath_.toStdString();
    app_.stopRequested = false;
    app_.scanRun = false;
    app_.previewMode = false;
    app_.treeLocked = true;
    app_.outputCreated = false;
    const size_t errorsBefore = engine.outputErrors.size();
    if (OutputOf(engine).StartOutputDatabase(this)) {
        app_.outputCreated = true;
    } else if (engine.outputErrors.size() > errorsBefore) {
        // Why the output could not be made, so that the failure is not silent.
        AddLogLine("The output database cannot be created: " + q(engine.outputErrors.back()));
    }
    StartWorker(std::move(thread));
}

void CMainFrame::OnStop() {
    // While the question is open the run's messages wait, so that nothing of
    // the run (its end, its box, the re-read after a save) happens under it,
    // and the answer is about the run it was asked about.
    const bool running = !app_.idle;
    if (running) mailbox_->hold();
    const bool stop = prompts_->Confirm("Do you want to stop the current repair process?",
                                        "This process can not be resumed from current\n state and has to be restarted.");
    // The run may have reached its end meanwhile: then there is nothing to
    // stop, and its own end (a save's box and re-read) follows.
    const bool endedMeanwhile = running && runEnded_;
    if (running) mailbox_->release();
    if (!stop || endedMeanwhile) {
        UpdateCommands();
        return;
    }
    if (!app_.idle) {
        app_.stopRequested = true;
        UpdateCommands();
        WaitUntilIdle();
    }
    ShowMessage("\n\nProcess stopped by user.", kEighteenSpaces);
    findBar_->EnableInput();
    findBar_->findButton()->setEnabled(false);
    findBar_->previousButton()->setEnabled(false);
    AddLogLine("Process stopped by user on " + windowTimestamp());
    if (app_.outputStarted && !app_.previewMode) {
        AddLogLine("File partially repaired and saved at Location  : " + q(app_.savedPath));
        app_.outputStarted = false;
    }
    if (app_.scanRun) {
        app_.fileName.clear();
        lastRepairedPath_.clear();
        currentPath_.clear();
        pane1_->clear();
        ResetTree();
    }
    UpdateCommands();
}

void CMainFrame::OnDeletedRecords() {
    if (app_.selectedPath.empty() || worker_ || !app_.engine) {
        UpdateCommands();
        return;
    }
    auto thread = std::make_unique<CRecoverThread>(app_, this);
    thread->deletedRecordsPass = true;
    thread->sourcePath = currentPath_.toStdString();
    app_.includeDeletedRecords = !app_.includeDeletedRecords;
    app_.stopRequested = false;
    app_.scanRun = false;
    app_.previewMode = false;
    app_.treeLocked = true;
    StartWorker(std::move(thread));
}

void CMainFrame::OnRunFinished() {
    runTimer_->stop();
    const bool wasPreview = previewRun_;
    if (previewRun_) {
        // Every row the run handed over is in the feed by now.
        rowFeed_.Close();
        DrainRows();
        previewRun_ = false;
        tree_->SetPreviewRunning(false);
    }
    pendingSteps_ = 0;
    runEnded_ = false;
    view_->FlushRows();
    if (progress_) {
        progress_->SetPosition(10);
        progress_->Destroy();
        progress_.reset();
    }
    DiscardWorker();
    app_.idle = true;
    // The run's report is complete once its thread has ended.
    const bool saved = !app_.stopRequested && app_.saveSucceeded;
    if (!wasPreview && !saved) ShowReport();
    if (saved) {
        app_.saveSucceeded = false;
        app_.previewMode = true;
        ShowMessage("\nRepaired file saved at the desired location.", "");
        AddLogLine("File saved at the location  : " + q(app_.savedPath));
        ShowReport(true);
        keepReport_ = true;
        StartRepair(true);
        findBar_->EnableInput();
    } else if (app_.stopRequested && !app_.previewMode) {
        app_.stopRequested = false;
        StartRepair(true);
    }
    app_.treeLocked = false;
    UpdateCommands();
}

void CMainFrame::StartPreview(size_t tableIndex) {
    WaitUntilIdle();
    app_.previewMode = true;
    // Nothing of an earlier run may become this table's first row.
    app_.currentRowValues.clear();
    // The bar counts the table's rows, as its definition gives them (the
    // entries of its list, for a table of deleted records).
    const tableInfo& table = app_.engine->tables[tableIndex];
    const long long rows = table.deletedRecords ? (long long)table.deletedRows.size() : (long long)table.recordCount;
    progress_.reset();
    progress_ = std::make_unique<CProgressBar>(statusBar(), pane0_, "Processing");
    progress_->SetRange(0, int(std::clamp<long long>(rows, 1, INT32_MAX)));
    pendingSteps_ = 0;
    previewRun_ = true;
    tree_->SetPreviewRunning(true);
    rowFeed_.Open();
    auto thread = std::make_unique<CRecoverThread>(app_, this);
    thread->sourcePath = currentPath_.toStdString();
    thread->previewTableIndex = int32_t(tableIndex);
    StartWorker(std::move(thread));
}

// ---- The tree -------------------------------------------------------------------

void CMainFrame::OnTreeTextClicked(QTreeWidgetItem* item) {
    // A click (or key) that comes while an earlier one waits for its preview
    // to stop is shown after it: the last one wins.
    if (showingItem_) {
        pendingItem_ = QPersistentModelIndex(tree_->indexFromItem(item));
        return;
    }
    showingItem_ = true;
    ShowTreeItem(item);
    while (pendingItem_.isValid()) {
        QTreeWidgetItem* next = tree_->itemFromIndex(pendingItem_);
        pendingItem_ = QPersistentModelIndex();
        if (next) ShowTreeItem(next);
    }
    showingItem_ = false;
}

void CMainFrame::ShowTreeItem(QTreeWidgetItem* item) {
    CMDBRecovery* engine = app_.engine.get();
    if (!item || !engine || (engine->tables.empty() && engine->queries.empty() && engine->linkedTables.empty())) return;
    QTreeWidgetItem* root = tree_->Root();
    if (root && root->childCount() > 0) {
        if (!app_.idle) {
            app_.stopRequested = true;
            WaitUntilIdle();
        }
        app_.stopRequested = false;
        DiscardWorker();
    }
    const QString text = item->text(0);
    QTreeWidgetItem* parent = item->parent();
    const QString parentText = parent ? parent->text(0) : QString();
    if (kCategoryNames.contains(text) && parentText == q(app_.selectedPath)) {
        view_->ShowPicture(0);
        UpdateCommands();
        return;
    }
    pane1_->setText("Selected Item  : " + text);
    const std::string name = text.toStdString();
    const std::string grandparent = parent && parent->parent() ? parent->parent()->text(0).toStdString() : std::string();
    const auto findTable = [&](const std::string& tableName) -> const tableInfo* {
        for (const tableInfo& table : engine->tables) {
            if (table.name == tableName) return &table;
        }
        return nullptr;
    };
    if (!parent) {
        view_->ShowPicture(0);
    } else if (parentText == "Tables") {
        for (size_t k = 0; k < engine->tables.size(); ++k) {
            if (engine->tables[k].name != name) continue;
            WaitUntilIdle();
            view_->ShowTable(engine->tables[k], engine->jet4Layout);
            StartPreview(k);
            break;
        }
    } else if (parentText == "Linked Tables") {
        for (const LinkedTableInfo& link : engine->linkedTables) {
            if (link.linkName == name) {
                view_->ShowText(LinkedTableText(link));
                break;
            }
        }
    } else if (parentText == "Queries") {
        for (const queryInfo& query : engine->queries) {
            if (query.name == name) {
                view_->ShowText(QueryText(query));
                break;
            }
        }
    } else if (parentText == "Indexes") {
        if (const tableInfo* table = findTable(grandparent)) {
            for (const indexInfo& index : table->indexes) {
                if (std::find(index.indexNames.begin(), index.indexNames.end(), name) != index.indexNames.end()) {
                    view_->ShowText(IndexText(*table, index, text));
                    break;
                }
            }
        }
    } else if (parentText == "Relations") {
        const RelationView* shown = nullptr;
        const auto relations = RelationsOf(*engine);
        for (const RelationView& relation : relations) {
            if (relation.relationName == name && relation.tableName == grandparent) shown = &relation;
        }
        if (shown) view_->ShowText(RelationText(*shown));
    } else if (parentText == "Forms" || parentText == "Reports" || parentText == "Macros" || parentText == "Modules") {
        view_->ShowNoPreview(q(app_.fileName));
    }
    UpdateCommands();
}

// ---- Find in the tree -----------------------------------------------------------

void CMainFrame::OnFindTextChanged() {
    findBar_->findButton()->setText("Find");
    if (!findBar_->textBox()->text().isEmpty()) {
        tree_->startItem = tree_->Root();
        tree_->SelectItem(tree_->Root());
        findBar_->findButton()->setEnabled(true);
    } else {
        findBar_->findButton()->setEnabled(false);
    }
    findBar_->previousButton()->setEnabled(false);
    foundHistory_.clear();
}

void CMainFrame::OnFindNext() {
    const QString text = findBar_->textBox()->text();
    const bool matchCase = findBar_->matchCase()->isChecked();
    const bool wholeWord = findBar_->wholeWord()->isChecked();
    QTreeWidgetItem* current = tree_->currentItem();
    if (foundHistory_.isEmpty()) {
        foundHistory_.append(current);
        findBar_->previousButton()->setEnabled(true);
    }
    QTreeWidgetItem* found = tree_->FindItem(text, matchCase, true, wholeWord);
    if (found && found != current) {
        tree_->SelectItem(found);
        foundHistory_.append(found);
        findBar_->previousButton()->setEnabled(true);
    }
    if (!found) {
        QString upper;
        if (foundHistory_.size() == 1) {
            findBar_->previousButton()->setEnabled(false);
            upper = "\n\nSearch is finished. No match found.";
        } else {
            upper = "Search is finished, No further results available.";
        }
        ShowMessage(upper, "");
        tree_->SelectItem(tree_->startItem);
    }
}

void CMainFrame::OnFindPrevious() {
    const qsizetype n = foundHistory_.size();
    if (n > 1) {
        tree_->SelectItem(foundHistory_[n - 2]);
        foundHistory_.removeLast();
    }
    if (foundHistory_.size() == 1) findBar_->previousButton()->setEnabled(false);
}

// ---- Log ------------------------------------------------------------------------

void CMainFrame::AddLogLine(const QString& text) { log_->AddLogLine(text); }

void CMainFrame::ShowReport(bool afterSave) {
    if (!app_.engine) {
        report_->Clear();
        return;
    }
    if (keepReport_) {
        keepReport_ = false;
    } else {
        lastReport_ = SummaryOfRun(app_, *app_.engine);
        if (afterSave && !lastReport_.saveRan) {
            // A summary of the scan's findings: the save adds where it went.
            lastReport_.saveRan = true;
            lastReport_.lines << "Output  : " + q(app_.savedPath);
        }
        report_->Show(lastReport_);
        report_->raise();
    }
    report_->SetEngine(app_.engine);
    QHash<QString, QString> marks;
    for (const ReportSummary::TableLoss& table : lastReport_.tables) marks.insert(table.name, table.problems.join('\n'));
    tree_->MarkLosses(marks);
}

void CMainFrame::OnClearLog() {
    if (!CommandStateFor(ID_TOOL_CLEARLOG, Context()).enabled) return;
    logHasContent_ = false;
    log_->ClearLog();
    UpdateCommands();
}

void CMainFrame::OnSaveLog() {
    if (!CommandStateFor(ID_TOOL_SAVELOG, Context()).enabled) return;
    while (true) {
        const QString chosen = prompts_->ChooseLogFile(kLogDefaultName);
        if (chosen.isEmpty()) return;
        const QString path = LogReportPath(chosen);
        if (QFileInfo::exists(path) && !prompts_->AskOverwrite(path)) continue;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            prompts_->PlatformMessage("Access to " + path + " was denied.\n" + file.errorString());
            return;
        }
        const QByteArray bytes = log_->GetLogBytes();
        if (file.write(bytes) != bytes.size() || !file.flush()) {
            prompts_->PlatformMessage("An error occurred while writing " + path + ".\n" + file.errorString());
        }
        file.close();
        return;
    }
}

// ---- Help and the rest ----------------------------------------------------------

void CMainFrame::OnHelp() {
    const QString document = settings_.installFolder.isEmpty() ? QString() : settings_.installFolder + "/README.md";
    if (document.isEmpty() || !QFileInfo::exists(document)) {
        ShowMessage("\nThe help document is not installed.", "It is the file README.md of the product" +
                                                                 (document.isEmpty() ? QString(".") : ": " + document));
        return;
    }
    // Without a program for text documents the desktop cannot show it: the
    // user is told where it is.
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(document))) {
        ShowMessage("\nNo program to show the help document is installed.", "The help is the file " + document);
    }
}

void CMainFrame::OnUpdates() {
    ShowMessage("\nUpdates of Quorvin Talmera Access Database Repair come through",
                "the system's package manager (for example apt).");
}

void CMainFrame::OnAbout() {
    CAboutDlg about(settings_.version, settings_.supportLink, settings_.installFolder + "/LICENSE", this);
    about.exec();
}

void CMainFrame::ChooseCodePage() {
    QMenu menu(this);
    auto* group = new QActionGroup(&menu);
    const unsigned pages[] = {1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258, 874, 932, 936, 949, 950};
    for (unsigned page : pages) {
        QAction* action = menu.addAction(QString("Windows code page %1").arg(page));
        action->setCheckable(true);
        action->setChecked(q(codePageName(page)) == q(app_.codePage));
        action->setData(page);
        group->addAction(action);
    }
    QAction* chosen = menu.exec(QCursor::pos());
    if (chosen) ApplyCodePage(chosen->data().toUInt());
}

void CMainFrame::ApplyCodePage(unsigned codePage) {
    app_.codePage = codePageName(codePage);
    QSettings().setValue("CodePage", codePage);
    const bool readAgain = app_.idle && fileLoaded_ && !app_.invalidFile && !currentPath_.isEmpty();
    AddLogLine("Code page of Access 97 texts  : " + QString::number(codePage) +
               (readAgain ? " (the open file is read again)" : " (used from the next repair)"));
    if (!readAgain) return;
    // The same file again, on purpose: its texts are read anew.
    app_.selectedPath = currentPath_.toStdString();
    lastRepairedPath_.clear();
    OnRepairSelected();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (app_.idle) {
        if (prompts_->Confirm("\nExit Quorvin Talmera Access Database Repair?", kEighteenSpaces)) {
            DiscardWorker();
            event->accept();
            // Leaving through the event loop: a normal end with status 0.
            QCoreApplication::quit();
        } else {
            event->ignore();
        }
        return;
    }
    ShowMessage("\nCan not exit !",
                "Please first stop the current process before exiting Quorvin Talmera Access Database Repair.");
    event->ignore();
}

}  // namespace talmera::ui
