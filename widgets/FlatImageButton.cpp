#include "widgets/FlatImageButton.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

#include "widgets/DevicePixels.h"
#include "widgets/EmbossedText.h"
#include "widgets/SystemColours.h"

namespace {

constexpr int kImageMargin = 3;  // between the left edge, the image and the caption
constexpr int kFocusInset = 3;

// The image with every pixel of `transparent` colour made fully transparent, so that
// drawing it leaves the face showing there and puts every other pixel down as it is.
QImage MaskOut(const QImage& source, const QColor& transparent) {
    QImage masked = source.convertToFormat(QImage::Format_ARGB32);
    if (masked.isNull())
        return masked;
    const QRgb key = transparent.rgb() & RGB_MASK;
    for (int y = 0; y < masked.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(masked.scanLine(y));
        for (int x = 0; x < masked.width(); ++x) {
            if ((row[x] & RGB_MASK) == key)
                row[x] = 0;
        }
    }
    return masked.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

}  // namespace

CFlatImageButton::CFlatImageButton(QWidget* parent) : QPushButton(parent) {
    Init();
}

CFlatImageButton::CFlatImageButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    Init();
}

void CFlatImageButton::Init() {
    setFlat(true);
    // Pointer moves without a button held drive the hover border.
    setMouseTracking(true);
}

int CFlatImageButton::LoadImageResource(const QImage& source, const QColor& transparent) {
    image = QImage();
    imageWidth = imageHeight = 0;
    transparentColor = transparent;
    int result = ImageLoaded;
    if (source.isNull() || source.width() <= 0 || source.height() <= 0) {
        result = ImageUnreadable;
    } else {
        QImage masked = MaskOut(source, transparent);
        if (masked.isNull()) {
            result = ImageMaskFailed;
        } else {
            masked.setDevicePixelRatio(source.devicePixelRatio());
            const QSizeF size = source.deviceIndependentSize();
            imageWidth = int(std::lround(size.width()));
            imageHeight = int(std::lround(size.height()));
            image = masked;
        }
    }
    updateGeometry();
    update();
    return result;
}

int CFlatImageButton::LoadImageResource(const QString& fileName, const QColor& transparent) {
    return LoadImageResource(QImage(fileName), transparent);
}

void CFlatImageButton::SetDrawBorder(bool on) {
    drawBorder = on;
    update();
}

void CFlatImageButton::SetDrawFlatFocus(bool on) {
    drawFlatFocus = on;
    update();
}

void CFlatImageButton::SetCheck(int state) {
    if (!isCheckable())
        return;
    setChecked(state == 1 || state == 2);
    update();
}

QSize CFlatImageButton::sizeHint() const {
    if (image.isNull() && text().isEmpty())
        return QPushButton::sizeHint();
    const QFontMetrics metrics(font());
    int width = 2 * kImageMargin + imageWidth + 2;
    int height = imageHeight;
    if (!text().isEmpty()) {
        width += metrics.horizontalAdvance(text()) + kImageMargin;
        height = std::max(height, metrics.height());
    }
    return QSize(width, height + 2 * kImageMargin + 2);
}

// Hover tracking --------------------------------------------------------------------

void CFlatImageButton::TrackPointer(const QPoint& globalPos, Qt::MouseButtons buttons) {
    // A drag that started elsewhere does not light the button up, and a button with
    // its full 3D frame has nothing to show on hover.
    if (((buttons & Qt::LeftButton) && !hovering) || !isFlat())
        return;
    const bool overThis = QApplication::widgetAt(globalPos) == this;
    if (overThis && (trackWhenInactive || QApplication::activeWindow() != nullptr)) {
        if (hovering)
            return;
        hovering = true;
        update();
    } else if (hovering) {
        hovering = false;
        update();
    }
}

void CFlatImageButton::EndHover() {
    if (isFlat() && hovering) {
        hovering = false;
        update();
    }
}

void CFlatImageButton::mouseMoveEvent(QMouseEvent* event) {
    QPushButton::mouseMoveEvent(event);
    TrackPointer(event->globalPosition().toPoint(), event->buttons());
}

void CFlatImageButton::enterEvent(QEnterEvent* event) {
    QPushButton::enterEvent(event);
    TrackPointer(event->globalPosition().toPoint(), QApplication::mouseButtons());
}

