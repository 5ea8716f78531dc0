#pragma once
#include "cli/FlashCommands.h"

// kestrel-cli station --device A [--device B ...] [options] FILE...: every port flashes
// board after board until Ctrl-C or --count boards, with a record of each in the
// results file. Exit status: 0 every board passed, 1 any did not (or the station could
// not go on), 2 usage, 130 cancelled before a board ended.
int RunStationCommand(int argc, char** argv, const CommandContext& context);
