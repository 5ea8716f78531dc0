#include "platform/Interrupts.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

struct InterruptsHeldBack::Saved {
    sigset_t mask;
};

namespace {

std::atomic<int>* interrupts = nullptr;
int quitAfter = 2;

void OnInterrupt(int) {
    if (interrupts->fetch_add(1) + 1 >= quitAfter)
        _exit(130);
}

sigset_t InterruptSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

void InstallInterruptHandlers(std::atomic<int>& counter, int quitAt) {
    interrupts = &counter;
    quitAfter = quitAt;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESTART;  // output and input calls go on where they were
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A terminal closed under a run (an ssh session that drops) cancels it as Ctrl-C
    // does, so that the boards' logs and traces end with what happened.
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

InterruptsHeldBack::InterruptsHeldBack() : previous(std::make_unique<Saved>()) {
    const sigset_t set = InterruptSignals();
    pthread_sigmask(SIG_BLOCK, &set, &previous->mask);
}

InterruptsHeldBack::~InterruptsHeldBack() { pthread_sigmask(SIG_SETMASK, &previous->mask, nullptr); }
