#pragma once
// What the window benchmarks measure of the UI thread: the time from a start to the
// first paint, the longest delivery of one event, and the longest gap between the
// ticks of a 1 ms timer (the longest time the loop could not answer).
#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tools/SpawnProcess.h"

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

// Starts the window (`args`, the program first), reads when it first painted, ends it:
// the milliseconds from the start to that paint, or -1.
inline double StartupMs(std::vector<std::string> args) {
    int pipeFd[2];
    if (pipe(pipeFd) != 0)
        return -1;
    const double start = MonotonicMs();
    const pid_t pid = SpawnProcessWith(std::move(args), -1, pipeFd[1], {"KESTREL_STARTUP_REPORT=1"});
    close(pipeFd[1]);
    std::string text;
    char c;
    double painted = -1;
    while (read(pipeFd[0], &c, 1) == 1) {
        text += c;
        const auto at = text.find("first paint at monotonic ");
        if (c == '\n' && at != std::string::npos) {
            painted = std::stod(text.substr(at + 25));
            break;
        }
    }
    close(pipeFd[0]);
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    return painted < 0 ? -1 : painted - start;
}
