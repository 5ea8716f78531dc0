#pragma once
#include <QColor>
#include <QPainter>
#include <QRect>
#include <QSize>
#include <QTransform>

// The owner-drawn faces are laid out in whole device pixels. On a screen that scales
// by 2, a 1-pixel rule becomes 2 sharp device pixels instead of a smeared one, and the
// shading gets a row per device pixel. Text is drawn in widget coordinates (Logical),
// where Qt rasterises the glyphs at the device's own resolution.
//
// Rectangles follow the GDI habit the drawing code is written in: left and top
// included, right and bottom excluded.
class DevicePixels {
public:
    explicit DevicePixels(QPainter& painter);
    ~DevicePixels();
    DevicePixels(const DevicePixels&) = delete;
    DevicePixels& operator=(const DevicePixels&) = delete;

    qreal Scale() const { return scale; }
    // A length of `pixels` at scale 1, in device pixels (never less than 1 for 1 or more).
    int Px(int pixels) const;
    // The widget's area in device pixels.
    QSize Size(const QSize& logicalSize) const;

    void Fill(int left, int top, int right, int bottom, const QColor& colour);
    void Fill(const QRect& rect, const QColor& colour);
    // A thin border `thickness` deep: the top and left sides in one colour, the bottom
    // and right sides (with the corners they reach) in the other.
    void Edge(int left, int top, int right, int bottom, const QColor& topLeft, const QColor& bottomRight,
              int thickness);
    // The dotted focus rectangle: every other pixel of the rectangle's border inverted.
    void InvertDottedFrame(int left, int top, int right, int bottom);

    // Switches the painter to widget coordinates for text, and back.
    QPainter& Logical();
    QPainter& Device();

private:
    QPainter& painter;
    QTransform logicalTransform;
    qreal scale = 1.0;
};

// A GDI rectangle (right and bottom excluded) as a QRect.
inline QRect Span(int left, int top, int right, int bottom) {
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}
