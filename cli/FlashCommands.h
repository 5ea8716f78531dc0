#pragma once
#include <atomic>
#include <iosfwd>

#include "engine/Sleeper.h"

// The headless commands that talk to a board. argv[0] is the command's name; options
// may stand anywhere among the other arguments.
// Exit status: 0 done, 1 failed, 2 usage error, 130 cancelled by Ctrl-C.
struct CommandContext {
    ISleeper& sleeper;
    int inputFd;  // where the console reads its commands (standard input)
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal;
    const std::atomic<int>& interrupts;
    bool outIsTerminal = false;  // the board's console text then shows its control bytes as text
};

int RunUpdateCommand(int argc, char** argv, const CommandContext& context);
int RunEraseCommand(int argc, char** argv, const CommandContext& context);
int RunConsoleCommand(int argc, char** argv, const CommandContext& context);
