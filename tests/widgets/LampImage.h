#pragma once
#include <QColor>
#include <QImage>

// A 16 by 16 lamp the way the window's bitmaps are made: a round lamp of `lamp`
// colour with a darker rim, on a white surround.
inline QImage LampImage(const QColor& lamp) {
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const int dx = 2 * x - 15, dy = 2 * y - 15;
            const int r2 = dx * dx + dy * dy;
            if (r2 <= 13 * 13)
                image.setPixelColor(x, y, r2 >= 10 * 10 ? lamp.darker(150) : lamp);
        }
    return image;
}
