#pragma once

#include <chrono>

namespace kestrel::sim {

// The clock of the board's slow events: power coming on, a board swapped for
// the next, a line pulled and plugged in again. The exchange itself keeps
// real time; these events can be driven by a test instead, so that it knows
// the board is off while it sends, or on once it has moved the clock.
class ScheduleClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~ScheduleClock() = default;
    virtual TimePoint Now() const = 0;
};

// The steady clock, for the executable.
const ScheduleClock& SteadyScheduleClock();

}  // namespace kestrel::sim
