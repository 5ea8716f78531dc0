// The engine's session against the virtual board over a pty, as every front end
// drives it: the events of a whole update, an erase, a cancel at each stage and each
// way a board can misbehave, and the verdict each run ends with.
#include <algorithm>

#include "engine/Session.h"
#include "protocol/WireProtocol.h"
#include "tests/e2e/EndToEndFixture.h"

namespace {

using namespace std::chrono_literals;

class SessionRun : public EndToEnd {
protected:
    // A session on the board's line; its events are collected as they come.
    void Open(const std::string& device, RunPolicy policy = {}) {
        shared.LibFolder = Bin() + "/Lib";
        SessionSetup setup;
        setup.lines = SerialLineFactory([device](uint32_t) { return device; });
        setup.sleeper = &sleeper;
        setup.boxesWait = false;
        setup.policy = policy;
        session = std::make_unique<Session>(shared, std::move(setup));
        session->Start();
        session->OpenPort(1, "115200,N,8,1");
        ASSERT_TRUE(PumpUntil([&] { return Has(SessionEvent::Kind::PortState); }));
    }
    // Collects events until the condition holds (true) or a generous limit passes.
    template <typename Condition>
    bool PumpUntil(Condition done, std::chrono::seconds limit = 60s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        auto drain = [&] {
            while (auto e = session->Next()) {
                events.push_back(*e);
                if (onEvent)
                    onEvent(events.back());
            }
        };
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            session->WaitForEvent(20ms);
            drain();
        }
        drain();  // what came with the condition
        return true;
    }
    bool Has(SessionEvent::Kind kind) const {
        return std::any_of(events.begin(), events.end(), [&](const SessionEvent& e) { return e.kind == kind; });
    }
    RunVerdict RunToItsEnd() {
        EXPECT_TRUE(PumpUntil([&] { return Has(SessionEvent::Kind::RunEnded); })) << "the run never ended";
        for (const auto& e : events)
            if (e.kind == SessionEvent::Kind::RunEnded)
                return e.verdict;
        return {};
    }
    void LoadSamples(const std::vector<std::string>& names) {
        std::vector<std::string> files;
        for (const auto& n : names)
            files.push_back(Sample(n));
        ASSERT_TRUE(session->ResetImage());
        ASSERT_TRUE(session->LoadFiles(files));
        ASSERT_TRUE(PumpUntil([&] { return !session->Busy(); }));
        size_t taken = 0;
        for (const auto& e : events)
            taken += e.kind == SessionEvent::Kind::FileResult && e.value == 1;
        ASSERT_EQ(taken, names.size());
    }
    std::vector<StageReport> Stages() const {
        std::vector<StageReport> stages;
        for (const auto& e : events)
            if (e.kind == SessionEvent::Kind::Stage)
                stages.push_back(e.stage);
        return stages;
    }
    uint64_t FileSize(const std::string& path) const { return std::filesystem::file_size(path); }

    NoPause sleeper;
    SharedState shared;
    std::unique_ptr<Session> session;
    std::vector<SessionEvent> events;
    std::function<void(const SessionEvent&)> onEvent;
};

