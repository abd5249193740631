#include "ui/SelectFileDlg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStorageInfo>
#include <QVBoxLayout>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "engine/ApplicationState.h"
#include "ui/Dialogs.h"
#include "ui/MainFrame.h"
#include "ui/Prompts.h"
#include "ui/SyncCall.h"

namespace talmera::ui {
namespace {

const QStringList kHeadings = {"File Path", "File Size (KB)", "Modified", "Created", "Accessed"};
const int kWidthExtra[] = {110, 80, 80, 80, 80};
const QColor kFoundRowColour(209, 101, 100);

// Found files kept from one opening of the dialog to the next.
std::vector<FILEPROPERTY>& keptFiles() {
    static std::vector<FILEPROPERTY> files;
    return files;
}

bool isDatabaseName(const QString& name, const QString& extension) {
    return name.size() > extension.size() && name.endsWith(extension, Qt::CaseInsensitive);
}

}  // namespace

QStringList DriveEntries() {
    QStringList entries;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady()) continue;
        const QString entry = "Logical Drive (" + volume.rootPath() + ")";
        if (!entries.contains(entry)) entries << entry;
    }
    const QString home = "Logical Drive (" + QDir::homePath() + ")";
    if (!entries.contains(home)) entries << home;
    return entries;
}

QString DriveFolder(const QString& entry) {
    const qsizetype open = entry.indexOf('(');
    const qsizetype close = entry.lastIndexOf(')');
    if (open < 0 || close <= open) return entry;
    return entry.mid(open + 1, close - open - 1);
}

QString FoundFileTime(const QDateTime& time) {
    if (!time.isValid() || time.toMSecsSinceEpoch() == 0) return QString();
    return QLocale().toString(time.toLocalTime(), QLocale::ShortFormat);
}

FILEPROPERTY ReadFileProperty(const QString& path) {
    const QFileInfo info(path);
    FILEPROPERTY file;
    file.path = path;
    file.size = QString::number(info.size() / 1024);
    file.created = FoundFileTime(info.birthTime());
    file.accessed = FoundFileTime(info.lastRead());
    file.modified = FoundFileTime(info.lastModified());
    return file;
}

SortKind SortKindOf(int column) {
    switch (column) {
        case 0: return SortKind::Text;
        case 1: return SortKind::Number;
        default: return SortKind::Date;
    }
}

int CompareCells(SortKind kind, const QString& a, const QString& b) {
    switch (kind) {
        case SortKind::Text: {
            // Byte by byte, so upper case sorts before lower case.
            const QByteArray x = a.toLocal8Bit(), y = b.toLocal8Bit();
            const int c = std::memcmp(x.constData(), y.constData(), size_t(std::min(x.size(), y.size())));
            if (c != 0) return c;
            return x.size() < y.size() ? -1 : (x.size() > y.size() ? 1 : 0);
        }
        case SortKind::Number: {
            const qlonglong x = a.trimmed().toLongLong(), y = b.trimmed().toLongLong();
            return x < y ? -1 : (x > y ? 1 : 0);
        }
        case SortKind::Date: {
            const QLocale locale;
            const QDateTime x = locale.toDateTime(a, QLocale::ShortFormat);
            const QDateTime y = locale.toDateTime(b, QLocale::ShortFormat);
            // A cell that is not a time sorts after every time.
            if (!x.isValid() || !y.isValid()) return x.isValid() ? -1 : (y.isValid() ? 1 : 0);
            const qint64 difference = x.msecsTo(y);
            if (difference > -500 && difference < 500) return 0;
            return difference > 0 ? -1 : 1;
        }
    }
    return 0;
}

CDezFileList::CDezFileList(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(5);
    setHeaderLabels(kHeadings);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setAlternatingRowColors(false);
    // The heading's length in characters plus a margin, in pixels; the
    // paths take what the other columns leave, shortened in the middle so
    // that both the folder's start and the file's name show.
    for (int i = 0; i < 5; ++i) setColumnWidth(i, int(kHeadings[i].size()) + kWidthExtra[i]);
    header()->setMinimumSectionSize(40);
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::Stretch);
    setTextElideMode(Qt::ElideMiddle);
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(false);
    connect(header(), &QHeaderView::sectionClicked, this, &CDezFileList::SortByColumn);
}

