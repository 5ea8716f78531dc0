// kestrel-cli: the headless front end for scripts and factory lines.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <iostream>

#include "cli/FlashCommands.h"
#include "cli/SaveCommand.h"
#include "cli/TraceCommand.h"

namespace {

std::atomic<int> interrupts{0};

void OnInterrupt(int) {
    // The first Ctrl-C cancels like the Cancel button; the second quits at once.
    if (interrupts.fetch_add(1) >= 1)
        _exit(130);
}

const char* const kHelp =
    "usage: kestrel-cli COMMAND [OPTIONS]\n"
    "Writes firmware into a set-top-box board's flash over a serial line.\n"
    "  update   load update files and flash them into the board\n"
    "  erase    erase the board's flash\n"
    "  console  show the board's console and send it console commands\n"
    "  save     build a flash image from update files and save it\n"
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
        std::cout << kHelp;
        return 0;
    }
    if (command == "save")
        return RunSaveCommand(argc - 1, argv + 1);
    if (command == "trace")
        return RunTraceCommand(argc - 1, argv + 1);

    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    RealSleeper sleeper;
    const CommandContext context{sleeper, std::cin, std::cout, std::cerr, isatty(STDERR_FILENO) == 1, interrupts};
    if (command == "update")
        return RunUpdateCommand(argc - 1, argv + 1, context);
    if (command == "erase")
        return RunEraseCommand(argc - 1, argv + 1, context);
    if (command == "console")
        return RunConsoleCommand(argc - 1, argv + 1, context);
    std::cerr << "kestrel-cli: unknown command '" << command << "'\n" << kHelp;
    return 2;
}
