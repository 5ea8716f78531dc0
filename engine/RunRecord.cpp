#include "engine/RunRecord.h"

#include "protocol/WireProtocol.h"

namespace {

std::string SectionWord(uint8_t letter) {
    ExchangeProgress::Section s;
    if (!ExchangeProgress::SectionOfRequest(letter, s))
        return std::string(1, static_cast<char>(letter));
    return s == ExchangeProgress::kFlashMap ? "MAP" : ExchangeProgress::SectionName(s);
}

// The unanswered bytes shown after a timeout; more are counted, not shown.
constexpr size_t kIgnoredShown = 16;

std::string HexBytes(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const uint8_t b : bytes) {
        if (!text.empty())
            text += ' ';
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

}  // namespace

std::string DescribeStage(const StageReport& s) {
    switch (s.stage) {
    case Stage::Idle: return "idle";
    case Stage::Waking: return "waking the board";
    case Stage::WaitingForW: return "waiting for the board's first request ('W')";
    case Stage::Loader1: return "loader 1";
    case Stage::Loader2: return "loader 2";
    case Stage::Header: return "section header";
    case Stage::Section:
        if (s.blocks == 0)
            return "section " + SectionWord(s.letter);
        return "section " + SectionWord(s.letter) + " block " + std::to_string(s.block) + " of " +
               std::to_string(s.blocks);
    case Stage::Programming: return "programming " + std::to_string(s.sixteenths) + " of 16";
    case Stage::Finished: return "finished";
    case Stage::Failed: return "failed";
    case Stage::Cancelled: return "cancelled";
    }
    return "?";
}

const char* ResultName(RunResult result) {
    switch (result) {
    case RunResult::Passed: return "passed";
    case RunResult::Failed: return "failed";
    case RunResult::FinishedEarly: return "finished-early";
    case RunResult::TimedOut: return "timed-out";
    case RunResult::Cancelled: return "cancelled";
    }
    return "failed";
}

const char* StageTimeName(StageTime stage) {
    switch (stage) {
    case kTimeToW: return "to_w";
    case kTimeLoader1: return "loader1";
    case kTimeLoader2: return "loader2";
    case kTimeHeader: return "header";
    case kTimeSections: return "sections";
    case kTimeProgramming: return "programming";
    default: return "?";
    }
}

RunRecord::RunRecord(ExchangeProgress::Kind kind, Clock::time_point now)
    : progress(kind), began(now), lastWord(now), stageBegan(now), startedAt(std::chrono::system_clock::now()) {
    stage.stage = Stage::Waking;
}

void RunRecord::Enter(StageTime timed, Clock::time_point now) {
    // The time since the last milestone belongs to the stage that milestone opened.
    seconds[timedStage] += std::chrono::duration<double>(now - stageBegan).count();
    timedStage = timed;
    stageBegan = now;
}

void RunRecord::WokenAgain(Clock::time_point now) {
    began = lastWord = stageBegan = now;
    startedAt = std::chrono::system_clock::now();
    seconds = {};
    timedStage = kTimeToW;
}

void RunRecord::Listening(Clock::time_point now) {
    lastWord = now;
    if (stage.stage == Stage::Waking)
        stage.stage = Stage::WaitingForW;
}

void RunRecord::Ignored(const uint8_t* bytes, uint32_t count, Clock::time_point now) {
    lastWord = now;
    for (uint32_t i = 0; i < count && ignoredBytes.size() < kIgnoredShown; ++i)
        ignoredBytes.push_back(bytes[i]);
    ignoredCount += count;
}

void RunRecord::Answered(uint8_t reply, Clock::time_point now) {
    lastWord = now;
    ignoredBytes.clear();
    ignoredCount = 0;
    switch (reply) {
    case kReplyLoader1:
        Enter(kTimeLoader1, now);
        stage = {Stage::Loader1};
        wait = Wait::SendingLoader1;
        return;
    case kReplyLoader2:
        Enter(kTimeLoader2, now);
        stage = {Stage::Loader2};
        wait = Wait::SendingLoader2;
        return;
    case kReplyHeader:
        Enter(kTimeHeader, now);
        stage = {Stage::Header};
        return;
    case kReplyDone: return;
    default: break;
    }
    if (reply >= kFirstProgress && reply <= kLastProgress) {
        if (timedStage != kTimeProgramming)
            Enter(kTimeProgramming, now);
        return;
    }
    // A data request.
    if (timedStage != kTimeSections)
        Enter(kTimeSections, now);
    stage = {Stage::Section, reply};
}

void RunRecord::LoaderSent(int which, bool whole, Clock::time_point now) {
    lastWord = now;
    if (which == 1) {
        progress.Loader1Sent(whole);
        wait = Wait::Loader2Request;
    } else {
        progress.Loader2Sent(whole);
        wait = Wait::DataRequest;
    }
}

void RunRecord::HeaderSent(const std::array<uint32_t, 10>& words) { progress.HeaderSent(words); }

void RunRecord::SectionBlock(uint8_t letter, uint32_t block, uint32_t blocks) {
    stage = {Stage::Section, letter, block, blocks};
    wait = Wait::MoreData;
}

void RunRecord::SectionSent(uint8_t letter, bool whole) {
    progress.SectionSent(letter, whole);
    if (stage.stage != Stage::Section)
        stage = {Stage::Section, letter};
    wait = Wait::MoreData;
}

void RunRecord::ProgrammingReport(uint8_t sixteenths) {
    progress.ProgrammingReport(sixteenths);
    stage = {Stage::Programming, 0, 0, 0, sixteenths};
    wait = sixteenths == kLastProgress ? Wait::Finish : Wait::Programming;
}

const RunVerdict& RunRecord::End(RunResult result, FailureClass why, std::string message, Clock::time_point now) {
    if (verdict)
        return *verdict;
    Enter(timedStage, now);
    RunVerdict v;
    v.kind = progress.RunKind();
    v.result = result;
    v.failure = why;
    v.message = std::move(message);
    v.stoppedAt = stage;
    v.reached = progress;
    v.lastProgress = lastProgress;
    v.seconds = seconds;
    v.started = startedAt;
    v.ended = startedAt + std::chrono::duration_cast<std::chrono::system_clock::duration>(now - began);
    v.bytesSent = bytesSent;
    v.wireSha256 = wire.Final();
    verdict = std::move(v);
    return *verdict;
}

const RunVerdict& RunRecord::Finish(Clock::time_point now) {
    progress.Finished();
    if (!progress.Complete())
        return End(RunResult::FinishedEarly, FailureClass::None, progress.EarlyFinishText(), now);
    stage = {Stage::Finished};
    const bool erase = progress.RunKind() == ExchangeProgress::Kind::Erase;
    return End(RunResult::Passed, FailureClass::None,
               erase ? "the board was sent the erase and reported it finished"
                     : "the board was sent everything it asked for and reported the update finished",
               now);
}

const RunVerdict& RunRecord::Fail(FailureClass why, const std::string& message, Clock::time_point now) {
    return End(RunResult::Failed, why, message, now);
}

const RunVerdict& RunRecord::Cancel(Clock::time_point now) {
    return End(RunResult::Cancelled, FailureClass::None, "cancelled by the operator during " + DescribeStage(stage), now);
}

const RunVerdict& RunRecord::GiveUp(std::chrono::seconds silence, Clock::time_point now) {
    std::string message =
        "no reply from the board for " + std::to_string(silence.count()) + " s while waiting for " + Awaited();
    if (ignoredCount > 0) {
        // Not silence after all: the board did say something, only nothing to answer.
        message += "; the board sent " + std::to_string(ignoredCount) + (ignoredCount == 1 ? " byte" : " bytes") +
                   " that " + (ignoredCount == 1 ? "is" : "are") + " no request: " + HexBytes(ignoredBytes) +
                   (ignoredCount > ignoredBytes.size() ? " ..." : "");
    }
    return End(RunResult::TimedOut, FailureClass::None, message, now);
}

bool RunRecord::SilentFor(std::chrono::seconds limit, Clock::time_point now) const {
    // The tool's own sending ends by itself, block by block: it is never silence.
    if (wait == Wait::SendingLoader1 || wait == Wait::SendingLoader2)
        return false;
    return now - lastWord >= limit;
}

const char* RunRecord::Awaited() const {
    switch (wait) {
    case Wait::FirstRequest: return "the board's first request ('W') after the wake-up";
    case Wait::SendingLoader1: return "loader 1 to go out";
    case Wait::Loader2Request: return "loader 2's request ('Z') after loader 1";
    case Wait::SendingLoader2: return "loader 2 to go out";
    case Wait::DataRequest: return "the board's request for the update data ('S', then 'A' or 'C', 'F', 'B', 'E')";
    case Wait::MoreData: return "the board's next data request or its programming progress";
    case Wait::Programming: return "the board's next programming progress report";
    case Wait::Finish: return "the board's report that the update is finished ('D')";
    }
    return "the board";
}
