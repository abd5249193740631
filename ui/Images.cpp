#include "ui/Images.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace talmera::ui {
namespace {

QPixmap blank(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void grid(QPainter& p, const QRectF& r, int rows, int columns, const QColor& head) {
    p.setPen(QColor(60, 60, 60));
    p.setBrush(Qt::white);
    p.drawRect(r);
    p.fillRect(QRectF(r.left() + 0.5, r.top() + 0.5, r.width() - 0.5, r.height() / rows), head);
    for (int i = 1; i < rows; ++i) p.drawLine(QPointF(r.left(), r.top() + r.height() * i / rows), QPointF(r.right(), r.top() + r.height() * i / rows));
    for (int i = 1; i < columns; ++i) p.drawLine(QPointF(r.left() + r.width() * i / columns, r.top()), QPointF(r.left() + r.width() * i / columns, r.bottom()));
}

void page(QPainter& p, const QColor& fill) {
    p.setPen(QColor(60, 60, 60));
    p.setBrush(fill);
    p.drawRect(QRectF(2.5, 1.5, 11, 13));
}

QIcon node(int which) {
    QPixmap pm = blank(16);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    switch (which) {
        case kImageDatabase: {  // a cylinder with a key
            p.setPen(QColor(40, 60, 110));
            p.setBrush(QColor(120, 160, 220));
            p.drawRect(QRectF(1.5, 4, 10, 9));
            p.drawEllipse(QRectF(1.5, 10, 10, 5));
            p.drawEllipse(QRectF(1.5, 2, 10, 5));
            p.setPen(QPen(QColor(200, 150, 20), 1.6));
            p.drawEllipse(QRectF(10, 7, 4, 4));
            p.drawLine(QPointF(12, 11), QPointF(12, 15));
            break;
        }
        case kImageIndex:
            page(p, Qt::white);
            p.setPen(QColor(30, 90, 30));
            for (int y = 4; y <= 12; y += 3) p.drawLine(5, y, 11, y);
            break;
        case kImageFolder:
            p.setPen(QColor(150, 110, 20));
            p.setBrush(QColor(245, 205, 90));
            p.drawRect(QRectF(1.5, 4.5, 13, 9));
            p.drawRect(QRectF(1.5, 2.5, 5, 2));
            break;
        case kImageRelation:
            p.setPen(QColor(60, 60, 60));
            p.setBrush(QColor(200, 220, 250));
            p.drawRect(QRectF(0.5, 1.5, 6, 6));
            p.drawRect(QRectF(9.5, 8.5, 6, 6));
            p.drawLine(QPointF(6.5, 4.5), QPointF(12.5, 8.5));
            break;
        case kImageQuery:
            grid(p, QRectF(1.5, 1.5, 13, 13), 3, 2, QColor(170, 200, 240));
            p.setPen(QPen(QColor(160, 40, 40), 1.5));
            p.drawEllipse(QRectF(6, 6, 6, 6));
            break;
        case kImageTable: grid(p, QRectF(1.5, 2.5, 13, 11), 4, 3, QColor(120, 160, 220)); break;
        case kImageReport:
            page(p, Qt::white);
            p.fillRect(QRectF(5, 9, 2, 4), QColor(60, 140, 60));
            p.fillRect(QRectF(8, 6, 2, 7), QColor(60, 140, 60));
            p.fillRect(QRectF(11, 4, 1.5, 9), QColor(60, 140, 60));
            break;
        case kImageModule:
            page(p, QColor(235, 235, 250));
            p.setPen(QColor(40, 40, 140));
            p.drawText(QRectF(2, 2, 12, 12), Qt::AlignCenter, "{}");
            break;
        case kImageForm:
            p.setPen(QColor(60, 60, 60));
            p.setBrush(QColor(240, 240, 240));
            p.drawRect(QRectF(1.5, 1.5, 13, 13));
            p.fillRect(QRectF(2, 2, 12.5, 3), QColor(70, 110, 190));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(4.5, 7.5, 8, 2));
            p.drawRect(QRectF(4.5, 11, 8, 2));
            break;
        case kImageMacro:
            p.setPen(QColor(60, 60, 60));
            p.setBrush(QColor(250, 230, 150));
            p.drawRect(QRectF(1.5, 1.5, 13, 13));
            p.setPen(QPen(QColor(200, 60, 20), 2));
            p.drawLine(QPointF(9, 3), QPointF(6, 8));
            p.drawLine(QPointF(6, 8), QPointF(10, 8));
            p.drawLine(QPointF(10, 8), QPointF(7, 13));
            break;
        case kImageWarning: {
            QPainterPath path;
            path.moveTo(8, 1);
            path.lineTo(15, 14.5);
            path.lineTo(1, 14.5);
            path.closeSubpath();
            p.setPen(QColor(120, 90, 0));
            p.setBrush(QColor(250, 200, 30));
            p.drawPath(path);
            p.setPen(QPen(Qt::black, 1.6));
            p.drawLine(QPointF(8, 5), QPointF(8, 10));
            p.drawPoint(QPointF(8, 12.5));
            break;
        }
        case kImageLinkedTable:
            grid(p, QRectF(1.5, 1.5, 11, 10), 3, 2, QColor(120, 160, 220));
            p.setPen(QPen(QColor(30, 120, 30), 1.8));
            p.drawLine(QPointF(8, 14), QPointF(14, 8));
            p.drawLine(QPointF(10, 8), QPointF(14, 8));
            p.drawLine(QPointF(14, 8), QPointF(14, 12));
            break;
    }
    return QIcon(pm);
}

QPixmap state(int which) {
    QPixmap pm = blank(16);
    if (which == 0) return pm;
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QColor frame = which == 3 ? QColor(150, 150, 150) : QColor(40, 40, 40);
    p.setPen(frame);
    p.setBrush(which == 3 ? QColor(225, 225, 225) : QColor(Qt::white));
    p.drawRect(QRectF(2.5, 2.5, 11, 11));
    if (which >= 2) {
        p.setPen(QPen(which == 3 ? QColor(130, 130, 130) : QColor(20, 20, 20), 2));
        p.drawLine(QPointF(4.5, 8), QPointF(7, 10.5));
        p.drawLine(QPointF(7, 10.5), QPointF(11.5, 5));
    }
    return pm;
}

QPixmap sign(bool question) {
    QPixmap pm = blank(48);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(question ? QColor(40, 110, 200) : QColor(30, 130, 200));
    p.drawEllipse(QRectF(2, 2, 44, 44));
    QFont font("Serif", 26, QFont::Bold);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(2, 2, 44, 44), Qt::AlignCenter, question ? "?" : "i");
    return pm;
}

