#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel::sim {

// How the board misbehaves, for tests of the tool's handling of it.
enum class FaultMode {
    None,
    Silent,   // never answers anything
    Double,   // answers the wake-up with two replies in one write
    Garbage,  // answers the wake-up with bytes that are no reply
    HangUp,   // closes the line in the middle of the first section
    Hasty,      // never waits for the tool to read a reply before the next one
    Coalesced,  // sends the last progress report and 'D' in one write
    EarlyD,             // answers the wake-up with 'D' instead of 'W'
    EarlyDAfterHeader,  // fetches both loaders and the header, then sends 'D' at once
    SkipSections,       // asks only for the code, then reports programming and 'D'
    BadBanner,          // a whole update, then a firmware banner that reports a failure
};

std::optional<FaultMode> ParseFaultMode(std::string_view text);
const char* FaultModeName(FaultMode mode);

struct BoardOptions {
    std::string crystal = "4M";
    std::filesystem::path libDir;  // empty: Lib/ beside the executable
    std::filesystem::path flashFile = "flash.bin";
    std::filesystem::path linkPath;  // empty: no link
    FaultMode fault = FaultMode::None;
    bool once = false;
    // After the bytes a request brought, before the next request: the tool
    // pauses 300 ms after its last write and reads again only then.
    std::chrono::milliseconds replyGap{400};
    // Between programming-progress reports, which the tool does not answer.
    std::chrono::milliseconds progressGap{100};
    // Silence while the board waits for data that gives the update up.
    std::chrono::milliseconds idleTimeout{10000};

    // Boards in succession on the one line; 0: the single board that is always
    // on. Board K of a succession keeps its flash in `flashFile` followed by ".K".
    unsigned boards = 0;
    unsigned firstSerial = 1;
    // Each board is unpowered this long after it is plugged in.
    std::chrono::milliseconds offTime{2000};
    // After a board's update has ended, this long until the next board replaces it.
    std::chrono::milliseconds swapTime{5000};
    // Faults of single boards of a succession; the others have `fault`.
    std::map<unsigned, FaultMode> boardFaults;

    // The line pulled once, this long after the start, as a USB adapter is.
    std::optional<std::chrono::milliseconds> replugAfter;
    // Every swap pulls the line too: the next board comes on a new pty.
    bool swapReplug = false;
    // How long a pulled line stays away before a new pty appears.
    std::chrono::milliseconds unpluggedTime{1000};

    // The fault of board `number` (1 … boards) of a succession.
    FaultMode FaultOf(unsigned number) const;
    // The flash file of board `number` of a succession.
    std::filesystem::path FlashFileOf(unsigned number) const;
};

// "KSTB-0001": the serial number the firmware of a board reports.
std::string SerialNumber(unsigned serial);

enum class ParseOutcome { Run, Help, UsageError };

// Reads the command line into `options`; on UsageError `error` says why.
ParseOutcome ParseBoardArgs(int argc, char** argv, BoardOptions& options, std::string& error);
std::string BoardUsage();

// Lib/ beside the running executable.
std::filesystem::path DefaultLibDir();

}  // namespace kestrel::sim
