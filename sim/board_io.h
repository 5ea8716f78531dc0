#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <termios.h>
#include <vector>

#include "sim/pty_line.h"
#include "sim/schedule_clock.h"
#include "sim/stop_source.h"

namespace kestrel::sim {

enum class WaitResult {
    Done,
    TimedOut,
    LineClosed,  // the tool let go of the line, or reopened it, before the wait was over
    Stopped,     // the board was asked to stop
    Unplugged,   // the line was pulled: no byte can come or go on it any more
};

// The timed steps the board's side of the exchange is made of, on top of the
// pty. Every wait keeps reading, so the tool never blocks on a full queue, and
// bytes that arrive while the board is not expecting any stay in Pending() for
// the caller to judge.
class BoardIo {
public:
    using Clock = std::chrono::steady_clock;
    using Ms = std::chrono::milliseconds;

    BoardIo(PtyLine& line, const StopSource& stop) : line_(line), stop_(stop) {}

    bool StopRequested() const { return stop_.Requested(); }
    PtyLine& Line() { return line_; }

    // How the line is pulled (by a fault, or at a time set below); without one
    // a pull only closes it.
    void SetPull(std::function<void()> pull) { pull_ = std::move(pull); }
    // Pulls the line once `clock` reaches `at`, from within whatever wait runs then.
    void SchedulePull(const ScheduleClock& clock, ScheduleClock::TimePoint at);
    void PullLine();

    // Reads for at most `wait`; while the line is pulled only lets it pass.
    void Pump(Ms wait);
    std::vector<std::uint8_t>& Pending() { return pending_; }
    std::vector<std::uint8_t> TakePending();

    // Moves exactly `count` bytes into `out` (fewer when the wait fails): ends
    // with TimedOut after `idle` without a byte, with LineClosed when the tool
    // left the line, or reopened it, before they all came.
    WaitResult Receive(std::size_t count, std::vector<std::uint8_t>& out, Ms idle);

    // Lets `span` pass, collecting whatever arrives.
    WaitResult Idle(Ms span);

    LineMark Mark() const { return line_.Mark(); }

    // Waits for the tool to close and reopen the line after `mark`. A tool that
    // has reopened and closed again by the time the board looks counts too;
    // another program opening and closing the device does not.
    WaitResult AwaitReopen(LineMark mark, Ms timeout);

    // Waits for the tool to leave: the line closed and not reopened for `grace`.
    // A zero `timeout` waits for as long as it takes.
    WaitResult AwaitToolGone(Ms grace, Ms timeout);

    // Waits until the tool has given an exchange up: it reopened the line after
    // `mark`, let go of it for `grace`, or sent nothing for `idle`. What it sent
    // meanwhile stays in Pending().
    WaitResult AwaitGiveUp(LineMark mark, Ms grace, Ms idle);

    // After a reopen: waits (bounded) until the tool has set `baud`, then lets
    // `settle` pass so that the tool's purge of its input is over before the
    // board speaks. `seen` gets the settings at the end.
    WaitResult AwaitSettings(unsigned baud, Ms settle, termios& seen);

    // Sends a byte that gets no answer and waits (bounded) until the tool has read
    // it, so the next one cannot reach the tool in the same read. Without a watch on
    // the line it only sends.
    WaitResult SendAndAwaitRead(std::uint8_t byte, Ms timeout);

    bool Send(std::span<const std::uint8_t> bytes) { return line_.Write(bytes); }
    bool Send(std::uint8_t byte) { return line_.Write(std::span<const std::uint8_t>(&byte, 1)); }

private:
    PtyLine& line_;
    const StopSource& stop_;
    std::vector<std::uint8_t> pending_;
    std::function<void()> pull_;
    const ScheduleClock* pull_clock_ = nullptr;
    std::optional<ScheduleClock::TimePoint> pull_at_;
};

}  // namespace kestrel::sim
