// kestrel-cli: the headless front end for scripts and factory lines.
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <iostream>

#include "cli/CliLibrary.h"
#include "cli/FlashCommands.h"
#include "cli/Interrupts.h"
#include "cli/PortsCommand.h"
#include "cli/SaveCommand.h"
#include "cli/StationCommand.h"
#include "cli/TraceCommand.h"

namespace {

std::atomic<int> interrupts{0};

const char* const kHelp =
    "usage: kestrel-cli COMMAND [OPTIONS]\n"
    "Writes firmware into a set-top-box board's flash over a serial line.\n"
    "  update   load update files and flash them into the board\n"
    "  erase    erase the board's flash\n"
    "  console  show the board's console and send it console commands\n"
    "  station  a factory station: flash board after board on each port, with records\n"
    "  save     build a flash image from update files and save it\n"
    "  ports    list the serial devices, their COM numbers and who may open them\n"
    "  trace    explain a wire trace recorded with --trace\n"
    "'kestrel-cli COMMAND --help' explains each command.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << kHelp;
        return 2;
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kHelp << LibraryHelpLine("");
        return 0;
    }
    if (command == "save")
        return RunSaveCommand(argc - 1, argv + 1);
    if (command == "ports")
        return RunPortsCommand(argc - 1, argv + 1, std::cout, std::cerr);
    if (command == "trace")
        return RunTraceCommand(argc - 1, argv + 1);

    // A station stops waking boards at the first Ctrl-C, cancels at the second and
    // quits at the third; every other command cancels, then quits.
    InstallInterruptHandlers(interrupts, command == "station" ? 3 : 2);

    RealSleeper sleeper;
    const CommandContext context{sleeper,    STDIN_FILENO, std::cout, std::cerr, isatty(STDERR_FILENO) == 1,
                                 interrupts, isatty(STDOUT_FILENO) == 1};
    if (command == "update")
        return RunUpdateCommand(argc - 1, argv + 1, context);
    if (command == "erase")
        return RunEraseCommand(argc - 1, argv + 1, context);
    if (command == "console")
        return RunConsoleCommand(argc - 1, argv + 1, context);
    if (command == "station")
        return RunStationCommand(argc - 1, argv + 1, context);
    std::cerr << "kestrel-cli: unknown command '" << command << "'\n" << kHelp;
    return 2;
}