void CDezFileList::AddRow(const FILEPROPERTY& file) {
    auto* item = new QTreeWidgetItem(this);
    item->setText(0, file.path);
    item->setToolTip(0, file.path);
    item->setText(1, file.size);
    item->setText(2, file.modified);
    item->setText(3, file.created);
    item->setText(4, file.accessed);
    Recolour();
}

std::vector<FILEPROPERTY> CDezFileList::Rows() const {
    std::vector<FILEPROPERTY> rows;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = topLevelItem(i);
        rows.push_back({item->text(0), item->text(1), item->text(3), item->text(4), item->text(2)});
    }
    return rows;
}

void CDezFileList::SortByColumn(int column) {
    if (column < 0 || column >= 5) return;
    ascending_ = column == sortColumn_ ? !ascending_ : true;
    sortColumn_ = column;
    // The rows chosen stay chosen: they are taken out and put back, which
    // would clear the selection; the path box then shows the first chosen
    // row in the new order.
    const QList<QTreeWidgetItem*> selected = selectedItems();
    QTreeWidgetItem* current = currentItem();
    QList<QTreeWidgetItem*> items;
    while (topLevelItemCount() > 0) items << takeTopLevelItem(0);
    const SortKind kind = SortKindOf(column);
    std::stable_sort(items.begin(), items.end(), [&](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        const int c = CompareCells(kind, a->text(column), b->text(column));
        return ascending_ ? c < 0 : c > 0;
    });
    addTopLevelItems(items);
    if (current) setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
    for (QTreeWidgetItem* item : selected) item->setSelected(true);
    if (current) scrollToItem(current);
    Recolour();
}

void CDezFileList::FitColumns() {
    // Sizes and times in full: at least the rule's width, more when a cell
    // needs it.
    for (int i = 1; i < 5; ++i) {
        resizeColumnToContents(i);
        setColumnWidth(i, std::max(columnWidth(i), int(kHeadings[i].size()) + kWidthExtra[i]));
    }
}

void CDezFileList::Recolour() {
    for (int i = 0; i < topLevelItemCount(); ++i) {
        for (int c = 0; c < 5; ++c) {
            topLevelItem(i)->setBackground(c, i % 2 == 1 ? QBrush(kFoundRowColour) : QBrush(Qt::white));
        }
    }
}

void CDezFileList::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) clearSelection();
    QTreeWidget::mousePressEvent(event);
}

