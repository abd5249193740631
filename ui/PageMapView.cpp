#include "ui/PageMapView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>

#include "engine/MDBRecovery.h"

namespace talmera::ui {

PageMapCells::PageMapCells(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void PageMapCells::SetEngine(std::shared_ptr<const CMDBRecovery> engine) {
    engine_ = std::move(engine);
    groups_ = engine_ ? GroupPageMap(engine_->pageMap, kMaxCells) : std::vector<PageMapGroup>{};
    hovered_ = selected_ = -1;
    updateGeometry();
    update();
}

int PageMapCells::Columns() const { return std::max(1, width() / kCellSize); }

int PageMapCells::heightForWidth(int width) const {
    const int columns = std::max(1, width / kCellSize);
    return int((groups_.size() + size_t(columns) - 1) / size_t(columns)) * kCellSize + 1;
}

QSize PageMapCells::sizeHint() const { return {64 * kCellSize, heightForWidth(64 * kCellSize)}; }

void PageMapCells::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    setMinimumHeight(heightForWidth(width()));
}

int PageMapCells::CellAt(const QPoint& point) const {
    if (point.x() < 0 || point.y() < 0) return -1;
    const int column = point.x() / kCellSize;
    if (column >= Columns()) return -1;
    const size_t index = size_t(point.y() / kCellSize) * size_t(Columns()) + size_t(column);
    return index < groups_.size() ? int(index) : -1;
}

QPoint PageMapCells::CellCentre(size_t index) const {
    const int columns = Columns();
    return {int(index % size_t(columns)) * kCellSize + kCellSize / 2, int(index / size_t(columns)) * kCellSize + kCellSize / 2};
}

QString PageMapCells::CellText(size_t index) const {
    if (!engine_ || index >= groups_.size()) return {};
    return QString::fromStdString(PageGroupText(*engine_, groups_[index]));
}

void PageMapCells::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int columns = Columns();
    const QPen lost(QColor(0xFF, 0x20, 0x20), 1.5);
    for (size_t i = 0; i < groups_.size(); ++i) {
        const PageMapGroup& g = groups_[i];
        const QRect cell(int(i % size_t(columns)) * kCellSize, int(i / size_t(columns)) * kCellSize, kCellSize - 1,
                         kCellSize - 1);
        painter.fillRect(cell, QColor(PageKindColour(g.kind)));
        if (g.rowsLost) {
            painter.setPen(lost);
            painter.drawRect(cell.adjusted(0, 0, -1, -1));
            painter.drawLine(cell.topLeft(), cell.bottomRight());
            painter.drawLine(cell.topRight(), cell.bottomLeft());
        }
        if (int(i) == selected_ || int(i) == hovered_) {
            painter.setPen(QPen(palette().highlight().color(), 2));
            painter.drawRect(cell.adjusted(0, 0, -1, -1));
        }
    }
}

void PageMapCells::mouseMoveEvent(QMouseEvent* event) {
    const int index = CellAt(event->position().toPoint());
    if (index == hovered_) return;
    hovered_ = index;
    update();
    if (index < 0) return;
    const QString text = CellText(size_t(index));
    setToolTip(text);
    QToolTip::showText(event->globalPosition().toPoint(), text, this);
    emit cellHovered(text);
}

void PageMapCells::mousePressEvent(QMouseEvent* event) {
    const int index = CellAt(event->position().toPoint());
    if (index < 0) return;
    selected_ = index;
    update();
    emit cellClicked(CellText(size_t(index)));
}

PageMapView::PageMapView(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    cells_ = new PageMapCells;
    scroll_ = new QScrollArea;
    scroll_->setWidget(cells_);
    scroll_->setWidgetResizable(true);
    info_ = new QLabel("Point at a page to see what it is.");
    info_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    legend_ = new QLabel;
    legend_->setWordWrap(true);
    legend_->setTextFormat(Qt::RichText);
    layout->addWidget(scroll_, 1);
    layout->addWidget(info_);
    layout->addWidget(legend_);
    connect(cells_, &PageMapCells::cellHovered, info_, &QLabel::setText);
    connect(cells_, &PageMapCells::cellClicked, info_, &QLabel::setText);
}

void PageMapView::SetEngine(std::shared_ptr<const CMDBRecovery> engine) {
    cells_->SetEngine(engine);
    info_->setText("Point at a page to see what it is.");
    QString legend;
    if (engine) {
        const PageMap& map = engine->pageMap;
        for (size_t k = 0; k < kPageKindCount; ++k) {
            const PageKind kind = static_cast<PageKind>(k);
            if (map.count(kind) == 0) continue;
            legend += QString("<span style=\"color:%1\">&#9632;</span>&nbsp;%2: %3 &nbsp; ")
                          .arg(PageKindColour(kind), QString(PageKindLabel(kind)).toHtmlEscaped())
                          .arg(map.count(kind));
        }
        legend += QString("<span style=\"color:#ff2020\">&#9746;</span>&nbsp;rows lost: %1").arg(map.rowsLostPages());
    }
    legend_->setText(legend);
}

}  // namespace talmera::ui
