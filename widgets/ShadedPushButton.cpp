#include "widgets/ShadedPushButton.h"

#include <QEnterEvent>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

#include "widgets/DevicePixels.h"
#include "widgets/EmbossedText.h"
#include "widgets/SystemColours.h"

namespace {

constexpr int kShades = 64;
constexpr int kMaxCaption = 260;
constexpr int kEdge = 2;  // the desktop's 3D edge, horizontally and vertically

struct RimPens {
    QColor left, right, top, bottom;
};
constexpr int kSideWidth = 3;
constexpr int kTopBottomWidth = 2;
const RimPens kHoverRim{{250, 196, 88}, {251, 202, 106}, {252, 210, 121}, {229, 151, 0}};
const RimPens kFocusRim{{153, 198, 252}, {162, 189, 252}, {162, 201, 255}, {162, 201, 255}};

// The pixels a pen `width` pixels wide covers along a vertical line at x from y0 to y1
// (both ends included): odd widths sit centred on the line, even ones reach one pixel
// further left than right. `unit` is one pixel in device pixels; coordinates are in
// device pixels.
QRect VerticalStroke(int x, int y0, int y1, int width, int unit) {
    const int left = x - (width / 2) * unit;
    return Span(left, std::min(y0, y1), left + width * unit, std::max(y0, y1) + unit);
}

QRect HorizontalStroke(int y, int x0, int x1, int width, int unit) {
    const int top = y - (width / 2) * unit;
    return Span(std::min(x0, x1), top, std::max(x0, x1) + unit, top + width * unit);
}

// Shading colour `index` (0 = top, 63 = bottom): red and green fall by index / 3
// (index / 4 under the pointer), blue by index / 5, or while emphasised by index / 4
// (index / 3 under the pointer).
QColor ShadeColour(int index, bool hovering, bool emphasised) {
    index = std::clamp(index, 0, kShades - 1);
    const int redGreen = hovering ? 255 - index / 4 : 255 - index / 3;
    int blue;
    if (hovering)
        blue = emphasised ? 255 - index / 3 : 255 - index / 5;
    else
        blue = emphasised ? 255 - index / 4 : 255 - index / 5;
    return QColor(redGreen, redGreen, blue);
}

}  // namespace

CShadedPushButton::CShadedPushButton(QWidget* parent) : QPushButton(parent) {}

CShadedPushButton::CShadedPushButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

void CShadedPushButton::enterEvent(QEnterEvent* event) {
    QPushButton::enterEvent(event);
    SetHovering(true);
}

void CShadedPushButton::leaveEvent(QEvent* event) {
    QPushButton::leaveEvent(event);
    SetHovering(false);
}

void CShadedPushButton::SetHovering(bool on) {
    if (hovering == on)
        return;
    hovering = on;
    update();
}

void CShadedPushButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    DevicePixels device(painter);
    const QSize area = device.Size(size());
    const int one = device.Px(1);
    const QString caption = text().left(kMaxCaption);

    // Rounded outline with a 5 by 5 corner ellipse: at this size the corners lose their
    // outermost pixel. The inside starts white; the shading leaves a white ring.
    {
        const int w = area.width(), h = area.height();
        device.Fill(one, one, w - one, h - one, Qt::white);
        device.Fill(one, 0, w - one, one, Qt::black);
        device.Fill(one, h - one, w - one, h, Qt::black);
        device.Fill(0, one, one, h - one, Qt::black);
        device.Fill(w - one, one, w, h - one, Qt::black);
    }

    const bool pressed = isDown();
    focused = hasFocus();
    emphasised = focused || pressed || isDefault();

    const int edgeX = device.Px(kEdge), edgeY = device.Px(kEdge);
    const int left = edgeX, top = edgeY;
    const int right = area.width() - edgeX, bottom = area.height() - edgeY;
    const int width = right - left, height = bottom - top;

    // Shading: one row per pixel, from the shrunk top down to one row past its bottom;
    // row y takes colour y * 63 / height, counted from the widget's top, never past 63.
    if (height > 0) {
        QColor shades[kShades];
        for (int i = 0; i < kShades; ++i)
            shades[i] = ShadeColour(i, hovering, emphasised);
        for (int y = top; y <= height + top; ++y) {
            const int index = std::min(y * (kShades - 1) / height, kShades - 1);
            device.Fill(left, y, width + left, y + 1, shades[index]);
        }
    }

    if (hovering || focused) {
        const RimPens& pens = (focused && !hovering) ? kFocusRim : kHoverRim;
        device.Fill(VerticalStroke(left, bottom - one, top + one, kSideWidth, one), pens.left);
        device.Fill(VerticalStroke(right - one, bottom - one, top, kSideWidth, one), pens.right);
        device.Fill(HorizontalStroke(top, left - one, right - one, kTopBottomWidth, one), pens.top);
        device.Fill(HorizontalStroke(bottom, left, right - one, kTopBottomWidth, one), pens.bottom);
        if (focused && !hovering)
            device.InvertDottedFrame(left, top, right, bottom);
    }

    if (!caption.isEmpty()) {
        // Measured with the ampersand, as the caption text stands; drawn with the
        // ampersand turned into the underline of the letter after it.
        const QFontMetrics metrics(font());
        const int textWidth = device.Px(metrics.horizontalAdvance(caption));
        const int textHeight = device.Px(metrics.height());
        int x = (left + right) / 2 - textWidth / 2;
        int y = (top + bottom) / 2 - textHeight / 2;
        if (pressed) {
            x += one;
            y += one;
        }
        const qreal scale = device.Scale();
        const QRectF where(x / scale, y / scale, metrics.horizontalAdvance(caption) + metrics.height(),
                           metrics.height() * 2);
        const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextShowMnemonic;
        QPainter& text = device.Logical();
        text.setFont(font());
        if (isEnabled()) {
            text.setPen(Qt::black);
            text.drawText(where, flags, caption);
        } else {
            DrawEmbossedText(text, where, flags, caption, SystemColours::From(palette()), one / scale);
        }
    }
}
