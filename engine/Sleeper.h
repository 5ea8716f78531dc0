#pragma once
#include <chrono>
#include <cstdint>
#include <thread>

// Every pause of the wire protocol goes through a sleeper, so tests can run the
// protocol without waiting. The shipped program always uses RealSleeper.
class ISleeper {
public:
    virtual ~ISleeper() = default;
    virtual void SleepMs(uint32_t ms) = 0;
};

class RealSleeper : public ISleeper {
public:
    void SleepMs(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};
