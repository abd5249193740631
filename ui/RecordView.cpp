#include "ui/RecordView.h"

#include <algorithm>

#include <QFileInfo>
#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QTabBar>
#include <QTableView>

#include "accessobjects/ObjectsFolder.h"
#include "engine/ApplicationState.h"
#include "engine/CatalogRecords.h"
#include "ui/Images.h"
#include "ui/LeftView.h"

namespace talmera::ui {

namespace {
constexpr int kListTop = 25;
constexpr int kFlushMilliseconds = 100;
const QColor kRecordRowColour(247, 196, 183);
const std::string kNonWesternMark = "(non-western character)";
constexpr int kTypeText = 0x0A;
constexpr int kTypeMemo = 0x0C;

QString cellText(std::string_view cell) { return QString::fromUtf8(cell.data(), qsizetype(cell.size())); }

// The width a list gives its columns: its client width, less a vertical
// scroll bar when `rows` will not fit.
int clientWidth(const QTableView* list, qint64 rows) {
    const QSize area = list->maximumViewportSize();
    int width = area.width();
    const qint64 needed = qint64(list->horizontalHeader()->sizeHint().height()) +
                          rows * qint64(list->verticalHeader()->defaultSectionSize());
    if (needed > area.height()) width -= list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
    return std::max(0, width);
}
}  // namespace

bool ShortenAtNonWesternCharacter(std::string& text) {
    // In UTF-8 every character beyond U+00FF starts with a byte of 0xC4 or
    // more; no other byte (continuations are 0x80 to 0xBF) reaches it.
    for (size_t i = 0; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0xC4) {
            text.resize(i);
            text += kNonWesternMark;
            return true;
        }
    }
    return false;
}

bool ShowsWesternTextOnly(const columnInfo& column) {
    const int type = ColumnDisplayType(column);
    return type == kTypeText || type == kTypeMemo;
}

QStringList NoPreviewNote(const QString& fileName) {
    const QString stem = QFileInfo(fileName).completeBaseName();
    const QString folder = "Repaired_" + QString::fromStdString(SafeFileName(stem.toStdString())) + "_objects/";
    return {"Save keeps them beside the repaired database, in the folder " + folder,
            "with the project file that holds them, objects.txt listing them, and each module's code.",
            "Microsoft Access, which alone copies them into a database, does not run on this system."};
}

// ---- RowModel -------------------------------------------------------------------

RowModel::RowModel(const QColor& oddRows, QObject* parent, size_t memoryBudget)
    : QAbstractTableModel(parent), oddRows_(oddRows), store_(memoryBudget) {
    flushTimer_ = new QTimer(this);
    flushTimer_->setSingleShot(true);
    flushTimer_->setInterval(kFlushMilliseconds);
    connect(flushTimer_, &QTimer::timeout, this, &RowModel::Flush);
}

int RowModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : shown_; }

void RowModel::Flush() {
    flushTimer_->stop();
    const int rows = int(std::min<size_t>(store_.Rows(), size_t(INT32_MAX)));
    if (shown_ >= rows) return;
    beginInsertRows({}, shown_, rows - 1);
    shown_ = rows;
    endInsertRows();
}

QVariant RowModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= shown_) return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        return cellText(store_.Cell(size_t(index.row()), size_t(index.column())));
    }
    if (role == Qt::BackgroundRole && index.row() % 2 == 1) return oddRows_;
    return {};
}

QVariant RowModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role == Qt::DisplayRole && orientation == Qt::Horizontal && section < headers_.size()) return headers_[section];
    return QAbstractTableModel::headerData(section, orientation, role);
}

void RowModel::SetHeaders(const QStringList& headers) {
    beginResetModel();
    headers_ = headers;
    store_.Clear();
    shown_ = 0;
    endResetModel();
}

void RowModel::Clear() { SetHeaders({}); }

void RowModel::AppendRow(const std::vector<std::string>& cells) {
    store_.Append(cells);
    if (!flushTimer_->isActive()) flushTimer_->start();
}

void RowModel::AppendRow(const std::string_view* cells, size_t count) {
    store_.Append(cells, count);
    if (!flushTimer_->isActive()) flushTimer_->start();
}