void step(QPainter& p, int number, const QString& text, int y) {
    p.setBrush(QColor(40, 90, 160));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(80, y - 28, 44, 44));
    p.setPen(Qt::white);
    QFont font("Sans", 18, QFont::Bold);
    p.setFont(font);
    p.drawText(QRectF(80, y - 28, 44, 44), Qt::AlignCenter, QString::number(number));
    p.setPen(QColor(30, 30, 30));
    font.setPointSize(16);
    font.setBold(false);
    p.setFont(font);
    p.drawText(QPointF(145, y + 2), text);
}

}  // namespace

const QVector<QIcon>& NodeImages() {
    static const QVector<QIcon> images = [] {
        QVector<QIcon> list;
        for (int i = 0; i < 12; ++i) list.push_back(node(i));
        return list;
    }();
    return images;
}

const QVector<QPixmap>& StateImages() {
    static const QVector<QPixmap> images = [] {
        QVector<QPixmap> list;
        for (int i = 0; i < 4; ++i) list.push_back(state(i));
        return list;
    }();
    return images;
}

namespace {
QPixmap drawRecordViewPicture(int mode) {
    QPixmap pm(kPictureSize);
    pm.fill(Qt::white);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    QLinearGradient band(0, 0, 0, 120);
    band.setColorAt(0, QColor(40, 90, 160));
    band.setColorAt(1, QColor(90, 140, 210));
    p.fillRect(QRect(0, 0, kPictureSize.width(), 120), band);
    QFont title("Sans", 26, QFont::Bold);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(60, 0, kPictureSize.width() - 60, 120), Qt::AlignVCenter | Qt::AlignLeft,
               "Quorvin Talmera Access Database Repair");
    if (mode == 0) {
        QFont heading("Sans", 18, QFont::Bold);
        p.setFont(heading);
        p.setPen(QColor(40, 90, 160));
        p.drawText(QPointF(80, 200), "Repair a damaged Access database in two steps:");
        step(p, 1, "Select Database: choose the damaged .mdb or .accdb file and press Repair.", 280);
        step(p, 2, "Save: save the repaired database with the objects you checked in the tree.", 360);
        QFont note("Sans", 12);
        p.setFont(note);
        p.setPen(QColor(90, 90, 90));
        p.drawText(QPointF(145, 420), "Click an object in the tree to see its records, columns or details first.");
    } else {
        p.drawPixmap(80, 180, InformationSign());
        QFont heading("Sans", 18, QFont::Bold);
        p.setFont(heading);
        p.setPen(QColor(40, 90, 160));
        p.drawText(QPointF(150, 215), "No preview is available for this object.");
        QFont note("Sans", 14);
        p.setFont(note);
        p.setPen(QColor(30, 30, 30));
        p.drawText(QPointF(150, 260), "Forms, reports, macros and modules cannot be previewed here.");
        // Below this the view writes where a save keeps them (it knows the file).
    }
    return pm;
}
}  // namespace

QPixmap RecordViewPicture(int mode) {
    static const QPixmap pictures[2] = {drawRecordViewPicture(0), drawRecordViewPicture(1)};
    return pictures[mode == 1 ? 1 : 0];
}

QPixmap InformationSign() { return sign(false); }
QPixmap QuestionSign() { return sign(true); }

QIcon CommandIcon(const QString& letter, const QColor& colour) {
    QPixmap pm = blank(32);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(2, 2, 28, 28), 6, 6);
    QFont font("Sans", 14, QFont::Bold);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(2, 2, 28, 28), Qt::AlignCenter, letter);
    return QIcon(pm);
}

}  // namespace talmera::ui
