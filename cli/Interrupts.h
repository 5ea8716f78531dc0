#pragma once
// Ctrl-C (SIGINT), SIGTERM and SIGHUP for the board commands: the first one cancels
// like the Cancel button, the second quits at once with status 130. Only the command's main
// thread takes them: the worker, the line's monitor and the console's reader never
// see a system call interrupted, and the main thread's own calls restart.
#include <signal.h>

#include <atomic>

void InstallInterruptHandlers(std::atomic<int>& counter);

// While one lives, the threads this thread starts (and the threads they start) are
// not chosen to take these signals; the thread's own mask is restored afterwards.
class InterruptsHeldBack {
public:
    InterruptsHeldBack();
    ~InterruptsHeldBack();
    InterruptsHeldBack(const InterruptsHeldBack&) = delete;
    InterruptsHeldBack& operator=(const InterruptsHeldBack&) = delete;

private:
    sigset_t previous;
};
