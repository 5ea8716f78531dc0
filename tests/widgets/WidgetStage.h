#pragma once
#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QPainter>
#include <QWidget>
#include <QtTest/QTest>
#include <functional>
#include <ostream>
#include <set>

// A shown, active top-level window that holds the widgets under test. Shots are taken
// through the window, so what lies outside a widget's own drawing (the corners of a
// rounded button) shows the window's background as it would on screen.
class WidgetStage {
public:
    WidgetStage() {
        window.setGeometry(100, 100, 400, 200);
        QCursor::setPos(0, 0);
        window.show();
        QApplication::setActiveWindow(&window);
        // The pointer enters the window away from the widgets: later moves then reach
        // the widgets with enter and leave notices, as on a desktop.
        PointerAway();
    }
    ~WidgetStage() { QCursor::setPos(0, 0); }

    template <typename W, typename... Args>
    W* Add(const QRect& geometry, Args&&... args) {
        auto* widget = new W(std::forward<Args>(args)..., &window);
        widget->setGeometry(geometry);
        widget->show();
        return widget;
    }

    // The widget as it stands on screen, one image pixel per device pixel.
    QImage Shot(QWidget* widget) {
        QApplication::processEvents();
        return window.grab(widget->geometry()).toImage().convertToFormat(QImage::Format_RGB32);
    }

    void PointerTo(QWidget* widget, QPoint where) { QTest::mouseMove(widget, where); }
    void PointerAway() { QTest::mouseMove(&window, QPoint(395, 195)); }

    QWidget window;
};

// Colours in failure messages as rgb(r, g, b).
inline void PrintTo(const QColor& colour, std::ostream* out) {
    *out << "rgb(" << colour.red() << ", " << colour.green() << ", " << colour.blue() << ")";
}

inline QColor At(const QImage& image, int x, int y) {
    return QColor(image.pixel(x, y));
}

// A palette colour as the pixels show it (QColor compares its colour model too).
inline QColor PaletteColour(const QWidget* widget, QPalette::ColorRole role) {
    return QColor(widget->palette().color(role).rgb());
}

inline std::set<QRgb> ColoursIn(const QImage& image, const QRect& area) {
    std::set<QRgb> colours;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            colours.insert(image.pixel(x, y) & RGB_MASK);
    return colours;
}

// The pixels for which `keep` holds, as a set of points.
inline std::set<std::pair<int, int>> PixelsWhere(const QImage& image, const std::function<bool(QColor)>& keep) {
    std::set<std::pair<int, int>> points;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (keep(At(image, x, y)))
                points.insert({x, y});
    return points;
}