TEST_F(SessionRun, AWholeUpdateIsFollowedStageByStageToAVerdictThatCountsEveryByte) {
    auto board = StartBoard({"--crystal", "27M", "--once", "--reply-gap-ms", "20", "--progress-gap-ms", "5"});
    Open(board->Device());
    LoadSamples({"code.s", "FONT.bin", "BITMAP.bin", "LOGO.bin"});
    const ImageSnapshot image = session->ImageNow();
    events.clear();
    session->StartUpdate(4);
    const RunVerdict v = RunToItsEnd();
    EXPECT_EQ(v.result, RunResult::Passed) << v.message;
    EXPECT_EQ(board->Wait(), 0) << board->Report();

    // The stages come in the exchange's order; each section's blocks count up to its
    // last, and programming to 16 of 16.
    const std::vector<StageReport> stages = Stages();
    std::vector<Stage> order;
    for (const auto& s : stages)
        if (order.empty() || order.back() != s.stage)
            order.push_back(s.stage);
    EXPECT_EQ(order, (std::vector<Stage>{Stage::Waking, Stage::WaitingForW, Stage::Loader1, Stage::Loader2, Stage::Header,
                                         Stage::Section, Stage::Programming, Stage::Finished}));
    std::string letters;
    for (size_t i = 0; i < stages.size(); ++i) {
        const StageReport& s = stages[i];
        if (s.stage != Stage::Section || s.blocks == 0)
            continue;
        if (letters.empty() || letters.back() != static_cast<char>(s.letter))
            letters += static_cast<char>(s.letter);
        const bool last = i + 1 == stages.size() || stages[i + 1].letter != s.letter || stages[i + 1].blocks == 0;
        EXPECT_TRUE(last ? s.block == s.blocks : s.block < s.blocks) << DescribeStage(s) << " then " << DescribeStage(stages[i + 1]);
    }
    EXPECT_EQ(letters, "CFBE");
    EXPECT_EQ(v.stoppedAt.stage, Stage::Finished);
    EXPECT_EQ(v.reached.Reports(), 16);
    EXPECT_EQ(v.lastProgress, 100);

    // Every byte the board was sent, counted: loader 1 with its start byte, loader 2
    // but its trailer, the header and the four sections.
    const uint64_t expected = 1 + 2048 + FileSize(Bin() + "/Lib/Pgm_M850T.bin") - 1 + kSectionHeaderBytes +
                              image.codeLen + image.fontLen + image.bmpLen + image.logoLen;
    EXPECT_EQ(v.bytesSent, expected);
    double sum = 0;
    for (double s : v.seconds)
        sum += s;
    EXPECT_NEAR(sum, v.TotalSeconds(), 0.01);

    // Progress only grows, from 1 to 100.
    int last = 0;
    for (const auto& e : events) {
        if (e.kind != SessionEvent::Kind::Progress)
            continue;
        EXPECT_GE(e.value, last);
        last = e.value;
    }
    EXPECT_EQ(last, 100);
}

TEST_F(SessionRun, AnEraseRunsTheExchangeWithoutSectionsAndItsVerdictSaysSo) {
    auto board = StartBoard({"--crystal", "27M", "--once", "--reply-gap-ms", "20", "--progress-gap-ms", "5"});
    Open(board->Device());
    session->StartErase(4);
    const RunVerdict v = RunToItsEnd();
    EXPECT_EQ(v.result, RunResult::Passed) << v.message;
    EXPECT_EQ(v.kind, ExchangeProgress::Kind::Erase);
    for (const auto& s : Stages())
        EXPECT_NE(s.stage, Stage::Section);
    EXPECT_EQ(board->Wait(), 0) << board->Report();
}

