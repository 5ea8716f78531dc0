#include "cli/TraceCommand.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>

#include "platform/ReadOnlyFile.h"
#include "trace/TraceReader.h"

namespace {

const char* const kTraceHelp =
    "usage: kestrel-cli trace FILE\n"
    "Explains a wire trace recorded with --trace: the board's replies by name, what each\n"
    "write was (loader, section header, which section and block) and the pause before it\n"
    "against the pause the board needs, speed changes, and where and why an update stopped.\n"
    "Lines marked ! deserve a look; lines marked ? are damaged and were skipped.\n"
    "FILE must be a regular file of at most 64 MiB; CR LF line ends are read too.\n"
    "Exit status: 0 the last update or erase finished (the board reported 'D' after it\n"
    "was given all it needed), 1 it did not, there was none, the trace is damaged, or FILE\n"
    "is not a wire trace; 2 usage error or a FILE that cannot be read.\n";

// A trace of a whole update is one or two MB and an hour of console text a few more;
// anything far larger is not one of ours, and its explanation would not fit in memory.
constexpr off_t kLargestTrace = 64LL * 1024 * 1024;

int CannotRead(const std::string& path, const std::string& why) {
    std::cerr << "kestrel-cli trace: " << path << why << "\n";
    return 2;
}

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
    // Opened without waiting (a FIFO without a writer would hold the open for ever)
    // and judged by what was opened, so that a link leads to what it names.
    const int fd = OpenReadOnlyFile(path);
    if (fd < 0)
        return CannotRead(path, std::string(": cannot be read: ") + std::strerror(errno));
    struct stat st {};
    std::string text;
    std::string problem;
    if (::fstat(fd, &st) != 0)
        problem = std::string(": cannot be read: ") + std::strerror(errno);
    else if (S_ISDIR(st.st_mode))
        problem = " is a folder, not a wire trace";
    else if (!S_ISREG(st.st_mode))
        problem = " is not a regular file (a device, a pipe or a socket): a wire trace is a file";
    else if (st.st_size > kLargestTrace)
        problem = " is " + std::to_string(st.st_size) + " bytes, far more than a wire trace holds";
    if (problem.empty()) {
        // Read to its end, but never past the limit: a file may still be growing.
        text.resize(static_cast<size_t>(st.st_size) + 1);
        size_t got = 0;
        for (;;) {
            if (got == text.size()) {
                if (text.size() > static_cast<size_t>(kLargestTrace)) {
                    problem = " grew past " + std::to_string(kLargestTrace) + " bytes while it was read, far more "
                              "than a wire trace holds";
                    break;
                }
                text.resize(std::min<size_t>(text.size() * 2, kLargestTrace + 1));
            }
            const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                problem = std::string(": reading failed: ") + std::strerror(errno);
                break;
            }
            if (n == 0)
                break;
            got += static_cast<size_t>(n);
        }
        text.resize(got);
    }
    ::close(fd);
    if (!problem.empty())
        return CannotRead(path, problem);

    const TraceExplanation explained = ExplainTrace(text);
    if (explained.traceLines == 0) {
        std::cerr << "kestrel-cli trace: " << path << " is not a wire trace\n";
        return 1;
    }
    std::cout << FormatExplanation(explained);
    return explained.lastRunFinished && !explained.damagedLines && !explained.cutOff ? 0 : 1;
}
