#pragma once
// What the window benchmarks measure of the UI thread's event loop: the longest
// delivery of one event, and the longest gap between the ticks of a 1 ms timer (the
// longest time the loop could not answer).
#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <chrono>

// Times the delivery of every event (the outermost delivery only: events sent while
// handling one belong to it).
class TimingApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        if (depth++ > 0) {
            const bool handled = QApplication::notify(receiver, event);
            --depth;
            return handled;
        }
        const auto start = std::chrono::steady_clock::now();
        const bool handled = QApplication::notify(receiver, event);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (measuring && ms > longest) {
            longest = ms;
            longestType = event->type();
        }
        --depth;
        return handled;
    }
    bool measuring = false;
    double longest = 0;
    int longestType = 0;

private:
    int depth = 0;
};

// A timer due every millisecond: the longest gap between its ticks is the longest
// time the event loop could not answer.
class TickGaps {
public:
    TickGaps() {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const auto now = std::chrono::steady_clock::now();
            if (ticks++ > 0)
                longest = std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
        });
        timer.start(1);
    }
    double longest = 0;
    long ticks = 0;

private:
    QTimer timer;
    std::chrono::steady_clock::time_point last;
};