void RowModel::AppendRow(const QStringList& cells) {
    std::vector<std::string> texts;
    texts.reserve(size_t(cells.size()));
    for (const QString& cell : cells) texts.push_back(cell.toStdString());
    AppendRow(texts);
}

QStringList RowModel::Row(int row) const {
    QStringList cells;
    if (row < 0) return cells;
    const size_t count = store_.CellCount(size_t(row));
    for (size_t c = 0; c < count; ++c) cells << cellText(store_.Cell(size_t(row), c));
    return cells;
}

// ---- The view -------------------------------------------------------------------

CReadOnlyEdit::CReadOnlyEdit(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont font("Times New Roman");
    font.setPointSizeF(10.5);
    setFont(font);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    setPalette(palette);
}

CQuorvinAccessRecoveryView::CQuorvinAccessRecoveryView(CQuorvinAccessRecoveryApp& app, QWidget* parent)
    : QWidget(parent), app_(app) {
    setMinimumSize(200, 150);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
}

ViewContent CQuorvinAccessRecoveryView::Content() const {
    if (textPane_) return ViewContent::Text;
    if (tabs_) return ViewContent::Table;
    return ViewContent::Picture;
}

void CQuorvinAccessRecoveryView::DestroyChildren() {
    delete tabs_;
    delete dataList_;
    delete columnList_;
    delete dataModel_;
    delete columnModel_;
    delete textPane_;
    tabs_ = nullptr;
    dataList_ = columnList_ = nullptr;
    dataModel_ = columnModel_ = nullptr;
    textPane_ = nullptr;
    text_.clear();
    note_.clear();
    westernOnly_.clear();
}

void CQuorvinAccessRecoveryView::ShowPicture(int mode) {
    DestroyChildren();
    pictureMode_ = mode;
    update();
}

void CQuorvinAccessRecoveryView::ShowNoPreview(const QString& fileName) {
    ShowPicture(1);
    note_ = NoPreviewNote(fileName);
}

CReadOnlyEdit* CQuorvinAccessRecoveryView::ShowText(const QString& text) {
    DestroyChildren();
    textPane_ = new CReadOnlyEdit(this);
    text_ = text;
    QString shown = text;
    shown.replace("\r\n", "\n");
    textPane_->setPlainText(shown);
    Layout();
    textPane_->show();
    return textPane_;
}

namespace {
QTableView* makeList(QWidget* parent, RowModel* model) {
    auto* list = new QTableView(parent);
    list->setModel(model);
    list->setShowGrid(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->verticalHeader()->hide();
    // Fixed row heights keep a list of a million rows quick: the view never
    // measures a row.
    list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 6);
    list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list->horizontalHeader()->setStretchLastSection(false);
    list->setWordWrap(false);
    return list;
}
}  // namespace

void CQuorvinAccessRecoveryView::ShowTable(const tableInfo& table, bool westernTextOnly) {
    DestroyChildren();
    tabs_ = new QTabBar(this);
    tabs_->addTab("Table Data");
    tabs_->addTab("Column Information");
    tabs_->setStyleSheet("QTabBar::tab { min-width: 150px; }");
    dataModel_ = new RowModel(kRecordRowColour, this);
    columnModel_ = new RowModel(kRecordRowColour, this);
    columnModel_->SetHeaders({"Column_Name", "DataType", "Description", "Size"});
    columnList_ = makeList(this, columnModel_);
    dataList_ = makeList(this, dataModel_);
    tabs_->setCurrentIndex(0);
    connect(tabs_, &QTabBar::currentChanged, this, &CQuorvinAccessRecoveryView::OnTabChanged);
    Layout();

    QStringList headers;
    for (const columnInfo& column : table.columns) {
        headers << QString::fromStdString(column.name);
        westernOnly_.push_back(westernTextOnly && ShowsWesternTextOnly(column));
    }
    dataModel_->SetHeaders(headers);
    // The lists are not shown yet, so their client width comes from their
    // place, not from a viewport that has not been laid out.
    const int width = clientWidth(dataList_, qint64(table.recordCount));
    const int count = int(table.columnCount);
    for (int i = 0; i < headers.size(); ++i) {
        const int columnWidth = count < 11 ? width / std::max(1, count) : int(headers[i].size()) * 4 + 75;
        dataList_->setColumnWidth(i, columnWidth);
        const auto cells = ColumnInformationRow(table.columns[size_t(i)], app_.accessNewTypeNames);
        columnModel_->AppendRow(QStringList{cells[0], cells[1], cells[2], cells[3]});
    }
    columnModel_->Flush();
    SizeColumnInformation();
    rowCounter_ = 0;
    tabs_->show();
    dataList_->show();
    columnList_->hide();
}

