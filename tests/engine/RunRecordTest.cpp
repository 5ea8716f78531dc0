// A run followed by the worker's facts: what the tool waits for at each step, that
// its own sending is never the board's silence, and the verdict of each way a run
// can end.
#include <gtest/gtest.h>

#include <functional>

#include "engine/RunRecord.h"
#include "protocol/WireProtocol.h"

namespace {

using namespace std::chrono_literals;
using Clock = RunRecord::Clock;

std::array<uint32_t, 10> Header(uint32_t code, uint32_t font, uint32_t bitmap, uint32_t logo, uint32_t map = 0) {
    return {0x80000, 0x20000, 0x40000, 0x20000, code, font, bitmap, logo, map, 0};
}

TEST(RunRecordStages, NameWhatTheToolWaitsForAndNeverCountTheToolsOwnSending) {
    const auto t0 = Clock::now();
    RunRecord run(ExchangeProgress::Kind::Update, t0);
    EXPECT_FALSE(run.SilentFor(5s, t0 + 4s));
    EXPECT_TRUE(run.SilentFor(5s, t0 + 5s));
    EXPECT_STREQ(run.Awaited(), "the board's first request ('W') after the wake-up");

    const struct {
        std::function<void(RunRecord&, Clock::time_point)> fact;
        const char* awaited;  // nullptr: the tool is sending, silence does not count
        Stage stage;
    } steps[] = {
        {[](RunRecord& r, auto t) { r.Answered(kReplyLoader1, t); }, nullptr, Stage::Loader1},
        {[](RunRecord& r, auto t) { r.LoaderSent(1, true, t); }, "loader 2's request ('Z') after loader 1", Stage::Loader1},
        {[](RunRecord& r, auto t) { r.Answered(kReplyLoader2, t); }, nullptr, Stage::Loader2},
        {[](RunRecord& r, auto t) { r.LoaderSent(2, true, t); },
         "the board's request for the update data ('S', then 'A' or 'C', 'F', 'B', 'E')", Stage::Loader2},
        {[](RunRecord& r, auto t) { r.Answered(kReplyHeader, t), r.HeaderSent(Header(0x1000, 0, 0, 0)); },
         "the board's request for the update data ('S', then 'A' or 'C', 'F', 'B', 'E')", Stage::Header},
        {[](RunRecord& r, auto t) { r.Answered(kReplyCode, t), r.SectionBlock(kReplyCode, 1, 2); },
         "the board's next data request or its programming progress", Stage::Section},
        {[](RunRecord& r, auto) { r.SectionBlock(kReplyCode, 2, 2), r.SectionSent(kReplyCode, true); },
         "the board's next data request or its programming progress", Stage::Section},
        {[](RunRecord& r, auto t) { r.Answered(1, t), r.ProgrammingReport(1); }, "the board's next programming progress report",
         Stage::Programming},
        {[](RunRecord& r, auto t) { r.Answered(16, t), r.ProgrammingReport(16); },
         "the board's report that the update is finished ('D')", Stage::Programming},
    };
    auto now = t0;
    for (const auto& step : steps) {
        now += 1s;
        step.fact(run, now);
        run.Heard(now);
        SCOPED_TRACE(step.awaited ? step.awaited : "sending");
        EXPECT_EQ(run.Current().stage, step.stage);
        EXPECT_FALSE(run.SilentFor(5s, now + 4s));
        EXPECT_EQ(run.SilentFor(5s, now + 10min), step.awaited != nullptr);
        if (step.awaited) {
            EXPECT_STREQ(run.Awaited(), step.awaited);
        }
    }
    const RunVerdict& v = run.Finish(now + 1s);
    EXPECT_EQ(v.result, RunResult::Passed);
    EXPECT_EQ(v.reached.Reports(), 2);
    // Each stage's time is counted once, and all of them make the run.
    double sum = 0;
    for (double s : v.seconds)
        sum += s;
    EXPECT_NEAR(sum, 10.0, 0.01);
    EXPECT_NEAR(v.seconds[kTimeToW], 1.0, 0.01);
    EXPECT_NEAR(v.seconds[kTimeSections], 2.0, 0.01);
    EXPECT_NEAR(v.seconds[kTimeProgramming], 2.0, 0.01);
}

TEST(RunRecordVerdicts, AFinishTheBoardCouldNotHaveReachedIsNoSuccessAndSaysWhatIsMissing) {
    const auto t = Clock::now();
    auto upToHeader = [&](RunRecord& r, std::array<uint32_t, 10> header) {
        r.Answered(kReplyLoader1, t), r.LoaderSent(1, true, t);
        r.Answered(kReplyLoader2, t), r.LoaderSent(2, true, t);
        r.Answered(kReplyHeader, t), r.HeaderSent(header);
    };
    const struct {
        const char* name;
        ExchangeProgress::Kind kind;
        std::function<void(RunRecord&)> exchange;
        RunResult result;
        const char* message;
    } cases[] = {
        {"'D' answers the wake-up", ExchangeProgress::Kind::Update, [](RunRecord&) {}, RunResult::FinishedEarly,
         "the board reported finished, but it never asked for loader 1, loader 2 and the section header"},
        {"'D' right after the header", ExchangeProgress::Kind::Update,
         [&](RunRecord& r) { upToHeader(r, Header(0x1000, 0x2000, 0, 0)); }, RunResult::FinishedEarly,
         "the board reported finished, but it never asked for CODE and FONT"},
        {"only code asked of four", ExchangeProgress::Kind::Update,
         [&](RunRecord& r) {
             upToHeader(r, Header(0x1000, 0x2000, 0x3000, 0x4000));
             r.SectionSent(kReplyCode, true);
         },
         RunResult::FinishedEarly, "the board reported finished, but it never asked for FONT, BITMAP and LOGO"},
        {"a section cut short", ExchangeProgress::Kind::Update,
         [&](RunRecord& r) {
             upToHeader(r, Header(0x1000, 0x2000, 0, 0));
             r.SectionSent(kReplyCode, true), r.SectionSent(kReplyFont, false);
         },
         RunResult::FinishedEarly, "the board reported finished, but FONT was not sent whole"},
        {"a map never asked", ExchangeProgress::Kind::Update,
         [&](RunRecord& r) { upToHeader(r, Header(0, 0, 0, 0, 0x80000)); }, RunResult::FinishedEarly,
         "the board reported finished, but it never asked for the flash map"},
        {"a whole map", ExchangeProgress::Kind::Update,
         [&](RunRecord& r) { upToHeader(r, Header(0, 0, 0, 0, 0x80000)), r.SectionSent(kReplyFlashMap, true); },
         RunResult::Passed, nullptr},
        {"a second loader 2 that could not be read", ExchangeProgress::Kind::Erase,
         [&](RunRecord& r) {
             upToHeader(r, Header(0, 0, 0, 0, kEraseLength));
             r.LoaderSent(2, false, t);  // a second 'Z' whose loader was refused does not undo the first
             r.ProgrammingReport(16);
         },
         RunResult::Passed, nullptr},
        {"an erase asks for no section and reports to 16", ExchangeProgress::Kind::Erase,
         [&](RunRecord& r) {
             upToHeader(r, Header(0, 0, 0, 0, kEraseLength));
             for (uint8_t k = 1; k <= 16; ++k)
                 r.ProgrammingReport(k);
         },
         RunResult::Passed, nullptr},
        {"an erase that never reported its programming", ExchangeProgress::Kind::Erase,
         [&](RunRecord& r) { upToHeader(r, Header(0, 0, 0, 0, kEraseLength)), r.ProgrammingReport(15); },
         RunResult::FinishedEarly, "the board reported finished, but it never reported the erase through to 16 of 16"},
        {"an erase without its header", ExchangeProgress::Kind::Erase,
         [&](RunRecord& r) { r.Answered(kReplyLoader1, t), r.LoaderSent(1, true, t), r.LoaderSent(2, true, t); },
         RunResult::FinishedEarly,
         "the board reported finished, but it never asked for the section header, and it never reported the erase through "
         "to 16 of 16"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunRecord run(c.kind, t);
        c.exchange(run);
        const RunVerdict& v = run.Finish(t + 1s);
        EXPECT_EQ(v.result, c.result);
        if (c.message) {
            EXPECT_EQ(v.message, c.message);
        }
        // A run ends once: a later end does not change it.
        EXPECT_EQ(run.Cancel(t + 2s).result, c.result);
    }
}

TEST(RunRecordVerdicts, EveryOtherEndNamesTheStageItStoppedIn) {
    const auto t = Clock::now();
    RunRecord cancelled(ExchangeProgress::Kind::Update, t);
    cancelled.Answered(kReplyCode, t), cancelled.SectionBlock(kReplyFont, 3, 12);
    EXPECT_EQ(cancelled.Cancel(t).message, "cancelled by the operator during section FONT block 3 of 12");

    RunRecord silent(ExchangeProgress::Kind::Update, t);
    silent.Listening(t);
    const RunVerdict& v = silent.GiveUp(60s, t + 60s);
    EXPECT_EQ(v.result, RunResult::TimedOut);
    EXPECT_EQ(v.message, "no reply from the board for 60 s while waiting for the board's first request ('W') after the wake-up");
    EXPECT_EQ(v.stoppedAt.stage, Stage::WaitingForW);
    EXPECT_STREQ(ResultName(v.result), "timed-out");
}

TEST(RunRecordVerdicts, AGiveUpAfterBytesThatAreNoRequestSaysWhatDidArrive) {
    const auto t = Clock::now();
    const std::vector<uint8_t> many(40, 0x2A);
    const struct {
        const char* name;
        std::function<void(RunRecord&)> board;
        const char* told;  // after "... after the wake-up"
    } cases[] = {
        {"a doubled 'W' in one read", [&](RunRecord& r) { r.Ignored(reinterpret_cast<const uint8_t*>("WW"), 2, t); },
         "; the board sent 2 bytes that are no request: 57 57"},
        {"garbage a byte at a time",
         [&](RunRecord& r) {
             for (const uint8_t b : {0x7F, 0xA5, 0x3C})
                 r.Ignored(&b, 1, t);
         },
         "; the board sent 3 bytes that are no request: 7f a5 3c"},
        {"one stray byte", [&](RunRecord& r) { r.Ignored(many.data(), 1, t); },
         "; the board sent 1 byte that is no request: 2a"},
        {"a flood: the first bytes shown, all counted", [&](RunRecord& r) { r.Ignored(many.data(), 40, t); },
         "; the board sent 40 bytes that are no request: 2a 2a 2a 2a 2a 2a 2a 2a 2a 2a 2a 2a 2a 2a 2a 2a ..."},
        {"nothing at all", [](RunRecord&) {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunRecord run(ExchangeProgress::Kind::Update, t);
        run.Listening(t);
        c.board(run);
        EXPECT_EQ(run.GiveUp(2s, t + 2s).message,
                  std::string("no reply from the board for 2 s while waiting for the board's first request ('W') after "
                              "the wake-up") + c.told);
    }
    // What came before an answered reply is not what the tool waits on now.
    RunRecord answered(ExchangeProgress::Kind::Update, t);
    answered.Ignored(many.data(), 3, t);
    answered.Answered(kReplyLoader1, t), answered.LoaderSent(1, true, t);
    EXPECT_EQ(answered.GiveUp(2s, t + 2s).message,
              "no reply from the board for 2 s while waiting for loader 2's request ('Z') after loader 1");
}

}  // namespace
