#include "engine/StationCounters.h"

#include <algorithm>

StationCounters::StationCounters(size_t n, Clock::time_point b) : began(b), ports(n) {}

void StationCounters::Count(size_t port, bool passed, double seconds) {
    for (Tally* t : {&ports.at(port), &total}) {
        t->passed += passed ? 1 : 0;
        t->seconds.push_back(seconds);
    }
}

CounterFigures StationCounters::Port(size_t port, Clock::time_point now) const { return Figures(ports.at(port), now); }

CounterFigures StationCounters::Total(Clock::time_point now) const { return Figures(total, now); }

CounterFigures StationCounters::Figures(const Tally& t, Clock::time_point now) const {
    CounterFigures f;
    f.boards = t.seconds.size();
    f.passed = t.passed;
    f.failed = f.boards - f.passed;
    if (f.boards == 0)
        return f;
    f.yield = static_cast<double>(f.passed) / static_cast<double>(f.boards);
    std::vector<double> sorted = t.seconds;
    std::sort(sorted.begin(), sorted.end());
    const size_t mid = sorted.size() / 2;
    f.medianSeconds = sorted.size() % 2 == 1 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
    const double hours = std::chrono::duration<double>(now - began).count() / 3600;
    f.boardsPerHour = hours > 0 ? static_cast<double>(f.boards) / hours : 0;
    return f;
}