TEST_F(SessionRun, ACancelEndsTheRunAtTheStageItCameInAndGivesTheLineBack) {
    for (const Stage at : {Stage::WaitingForW, Stage::Loader2, Stage::Section, Stage::Programming}) {
        SCOPED_TRACE(DescribeStage({at}));
        events.clear();
        session.reset();
        auto board = StartBoard({"--crystal", "27M", "--reply-gap-ms", "20", "--progress-gap-ms", "50"});
        Open(board->Device());
        LoadSamples({"FONT.bin"});
        events.clear();
        bool cancelled = false;
        onEvent = [&](const SessionEvent& e) {
            if (!cancelled && e.kind == SessionEvent::Kind::Stage && e.stage.stage == at) {
                cancelled = true;
                session->Cancel();
            }
        };
        session->StartUpdate(4);
        const RunVerdict v = RunToItsEnd();
        onEvent = nullptr;
        EXPECT_TRUE(cancelled);
        EXPECT_EQ(v.result, RunResult::Cancelled);
        EXPECT_GE(static_cast<int>(v.stoppedAt.stage), static_cast<int>(at));
        EXPECT_EQ(v.message, "cancelled by the operator during " + DescribeStage(v.stoppedAt));
        EXPECT_EQ(shared.UpdateArmed, 0);
        EXPECT_FALSE(session->RunActive());
        // The line goes back to the operator's settings, after the run's end.
        const size_t end = static_cast<size_t>(std::find_if(events.begin(), events.end(), [](const SessionEvent& e) {
                                                   return e.kind == SessionEvent::Kind::RunEnded;
                                               }) - events.begin());
        ASSERT_TRUE(PumpUntil([&] {
            return std::any_of(events.begin() + static_cast<long>(end), events.end(),
                               [](const SessionEvent& e) { return e.kind == SessionEvent::Kind::PortState && e.value == 1; });
        }, 10s)) << [&] {
            std::string all;
            for (const auto& e : events)
                all += std::to_string(static_cast<int>(e.kind)) + ":" + e.text + e.caption + DescribeStage(e.stage) + "/" + std::to_string(e.value) + "\n";
            return all;
        }();
        session.reset();
        board->Stop();
    }
}

TEST_F(SessionRun, EachWayABoardMisbehavesEndsInItsOwnVerdict) {
    const struct {
        const char* fault;
        RunResult result;
        FailureClass failure;
        const char* says;
    } cases[] = {
        {"silent", RunResult::TimedOut, FailureClass::None,
         "no reply from the board for 2 s while waiting for the board's first request ('W') after the wake-up"},
        {"double", RunResult::TimedOut, FailureClass::None, "no reply from the board for 2 s"},
        {"garbage", RunResult::TimedOut, FailureClass::None, "no reply from the board for 2 s"},
        {"hangup", RunResult::Failed, FailureClass::LineLost, "The serial line was lost!"},
        {"early-d", RunResult::FinishedEarly, FailureClass::None,
         "the board reported finished, but it never asked for loader 1, loader 2 and the section header"},
        {"early-d-after-header", RunResult::FinishedEarly, FailureClass::None,
         "the board reported finished, but it never asked for CODE and FONT"},
        {"skip-sections", RunResult::FinishedEarly, FailureClass::None,
         "the board reported finished, but it never asked for FONT"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        events.clear();
        session.reset();
        auto board = StartBoard({"--crystal", "27M", "--once", "--fault", c.fault, "--reply-gap-ms", "20"});
        Open(board->Device(), RunPolicy{2s, true});
        LoadSamples({"code.s", "FONT.bin"});
        session->StartUpdate(4);
        const RunVerdict v = RunToItsEnd();
        EXPECT_EQ(v.result, c.result) << v.message;
        if (c.result == RunResult::Failed) {
            EXPECT_TRUE(v.failure == c.failure || v.failure == FailureClass::Problem) << static_cast<int>(v.failure);
        }
        EXPECT_EQ(v.message.rfind(c.says, 0), 0u) << v.message;
        EXPECT_EQ(shared.UpdateArmed, 0);
        session.reset();
        board->Kill();
    }
}

TEST_F(SessionRun, AStartRefusedBeforeTheBoardIsWokenEndsTheRunAtOnceAndSendsNothing) {
    auto board = StartBoard({"--crystal", "27M", "--reply-gap-ms", "20"});
    Open(board->Device());
    LoadSamples({"FONT.bin"});
    session->StartUpdate(9);  // no such crystal
    const RunVerdict v = RunToItsEnd();
    EXPECT_EQ(v.result, RunResult::Failed);
    EXPECT_EQ(v.failure, FailureClass::StartRefused);
    EXPECT_EQ(v.bytesSent, 0u);
    EXPECT_EQ(v.message.rfind("No crystal is chosen", 0), 0u) << v.message;
    EXPECT_TRUE(Has(SessionEvent::Kind::MessageBox));
}

}  // namespace
