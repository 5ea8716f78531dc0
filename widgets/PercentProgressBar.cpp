#include "widgets/PercentProgressBar.h"

#include <QPainter>
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "widgets/DevicePixels.h"

CPercentProgressBar::CPercentProgressBar(QWidget* parent)
    : QWidget(parent), backgroundColor(palette().color(QPalette::Button)) {
    // Every pixel is painted on each paint and the backing store is the off-screen
    // buffer that reaches the screen in one copy: no erase, so no flicker while the
    // position changes several times a second.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
}

void CPercentProgressBar::SetRange(int newLower, int newUpper) {
    lower = newLower;
    upper = newUpper;
    const int previous = position;
    position = newLower;
    update();
    if (position != previous)
        emit PositionChanged(position);
}

void CPercentProgressBar::GetRange(int& outLower, int& outUpper) const {
    outLower = lower;
    outUpper = upper;
}

void CPercentProgressBar::SetStep(int newStep) {
    step = newStep;
}

int CPercentProgressBar::SetPos(int newPosition) {
    const int previous = position;
    position = newPosition;
    if (newPosition != previous) {
        update();
        emit PositionChanged(position);
    }
    return previous;
}

void CPercentProgressBar::SetStartColor(const QColor& colour) {
    startColor = colour;
    update();
}

void CPercentProgressBar::SetEndColor(const QColor& colour) {
    endColor = colour;
    update();
}

void CPercentProgressBar::SetBackgroundColor(const QColor& colour) {
    backgroundColor = colour;
    update();
}

void CPercentProgressBar::SetTextColor(const QColor& colour) {
    textColor = colour;
    update();
}

void CPercentProgressBar::SetShowText(bool show) {
    showText = show;
    update();
}

int CPercentProgressBar::Percent() const {
    if (!ShowsProgress())
        return -1;
    // Counted from the lower end, in 64 bits: a range that does not start at 0 prints
    // how far along the bar is, and a range ending at 0 divides by its length, not by 0.
    const int64_t done = int64_t(position) - lower;
    const int64_t length = int64_t(upper) - lower;
    return int(done * 100 / length);
}

QSize CPercentProgressBar::sizeHint() const {
    return QSize(160, fontMetrics().height() + 8);
}

void CPercentProgressBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    DevicePixels device(painter);
    const QSize area = device.Size(size());
    const int width = area.width();
    const int height = area.height();

    if (!ShowsProgress()) {
        device.Fill(0, 0, width, height, palette().color(QPalette::Button));
        return;
    }

    const int fillEnd = int((double(position) - lower) / (double(upper) - lower) * width);

    // Background first: it shows beyond the band that holds the position, in the
    // columns that single-precision band edges may leave at the right end of a full
    // bar, and beyond the position of a bar whose two colours are equal.
    device.Fill(0, 0, width, height, backgroundColor);

    const int dR = endColor.red() - startColor.red();
    const int dG = endColor.green() - startColor.green();
    const int dB = endColor.blue() - startColor.blue();
    const int bands = std::max({std::abs(dR), std::abs(dG), std::abs(dB)});
    if (bands == 0) {
        // One colour has no bands to step through: it fills up to the position.
        device.Fill(0, 0, fillEnd, height, startColor);
    } else {
        const float bandWidth = float(width) / float(bands);
        const float incR = float(dR) / float(bands);
        const float incG = float(dG) / float(bands);
        const float incB = float(dB) / float(bands);
        for (int i = 0; i < bands; ++i) {
            const int left = int(float(i) * bandWidth);
            const int right = int(float(i + 1) * bandWidth);
            const QColor colour(int(float(startColor.red()) + float(i) * incR),
                                int(float(startColor.green()) + float(i) * incG),
                                int(float(startColor.blue()) + float(i) * incB));
            device.Fill(left, 0, right, height, colour);
            // The band holding the position is drawn whole; the background already
            // laid down shows from its right edge on.
            if (right > fillEnd)
                break;
        }
    }

    if (showText) {
        QPainter& text = device.Logical();
        text.setPen(textColor);
        text.setFont(font());
        text.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, QStringLiteral("%1%").arg(Percent()));
    }
}
