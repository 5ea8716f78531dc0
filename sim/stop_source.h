#pragma once

#include <atomic>
#include <string>

namespace kestrel::sim {

// What tells the board to stop: a flag that another thread sets (tests run the
// board on a thread of their own), and in the executable also the stop signals.
// The board's waits include WakeFd(), so a signal ends a wait at once.
class StopSource {
public:
    explicit StopSource(const std::atomic<bool>& flag, int signal_fd = -1) : flag_(flag), signal_fd_(signal_fd) {}

    // True once the flag is set or a stop signal is pending. The signal is left
    // pending, so the answer stays true.
    bool Requested() const;
    int WakeFd() const { return signal_fd_; }

private:
    const std::atomic<bool>& flag_;
    int signal_fd_;
};

// SIGINT and SIGTERM taken as a readable descriptor instead of a handler. The
// signals are blocked from construction on, so one that comes early, or while
// the board is between two waits, stays pending until the board looks: it is
// never lost, and no handler runs in the middle of the board's work.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // -1 when the descriptor could not be made; `Error()` says why.
    int Fd() const { return fd_; }
    const std::string& Error() const { return error_; }

private:
    int fd_ = -1;
    std::string error_;
};

}  // namespace kestrel::sim
