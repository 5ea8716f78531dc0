#pragma once
// Ctrl-C (SIGINT) and SIGTERM for the board commands: the first one cancels like the
// Cancel button, the second quits at once with status 130 (a station takes three:
// stop waking, cancel, quit). Only the command's main
// thread takes them: the worker, the line's monitor and the console's reader never
// see a system call interrupted, and the main thread's own calls restart.
#include <signal.h>

#include <atomic>

// The `quitAt`-th signal ends the process at once.
void InstallInterruptHandlers(std::atomic<int>& counter, int quitAt = 2);

// While one lives, the threads this thread starts (and the threads they start) are
// not chosen to take the two signals; the thread's own mask is restored afterwards.
class InterruptsHeldBack {
public:
    InterruptsHeldBack();
    ~InterruptsHeldBack();
    InterruptsHeldBack(const InterruptsHeldBack&) = delete;
    InterruptsHeldBack& operator=(const InterruptsHeldBack&) = delete;

private:
    sigset_t previous;
};
