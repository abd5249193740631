// The page map in the window: every page of the file as a cell coloured by
// what it is (engine/PageMap.h), hover and click naming the page and its
// owner. Drawn from what the scan found: nothing of the file is read again.
#pragma once

#include <QLabel>
#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

#include "engine/PageMap.h"

class QScrollArea;

namespace talmera {
class CMDBRecovery;
}

namespace talmera::ui {

// The cells alone.
class PageMapCells : public QWidget {
    Q_OBJECT
public:
    static constexpr int kCellSize = 10;
    static constexpr size_t kMaxCells = 16384;  // a larger map draws groups of pages

    explicit PageMapCells(QWidget* parent = nullptr);
    // The map of this engine's last scan (null: none).
    void SetEngine(std::shared_ptr<const CMDBRecovery> engine);
    size_t CellCount() const { return groups_.size(); }
    const PageMapGroup& Cell(size_t index) const { return groups_[index]; }
    // The cell under a point of the widget (-1: none), its centre, its text.
    int CellAt(const QPoint& point) const;
    QPoint CellCentre(size_t index) const;
    QString CellText(size_t index) const;
    int Columns() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

signals:
    void cellHovered(const QString& text);
    void cellClicked(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    std::shared_ptr<const CMDBRecovery> engine_;
    std::vector<PageMapGroup> groups_;
    int hovered_ = -1;
    int selected_ = -1;
};

// The cells in a scroll area, the text of the cell hovered or clicked, and
// the legend with the pages of each kind.
class PageMapView : public QWidget {
    Q_OBJECT
public:
    explicit PageMapView(QWidget* parent = nullptr);
    void SetEngine(std::shared_ptr<const CMDBRecovery> engine);
    PageMapCells* cells() const { return cells_; }
    QString InfoText() const { return info_->text(); }
    QString LegendText() const { return legend_->text(); }

private:
    PageMapCells* cells_;
    QScrollArea* scroll_;
    QLabel* info_;
    QLabel* legend_;
};

}  // namespace talmera::ui
