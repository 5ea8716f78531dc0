// kestrel-board-sim: a virtual set-top-box board on a pty, for running and
// testing the flashing tool without hardware.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>

#include "sim/board_options.h"
#include "sim/virtual_board.h"

namespace {

std::atomic<bool> g_stop{false};

extern "C" void OnStopSignal(int) { g_stop.store(true); }

void InstallStopHandlers() {
    struct sigaction action{};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kestrel::sim;
    BoardOptions options;
    std::string error;
    switch (ParseBoardArgs(argc, argv, options, error)) {
        case ParseOutcome::Help: std::fputs(BoardUsage().c_str(), stdout); return 0;
        case ParseOutcome::UsageError:
            std::fprintf(stderr, "kestrel-board-sim: %s\n%s", error.c_str(), BoardUsage().c_str());
            return 2;
        case ParseOutcome::Run: break;
    }
    InstallStopHandlers();
    VirtualBoard board(options);
    if (!board.Start(error)) {
        std::fprintf(stderr, "kestrel-board-sim: %s\n", error.c_str());
        return 2;
    }
    // The first line is the device path; whoever started the board reads it
    // to know where to connect.
    std::printf("%s\n", board.DevicePath().c_str());
    std::fflush(stdout);
    board.Run(g_stop);
    board.Shutdown();
    std::fputs(board.Summary().c_str(), stderr);
    return board.Log().AllHeld() ? 0 : 1;
}
