#include "widgets/DevicePixels.h"

#include <QVector>
#include <cmath>

DevicePixels::DevicePixels(QPainter& painter)
    : painter(painter), logicalTransform(painter.worldTransform()) {
    // deviceTransform() includes the backing store's scale, whatever device the
    // widget is painted on (screen, grab() pixmap, render() image).
    const qreal m11 = painter.deviceTransform().m11();
    scale = m11 > 0 ? m11 : 1.0;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    Device();
}

DevicePixels::~DevicePixels() {
    painter.restore();
}

int DevicePixels::Px(int pixels) const {
    if (pixels <= 0)
        return 0;
    return std::max(1, int(std::lround(pixels * scale)));
}

QSize DevicePixels::Size(const QSize& logicalSize) const {
    return QSize(int(std::lround(logicalSize.width() * scale)), int(std::lround(logicalSize.height() * scale)));
}

void DevicePixels::Fill(int left, int top, int right, int bottom, const QColor& colour) {
    if (right <= left || bottom <= top)
        return;
    painter.fillRect(Span(left, top, right, bottom), colour);
}

void DevicePixels::Fill(const QRect& rect, const QColor& colour) {
    if (!rect.isEmpty())
        painter.fillRect(rect, colour);
}

void DevicePixels::Edge(int left, int top, int right, int bottom, const QColor& topLeft,
                        const QColor& bottomRight, int thickness) {
    Fill(left, top, right - thickness, top + thickness, topLeft);
    Fill(left, top, left + thickness, bottom - thickness, topLeft);
    Fill(left, bottom - thickness, right, bottom, bottomRight);
    Fill(right - thickness, top, right, bottom, bottomRight);
}

void DevicePixels::InvertDottedFrame(int left, int top, int right, int bottom) {
    if (right <= left || bottom <= top)
        return;
    // Each border pixel once (the corners belong to the top and bottom rows), so no
    // pixel is inverted twice and restored; the dots keep one phase across the
    // widget so that the four sides join up.
    QVector<QRect> dots;
    auto dot = [&](int x, int y) {
        if (((x + y) & 1) == 0)
            dots.append(QRect(x, y, 1, 1));
    };
    for (int x = left; x < right; ++x) {
        dot(x, top);
        if (bottom - 1 > top)
            dot(x, bottom - 1);
    }
    for (int y = top + 1; y < bottom - 1; ++y) {
        dot(left, y);
        if (right - 1 > left)
            dot(right - 1, y);
    }
    painter.save();
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    for (const QRect& r : dots)
        painter.fillRect(r, Qt::white);
    painter.restore();
}

QPainter& DevicePixels::Logical() {
    painter.setWorldTransform(logicalTransform);
    return painter;
}

QPainter& DevicePixels::Device() {
    // Undo the device scale but keep any offset (a child painted into its parent's grab).
    painter.setWorldTransform(QTransform::fromScale(1.0 / scale, 1.0 / scale) * logicalTransform);
    return painter;
}
