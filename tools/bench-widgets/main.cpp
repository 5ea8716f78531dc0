// kestrel-bench-widgets: how long one paint of each owner-drawn widget takes, at the
// main window's sizes, on a 1x and a 2x device. Prints figures; asserts nothing.
//
//   kestrel-bench-widgets [PAINTS]   (default 5000 per case)

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <cstdio>
#include <functional>

#include "widgets/FlatImageButton.h"
#include "widgets/PercentProgressBar.h"
#include "widgets/ShadedPushButton.h"

namespace {

QImage Lamp() {
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 3; y < 13; ++y)
        for (int x = 3; x < 13; ++x)
            image.setPixelColor(x, y, QColor(0, 200, 0));
    return image;
}

// Paints `widget` into a backing-store-like image `paints` times; microseconds per paint.
double MicrosecondsPerPaint(QWidget& widget, qreal scale, int paints) {
    QImage target(widget.size() * scale, QImage::Format_ARGB32_Premultiplied);
    target.setDevicePixelRatio(scale);
    widget.render(&target);  // warm up: fonts, glyph cache
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < paints; ++i)
        widget.render(&target);
    return double(timer.nsecsElapsed()) / 1000.0 / paints;
}

void Report(const char* what, QWidget& widget, int paints) {
    std::printf("%-44s %8.1f us %8.1f us\n", what, MicrosecondsPerPaint(widget, 1.0, paints),
                MicrosecondsPerPaint(widget, 2.0, paints));
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int paints = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5000;
    std::printf("one paint, mean of %d, rendered into an image\n", paints);
    std::printf("%-44s %11s %11s\n", "widget", "1x", "2x");

    CPercentProgressBar bar;
    bar.resize(320, 23);
    bar.SetStartColor(QColor(128, 213, 136));
    bar.SetEndColor(QColor(80, 160, 190));
    bar.SetTextColor(QColor(75, 43, 189));
    bar.SetShowText(true);
    bar.SetPos(50);
    Report("progress bar 320x23 at 50%", bar, paints);
    bar.SetPos(100);
    Report("progress bar 320x23 at 100% (54 bands)", bar, paints);
    bar.SetPos(0);
    Report("progress bar 320x23 at rest", bar, paints);

    CShadedPushButton button("&Update");
    button.resize(84, 20);
    Report("command button 84x20", button, paints);
    button.setDown(true);
    Report("command button 84x20 pressed", button, paints);
    button.setDown(false);
    button.resize(84, 60);
    Report("command button 84x60", button, paints);

    CFlatImageButton lamp;
    lamp.resize(22, 22);
    lamp.LoadImageResource(Lamp());
    lamp.setEnabled(false);
    Report("port lamp 22x22, disabled", lamp, paints);
    return 0;
}
