// The booted board's console and the fault modes the tool's tests rely on.
#include <gtest/gtest.h>

#include "tests/sim/board_fixture.h"

namespace kestrel::sim::test {
namespace {

// Wakes the board as the tool does and reopens at the boot speed.
void WakeForUpdate(ScriptedHost& host, speed_t boot) {
    ASSERT_TRUE(host.Open(B115200));
    host.Write(Bytes(16, 0xFF));
    ASSERT_TRUE(host.Open(boot));
}

TEST(BoardConsole, PcdemoPrintsItsLineAndResetWithoutReopenReboots) {
    BoardFolder folder;
    RunningBoard board(folder.Options("8M"));
    ScriptedHost host(board.Path());
    ASSERT_TRUE(host.Open(B115200));
    host.Write(Bytes(16, 0xEE));
    EXPECT_NE(host.ReadUntil("\r\n", Ms{3000}).find("PC demo mode started\r\n"), std::string::npos);
    // A plain reset: the line stays open, so the board boots to its banner.
    host.Write(Bytes(16, 0xFF));
    const std::string banner = host.ReadUntil("Last update: none since power-on\r\n", Ms{3000});
    EXPECT_NE(banner.find("Kestrel virtual board, crystal 8M\r\n"), std::string::npos) << banner;
    EXPECT_NE(banner.find("Last update: none since power-on\r\n"), std::string::npos) << banner;
    // Fifteen bytes are no pattern.
    host.Write(Bytes(15, 0xEE));
    host.Write(std::string("x"));
    EXPECT_TRUE(host.ReadFor(Ms{200}).empty());
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
    host.Write(Bytes(16, 0xFF));
    WakeForUpdate(host, B9600);
    EXPECT_TRUE(host.ReadFor(Ms{600}).empty());
    host.Close();
    board.Join();  // --once: the tool leaving ends the session
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
    const Bytes reply = host.Read(2, Ms{3000});
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
    host.Read(2, Ms{3000});
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
    const Bytes garbage = host.ReadFor(Ms{500});
    EXPECT_GE(garbage.size(), 3u);
    const std::string replies = "WZSACFBED";
    for (std::uint8_t b : garbage) {
        EXPECT_EQ(replies.find(static_cast<char>(b)), std::string::npos) << int(b);
        EXPECT_FALSE(b >= 1 && b <= 16) << int(b);
    }
    host.Close();
    board.Join();
    EXPECT_TRUE(CheckHeld(board.Log(), "no answer to garbage")) << board.Summary();
}

TEST(BoardFaults, HangupClosesTheLineInTheMiddleOfTheFirstSection) {
    BoardFolder folder;
    BoardOptions options = folder.Options("4M");
    options.fault = FaultMode::HangUp;
    options.once = false;  // the hang-up ends the board by itself
    RunningBoard board(options);
    HostPlan plan;
    plan.loader1File = folder.Loader1();
    plan.loader2File = folder.Loader2();
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

}  // namespace
}  // namespace kestrel::sim::test
