// kestrel-board-sim: a virtual set-top-box board on a pty, for running and
// testing the flashing tool without hardware.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>

#include "sim/board_options.h"
#include "sim/stop_source.h"
#include "sim/virtual_board.h"

int main(int argc, char** argv) {
    using namespace kestrel::sim;
    // First of all: a stop signal from now on waits for the board instead of
    // ending it without a summary or slipping past its waits.
    const StopSignals signals;
    BoardOptions options;
    std::string error;
    switch (ParseBoardArgs(argc, argv, options, error)) {
        case ParseOutcome::Help: std::fputs(BoardUsage().c_str(), stdout); return 0;
        case ParseOutcome::UsageError:
            std::fprintf(stderr, "kestrel-board-sim: %s\n%s", error.c_str(), BoardUsage().c_str());
            return 2;
        case ParseOutcome::Run: break;
    }
    if (signals.Fd() < 0) {
        std::fprintf(stderr, "kestrel-board-sim: %s\n", signals.Error().c_str());
        return 2;
    }
    if (options.boards != 0 || options.replugAfter) {
        // Events follow the device path on stdout. A reader that has gone away
        // must not end the board before its summary.
        std::signal(SIGPIPE, SIG_IGN);
    }
    VirtualBoard board(options);
    board.SetEvents([](const std::string& event) {
        std::printf("%s\n", event.c_str());
        std::fflush(stdout);
    });
    if (!board.Start(error)) {
        std::fprintf(stderr, "kestrel-board-sim: %s\n", error.c_str());
        return 2;
    }
    // The first line is the device path; whoever started the board reads it
    // to know where to connect.
    std::printf("%s\n", board.DevicePath().c_str());
    std::fflush(stdout);
    const std::atomic<bool> no_other_stop{false};
    board.Run(StopSource(no_other_stop, signals.Fd()));
    board.Shutdown();
    std::fputs(board.Summary().c_str(), stderr);
    if (!board.SetupError().empty()) {
        std::fprintf(stderr, "kestrel-board-sim: %s\n", board.SetupError().c_str());
        return 2;
    }
    return board.AllHeld() ? 0 : 1;
}
