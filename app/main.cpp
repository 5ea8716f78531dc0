// kestrel: the operator's window.
#include <QApplication>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>

#include "app/MainApp.h"
#include "app/StartUp.h"
#include "app/VersionText.h"
#include "console/MessageBoxes.h"

namespace {

const char* const kUsage =
    "usage: kestrel [--lib DIR] [FILE...]\n"
    "       kestrel --station [--lib DIR] [--results FILE] [FILE...]\n"
    "Opens the Kestrel window, which writes firmware into a set-top-box board over a\n"
    "serial line. FILEs are opened as if chosen with Open File.\n"
    "  --lib DIR    the library folder (loaders, flash layout, M850T.ini);\n"
    "               default: Lib/ beside the executable\n"
    "  --station    the factory station: one tile per port of [PORTS] in the\n"
    "               settings file, each flashing board after board\n"
    "  --results FILE  with --station: append one JSON record per board to FILE\n"
    "               (kept in the settings file's [STATION] section)\n"
    "  --version    print the version and exit\n"
    "Without a display, use kestrel-cli.\n";

bool Asked(int argc, char** argv, const char* option) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        if (std::strcmp(argv[i], option) == 0)
            return true;
    return false;
}

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (const char* value = std::getenv(name); value && *value)
            return true;
    return false;
}

double MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// With KESTREL_STARTUP_REPORT set, tells on standard error when the window has first
// been painted (the start-up benchmark reads it).
class FirstPaintReport : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            qApp->removeEventFilter(this);
            // Runs once this paint has reached the screen.
            QTimer::singleShot(0, [] { std::cerr << "kestrel: first paint at monotonic " << std::fixed << MonotonicMs() << " ms\n"; });
        }
        return false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (Asked(argc, argv, "--help") || Asked(argc, argv, "-h")) {
        std::cout << kUsage;
        return 0;
    }
    if (Asked(argc, argv, "--version")) {
        std::cout << "Kestrel " << GetVersionText() << "\n";
        return 0;
    }
    if (!HasDisplay()) {
        std::cerr << "kestrel: there is no display to show the window on (DISPLAY is not set).\n"
                     "Use kestrel-cli to work without a window.\n";
        return 1;
    }
    QApplication app(argc, argv);  // takes the toolkit's own options out of argv

    const StartUpRequest request = ReadStartUp(argc, argv);
    if (!request.refusal.empty()) {
        QtMessageBoxes boxes;
        RefuseStartUp(request, boxes);
        if (request.status == 2)
            std::cerr << kUsage;
        return request.status;
    }

    CMainApp theApp(request.lib);
    FirstPaintReport report;
    if (std::getenv("KESTREL_STARTUP_REPORT"))
        app.installEventFilter(&report);
    if (request.station)
        return theApp.InitStation(request);
    return theApp.InitInstance(request.files);
}
