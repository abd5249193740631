// The window's pictures, drawn in code: the tree's node and state images, the
// record view's two pictures and the boxes' signs.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QVector>

namespace talmera::ui {

// Node images of the object tree, in strip order.
enum NodeImage {
    kImageDatabase = 0,
    kImageIndex = 1,
    kImageFolder = 2,
    kImageRelation = 3,
    kImageQuery = 4,
    kImageTable = 5,
    kImageReport = 6,
    kImageModule = 7,
    kImageForm = 8,
    kImageMacro = 9,
    kImageWarning = 10,
    kImageLinkedTable = 11,
};

// Twelve 16x16 node images, in the order above.
const QVector<QIcon>& NodeImages();

// Four 16x16 state images: none, unchecked box, checked box, greyed checked box.
const QVector<QPixmap>& StateImages();

// The record view's pictures: 0 the start picture, 1 the no-preview picture.
inline constexpr QSize kPictureSize{1224, 775};
QPixmap RecordViewPicture(int mode);

// Signs of the boxes: an information sign and a question mark (48x48).
QPixmap InformationSign();
QPixmap QuestionSign();

// Command icons of the ribbon (32x32): drawn letters on a coloured tile.
QIcon CommandIcon(const QString& letter, const QColor& colour);

}  // namespace talmera::ui
