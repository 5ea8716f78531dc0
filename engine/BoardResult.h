#pragma once
// What a factory system keeps of one flashed board: one JSON object per line of a
// results file, written as the board ends. Built from the run's verdict and, at a
// station, from the check that listened to the board's new firmware; never from a
// text the tool printed.
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/RunVerdict.h"

// How a board came out: the verdict's result, or check-failed when the verdict passed
// and the firmware's own words did not.
enum class BoardOutcome : uint8_t { Passed, Failed, FinishedEarly, TimedOut, Cancelled, CheckFailed };

// "passed", "failed", "finished-early", "timed-out", "cancelled", "check-failed".
const char* BoardOutcomeName(BoardOutcome outcome);
BoardOutcome OutcomeOf(RunResult result);

// The USB adapter behind a serial device, where the system knows it.
struct AdapterFacts {
    std::string vendor, model, serial, usbId;
};

struct FileDigest {
    std::string path;    // as given
    std::string sha256;  // 64 hexadecimal digits
};

struct BoardResult {
    BoardOutcome outcome = BoardOutcome::Failed;
    std::string message;  // the verdict in words, then what the check found
    ExchangeProgress::Kind kind = ExchangeProgress::Kind::Update;
    std::chrono::system_clock::time_point started, ended;
    unsigned board = 0;  // 1, 2, ... in the order the records were written
    unsigned port = 0;   // 1, 2, ... in the order the devices were named
    std::string device;  // as given (a /dev/serial/by-id/... name stays that name)
    AdapterFacts adapter;
    std::string crystal;  // "27M"
    std::vector<FileDigest> files;
    std::string wireSha256;
    uint64_t bytesSent = 0;
    std::array<double, kStageTimes> stages{};
    std::optional<double> checkSeconds;  // how long the check listened, when one ran
    std::string console;                 // what the check heard, at most kConsoleBytes
    std::string trace;                   // the board's wire trace, if one was recorded

    static constexpr size_t kConsoleBytes = 4096;

    bool Passed() const { return outcome == BoardOutcome::Passed; }
    double Seconds() const { return std::chrono::duration<double>(ended - started).count(); }
};

// The result of a run as far as the verdict goes (the check adds to it).
BoardResult ResultOfRun(const RunVerdict& verdict);

// One line of a results file: the JSON object and its line feed.
std::string ResultJsonLine(const BoardResult& result);

// "2024-05-01T09:58:03.125Z"
std::string IsoTimeUtc(std::chrono::system_clock::time_point t);
