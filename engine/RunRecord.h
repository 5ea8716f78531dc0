#pragma once
// One run as the session follows it: the worker's facts move its stage on and fill
// in what the exchange reached; a 'D', a failure, a cancel or a timeout ends it with
// its verdict. It also knows what the tool waits for and whether the tool is the one
// sending, so that a run can be given up after a silence of the board, never of the
// tool. Plain code: the session calls it under its own lock.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "digest/Sha256.h"
#include "engine/RunVerdict.h"

class RunRecord {
public:
    using Clock = std::chrono::steady_clock;

    RunRecord(ExchangeProgress::Kind kind, Clock::time_point now);

    // Every word of the worker shows the run is alive; the facts move it on.
    void Heard(Clock::time_point now) { lastWord = now; }
    // Bytes the board sent that the worker did not answer (a doubled reply, garbage):
    // kept until the next answered reply, so that giving up can say what did arrive.
    void Ignored(const uint8_t* bytes, uint32_t count, Clock::time_point now);
    void Listening(Clock::time_point now);
    void Answered(uint8_t reply, Clock::time_point now);
    void Sent(const uint8_t* bytes, uint32_t count) {
        bytesSent += count;
        wire.Update(bytes, count);
    }
    void LoaderSent(int which, bool whole, Clock::time_point now);
    void HeaderSent(const std::array<uint32_t, 10>& words);
    void SectionBlock(uint8_t letter, uint32_t block, uint32_t blocks);
    void SectionSent(uint8_t letter, bool whole);
    void ProgrammingReport(uint8_t sixteenths);
    void Progress(int percent) { lastProgress = percent; }
    // The board is woken again while the run still waits for its first request (a
    // station's port waking a board that may have been powered since): the run's
    // start and its time to 'W' are counted from now.
    void WokenAgain(Clock::time_point now);

    // Ends the run. Each answers the verdict; a run ends once.
    const RunVerdict& Finish(Clock::time_point now);
    const RunVerdict& Fail(FailureClass why, const std::string& message, Clock::time_point now);
    const RunVerdict& Cancel(Clock::time_point now);
    const RunVerdict& GiveUp(std::chrono::seconds silence, Clock::time_point now);

    bool Ended() const { return verdict.has_value(); }
    const std::optional<RunVerdict>& Verdict() const { return verdict; }
    const StageReport& Current() const { return stage; }
    ExchangeProgress::Kind Kind() const { return progress.RunKind(); }

    // True when the board has been silent for `limit` while the tool waits for it.
    bool SilentFor(std::chrono::seconds limit, Clock::time_point now) const;
    // What the tool is waiting for, in the operator's words.
    const char* Awaited() const;

private:
    // What the tool waits for next.
    enum class Wait {
        FirstRequest,
        SendingLoader1,
        Loader2Request,
        SendingLoader2,
        DataRequest,
        MoreData,
        Programming,
        Finish,
    };
    void Enter(StageTime timed, Clock::time_point now);
    const RunVerdict& End(RunResult result, FailureClass why, std::string message, Clock::time_point now);

    ExchangeProgress progress;
    StageReport stage;
    Wait wait = Wait::FirstRequest;
    Clock::time_point began, lastWord, stageBegan;
    std::chrono::system_clock::time_point startedAt;
    StageTime timedStage = kTimeToW;
    std::array<double, kStageTimes> seconds{};
    uint64_t bytesSent = 0;
    Sha256 wire;  // every byte counted in bytesSent
    // What arrived unanswered since the last answered reply: the first bytes and the count.
    std::vector<uint8_t> ignoredBytes;
    uint64_t ignoredCount = 0;
    int lastProgress = 0;
    std::optional<RunVerdict> verdict;
};
