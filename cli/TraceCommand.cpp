#include "cli/TraceCommand.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "trace/TraceReader.h"

namespace {

const char* const kTraceHelp =
    "usage: kestrel-cli trace FILE\n"
    "Explains a wire trace recorded with --trace: the board's replies by name, what each\n"
    "write was (loader, section header, which section and block) and the pause before it\n"
    "against the pause the board needs, speed changes, and where and why an update stopped.\n"
    "Lines marked ! deserve a look; lines marked ? are damaged and were skipped.\n"
    "Exit status: 0 the last update finished (or there was none), 1 it did not or the trace\n"
    "is damaged, 2 usage error or unreadable file.\n";

// A trace of a whole update is one or two MB and an hour of console text a few more;
// anything far larger is not one of ours, and its explanation would not fit in memory.
constexpr std::streamoff kLargestTrace = 64LL * 1024 * 1024;

}  // namespace

int RunTraceCommand(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::cout << kTraceHelp;
        return 0;
    }
    if (argc != 2 || argv[1][0] == '-') {
        std::cerr << kTraceHelp;
        return 2;
    }
    const std::string path = argv[1];
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::cerr << "kestrel-cli trace: cannot read " << path << ": " << std::strerror(errno) << "\n";
        return 2;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0);
    if (size > kLargestTrace) {
        std::cerr << "kestrel-cli trace: " << path << " is " << size << " bytes, far more than a wire trace holds\n";
        return 2;
    }
    const std::string text(std::istreambuf_iterator<char>(in), {});
    if (in.bad()) {
        std::cerr << "kestrel-cli trace: reading " << path << " failed\n";
        return 2;
    }
    const TraceExplanation explained = ExplainTrace(text);
    std::cout << FormatExplanation(explained);
    return explained.lastUpdateStopped || explained.damagedLines || explained.cutOff ? 1 : 0;
}
