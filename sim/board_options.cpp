#include "sim/board_options.h"

#include <charconv>
#include <cstdio>
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
    {FaultMode::EarlyD, "early-d"},
    {FaultMode::EarlyDAfterHeader, "early-d-after-header"},
    {FaultMode::SkipSections, "skip-sections"},
    {FaultMode::BadBanner, "bad-banner"},
};

constexpr unsigned kMostBoards = 9999;
constexpr unsigned long kMostSeconds = 86400;

bool ParseMs(const char* text, std::chrono::milliseconds& out) {
    const std::string_view s(text);
    unsigned long value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty() || value > 3'600'000) return false;
    out = std::chrono::milliseconds(value);
    return true;
}

bool ParseCount(const char* text, unsigned long lowest, unsigned long highest, unsigned& out) {
    const std::string_view s(text);
    unsigned long value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty() || value < lowest || value > highest) return false;
    out = static_cast<unsigned>(value);
    return true;
}

// Seconds with at most three decimals: "2", "0.5", "1.25".
bool ParseSeconds(const char* text, std::chrono::milliseconds& out) {
    const std::string_view s(text);
    const auto dot = s.find('.');
    const std::string_view whole = s.substr(0, dot);
    const std::string_view fraction = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
    if (whole.empty() || (dot != std::string_view::npos && (fraction.empty() || fraction.size() > 3))) return false;
    unsigned long seconds = 0;
    const auto [end, ec] = std::from_chars(whole.data(), whole.data() + whole.size(), seconds);
    if (ec != std::errc() || end != whole.data() + whole.size() || seconds > kMostSeconds) return false;
    unsigned long ms = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        const char c = i < fraction.size() ? fraction[i] : '0';
        if (c < '0' || c > '9') return false;
        ms = ms * 10 + static_cast<unsigned long>(c - '0');
    }
    out = std::chrono::milliseconds(seconds * 1000 + ms);
    return true;
}

enum LongOnly {
    kReplyGap = 1000,
    kProgressGap,
    kIdleTimeout,
    kHelp,
    kBoards,
    kFirstSerial,
    kOff,
    kSwap,
    kFaultBoard,
    kReplugAfter,
    kSwapReplug,
    kUnplugged,
};

}  // namespace

std::optional<FaultMode> ParseFaultMode(std::string_view text) {
    for (const FaultName& f : kFaultNames) {
        if (text == f.name) return f.mode;
    }
    return std::nullopt;
}

FaultMode BoardOptions::FaultOf(unsigned number) const {
    const auto it = boardFaults.find(number);
    return it == boardFaults.end() ? fault : it->second;
}

std::filesystem::path BoardOptions::FlashFileOf(unsigned number) const {
    return flashFile.string() + "." + std::to_string(number);
}

std::string SerialNumber(unsigned serial) {
    char text[24];
    std::snprintf(text, sizeof text, "KSTB-%04u", serial);
    return text;
}

const char* FaultModeName(FaultMode mode) {
    for (const FaultName& f : kFaultNames) {
        if (f.mode == mode) return f.name;
    }
    return "none";
}

