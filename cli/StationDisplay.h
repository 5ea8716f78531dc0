#pragma once
// What a station shows. On a terminal: one line per port on standard error, redrawn in
// place (waiting for a board since how long / flashing 45 % and the stage / PASS 0:58 /
// FAIL: why), and the counters beneath, per port and in total; each board's end and
// every problem scroll above them. Elsewhere: one plain line per event on standard
// output (problems on standard error), nothing redrawn.
#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "engine/Station.h"
#include "engine/StationWords.h"

class StationDisplay {
public:
    StationDisplay(std::ostream& out, std::ostream& err, bool terminal, std::vector<std::string> names);
    ~StationDisplay();

    void Port(size_t port, const PortView& view);
    void BoardEnded(const StationEvent& e);
    void Problem(size_t port, const std::string& text);
    // What the station itself says ("Stopping: ...").
    void Remark(const std::string& text);
    // Redraws the ports' lines (their clocks move); nothing off a terminal.
    void Tick();

private:
    void Erase();
    void Draw();
    std::string Name(size_t port) const;

    std::ostream& out;
    std::ostream& err;
    const bool terminal;
    std::vector<std::string> names;
    size_t nameWidth = 0;
    std::vector<PortView> views;
    std::vector<CounterFigures> portFigures;
    CounterFigures total;
    std::vector<std::string> plainShown;  // what each port's last plain line said
    size_t drawn = 0;
};