CSelectFileDlg::CSelectFileDlg(CQuorvinAccessRecoveryApp& app, CMainFrame& frame, IPrompts& prompts, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), app_(app), frame_(frame), prompts_(prompts) {
    mailbox_ = new Mailbox(this);
    MakeWhite(this);
    setWindowTitle(kProductName);
    auto* outer = new QVBoxLayout(this);

    // The banner across the top, with "Close" at its right.
    auto* banner = new QWidget;
    banner->setFixedHeight(64);
    banner->setAutoFillBackground(true);
    QPalette bannerPalette = banner->palette();
    QLinearGradient gradient(0, 0, 900, 0);
    gradient.setColorAt(0, QColor(40, 90, 160));
    gradient.setColorAt(1, QColor(120, 170, 230));
    bannerPalette.setBrush(QPalette::Window, gradient);
    banner->setPalette(bannerPalette);
    auto* bannerRow = new QHBoxLayout(banner);
    auto* title = new QLabel(kProductName);
    title->setStyleSheet("color: white; font-size: 16pt; font-weight: bold;");
    bannerRow->addWidget(title);
    bannerRow->addStretch(1);
    auto* close = new QPushButton("Close");
    close->setAutoDefault(false);
    bannerRow->addWidget(close, 0, Qt::AlignTop);
    outer->addWidget(banner);

    auto* intro = new QLabel(
        "To repair corrupted *.mdb / *.accdb file, click 'Select File' button. Click 'Select Folder' button to select "
        "all Access files in a particular folder. To find an *.mdb / *.accdb file(s), click 'Find Files' button.");
    intro->setWordWrap(true);
    outer->addWidget(intro);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("Look in:"), 0, 0);
    drives_ = new QComboBox;
    drives_->addItems(DriveEntries());
    grid->addWidget(drives_, 0, 1);
    grid->addWidget(new QLabel("File Type:"), 1, 0);
    fileType_ = new QLineEdit;
    fileType_->setReadOnly(true);
    grid->addWidget(fileType_, 1, 1);
    selectFile_ = new QPushButton("Select File");
    selectFolder_ = new QPushButton("Select Folder");
    findFiles_ = new QPushButton("Find Files");
    grid->addWidget(selectFile_, 0, 2);
    grid->addWidget(selectFolder_, 0, 3);
    grid->addWidget(findFiles_, 1, 2);
    subfolders_ = new QCheckBox("Find in Subfolders");
    grid->addWidget(subfolders_, 1, 3);
    outer->addLayout(grid);

    list_ = new CDezFileList;
    list_->setMinimumSize(760, 220);
    outer->addWidget(list_, 1);
    progress_ = new QProgressBar;
    progress_->setTextVisible(false);
    outer->addWidget(progress_);

    auto* countRow = new QHBoxLayout;
    count_ = new QLabel;
    countRow->addWidget(count_);
    countRow->addStretch(1);
    clearList_ = new QPushButton("Clear list");
    stop_ = new QPushButton("Stop");
    countRow->addWidget(clearList_);
    countRow->addWidget(stop_);
    outer->addLayout(countRow);

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(new QLabel("Selected File Path:"));
    pathBox_ = new QLineEdit;
    pathBox_->setReadOnly(true);
    pathRow->addWidget(pathBox_, 1);
    outer->addLayout(pathRow);

    auto* bottom = new QHBoxLayout;
    deleted_ = new QCheckBox("Scan for deleted records");
    bottom->addWidget(deleted_);
    bottom->addStretch(1);
    repair_ = new QPushButton("Repair");
    auto* help = new QPushButton("Help");
    bottom->addWidget(repair_);
    bottom->addWidget(help);
    outer->addLayout(bottom);
    for (QPushButton* b : {selectFile_, selectFolder_, findFiles_, clearList_, stop_, repair_, help}) b->setAutoDefault(false);

    // Opening: drives, file type, options, the path of the last list's first file.
    const QString home = "Logical Drive (" + QDir::homePath() + ")";
    if (drives_->findText(home) >= 0) drives_->setCurrentIndex(drives_->findText(home));
    fileType_->setText("Access Files (*.mdb,*.accdb)");
    subfolders_->setChecked(true);
    progress_->hide();
    stop_->hide();
    count_->hide();
    clearList_->hide();
    repair_->setEnabled(false);
    if (!keptFiles().empty()) pathBox_->setText(keptFiles().front().path);
    repair_->setEnabled(!pathBox_->text().isEmpty());
    deleted_->setChecked(app_.includeDeletedRecords);
    app_.stopRequested = false;

    connect(pathBox_, &QLineEdit::textChanged, this, [this](const QString& text) { repair_->setEnabled(!text.isEmpty()); });
    connect(selectFile_, &QPushButton::clicked, this, &CSelectFileDlg::OnSelectFile);
    connect(selectFolder_, &QPushButton::clicked, this, &CSelectFileDlg::OnSelectFolder);
    connect(findFiles_, &QPushButton::clicked, this, &CSelectFileDlg::OnFindFiles);
    connect(stop_, &QPushButton::clicked, this, &CSelectFileDlg::OnStopSearch);
    connect(clearList_, &QPushButton::clicked, this, &CSelectFileDlg::OnClearList);
    connect(repair_, &QPushButton::clicked, this, &CSelectFileDlg::OnRepair);
    connect(close, &QPushButton::clicked, this, &CSelectFileDlg::OnClose);
    connect(help, &QPushButton::clicked, &frame_, &CMainFrame::OnHelp);
    connect(deleted_, &QCheckBox::toggled, this, [this](bool on) {
        if (on) app_.includeDeletedRecords = true;
    });
    connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] {
        const QList<QTreeWidgetItem*> selected = list_->selectedItems();
        QTreeWidgetItem* first = nullptr;
        for (int i = 0; i < list_->topLevelItemCount() && !first; ++i) {
            if (selected.contains(list_->topLevelItem(i))) first = list_->topLevelItem(i);
        }
        pathBox_->setText(first ? first->text(0) : QString());
    });
    resize(900, 600);
}

CSelectFileDlg::~CSelectFileDlg() {
    if (searchRunning_) {
        searchStopRequested_ = true;
        WaitForSearch();
    }
    if (searchThread_.joinable()) searchThread_.join();
    mailbox_->close();
}

void CSelectFileDlg::mousePressEvent(QMouseEvent* event) {
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
    QDialog::mousePressEvent(event);
}

