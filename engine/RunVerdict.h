#pragma once
// Where a run (an update or an erase of one board) stands, and how it ended. Built by
// the session from what the worker did; every front end shows this one verdict, and
// the command line's exit status, the factory table and the station's records come
// from it.
#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "protocol/ExchangeProgress.h"

// The stage of a run, as the front ends show it.
enum class Stage : uint8_t {
    Idle,         // no run
    Waking,       // the wake-up goes out at the operator's settings
    WaitingForW,  // the line listens at the boot speed for the board's first request
    Loader1,      // loader 1 goes out, then the line switches to 115200
    Loader2,
    Header,       // the section header went out; the board asks for data next
    Section,      // section `letter`, block `block` of `blocks`
    Programming,  // the board programs its flash: report `sixteenths` of 16
    Finished,
    Failed,
    Cancelled,
};

struct StageReport {
    Stage stage = Stage::Idle;
    uint8_t letter = 0;  // Section: the request letter ('A', 'C', 'F', 'B', 'E')
    uint32_t block = 0, blocks = 0;
    int sixteenths = 0;  // Programming

    bool operator==(const StageReport&) const = default;
};

// "waiting for the board's first request ('W')", "section FONT block 3 of 12", ...
std::string DescribeStage(const StageReport& stage);

enum class RunResult : uint8_t { Passed, Failed, FinishedEarly, TimedOut, Cancelled };

// Why a failed run failed.
enum class FailureClass : uint8_t {
    None,
    StartRefused,  // no crystal, an unusable address file or loader: nothing was sent
    PortFailed,    // the line could not be opened
    LineLost,      // the line hung up
    Problem,       // a message the operator was shown ended the run (command line)
};

// The stages a run's time is counted in.
enum StageTime : uint8_t { kTimeToW, kTimeLoader1, kTimeLoader2, kTimeHeader, kTimeSections, kTimeProgramming, kStageTimes };

struct RunVerdict {
    ExchangeProgress::Kind kind = ExchangeProgress::Kind::Update;
    RunResult result = RunResult::Failed;
    FailureClass failure = FailureClass::None;
    // The verdict in words: why it failed, "the board reported finished, but it never
    // asked for FONT", "no reply from the board for 60 s while waiting for ...".
    std::string message;
    StageReport stoppedAt;  // the last stage the run was in
    ExchangeProgress reached;
    int lastProgress = 0;  // the last progress shown, 0..100
    std::array<double, kStageTimes> seconds{};
    std::chrono::system_clock::time_point started, ended;
    uint64_t bytesSent = 0;  // bytes of the exchange handed to the line, loader 1 on
    // SHA-256 of those bytes, in the order and pieces they were handed to the line.
    std::array<uint8_t, 32> wireSha256{};

    bool Passed() const { return result == RunResult::Passed; }
    double TotalSeconds() const { return std::chrono::duration<double>(ended - started).count(); }
};

// "passed", "failed", "finished-early", "timed-out", "cancelled".
const char* ResultName(RunResult result);
// The name of a timed stage: "to_w", "loader1", "loader2", "header", "sections", "programming".
const char* StageTimeName(StageTime stage);
