#pragma once
// A station's counters, per port and in total: boards ended, passed and not, the
// yield, the median time per board and the boards per hour since the station began.
#include <chrono>
#include <cstddef>
#include <vector>

struct CounterFigures {
    size_t boards = 0;
    size_t passed = 0;
    size_t failed = 0;  // every board that did not pass: failed, timed out, cancelled, check-failed
    double yield = 0;            // passed / boards, 0..1 (0 without boards)
    double medianSeconds = 0;    // of the boards' times (0 without boards)
    double boardsPerHour = 0;    // boards / the hours since the station began
};

class StationCounters {
public:
    using Clock = std::chrono::steady_clock;

    StationCounters(size_t ports, Clock::time_point began);

    void Count(size_t port, bool passed, double seconds);
    CounterFigures Port(size_t port, Clock::time_point now) const;
    CounterFigures Total(Clock::time_point now) const;
    size_t Ports() const { return ports.size(); }

private:
    struct Tally {
        size_t passed = 0;
        std::vector<double> seconds;  // one per board
    };
    CounterFigures Figures(const Tally& tally, Clock::time_point now) const;

    Clock::time_point began;
    std::vector<Tally> ports;
    Tally total;
};
