// The booted board's console and the fault modes the tool's tests rely on.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/console_text.h"
#include "tests/sim/board_fixture.h"
#include "tests/support/Waiting.h"

namespace kestrel::sim::test {
namespace {

// Long enough for any loaded machine; a reply that comes arrives far sooner.
constexpr Ms kGenerous{30000};

// Wakes the board as the tool does and reopens at the boot speed.
void WakeForUpdate(ScriptedHost& host, speed_t boot) {
    ASSERT_TRUE(host.Open(B115200));
    host.Write(Bytes(16, 0xFF));
    ASSERT_TRUE(host.Open(boot));
}

// An update that stops right after sending its one logo section, so that the
// test reads the programming reports itself.
HostPlan LogoUpToProgramming(const BoardFolder& folder) {
    HostPlan plan = PlanFor(folder, B115200);
    plan.header = MakeHeader(0x1000, 0x1000, 0x1000, 0x1000, 0, 0, 0, 100, 0, 0);
    plan.data = {{'E', Pattern(100, 5)}};
    plan.returnAfter = 'E';
    return plan;
}

TEST(BoardConsole, PcdemoPrintsItsLineAndResetWithoutReopenReboots) {
    BoardFolder folder;
    RunningBoard board(folder.Options("8M"));
    ScriptedHost host(board.Path());
    ASSERT_TRUE(host.Open(B115200));
    // Fifteen bytes are no pattern, and another byte starts the count afresh:
    // only the sixteen that follow ask for the demo, once.
    host.Write(Bytes(15, 0xEE));
    host.Write(std::string("x"));
    host.Write(Bytes(16, 0xEE));
    EXPECT_EQ(host.ReadUntil("PC demo mode started\r\n", kGenerous), "PC demo mode started\r\n");
    // A plain reset: the line stays open, so the board boots to its banner.
    host.Write(Bytes(16, 0xFF));
    const std::string banner = host.ReadUntil("Last update: none since power-on\r\n", kGenerous);
    EXPECT_EQ(banner, BannerText("8M", "none since power-on"));
    host.Close();
    board.Stop();
    EXPECT_TRUE(board.Log().Checks().empty()) << board.Summary();
}

TEST(BoardFaults, SilentNeverAnswers) {
    BoardFolder folder;
    BoardOptions options = folder.Options("4M");
    options.fault = FaultMode::Silent;
    RunningBoard board(options);
    ScriptedHost host(board.Path());
    ASSERT_TRUE(host.Open(B115200));
    host.Write(Bytes(16, 0xEE));
    WakeForUpdate(host, B9600);
    // The board has reached the point where it would ask for loader 1.
    ASSERT_TRUE(board.WaitForCheck("line settings at boot speed"));
    host.Close();
    board.Join();  // --once: the tool leaving ends the session
    EXPECT_EQ(host.Leftover(), Bytes{});
    EXPECT_TRUE(CheckHeld(board.Log(), "line settings at boot speed"));
    EXPECT_TRUE(board.Log().AllHeld()) << board.Summary();
}

TEST(BoardFaults, DoubleSendsTwoRepliesInOneWriteAndExpectsNoAnswer) {
    BoardFolder folder;
    BoardOptions options = folder.Options("27M");
    options.fault = FaultMode::Double;
    RunningBoard board(options);
    ScriptedHost host(board.Path());
    WakeForUpdate(host, B115200);
    const Bytes reply = host.Read(2, kGenerous);
    EXPECT_EQ(reply, (Bytes{'W', 'W'}));
    host.Close();
    board.Join();
    EXPECT_TRUE(CheckHeld(board.Log(), "no answer to a doubled reply")) << board.Summary();
}

TEST(BoardFaults, DoubleCatchesAToolThatAnswersAnyway) {
    BoardFolder folder;
    BoardOptions options = folder.Options("27M");
    options.fault = FaultMode::Double;
    RunningBoard board(options);
    ScriptedHost host(board.Path());
    WakeForUpdate(host, B115200);
    host.Read(2, kGenerous);
    host.Write(Bytes{0x18});
    host.Close();
    board.Join();
    EXPECT_TRUE(CheckFailed(board.Log(), "no answer to a doubled reply", "first 0x18"));
}

TEST(BoardFaults, GarbageSendsOnlyBytesThatAreNoReply) {
    BoardFolder folder;
    BoardOptions options = folder.Options("16M");
    options.fault = FaultMode::Garbage;
    RunningBoard board(options);
    ScriptedHost host(board.Path());
    WakeForUpdate(host, B38400);
    const Bytes garbage = host.Read(5, kGenerous);
    EXPECT_EQ(garbage.size(), 5u);
    const std::string replies = "WZSACFBED";
    for (std::uint8_t b : garbage) {
        EXPECT_EQ(replies.find(static_cast<char>(b)), std::string::npos) << int(b);
        EXPECT_FALSE(b >= 1 && b <= 16) << int(b);
    }
    host.Close();
    board.Join();
    EXPECT_EQ(host.Leftover(), Bytes{});
    EXPECT_TRUE(CheckHeld(board.Log(), "no answer to garbage")) << board.Summary();
}

TEST(BoardFaults, HangupClosesTheLineInTheMiddleOfTheFirstSection) {
    BoardFolder folder;
    BoardOptions options = folder.Options("4M");
    options.fault = FaultMode::HangUp;
    options.once = false;  // the hang-up ends the board by itself
    RunningBoard board(options);
    HostPlan plan = PlanFor(folder, B9600);
    plan.header = MakeHeader(0x10000, 0x1000, 0x1000, 0x1000, 0x8000, 0, 0, 0, 0, 0);
    plan.data = {{'C', Pattern(0x8000, 60)}};
    ScriptedHost host(board.Path());
    // The host's next read finds the line hung up instead of a reply.
    EXPECT_EQ(RunHostUpdate(host, plan), "WZSC");
    board.Join();
    EXPECT_TRUE(host.HungUp());
    EXPECT_TRUE(board.Log().AllHeld()) << board.Summary();
    ASSERT_FALSE(board.Log().Notes().empty());
    EXPECT_NE(board.Log().Notes().back().find("hung up after 16384 of 32768 bytes of the code section"),
              std::string::npos);
}

TEST(BoardFaults, HastySendsEveryReportWithoutWaitingForTheToolToReadIt) {
    BoardFolder folder;
    BoardOptions options = folder.Options("27M");
    options.fault = FaultMode::Hasty;
    RunningBoard board(options);
    ScriptedHost host(board.Path());
    EXPECT_EQ(RunHostUpdate(host, LogoUpToProgramming(folder)), "WZSE");
    // The host reads nothing more. A board that waits for each read would have
    // sent one report by now and be waiting for its read.
    ASSERT_TRUE(WaitUntil([&] { return host.Queued() >= 17; }, kGenerous)) << host.Queued() << " bytes";
    const Bytes all = host.Read(17, kGenerous);
    EXPECT_EQ(std::string(all.begin(), all.end()), Progress() + "D");
    ASSERT_TRUE(host.Open(B115200));  // as the tool does on 'D'
    ASSERT_TRUE(board.WaitForCheck("line settings after the update"));
    host.Close();
    board.Join();
    EXPECT_TRUE(board.Log().AllHeld()) << board.Summary();
}

TEST(BoardFaults, CoalescedSendsTheLastReportAndDInOneWriteAndExpectsNoAnswer) {
    BoardFolder folder;
    BoardOptions options = folder.Options("27M");
    options.fault = FaultMode::Coalesced;
    RunningBoard board(options);
    ScriptedHost host(board.Path());
    EXPECT_EQ(RunHostUpdate(host, LogoUpToProgramming(folder)), "WZSE");
    for (std::uint8_t step = 1; step <= 15; ++step) EXPECT_EQ(host.Read(1, kGenerous), Bytes{step});
    // Both bytes arrive with one write: they are there together the moment the
    // first one is.
    ASSERT_TRUE(WaitUntil([&] { return host.Queued() > 0; }, kGenerous));
    EXPECT_EQ(host.Queued(), 2u);
    EXPECT_EQ(host.Read(2, kGenerous), (Bytes{16, 'D'}));
    // A tool that cannot trust a two-byte read answers nothing and gives up.
    host.Close();
    board.Join();
    EXPECT_EQ(host.Leftover(), Bytes{});
    EXPECT_TRUE(CheckHeld(board.Log(), "no answer to coalesced replies")) << board.Summary();
    EXPECT_TRUE(board.Log().AllHeld()) << board.Summary();
    const Bytes flash = folder.ReadFlash();
    const Bytes logo = Pattern(100, 5);
    EXPECT_TRUE(std::equal(logo.begin(), logo.end(), flash.begin() + 0x3000));
}

TEST(BoardFaults, EarlyDComesInsteadOfWAndAToolThatGoesOnIsCaught) {
    // A tool that takes the 'D' for no finished update sends nothing after it;
    // one that goes on with loader 1 anyway is caught.
    for (const bool goes_on : {false, true}) {
        SCOPED_TRACE(goes_on ? "tool goes on" : "tool stops");
        BoardFolder folder;
        BoardOptions options = folder.Options("16M");
        options.fault = FaultMode::EarlyD;
        RunningBoard board(options);
        ScriptedHost host(board.Path());
        WakeForUpdate(host, B38400);
        EXPECT_EQ(host.Read(1, kGenerous), Bytes{'D'});
        if (goes_on) {
            host.Write(Bytes{0x18});
        } else {
            ASSERT_TRUE(host.Open(B115200));  // the reopen the tool makes on any 'D'
        }
        host.Close();
        board.Join();
        if (goes_on) {
            EXPECT_TRUE(CheckFailed(board.Log(), "no answer to an early 'D'", "first 0x18"));
        } else {
            EXPECT_TRUE(CheckHeld(board.Log(), "no answer to an early 'D'"));
            EXPECT_TRUE(board.Log().AllHeld()) << board.Summary();
        }
    }
}

TEST(BoardFaults, EarlyDAfterHeaderTakesBothLoadersAndTheHeaderButNoData) {
    BoardFolder folder;
    BoardOptions options = folder.Options("27M");
    options.fault = FaultMode::EarlyDAfterHeader;
    RunningBoard board(options);
    HostPlan plan = PlanFor(folder, B115200);
    plan.header = MakeHeader(0x1000, 0x1000, 0x1000, 0x1000, 100, 0, 0, 0, 0, 0);
    plan.data = {{'C', Pattern(100, 6)}};
    ScriptedHost host(board.Path());
    EXPECT_EQ(RunHostUpdate(host, plan), "WZSD");
    host.Close();
    board.Join();
    for (const char* name : {"loader 1", "loader 2", "section header", "no answer to an early 'D'"}) {
        EXPECT_TRUE(CheckHeld(board.Log(), name));
    }
    EXPECT_FALSE(board.Log().Made("flash file written"));
    EXPECT_EQ(folder.ReadFlash(), Bytes(0x100000, 0xFF));
}

TEST(BoardFaults, SkipSectionsAsksOnlyForTheCodeYetSendsDAndStillChecksTheCode) {
    BoardFolder folder;
    BoardOptions options = folder.Options("27M");
    options.fault = FaultMode::SkipSections;
    RunningBoard board(options);
    HostPlan plan = PlanFor(folder, B115200);
    plan.header = MakeHeader(0x2000, 0x1000, 0x800, 0x100, 300, 4096, 0, 77, 0, 0);
    const Bytes code = Pattern(300, 14);
    Bytes too_long = code;
    too_long.push_back(0x55);
    plan.data = {{'C', too_long}, {'F', Pattern(4096, 15)}, {'E', Pattern(77, 16)}};
    ScriptedHost host(board.Path());
    EXPECT_EQ(RunHostUpdate(host, plan), "WZSC" + Progress() + "D");
    host.Close();
    board.Join();
    // The bytes that came are judged as ever; what never came is not passed
    // off as done.
    EXPECT_TRUE(CheckFailed(board.Log(), "code section", "1 byte more than the 300 bytes announced"));
    EXPECT_FALSE(board.Log().Made("font section"));
    EXPECT_NE(board.Summary().find("leaving out font 4096 bytes, logo 77 bytes"), std::string::npos)
        << board.Summary();
    const Bytes flash = folder.ReadFlash();
    EXPECT_TRUE(std::equal(code.begin(), code.end(), flash.begin()));
    EXPECT_TRUE(std::all_of(flash.begin() + 300, flash.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

}  // namespace
}  // namespace kestrel::sim::test