void CSelectFileDlg::mouseMoveEvent(QMouseEvent* event) {
    // The dialog has no caption: it is moved by its body.
    if (event->buttons() & Qt::LeftButton) move(event->globalPosition().toPoint() - dragOffset_);
    QDialog::mouseMoveEvent(event);
}

void CSelectFileDlg::reject() { OnClose(); }

void CSelectFileDlg::OnSelectFile() {
    const QString chosen = prompts_.ChooseDatabaseFile();
    if (!chosen.isEmpty()) pathBox_->setText(chosen);
    count_->clear();
}

void CSelectFileDlg::OnFindFiles() { StartSearch(DriveFolder(drives_->currentText()), true); }

void CSelectFileDlg::OnSelectFolder() {
    QString folder = prompts_.ChooseFolder();
    if (folder.isEmpty()) return;
    if (folder.size() > 1 && folder.endsWith('/')) folder.chop(1);
    StartSearch(folder, true);
}

void CSelectFileDlg::EnableSearchControls(bool enable) {
    for (QWidget* w : std::initializer_list<QWidget*>{selectFile_, findFiles_, selectFolder_, drives_}) w->setEnabled(enable);
}

void CSelectFileDlg::StartSearch(const QString& folder, bool countText) {
    if (searchRunning_) return;
    if (searchThread_.joinable()) searchThread_.join();
    list_->clear();
    clearList_->hide();
    found_.clear();
    pathBox_->clear();
    count_->hide();
    repair_->setEnabled(false);
    EnableSearchControls(false);
    subfolders_->setEnabled(false);
    countAfterSearch_ = countText;
    searchRunning_ = true;
    searchStopRequested_ = false;
    const bool subfolders = subfolders_->isChecked();
    searchThread_ = std::thread([this, folder, subfolders] { Search(folder, subfolders); });
}

bool CSelectFileDlg::SendProgress(int what) {
    return mailbox_->call([this, what] { OnSearchProgress(what); });
}

void CSelectFileDlg::OnSearchProgress(int what) {
    if (what == 1) {
        stop_->show();
        progress_->setRange(1, 5000);
        progress_->setValue(1);
        progress_->show();
    } else if (what == 2) {
        // An activity indicator: it starts again from the beginning when full.
        progress_->setValue(progress_->value() >= progress_->maximum() ? progress_->minimum() : progress_->value() + 1);
    } else {
        progress_->setValue(std::min(10, progress_->maximum()));
        progress_->hide();
    }
}

void CSelectFileDlg::SearchFolder(const QString& folder) {
    // One listing, searched for each pattern in turn.
    std::vector<std::filesystem::directory_entry> entries;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder.toStdString(),
                                                std::filesystem::directory_options::skip_permission_denied, error),
         end;
         !error && it != end; it.increment(error)) {
        entries.push_back(*it);
        if (searchStopRequested_) return;
    }
    for (const QString& extension : {QStringLiteral(".mdb"), QStringLiteral(".accdb")}) {
        SendProgress(2);
        for (const auto& entry : entries) {
            if (searchStopRequested_) return;
            const QString name = QString::fromStdString(entry.path().filename().string());
            std::error_code typeError;
            if (!isDatabaseName(name, extension) || name.startsWith('.') || !entry.is_regular_file(typeError)) continue;
            SendProgress(2);
            found_.push_back(ReadFileProperty(QString::fromStdString(entry.path().string())));
        }
    }
}

