#pragma once
#include <cstdint>
#include <mutex>

// Line errors and modem-line changes from the driver's interrupt counters
// (TIOCGICOUNT). Drivers without counters (ptys, many USB adapters) never report
// an error. Both the worker (before reads and writes) and the monitor take from
// the same snapshot, so each error is reported to exactly one of them.
class LineErrorCounters {
public:
    struct ModemChanges {
        bool cts = false, dsr = false, ring = false, rlsd = false;
    };

    // Takes the driver's counters as the new baseline; call right after opening.
    void Reset(int fd);
    // The CE_* mask of errors counted since the last call (0 when none or no counters).
    uint32_t TakeErrors(int fd);
    // Modem-line transitions counted since the last call.
    ModemChanges TakeModemChanges(int fd);
    bool Supported() const;

private:
    struct Counts {
        int cts = 0, dsr = 0, rng = 0, dcd = 0;
        int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
    };
    bool Read(int fd, Counts& out) const;

    mutable std::mutex mutex;
    bool supported = false;
    Counts last;
};
