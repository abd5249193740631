#include "ui/RecordView.h"

#include <QHeaderView>
#include <QPainter>
#include <QTabBar>
#include <QTableView>

#include "engine/ApplicationState.h"
#include "engine/CatalogRecords.h"
#include "ui/Images.h"
#include "ui/LeftView.h"

namespace talmera::ui {

namespace {
constexpr int kListTop = 25;
const QColor kRecordRowColour(247, 196, 183);
}  // namespace

namespace {
constexpr int kFlushMilliseconds = 100;
}

RowModel::RowModel(const QColor& oddRows, QObject* parent) : QAbstractTableModel(parent), oddRows_(oddRows) {
    flushTimer_ = new QTimer(this);
    flushTimer_->setSingleShot(true);
    flushTimer_->setInterval(kFlushMilliseconds);
    connect(flushTimer_, &QTimer::timeout, this, &RowModel::Flush);
}

int RowModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : shown_; }

void RowModel::Flush() {
    flushTimer_->stop();
    if (shown_ >= int(rows_.size())) return;
    beginInsertRows({}, shown_, int(rows_.size()) - 1);
    shown_ = int(rows_.size());
    endInsertRows();
}

QVariant RowModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= shown_) return {};
    if (role == Qt::DisplayRole) {
        const QStringList& row = rows_[size_t(index.row())];
        return index.column() < row.size() ? row[index.column()] : QString();
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
    rows_.clear();
    shown_ = 0;
    endResetModel();
}

void RowModel::Clear() { SetHeaders({}); }

void RowModel::InsertRow(int position, const QStringList& cells) {
    position = std::clamp(position, 0, int(rows_.size()));
    if (position == int(rows_.size())) {
        rows_.push_back(cells);
        if (!flushTimer_->isActive()) flushTimer_->start();
        return;
    }
    Flush();
    beginInsertRows({}, position, position);
    rows_.insert(rows_.begin() + position, cells);
    ++shown_;
    endInsertRows();
}

void RowModel::SetCell(int row, int column, const QString& text) {
    if (row < 0 || size_t(row) >= rows_.size() || column < 0) return;
    QStringList& cells = rows_[size_t(row)];
    while (cells.size() <= column) cells.append(QString());
    cells[column] = text;
    if (row < shown_) emit dataChanged(index(row, column), index(row, column));
}

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
}

void CQuorvinAccessRecoveryView::ShowPicture(int mode) {
    DestroyChildren();
    pictureMode_ = mode;
    update();
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
    // Fixed row heights keep a list of many thousand rows quick.
    list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 6);
    list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list->horizontalHeader()->setStretchLastSection(false);
    list->setWordWrap(false);
    return list;
}
}  // namespace

void CQuorvinAccessRecoveryView::ShowTable(const tableInfo& table) {
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
    for (const columnInfo& column : table.columns) headers << QString::fromStdString(column.name);
    dataModel_->SetHeaders(headers);
    const int width = dataList_->viewport()->width();
    const int count = int(table.columnCount);
    for (int i = 0; i < headers.size(); ++i) {
        const int columnWidth = count < 11 ? width / std::max(1, count) : int(headers[i].size()) * 4 + 75;
        dataList_->setColumnWidth(i, columnWidth);
        columnModel_->InsertRow(i, [&] {
            const auto cells = ColumnInformationRow(table.columns[size_t(i)], app_.accessNewTypeNames);
            return QStringList{cells[0], cells[1], cells[2], cells[3]};
        }());
    }
    columnModel_->Flush();
    const int quarter = columnList_->viewport()->width() / 4;
    columnList_->setColumnWidth(0, quarter);
    columnList_->setColumnWidth(1, quarter);
    columnList_->setColumnWidth(2, quarter + 1);
    columnList_->setColumnWidth(3, quarter + 2);
    rowCounter_ = 0;
    tabs_->show();
    dataList_->show();
    columnList_->hide();
}

void CQuorvinAccessRecoveryView::AddRecordRow(bool first) {
    if (first) rowCounter_ = 0;
    if (dataModel_) {
        QStringList cells;
        cells.reserve(int(app_.currentRowValues.size()));
        for (const std::string& value : app_.currentRowValues) cells << QString::fromStdString(value);
        if (!cells.isEmpty()) dataModel_->InsertRow(rowCounter_, cells);
    }
    ++rowCounter_;
    app_.currentRowValues.clear();
}

void CQuorvinAccessRecoveryView::FlushRows() {
    if (dataModel_) dataModel_->Flush();
}

void CQuorvinAccessRecoveryView::OnTabChanged(int index) {
    if (!dataList_ || !columnList_) return;
    dataList_->setVisible(index == 0);
    columnList_->setVisible(index != 0);
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
}

void CQuorvinAccessRecoveryView::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (tabs_ || textPane_) return;
    QPainter painter(this);
    painter.drawPixmap(0, 0, RecordViewPicture(pictureMode_));
}

}  // namespace talmera::ui
