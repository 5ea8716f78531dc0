#include "sim/board_options.h"

#include <charconv>
#include <getopt.h>
#include <system_error>

#include "sim/crystal.h"

namespace kestrel::sim {

namespace {

struct FaultName {
    FaultMode mode;
    const char* name;
};
constexpr FaultName kFaultNames[] = {
    {FaultMode::None, "none"},       {FaultMode::Silent, "silent"}, {FaultMode::Double, "double"},
    {FaultMode::Garbage, "garbage"}, {FaultMode::HangUp, "hangup"}, {FaultMode::Hasty, "hasty"},
    {FaultMode::Coalesced, "coalesced"},
};

bool ParseMs(const char* text, std::chrono::milliseconds& out) {
    const std::string_view s(text);
    unsigned long value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty() || value > 3'600'000) return false;
    out = std::chrono::milliseconds(value);
    return true;
}

enum LongOnly { kReplyGap = 1000, kProgressGap, kIdleTimeout, kHelp };

}  // namespace

std::optional<FaultMode> ParseFaultMode(std::string_view text) {
    for (const FaultName& f : kFaultNames) {
        if (text == f.name) return f.mode;
    }
    return std::nullopt;
}

const char* FaultModeName(FaultMode mode) {
    for (const FaultName& f : kFaultNames) {
        if (f.mode == mode) return f.name;
    }
    return "none";
}

std::string BoardUsage() {
    return "usage: kestrel-board-sim [--crystal 4M|8M|13.5M|16M|27M] [--lib DIR] [--flash FILE] [--link PATH]\n"
           "                         [--fault none|silent|double|garbage|hangup|hasty|coalesced] [--once]\n"
           "                         [--reply-gap-ms N] [--progress-gap-ms N] [--idle-timeout-ms N]\n"
           "A virtual set-top-box board on a pty: prints the device path on its first line,\n"
           "answers updates, erases and console commands, and on exit prints a summary of\n"
           "every check it made of the tool.\n"
           "  --crystal X        boot speed and loader-1 file Pgm_X.bin (default 4M)\n"
           "  --lib DIR          loader files (default Lib/ beside the executable)\n"
           "  --flash FILE       the board's 1 MiB flash (default flash.bin, created erased)\n"
           "  --link PATH        also reach the line through this symlink\n"
           "  --fault MODE       silent: never answer; double: answer the wake-up with 'WW';\n"
           "                     garbage: answer it with bytes that are no reply; hangup:\n"
           "                     close the line in the middle of the first section and exit;\n"
           "                     hasty: never wait for the tool to read a reply: each request\n"
           "                     goes out once, the progress reports and 'D' one progress gap\n"
           "                     apart whether the tool has read them or not; coalesced: send\n"
           "                     the last progress report and 'D' in one write, which the tool\n"
           "                     must answer with nothing (it cannot trust a two-byte read)\n"
           "  --once             exit when the first update ends: with 'D', or when the\n"
           "                     tool gives it up (closes the line or stops sending)\n"
           "  --reply-gap-ms N   pause after a request's data before the next request (400)\n"
           "  --progress-gap-ms N  pause between programming-progress reports (100)\n"
           "  --idle-timeout-ms N  silence that gives an update up (10000)\n"
           "Without --once it runs until SIGINT or SIGTERM. Exit status: 0 every check held,\n"
           "1 a check failed, 2 bad options or files.\n";
}

ParseOutcome ParseBoardArgs(int argc, char** argv, BoardOptions& options, std::string& error) {
    static const option kLong[] = {
        {"crystal", required_argument, nullptr, 'c'},
        {"lib", required_argument, nullptr, 'l'},
        {"flash", required_argument, nullptr, 'f'},
        {"link", required_argument, nullptr, 'k'},
        {"fault", required_argument, nullptr, 'x'},
        {"once", no_argument, nullptr, '1'},
        {"reply-gap-ms", required_argument, nullptr, kReplyGap},
        {"progress-gap-ms", required_argument, nullptr, kProgressGap},
        {"idle-timeout-ms", required_argument, nullptr, kIdleTimeout},
        {"help", no_argument, nullptr, kHelp},
        {nullptr, 0, nullptr, 0},
    };
    optind = 0;  // start afresh: the parser may run more than once per process
    opterr = 0;
    for (;;) {
        const int c = getopt_long(argc, argv, "", kLong, nullptr);
        if (c == -1) break;
        switch (c) {
            case 'c':
                if (!FindCrystal(optarg)) {
                    error = std::string("unknown crystal '") + optarg + "'";
                    return ParseOutcome::UsageError;
                }
                options.crystal = optarg;
                break;
            case 'l': options.libDir = optarg; break;
            case 'f': options.flashFile = optarg; break;
            case 'k': options.linkPath = optarg; break;
            case 'x': {
                const auto mode = ParseFaultMode(optarg);
                if (!mode) {
                    error = std::string("unknown fault mode '") + optarg + "'";
                    return ParseOutcome::UsageError;
                }
                options.fault = *mode;
                break;
            }
            case '1': options.once = true; break;
            case kReplyGap:
            case kProgressGap:
            case kIdleTimeout: {
                auto& target = c == kReplyGap      ? options.replyGap
                               : c == kProgressGap ? options.progressGap
                                                   : options.idleTimeout;
                if (!ParseMs(optarg, target)) {
                    error = std::string("'") + optarg + "' is not a number of milliseconds";
                    return ParseOutcome::UsageError;
                }
                break;
            }
            case kHelp: return ParseOutcome::Help;
            default:
                error = optind > 0 && optind <= argc ? std::string("bad option '") + argv[optind - 1] + "'"
                                                     : std::string("bad option");
                return ParseOutcome::UsageError;
        }
    }
    if (optind < argc) {
        error = std::string("unexpected argument '") + argv[optind] + "'";
        return ParseOutcome::UsageError;
    }
    if (options.idleTimeout.count() == 0) {
        error = "--idle-timeout-ms must be above 0";
        return ParseOutcome::UsageError;
    }
    return ParseOutcome::Run;
}

std::filesystem::path DefaultLibDir() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return "Lib";
    return exe.parent_path() / "Lib";
}

}  // namespace kestrel::sim
