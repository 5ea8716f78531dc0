#include "platform/Interrupts.h"

#include <windows.h>

#include <cstdlib>

struct InterruptsHeldBack::Saved {};

namespace {

std::atomic<int>* interrupts = nullptr;
int quitAfter = 2;

// Runs on a thread the system starts for the event. Ctrl-C and Ctrl-Break count like
// SIGINT; closing the console window, logging off or shutting down leave the program a
// few seconds only, so those end it at once with the status a second Ctrl-C gives.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        if (interrupts->fetch_add(1) + 1 >= quitAfter)
            std::_Exit(130);
        return TRUE;
    default:
        std::_Exit(130);
    }
}

}  // namespace

void InstallInterruptHandlers(std::atomic<int>& counter, int quitAt) {
    interrupts = &counter;
    quitAfter = quitAt;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

InterruptsHeldBack::InterruptsHeldBack() = default;
InterruptsHeldBack::~InterruptsHeldBack() = default;