void CSelectFileDlg::Search(QString folder, bool subfolders) {
    std::vector<QString> folders;
    SendProgress(1);
    struct stat startStatus {};
    const bool haveDevice = ::stat(folder.toStdString().c_str(), &startStatus) == 0;
    if (!subfolders) {
        SendProgress(2);
        SearchFolder(folder);
    } else {
        // Collect the folders first, depth first; hidden folders are not
        // entered, links are not followed (no cycles) and the walk stays on
        // the file system it started on, as a drive's search stays on its drive.
        folders.push_back(folder);
        // Pre-order without recursion: one open listing per level.
        namespace fs = std::filesystem;
        struct Level {
            fs::directory_iterator it;
            QString path;
        };
        std::vector<Level> levels;
        const auto open = [&](const QString& path) {
            std::error_code error;
            fs::directory_iterator it(path.toStdString(), fs::directory_options::skip_permission_denied, error);
            if (!error) levels.push_back({std::move(it), path});
        };
        open(folder);
        while (!levels.empty() && !searchStopRequested_) {
            Level& level = levels.back();
            if (level.it == fs::directory_iterator()) {
                levels.pop_back();
                continue;
            }
            const fs::directory_entry entry = *level.it;
            const QString parent = level.path;
            std::error_code error;
            level.it.increment(error);
            if (error) level.it = fs::directory_iterator();
            const QString name = QString::fromStdString(entry.path().filename().string());
            std::error_code typeError;
            if (name.startsWith('.') || entry.is_symlink(typeError) || !entry.is_directory(typeError)) continue;
            struct stat status {};
            if (haveDevice && (::lstat(entry.path().c_str(), &status) != 0 || status.st_dev != startStatus.st_dev)) {
                continue;
            }
            const QString child = (parent.endsWith('/') ? parent : parent + "/") + name;
            folders.push_back(child);
            open(child);
        }
        for (const QString& each : folders) {
            if (searchStopRequested_) break;
            SendProgress(2);
            SearchFolder(each);
        }
    }
    if (searchStopRequested_) folders.clear();
    const bool stopped = searchStopRequested_;
    if (!stopped) mailbox_->call([this] { OnSearchDone(); });
    SendProgress(3);
    mailbox_->call([this] { OnSearchEnded(); });
}

void CSelectFileDlg::OnSearchDone() {
    if (!found_.empty() || list_->topLevelItemCount() > 0) clearList_->show();
    for (size_t i = 0; i < found_.size(); ++i) {
        OnSearchProgress(2);
        list_->AddRow(found_[i]);
        if (i == 0) pathBox_->setText(found_[i].path);
    }
    progress_->hide();
    list_->FitColumns();
    if (list_->topLevelItemCount() > 0) list_->topLevelItem(0)->setSelected(true);
    searchStopRequested_ = false;
    count_->setText(countAfterSearch_ ? "Total files found:  " + QString::number(found_.size()) : QString());
    count_->show();
    subfolders_->setEnabled(true);
    found_.clear();
}

void CSelectFileDlg::OnSearchEnded() {
    stop_->hide();
    progress_->hide();
    EnableSearchControls(true);
    if (searchStopRequested_) {
        if (list_->topLevelItemCount() > 0) clearList_->show();
        searchStopRequested_ = false;
    }
    subfolders_->setEnabled(true);
    searchRunning_ = false;
}

void CSelectFileDlg::WaitForSearch() {
    while (searchRunning_) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    if (searchThread_.joinable()) searchThread_.join();
}

void CSelectFileDlg::OnStopSearch() {
    searchStopRequested_ = true;
    subfolders_->setEnabled(true);
}

void CSelectFileDlg::OnClearList() {
    list_->clear();
    clearList_->hide();
    found_.clear();
    count_->clear();
    pathBox_->clear();
}

void CSelectFileDlg::KeepRows() { keptFiles() = list_->Rows(); }

void CSelectFileDlg::OnRepair() {
    const QString path = pathBox_->text();
    if (path.isEmpty()) return;
    // A file that cannot be read is named with the reason, and another can
    // be chosen at once.
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        app_.messageLine1 = "\nThe selected file cannot be read.";
        app_.messageLine2 = (path + " : " + reason).toStdString();
        prompts_.MessageBox(QString::fromStdString(app_.messageLine1), QString::fromStdString(app_.messageLine2));
        return;
    }
    struct stat status {};
    const bool isFolder = ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
    ::close(fd);
    if (isFolder) {
        app_.messageLine1 = "\nThe selected file cannot be read.";
        app_.messageLine2 = (path + " : " + QString::fromLocal8Bit(std::strerror(EISDIR))).toStdString();
        prompts_.MessageBox(QString::fromStdString(app_.messageLine1), QString::fromStdString(app_.messageLine2));
        return;
    }
    if (searchRunning_) {
        searchStopRequested_ = true;
        WaitForSearch();
    }
    app_.includeDeletedRecords = deleted_->isChecked();
    KeepRows();
    app_.selectedPath = path.toStdString();
    frame_.HandleMessage(UM_REPAIR_SELECTED, 0, 0);
    accept();
}

void CSelectFileDlg::OnClose() {
    // A running search is stopped and awaited before the dialog goes.
    if (searchRunning_) {
        searchStopRequested_ = true;
        WaitForSearch();
    }
    KeepRows();
    QDialog::reject();
}

}  // namespace talmera::ui
