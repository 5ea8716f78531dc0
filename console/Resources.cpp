#include "console/Resources.h"

#include <QPainter>
#include <QSvgRenderer>

namespace {

QString ArtPath(int id) {
    switch (id) {
    case IDR_MAINFRAME: return QStringLiteral(":/art/kestrel.svg");
    case IDB_PICTURE: return QStringLiteral(":/art/picture.svg");
    case IDB_LAMP_CLOSED: return QStringLiteral(":/art/lamp-grey.svg");
    case IDB_LAMP_OPEN: return QStringLiteral(":/art/lamp-green.svg");
    default: return {};
    }
}

// Renders the drawing into the middle of `size`, keeping its proportions.
QImage Render(const QString& path, QSize size, QColor background) {
    QSvgRenderer renderer(path);
    if (!renderer.isValid())
        return {};
    if (size.isEmpty())
        size = renderer.defaultSize();
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QSize fitted = renderer.defaultSize().scaled(size, Qt::KeepAspectRatio);
    renderer.render(&painter, QRectF((size.width() - fitted.width()) / 2.0, (size.height() - fitted.height()) / 2.0,
                                     fitted.width(), fitted.height()));
    return image;
}

}  // namespace

QIcon ApplicationIcon() {
    static const QIcon icon = [] {
        QIcon i;
        for (int side : {16, 24, 32, 48, 64, 128, 256})
            i.addPixmap(QPixmap::fromImage(Render(ArtPath(IDR_MAINFRAME), QSize(side, side), Qt::transparent)));
        return i;
    }();
    return icon;
}

QImage BitmapResource(int id, QSize size) {
    const bool lamp = id == IDB_LAMP_CLOSED || id == IDB_LAMP_OPEN;
    return Render(ArtPath(id), size, lamp ? QColor(Qt::white) : QColor(Qt::transparent));
}

QSize BitmapSize(int id) { return QSvgRenderer(ArtPath(id)).defaultSize(); }

QString StringResource(int id) {
    switch (id) {
    case IDS_ABOUTBOX: return QStringLiteral("关于 Kestrel(&A)...");
    default: return {};
    }
}
