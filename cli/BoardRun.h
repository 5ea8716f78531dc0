#pragma once
// An update or an erase of several boards at once, one session (worker, line, shared
// state) per device, each on a thread of its own, so that no board waits for another.
#include <string>
#include <vector>

#include "cli/FlashCommands.h"
#include "cli/FlashSession.h"

struct BoardRunRequest {
    std::vector<std::string> devices;
    SessionOptions session;          // everything but the device, the same for every board
    std::vector<std::string> files;  // the update files; none for an erase
    bool erase = false;
    std::string logDir;              // --log-dir: one log file per board, or none
    std::string trace;               // --trace: the trace file of one board, or the
                                     // folder of one NAME.trace per board, or none
    std::string results;             // --results: one JSON record per board, or none
};

// The update files are loaded and checked once before any line is opened: if one is
// refused, no board is touched. Prints each board's log and progress as it goes and a
// summary table at the end. Each board's log (--log-dir) is made before any board is
// touched and written as its lines happen. Exit status: 0 when every board finished, 1
// when any did not, 2 for a device named twice or a trace or log that would be written
// over a file the run reads (or a trace over anything but a trace), 130 after Ctrl-C.
int RunOnBoards(const BoardRunRequest& request, const CommandContext& context);
