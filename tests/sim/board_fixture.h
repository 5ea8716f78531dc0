#pragma once

#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/virtual_board.h"
#include "tests/sim/scripted_host.h"

namespace kestrel::sim::test {

// A folder of its own per test, with loader files for every crystal.
class BoardFolder {
public:
    BoardFolder();
    ~BoardFolder();
    const std::filesystem::path& Path() const { return dir_; }
    std::filesystem::path Flash() const { return dir_ / "flash.bin"; }
    const Bytes& Loader1() const { return loader1_; }
    const Bytes& Loader2() const { return loader2_; }
    // Options with short gaps, pointing at this folder.
    BoardOptions Options(const std::string& crystal) const;
    Bytes ReadFlash() const;

private:
    std::filesystem::path dir_;
    Bytes loader1_ = Pattern(1029, 1);  // 1024 body bytes: half the block is zero fill
    Bytes loader2_ = Pattern(3000, 2);
};

// A schedule clock that moves only when the test moves it: power, swaps and
// pulls of the line happen when the test says, whatever the machine's load.
class ManualClock final : public ScheduleClock {
public:
    TimePoint Now() const override { return start_ + Ms(offset_.load()); }
    void Advance(Ms by) { offset_ += by.count(); }

private:
    const TimePoint start_ = std::chrono::steady_clock::now();
    std::atomic<long long> offset_{0};
};

// The board's events as they come, for a test to wait on.
class EventLog {
public:
    void Add(const std::string& event);
    // Waits (generously) until `event` has come, at or after the `from`-th
    // event, and returns its index, or -1.
    int WaitFor(const std::string& event, std::size_t from = 0) const;
    std::vector<std::string> All() const;
    // The path of the last "line PATH" event, or empty.
    std::string LastLine() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

// The library's board run on a thread of its own, as a test drives it.
class RunningBoard {
public:
    explicit RunningBoard(BoardOptions options, const ScheduleClock* clock = nullptr);
    ~RunningBoard() { Stop(); }
    const std::string& Path() const { return board_.DevicePath(); }
    // Waits for the board to end by itself (--once, hangup), or stops it.
    void Join();
    void Stop();
    // Whether the board has ended by itself; it writes nothing more then.
    bool Ended() const { return ended_.load(); }
    // Waits (generously) until the board has made the check `name`.
    bool WaitForCheck(const std::string& name) const;
    const CheckLog& Log() const { return board_.Log(); }
    // Board `number` of a succession; its log may be asked while it runs, the
    // rest once the board has ended.
    const BoardRecord& Board(unsigned number) const { return board_.Board(number); }
    bool AllHeld() const { return board_.AllHeld(); }
    std::string Summary() const { return board_.Summary(); }
    bool Started() const { return started_; }
    // Waits for the event (see EventLog::WaitFor).
    int WaitForEvent(const std::string& event, std::size_t from = 0) const { return events_.WaitFor(event, from); }
    const EventLog& Events() const { return events_; }

private:
    EventLog events_;
    VirtualBoard board_;
    std::atomic<bool> stop_{false};
    StopSource stop_source_{stop_};
    std::atomic<bool> ended_{false};
    std::thread thread_;
    bool started_ = false;
};

// The tool's plan of an update against a board with this folder's loaders.
HostPlan PlanFor(const BoardFolder& folder, speed_t boot);

// The programming reports 1 … 16 as the board sends them.
std::string Progress();

// Whether a check of that name was made and held (false when never made).
::testing::AssertionResult CheckHeld(const CheckLog& log, const std::string& name);
::testing::AssertionResult CheckFailed(const CheckLog& log, const std::string& name, const std::string& detail_part);

}  // namespace kestrel::sim::test