void CFlatImageButton::leaveEvent(QEvent* event) {
    QPushButton::leaveEvent(event);
    EndHover();
}

void CFlatImageButton::focusOutEvent(QFocusEvent* event) {
    QPushButton::focusOutEvent(event);
    EndHover();
}

bool CFlatImageButton::event(QEvent* event) {
    const bool handled = QPushButton::event(event);
    // Its window is no longer the active one. A pop-up or a modal window that takes
    // the pointer ends the hover the same way or through a leave.
    if (event->type() == QEvent::WindowDeactivate)
        EndHover();
    return handled;
}

void CFlatImageButton::changeEvent(QEvent* event) {
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        MoveFocusOnward();
        EndHover();
    }
}

void CFlatImageButton::MoveFocusOnward() {
    // A disabled button hands the keyboard on to the next tab stop among its parent's
    // children, whether or not it had the focus, or to the parent when there is none.
    QWidget* parent = parentWidget();
    if (parent == nullptr)
        return;
    for (QWidget* next = nextInFocusChain(); next != nullptr && next != this; next = next->nextInFocusChain()) {
        if (parent->isAncestorOf(next) && next->isEnabled() && next->isVisibleTo(parent) &&
            (next->focusPolicy() & Qt::TabFocus)) {
            next->setFocus(Qt::TabFocusReason);
            return;
        }
    }
    parent->setFocus(Qt::OtherFocusReason);
}

// Drawing ----------------------------------------------------------------------------

void CFlatImageButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    DevicePixels device(painter);
    const SystemColours colours = SystemColours::From(palette());
    const QSize area = device.Size(size());
    const int one = device.Px(1);
    const qreal scale = device.Scale();

    const bool checkBoxMode = isCheckable();
    const bool pressed = isDown() || (checkBoxMode && isChecked());
    const bool focused = hasFocus();
    const bool flat = isFlat();
    const int shift = (pressed && !checkBoxMode) ? one : 0;

    int left = 0, top = 0, right = area.width(), bottom = area.height();
    if (!flat && (focused || isDefault())) {
        device.Edge(left, top, right, bottom, Qt::black, Qt::black, one);
        left += one;
        top += one;
        right -= one;
        bottom -= one;
    }
    device.Fill(left, top, right, bottom, colours.buttonFace);

    if (pressed && !flat) {
        device.Edge(left, top, right, bottom, colours.shadow, colours.shadow, one);
    } else if (pressed && drawBorder) {
        device.Edge(left, top, right, bottom, colours.shadow, colours.highlight, one);
    } else if (!pressed && !flat) {
        device.Edge(left, top, right, bottom, colours.highlight, colours.darkShadow, one);
        device.Edge(left + one, top + one, right - one, bottom - one, colours.light, colours.shadow, one);
    } else if (!pressed && hovering && drawBorder) {
        device.Edge(left, top, right, bottom, colours.highlight, colours.shadow, one);
    }

    const QString caption = text();
    int captionLeft = left;
    if (!image.isNull()) {
        // Nearest-pixel scaling keeps a small bitmap sharp on a scaled screen.
        const int width = device.Px(imageWidth), height = device.Px(imageHeight);
        const int x = caption.isEmpty() ? left + (right - left - width) / 2 : left + device.Px(kImageMargin);
        const int y = top + (bottom - top - height) / 2;
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(QRect(x + shift, y + shift, width, height), image);
        captionLeft = x + width + device.Px(kImageMargin);
    }

    if (!caption.isEmpty()) {
        const QRectF where(QPointF((captionLeft + shift) / scale, (top + shift) / scale),
                           QPointF((right + shift) / scale, (bottom + shift) / scale));
        const int flags = Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic;
        QPainter& text = device.Logical();
        text.setFont(font());
        if (isEnabled()) {
            text.setPen(colours.buttonText);
            text.drawText(where, flags, caption);
        } else {
            DrawEmbossedText(text, where, flags, caption, colours, one / scale);
        }
        device.Device();
    }

    if (focused && (!flat || drawFlatFocus)) {
        const int inset = device.Px(kFocusInset);
        device.InvertDottedFrame(inset, inset, area.width() - inset, area.height() - inset);
    }
}
