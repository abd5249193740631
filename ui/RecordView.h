// The record view: the start or no-preview picture, the read-only details
// pane, or a table's "Table Data" and "Column Information" lists.
#pragma once

#include <QAbstractTableModel>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <vector>

class QTabBar;
class QTableView;

namespace talmera {
struct CQuorvinAccessRecoveryApp;
struct tableInfo;
}  // namespace talmera

namespace talmera::ui {

// Rows of texts; every second row (the second, fourth, ...) in the tool's rose colour.
// Rows added at the end are shown in batches, a few times a second: a view
// repainted for every row of a large table would keep the window busy
// painting while the rows arrive.
class RowModel : public QAbstractTableModel {
    Q_OBJECT
public:
    RowModel(const QColor& oddRows, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(headers_.size()); }
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void SetHeaders(const QStringList& headers);
    void Clear();
    // Inserts a row at `position` (appended when beyond the last row).
    void InsertRow(int position, const QStringList& cells);
    void SetCell(int row, int column, const QString& text);
    const QStringList& Row(int row) const { return rows_[size_t(row)]; }
    // Rows received, also those not shown yet.
    int TotalRows() const { return int(rows_.size()); }
    // Shows every row received.
    void Flush();

private:
    QColor oddRows_;
    QStringList headers_;
    std::vector<QStringList> rows_;
    int shown_ = 0;  // rows announced to the views
    QTimer* flushTimer_;
};

// The details pane: its text cannot be changed, but it can be selected and
// copied (the recovered SQL and paths are wanted elsewhere).
class CReadOnlyEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit CReadOnlyEdit(QWidget* parent = nullptr);
};

class CQuorvinAccessRecoveryView : public QWidget {
    Q_OBJECT
public:
    explicit CQuorvinAccessRecoveryView(CQuorvinAccessRecoveryApp& app, QWidget* parent = nullptr);

    void ShowPicture(int mode);
    // Shows `text` (lines ended by CR LF) in a new, read-only pane.
    CReadOnlyEdit* ShowText(const QString& text);
    // The lists of a table: its columns as Table Data headings and as Column
    // Information rows. The preview itself is started by the window.
    void ShowTable(const tableInfo& table);
    void AddRecordRow(bool first);
    // Shows the rows received so far (the end of a preview).
    void FlushRows();
    void OnTabChanged(int index);

    int pictureMode() const { return pictureMode_; }
    // What is shown now: 0 picture, 1 text pane, 2 table lists.
    int content() const { return textPane_ ? 1 : (tabs_ ? 2 : 0); }
    QString text() const { return text_; }
    RowModel* tableData() const { return dataModel_; }
    RowModel* columnInformation() const { return columnModel_; }
    QTableView* tableDataList() const { return dataList_; }
    QTableView* columnInformationList() const { return columnList_; }
    QTabBar* tabs() const { return tabs_; }
    CReadOnlyEdit* textPane() const { return textPane_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void DestroyChildren();
    void Layout();

    CQuorvinAccessRecoveryApp& app_;
    int pictureMode_ = 0;
    int rowCounter_ = 0;
    QString text_;
    QTabBar* tabs_ = nullptr;
    QTableView* dataList_ = nullptr;
    QTableView* columnList_ = nullptr;
    RowModel* dataModel_ = nullptr;
    RowModel* columnModel_ = nullptr;
    CReadOnlyEdit* textPane_ = nullptr;
};

}  // namespace talmera::ui
