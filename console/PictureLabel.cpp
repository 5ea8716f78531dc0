#include "console/PictureLabel.h"

#include <QMouseEvent>

#include "console/Resources.h"

PictureLabel::PictureLabel(int id, QWidget* parent) : QLabel(parent), bitmapId(id) {
    setAlignment(Qt::AlignCenter);
}

void PictureLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    const qreal scale = devicePixelRatioF();
    QPixmap picture = QPixmap::fromImage(BitmapResource(bitmapId, size() * scale));
    picture.setDevicePixelRatio(scale);
    setPixmap(picture);
}

void PictureLabel::mouseDoubleClickEvent(QMouseEvent* event) {
    if (onDoubleClick)
        onDoubleClick();
    event->accept();
}