void CQuorvinAccessRecoveryView::SizeColumnInformation() {
    if (!columnList_ || !columnModel_) return;
    // A quarter of the client width each, the third one pixel wider and the
    // fourth two.
    const int quarter = clientWidth(columnList_, columnModel_->TotalRows()) / 4;
    columnList_->setColumnWidth(0, quarter);
    columnList_->setColumnWidth(1, quarter);
    columnList_->setColumnWidth(2, quarter + 1);
    columnList_->setColumnWidth(3, quarter + 2);
}

void CQuorvinAccessRecoveryView::AddCells(bool first, const std::string_view* cells, size_t count) {
    if (first) rowCounter_ = 0;
    if (dataModel_ && count > 0) {
        rowCells_.assign(cells, cells + count);
        shortened_.resize(std::max(shortened_.size(), count));
        for (size_t i = 0; i < count && i < westernOnly_.size(); ++i) {
            if (!westernOnly_[i]) continue;
            // Most texts are left as they are; only those shortened are copied.
            const bool beyondLatin1 = std::any_of(cells[i].begin(), cells[i].end(),
                                                  [](char c) { return static_cast<unsigned char>(c) >= 0xC4; });
            if (!beyondLatin1) continue;
            shortened_[i].assign(cells[i]);
            ShortenAtNonWesternCharacter(shortened_[i]);
            rowCells_[i] = shortened_[i];
        }
        // Rows follow each other: the row counter only ever points past the
        // last row of the table being read.
        dataModel_->AppendRow(rowCells_.data(), rowCells_.size());
    }
    ++rowCounter_;
}

void CQuorvinAccessRecoveryView::AddRecordRow(bool first) {
    const std::vector<std::string_view> cells(app_.currentRowValues.begin(), app_.currentRowValues.end());
    AddCells(first, cells.data(), cells.size());
    app_.currentRowValues.clear();
}

void CQuorvinAccessRecoveryView::AddRecordRows(const RowBatch& rows) {
    std::vector<std::string_view> cells;
    for (size_t r = 0; r < rows.Rows(); ++r) {
        cells.clear();
        for (size_t c = 0; c < rows.CellCount(r); ++c) cells.push_back(rows.Cell(r, c));
        AddCells(rows.First(r), cells.data(), cells.size());
    }
}

void CQuorvinAccessRecoveryView::FlushRows() {
    if (dataModel_) dataModel_->Flush();
}

void CQuorvinAccessRecoveryView::OnTabChanged(int index) {
    if (!dataList_ || !columnList_) return;
    dataList_->setVisible(index == 0);
    columnList_->setVisible(index != 0);
    if (index != 0) SizeColumnInformation();
}

void CQuorvinAccessRecoveryView::Layout() {
    const QRect area = rect();
    if (tabs_) tabs_->setGeometry(area.left(), area.top(), area.width(), kListTop);
    const QRect lists = area.adjusted(0, kListTop, 0, 0);
    if (dataList_) dataList_->setGeometry(lists);
    if (columnList_) columnList_->setGeometry(lists);
    if (textPane_) textPane_->setGeometry(area);
}

void CQuorvinAccessRecoveryView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Layout();
    SizeColumnInformation();
}

void CQuorvinAccessRecoveryView::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (tabs_ || textPane_) return;
    QPainter painter(this);
    painter.drawPixmap(0, 0, RecordViewPicture(pictureMode_));
    if (pictureMode_ == 1 && !note_.isEmpty()) {
        QFont font("Sans", 14);
        painter.setFont(font);
        painter.setPen(QColor(30, 30, 30));
        for (int i = 0; i < note_.size(); ++i) painter.drawText(QPointF(150, 290 + 30 * i), note_[i]);
    }
}

}  // namespace talmera::ui
