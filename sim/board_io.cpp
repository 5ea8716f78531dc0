#include "sim/board_io.h"

#include <algorithm>
#include <poll.h>

#include "sim/line_settings.h"

namespace kestrel::sim {

namespace {
// Short enough that a stop request is seen at once, long enough not to spin.
constexpr BoardIo::Ms kSlice{20};
// How long the board gives the tool to apply its speed after reopening.
constexpr BoardIo::Ms kSettingsWait{300};

BoardIo::Ms Left(BoardIo::Clock::time_point until) {
    const auto left = std::chrono::duration_cast<BoardIo::Ms>(until - BoardIo::Clock::now());
    return std::clamp(left, BoardIo::Ms{0}, kSlice);
}
}  // namespace

void BoardIo::SchedulePull(const ScheduleClock& clock, ScheduleClock::TimePoint at) {
    pull_clock_ = &clock;
    pull_at_ = at;
}

void BoardIo::PullLine() {
    if (pull_) {
        pull_();
    } else {
        line_.Close();
    }
}

void BoardIo::Pump(Ms wait) {
    if (pull_at_ && pull_clock_->Now() >= *pull_at_) {
        pull_at_.reset();
        if (line_.IsOpen()) PullLine();
    }
    if (!line_.IsOpen()) {
        // Nothing can arrive; only a stop ends the wait early.
        pollfd p{stop_.WakeFd(), POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(std::min(wait, kSlice).count()));
        return;
    }
    line_.Pump(wait, pending_, stop_.WakeFd());
}

std::vector<std::uint8_t> BoardIo::TakePending() {
    std::vector<std::uint8_t> out;
    out.swap(pending_);
    return out;
}

WaitResult BoardIo::Receive(std::size_t count, std::vector<std::uint8_t>& out, Ms idle) {
    out.clear();
    const LineMark mark = line_.Mark();
    auto last_byte = Clock::now();
    for (;;) {
        const std::size_t take = std::min(count - out.size(), pending_.size());
        if (take > 0) {
            out.insert(out.end(), pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(take));
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(take));
            last_byte = Clock::now();
        }
        if (out.size() == count) return WaitResult::Done;
        if (!line_.IsOpen()) return WaitResult::Unplugged;
        // The bytes the tool wrote before letting go or reopening are read in the
        // same pump that sees it, so once it shows and the queue is empty, no more
        // bytes of this run are coming. Another program opening and closing the
        // device does neither while the tool holds it.
        if (pending_.empty() && take == 0 && (!line_.SlaveOpen() || line_.ReopenedSince(mark))) {
            return WaitResult::LineClosed;
        }
        if (StopRequested()) return WaitResult::Stopped;
        if (Clock::now() - last_byte >= idle) return WaitResult::TimedOut;
        Pump(Left(last_byte + idle));
    }
}

WaitResult BoardIo::Idle(Ms span) {
    const auto until = Clock::now() + span;
    while (Clock::now() < until) {
        if (StopRequested()) return WaitResult::Stopped;
        if (!line_.IsOpen()) return WaitResult::Unplugged;
        Pump(Left(until));
    }
    return WaitResult::Done;
}

WaitResult BoardIo::SendAndAwaitRead(std::uint8_t byte, Ms timeout) {
    Pump(Ms(0));
    if (!line_.IsOpen()) return WaitResult::Unplugged;
    const std::uint64_t before = line_.ToolReadCount();
    if (!Send(byte) || !line_.SeesToolReads()) return WaitResult::Done;
    const auto until = Clock::now() + timeout;
    while (line_.ToolReadCount() == before) {
        if (StopRequested()) return WaitResult::Stopped;
        if (!line_.IsOpen()) return WaitResult::Unplugged;
        if (Clock::now() >= until) return WaitResult::TimedOut;
        Pump(Left(until));
    }
    return WaitResult::Done;
}

WaitResult BoardIo::AwaitReopen(LineMark mark, Ms timeout) {
    const auto until = Clock::now() + timeout;
    for (;;) {
        if (line_.ReopenedSince(mark)) return WaitResult::Done;
        if (StopRequested()) return WaitResult::Stopped;
        if (!line_.IsOpen()) return WaitResult::Unplugged;
        if (Clock::now() >= until) return WaitResult::TimedOut;
        Pump(Left(until));
    }
}

WaitResult BoardIo::AwaitToolGone(Ms grace, Ms timeout) {
    const auto start = Clock::now();
    auto closed_since = start;
    bool closed = false;
    for (;;) {
        if (line_.SlaveOpen()) {
            closed = false;
        } else if (!closed) {
            closed = true;
            closed_since = Clock::now();
        }
        if (closed && Clock::now() - closed_since >= grace) return WaitResult::Done;
        if (StopRequested()) return WaitResult::Stopped;
        if (!line_.IsOpen()) return WaitResult::Unplugged;
        if (timeout.count() > 0 && Clock::now() - start >= timeout) return WaitResult::TimedOut;
        Pump(kSlice);
    }
}

WaitResult BoardIo::AwaitGiveUp(LineMark mark, Ms grace, Ms idle) {
    auto last_byte = Clock::now();
    std::size_t heard = pending_.size();
    auto closed_since = last_byte;
    bool closed = false;
    for (;;) {
        const auto now = Clock::now();
        if (line_.ReopenedSince(mark)) return WaitResult::Done;
        if (line_.SlaveOpen()) {
            closed = false;
        } else if (!closed) {
            closed = true;
            closed_since = now;
        }
        if (closed && now - closed_since >= grace) return WaitResult::Done;
        if (pending_.size() != heard) {
            heard = pending_.size();
            last_byte = now;
        }
        if (now - last_byte >= idle) return WaitResult::TimedOut;
        if (StopRequested()) return WaitResult::Stopped;
        if (!line_.IsOpen()) return WaitResult::Unplugged;
        Pump(kSlice);
    }
}

WaitResult BoardIo::AwaitSettings(unsigned baud, Ms settle, termios& seen) {
    const auto until = Clock::now() + kSettingsWait;
    for (;;) {
        const auto t = line_.SlaveSettings();
        if (t && LineBaud(*t) == baud) break;
        if (StopRequested()) return WaitResult::Stopped;
        if (!line_.IsOpen()) return WaitResult::Unplugged;
        if (Clock::now() >= until) break;
        Pump(std::min(Left(until), Ms{2}));
    }
    const WaitResult r = Idle(settle);
    if (r != WaitResult::Done) return r;
    seen = line_.SlaveSettings().value_or(termios{});
    return WaitResult::Done;
}

}  // namespace kestrel::sim
