#pragma once
// One port of the station view: its tick (armed by Start), its name and device, the
// port lamp, its own percentage bar, its state in words, the last board's verdict in
// large coloured letters, its counters, and its log and wire trace to open.
#include <QFrame>
#include <chrono>
#include <string>

#include "engine/Station.h"
#include "settings/StationSettings.h"

class CFlatImageButton;
class CPercentProgressBar;
class QCheckBox;
class QLabel;
class QPushButton;

class StationTile : public QFrame {
public:
    StationTile(const StationPortEntry& port, QWidget* parent);

    const StationPortEntry& Port() const { return port; }
    bool Armed() const;
    void SetArmed(bool armed);
    // Whether the tick may be changed (not while the station runs).
    void SetTickable(bool tickable);

    // The station's word on this port.
    void Show(const PortView& view);
    void BoardEnded(const StationEvent& ended, const std::string& tracePath);
    // The clocks move ("waiting for a board since 0:12").
    void Refresh(std::chrono::system_clock::time_point now);
    // Back to rest before a new Start (the counters start again with the station).
    void Reset();

    const PortView& View() const { return view; }
    // A board is under way on this port: being flashed or its firmware listened to.
    bool Busy() const;
    QString StateText() const;
    QString VerdictText() const;
    QString CountersText() const;
    const std::string& Log() const { return log; }
    const std::string& LastTrace() const { return lastTrace; }

    QCheckBox* Tick() const { return tick; }
    QPushButton* LogButton() const { return logButton; }
    QPushButton* TraceButton() const { return traceButton; }

private:
    void OpenLog();
    void OpenTrace();
    void ShowText(const QString& caption, const QString& text);

    StationPortEntry port;
    PortView view;
    bool viewSeen = false;
    std::string log;        // every board's operator log since Start
    std::string lastTrace;  // the last board's wire trace
    QCheckBox* tick = nullptr;
    QLabel* device = nullptr;
    CFlatImageButton* lamp = nullptr;
    CPercentProgressBar* bar = nullptr;
    QLabel* state = nullptr;
    QLabel* verdict = nullptr;
    QLabel* counters = nullptr;
    QPushButton* logButton = nullptr;
    QPushButton* traceButton = nullptr;
};
