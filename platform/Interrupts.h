#pragma once
// Ctrl-C (and the system's request to end the program, or a hang-up of the terminal)
// for the board commands: the first one cancels like the Cancel button, the second
// quits at once with status 130 (a station takes three: stop waking, cancel, quit).
// Only the command's main thread takes them on Linux: the worker, the line's monitor
// and the console's reader never see a system call interrupted, and the main thread's
// own calls restart. Windows hands them to a thread of its own, which only counts.
// Output to a closed pipe is a failed write, not the end of the program.
#include <atomic>
#include <memory>

// The `quitAt`-th one ends the process at once.
void InstallInterruptHandlers(std::atomic<int>& counter, int quitAt = 2);

// While one lives, the threads this thread starts (and the threads they start) are
// not chosen to take these signals; the thread's own mask is restored afterwards.
// Nothing to hold back on Windows.
class InterruptsHeldBack {
public:
    InterruptsHeldBack();
    ~InterruptsHeldBack();
    InterruptsHeldBack(const InterruptsHeldBack&) = delete;
    InterruptsHeldBack& operator=(const InterruptsHeldBack&) = delete;

private:
    struct Saved;
    std::unique_ptr<Saved> previous;
};