std::string BoardUsage() {
    return "usage: kestrel-board-sim [--crystal 4M|8M|13.5M|16M|27M] [--lib DIR] [--flash FILE] [--link PATH]\n"
           "                         [--fault MODE] [--once] [--reply-gap-ms N] [--progress-gap-ms N]\n"
           "                         [--idle-timeout-ms N] [--replug-after S] [--unplugged S]\n"
           "                         [--boards N [--off S] [--swap S] [--first-serial N]\n"
           "                          [--fault-board K=MODE]... [--swap-replug]]\n"
           "A virtual set-top-box board on a pty: prints the device path on its first line,\n"
           "answers updates, erases and console commands, and on exit prints a summary of\n"
           "every check it made of the tool.\n"
           "  --crystal X        boot speed and loader-1 file Pgm_X.bin (default 4M)\n"
           "  --lib DIR          loader files (default Lib/ beside the executable)\n"
           "  --flash FILE       the board's 1 MiB flash (default flash.bin, created erased);\n"
           "                     every update also leaves FILE.wire: the bytes it received\n"
           "                     from loader 1's first byte to the last section's last byte\n"
           "  --link PATH        also reach the line through this symlink\n"
           "  --fault MODE       silent: never answer; double: answer the wake-up with 'WW';\n"
           "                     garbage: answer it with bytes that are no reply; hangup:\n"
           "                     close the line in the middle of the first section and exit;\n"
           "                     hasty: never wait for the tool to read a reply: each request\n"
           "                     goes out once, the progress reports and 'D' one progress gap\n"
           "                     apart whether the tool has read them or not; coalesced: send\n"
           "                     the last progress report and 'D' in one write, which the tool\n"
           "                     must answer with nothing (it cannot trust a two-byte read);\n"
           "                     early-d: answer the wake-up with 'D' at once instead of 'W';\n"
           "                     early-d-after-header: take both loaders and the section\n"
           "                     header, then send 'D' without asking for any data; after\n"
           "                     either 'D' nothing is programmed and the tool must answer\n"
           "                     nothing; skip-sections: of what the header announces ask\n"
           "                     only for the code ('C'), never for font, bitmap, logo or a\n"
           "                     complete map, and leave an erase undone, then report\n"
           "                     progress 1 ... 16 and 'D' as if all were programmed (the\n"
           "                     bytes that came are still checked); bad-banner: a whole\n"
           "                     update, then a firmware banner that reports \"PANIC: flash\n"
           "                     checksum error\" (only with --boards)\n"
           "  --once             exit when the first update ends: with 'D', or when the\n"
           "                     tool gives it up (closes the line or stops sending)\n"
           "  --reply-gap-ms N   pause after a request's data before the next request (400)\n"
           "  --progress-gap-ms N  pause between programming-progress reports (100)\n"
           "  --idle-timeout-ms N  silence that gives an update up (10000)\n"
           "Without --once it runs until SIGINT or SIGTERM. Exit status: 0 every check held,\n"
           "1 a check failed, 2 bad options or files.\n"
           "\n"
           "Boards in succession, as a factory station flashes them one after the other\n"
           "on the same adapter:\n"
           "  --boards N         N boards (1 ... 9999) take turns on the line. Board K is\n"
           "                     plugged in unpowered, is powered --off seconds later and\n"
           "                     answers the next wake-up with a whole update. After 'D' its\n"
           "                     firmware prints a banner at 115200,N,8,1 with a line\n"
           "                     \"Serial number: KSTB-NNNN\" and a line \"Self test: firmware\n"
           "                     OK\"; after early-d faults nothing boots and nothing is\n"
           "                     printed. Once woken, a board never answers again: --swap\n"
           "                     seconds after its update ended ('D' or broken off) the next\n"
           "                     board replaces it. Board K keeps its flash in FILE.K (FILE\n"
           "                     of --flash). After the last board the line stays without a\n"
           "                     board until the tool lets go of it; then the summary, one\n"
           "                     part per board, and the exit status of every check.\n"
           "  --off S            seconds each board stays unpowered: wake-ups are heard but\n"
           "                     never answered, as a board without power sends nothing (2)\n"
           "  --swap S           seconds from the end of a board's update to the next\n"
           "                     board (5)\n"
           "  --first-serial N   serial number of board 1 (default 1: KSTB-0001)\n"
           "  --fault-board K=MODE  board K misbehaves as MODE (any --fault mode; may be\n"
           "                     given for several boards); --fault sets the others. In a\n"
           "                     succession hangup pulls the line (see --unplugged) and the\n"
           "                     next board follows, instead of the board exiting.\n"
           "  --swap-replug      every swap also pulls the line: the next board comes on a\n"
           "                     new pty\n"
           "Hot-plug, as a USB adapter is pulled and plugged in again:\n"
           "  --replug-after S   S seconds after the start the line is pulled once: the link\n"
           "                     goes, the pty closes (the tool sees a hang-up), and a new\n"
           "                     pty appears --unplugged seconds later, the link placed on it\n"
           "                     in one step; an update under way is lost\n"
           "  --unplugged S      seconds a pulled line stays away (1)\n"
           "Seconds may have up to three decimals (0.25).\n"
           "Events: with --boards or --replug-after, stdout gets one line per event after\n"
           "the device path: \"board K KSTB-NNNN off\", \"... ignored off\" (the first\n"
           "unanswered wake-up while off), \"... on\" (powered), \"... woken\" (an update\n"
           "began), \"... answered\" (the tool's answer to 'W' began to arrive), \"... done\n"
           "END\" (finished, faulted, abandoned, refused, hungup or unplugged), \"...\n"
           "booted\" (the banner is out), \"... ignored done\", \"... out\"\n"
           "(swapped out), \"unplugged\", \"line PATH\" (the line is back on a new pty) and\n"
           "\"end\" (no board left).\n";
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
        {"boards", required_argument, nullptr, kBoards},
        {"first-serial", required_argument, nullptr, kFirstSerial},
        {"off", required_argument, nullptr, kOff},
        {"swap", required_argument, nullptr, kSwap},
        {"fault-board", required_argument, nullptr, kFaultBoard},
        {"replug-after", required_argument, nullptr, kReplugAfter},
        {"swap-replug", no_argument, nullptr, kSwapReplug},
        {"unplugged", required_argument, nullptr, kUnplugged},
        {nullptr, 0, nullptr, 0},
    };
    // Options that only mean something for a succession, or for a pulled line.
    const char* succession_only = nullptr;
    bool unplugged_given = false;
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
            case kBoards:
                if (!ParseCount(optarg, 1, kMostBoards, options.boards)) {
                    error = std::string("--boards '") + optarg + "' is not a number of boards from 1 to " +
                            std::to_string(kMostBoards);
                    return ParseOutcome::UsageError;
                }
                break;
            case kFirstSerial:
                succession_only = "--first-serial";
                if (!ParseCount(optarg, 0, 999999, options.firstSerial)) {
                    error = std::string("--first-serial '") + optarg + "' is not a serial number from 0 to 999999";
                    return ParseOutcome::UsageError;
                }
                break;
            case kOff:
            case kSwap:
            case kReplugAfter:
            case kUnplugged: {
                std::chrono::milliseconds value{};
                if (!ParseSeconds(optarg, value)) {
                    error = std::string("'") + optarg + "' is not a number of seconds";
                    return ParseOutcome::UsageError;
                }
                if (c == kOff) {
                    succession_only = "--off";
                    options.offTime = value;
                } else if (c == kSwap) {
                    succession_only = "--swap";
                    options.swapTime = value;
                } else if (c == kReplugAfter) {
                    options.replugAfter = value;
                } else {
                    unplugged_given = true;
                    options.unpluggedTime = value;
                }
                break;
            }
            case kFaultBoard: {
                succession_only = "--fault-board";
                const std::string_view text(optarg);
                const auto equals = text.find('=');
                unsigned number = 0;
                const std::string count(text.substr(0, equals));
                const auto mode = equals == std::string_view::npos ? std::nullopt : ParseFaultMode(text.substr(equals + 1));
                if (!mode || !ParseCount(count.c_str(), 1, kMostBoards, number)) {
                    error = std::string("--fault-board '") + optarg + "' is not BOARD=MODE";
                    return ParseOutcome::UsageError;
                }
                if (!options.boardFaults.emplace(number, *mode).second) {
                    error = "--fault-board names board " + count + " twice";
                    return ParseOutcome::UsageError;
                }
                break;
            }
            case kSwapReplug:
                succession_only = "--swap-replug";
                options.swapReplug = true;
                break;
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
    if (options.boards == 0) {
        if (succession_only != nullptr) {
            error = std::string(succession_only) + " needs --boards";
            return ParseOutcome::UsageError;
        }
        // Only the boards of a succession boot a firmware with a banner of its own.
        if (options.fault == FaultMode::BadBanner) {
            error = "--fault bad-banner needs --boards";
            return ParseOutcome::UsageError;
        }
        if (unplugged_given && !options.replugAfter) {
            error = "--unplugged needs --replug-after or --boards";
            return ParseOutcome::UsageError;
        }
        return ParseOutcome::Run;
    }
    if (options.once) {
        error = "--once has no meaning with --boards: the succession ends after its last board";
        return ParseOutcome::UsageError;
    }
    if (!options.boardFaults.empty() && options.boardFaults.rbegin()->first > options.boards) {
        error = "--fault-board names board " + std::to_string(options.boardFaults.rbegin()->first) + " of only " +
                std::to_string(options.boards);
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
