#pragma once

#include <chrono>
#include <filesystem>
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
};

enum class ParseOutcome { Run, Help, UsageError };

// Reads the command line into `options`; on UsageError `error` says why.
ParseOutcome ParseBoardArgs(int argc, char** argv, BoardOptions& options, std::string& error);
std::string BoardUsage();

// Lib/ beside the running executable.
std::filesystem::path DefaultLibDir();

}  // namespace kestrel::sim
