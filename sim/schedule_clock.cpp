#include "sim/schedule_clock.h"

namespace kestrel::sim {

namespace {
class Steady final : public ScheduleClock {
public:
    TimePoint Now() const override { return std::chrono::steady_clock::now(); }
};
}  // namespace

const ScheduleClock& SteadyScheduleClock() {
    static const Steady clock;
    return clock;
}

}  // namespace kestrel::sim
