#pragma once
#include <cstdint>
#include <functional>
#include <mutex>

// The driver's interrupt counters of one line (TIOCGICOUNT).
struct LineCounts {
    int cts = 0, dsr = 0, rng = 0, dcd = 0;
    int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
};

// Reads the counters of an open line; false when the driver keeps none (ptys, many
// USB adapters).
bool ReadDriverCounts(int fd, LineCounts& out);

// Line errors, breaks and modem-line changes from the driver's interrupt counters.
// Drivers without counters never report anything. Both the worker (before reads and
// writes) and the monitor take errors from the same snapshot, so each error is
// reported to exactly one of them; breaks and modem-line changes are the monitor's
// alone, so each rise of those counters is reported once whatever the worker took.
class LineErrorCounters {
public:
    using Reader = std::function<bool(int fd, LineCounts& out)>;

    struct ModemChanges {
        bool cts = false, dsr = false, ring = false, rlsd = false;
    };

    explicit LineErrorCounters(Reader reader = ReadDriverCounts);

    // Takes the driver's counters as the new baseline; call right after opening.
    void Reset(int fd);
    // The CE_* mask of errors counted since the last call (0 when none or no counters).
    uint32_t TakeErrors(int fd);
    // True when the break counter rose since the last call.
    bool TakeBreak(int fd);
    // Modem-line transitions counted since the last call.
    ModemChanges TakeModemChanges(int fd);
    bool Supported() const;

private:
    mutable std::mutex mutex;
    Reader read;
    bool supported = false;
    LineCounts last;     // baseline of the errors, shared by the worker and the monitor
    int lastBreaks = 0;  // baseline of the monitor's break notices
};
