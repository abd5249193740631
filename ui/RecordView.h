// The record view: the start or no-preview picture, the read-only details
// pane, or a table's "Table Data" and "Column Information" lists.
#pragma once

#include <QAbstractTableModel>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <string>
#include <vector>

#include "ui/RowFeed.h"
#include "ui/RowStore.h"

class QTabBar;
class QTableView;

namespace talmera {
struct CQuorvinAccessRecoveryApp;
struct columnInfo;
struct tableInfo;
}  // namespace talmera

namespace talmera::ui {

// Rows of texts over a RowStore; every second row (the second, fourth, ...)
// in the tool's rose colour. Rows appended are announced to the views in
// batches, a few times a second: a view told of every row of a large table
// would keep the window busy while the rows arrive. The view asks only for
// the rows it shows.
class RowModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit RowModel(const QColor& oddRows, QObject* parent = nullptr,
                      size_t memoryBudget = RowStore::kDefaultMemoryBudget);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(headers_.size()); }
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // New headings; the rows go.
    void SetHeaders(const QStringList& headers);
    void Clear();
    void AppendRow(const std::vector<std::string>& cells);
    void AppendRow(const std::string_view* cells, size_t count);
    void AppendRow(const QStringList& cells);
    QStringList Row(int row) const;
    // Rows received, also those not announced yet.
    int TotalRows() const { return int(store_.Rows()); }
    // Announces every row received.
    void Flush();
    const RowStore& store() const { return store_; }

private:
    QColor oddRows_;
    QStringList headers_;
    RowStore store_;
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

// What the record view shows.
enum class ViewContent { Picture = 0, Text = 1, Table = 2 };

// The preview's text of a text or memo value of an Access 2000 or later file:
// the characters up to the first one beyond U+00FF, then "(non-western
// character)" in its place and nothing of the rest. The saved database holds
// the whole text. Returns whether the text was shortened.
bool ShortenAtNonWesternCharacter(std::string& text);
// Whether the preview shortens the column's texts so (text and memo columns,
// also calculated ones of those result types).
bool ShowsWesternTextOnly(const columnInfo& column);

// The no-preview note for forms, reports, macros and modules of the file
// `fileName`: where a save keeps them.
QStringList NoPreviewNote(const QString& fileName);

class CQuorvinAccessRecoveryView : public QWidget {
    Q_OBJECT
public:
    explicit CQuorvinAccessRecoveryView(CQuorvinAccessRecoveryApp& app, QWidget* parent = nullptr);

    void ShowPicture(int mode);
    // The no-preview picture with the note of where the objects of the file
    // `fileName` go.
    void ShowNoPreview(const QString& fileName);
    // Shows `text` (lines ended by CR LF) in a new, read-only pane.
    CReadOnlyEdit* ShowText(const QString& text);
    // The lists of a table: its columns as Table Data headings and as Column
    // Information rows. The preview itself is started by the window. With
    // `westernTextOnly` (files of Access 2000 and later) text and memo cells
    // follow ShortenAtNonWesternCharacter.
    void ShowTable(const tableInfo& table, bool westernTextOnly = false);
    // One row from currentRowValues (the message of the run), or rows the
    // feed gathered; an entry without values only counts its place.
    void AddRecordRow(bool first);
    void AddRecordRows(const RowBatch& rows);
    // Shows the rows received so far (the end of a preview).
    void FlushRows();
    void OnTabChanged(int index);

    int pictureMode() const { return pictureMode_; }
    // What is shown now: 0 picture, 1 text pane, 2 table lists.
    int content() const { return int(Content()); }
    ViewContent Content() const;
    QString text() const { return text_; }
    QStringList noPreviewNote() const { return note_; }
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
    void SizeColumnInformation();
    void AddCells(bool first, const std::string_view* cells, size_t count);

    CQuorvinAccessRecoveryApp& app_;
    int pictureMode_ = 0;
    int rowCounter_ = 0;
    QString text_;
    QStringList note_;
    std::vector<bool> westernOnly_;  // per grid column
    // Reused for each row, so that adding one allocates nothing.
    std::vector<std::string_view> rowCells_;
    std::vector<std::string> shortened_;
    QTabBar* tabs_ = nullptr;
    QTableView* dataList_ = nullptr;
    QTableView* columnList_ = nullptr;
    RowModel* dataModel_ = nullptr;
    RowModel* columnModel_ = nullptr;
    CReadOnlyEdit* textPane_ = nullptr;
};

}  // namespace talmera::ui
