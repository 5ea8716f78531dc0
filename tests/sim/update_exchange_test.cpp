// The board's side of whole updates, driven over its pty by a scripted host.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "tests/sim/board_fixture.h"

namespace kestrel::sim::test {
namespace {

std::string Progress() {
    std::string s;
    for (char i = 1; i <= 16; ++i) s.push_back(i);
    return s;
}

HostPlan PlanFor(const BoardFolder& folder, speed_t boot) {
    HostPlan plan;
    plan.bootSpeed = boot;
    plan.loader1File = folder.Loader1();
    plan.loader2File = folder.Loader2();
    return plan;
}

TEST(UpdateExchange, SectionsLandAtTheirAreaStartsAndEveryCheckHolds) {
    BoardFolder folder;
    RunningBoard board(folder.Options("8M"));
    ASSERT_TRUE(board.Started());
    HostPlan plan = PlanFor(folder, B19200);
    // The font is a whole number of blocks: its last paced write is empty.
    const Bytes code = Pattern(300, 10), font = Pattern(4096, 11), bitmap = Pattern(5, 12), logo = Pattern(77, 13);
    plan.header = MakeHeader(0x2000, 0x1000, 0x800, 0x100, 300, 4096, 5, 77, 0, 1);
    plan.data = {{'C', code}, {'F', font}, {'B', bitmap}, {'E', logo}};

    ScriptedHost host(board.Path());
    EXPECT_EQ(RunHostUpdate(host, plan), "WZSCFBE" + Progress() + "D");
    // After 'D' the board boots and tells what it got.
    EXPECT_NE(host.ReadUntil("Last update: code 300 bytes, font 4096 bytes, bitmap 5 bytes, logo 77 bytes\r\n",
                             Ms{3000})
                  .find("Last update: code 300 bytes"),
              std::string::npos);
    host.Close();
    board.Join();

    EXPECT_TRUE(board.Log().AllHeld()) << board.Summary();
    for (const char* name : {"line settings at boot speed", "loader 1", "line settings for loader 2", "loader 2",
                             "section header", "code section", "font section", "bitmap section", "logo section",
                             "line settings after the update"}) {
        EXPECT_TRUE(CheckHeld(board.Log(), name));
    }
    Bytes want(0x100000, 0xFF);
    std::copy(code.begin(), code.end(), want.begin());
    std::copy(font.begin(), font.end(), want.begin() + 0x2000);
    std::copy(bitmap.begin(), bitmap.end(), want.begin() + 0x3000);
    std::copy(logo.begin(), logo.end(), want.begin() + 0x3800);
    EXPECT_TRUE(folder.ReadFlash() == want);
}

TEST(UpdateExchange, ACompleteMapIsAskedForWholeWithA) {
    BoardFolder folder;
    RunningBoard board(folder.Options("27M"));
    HostPlan plan = PlanFor(folder, B115200);  // 27M boots at full speed: the reopen alone marks the stages
    const Bytes map = Pattern(0x10000, 20);
    // Section lengths left over from earlier files do not matter with a map.
    plan.header = MakeHeader(0x8000, 0x4000, 0x2000, 0x2000, 100, 0, 0, 0, 0x10000, 0);
    plan.data = {{'A', map}, {'C', Pattern(100, 21)}};
    ScriptedHost host(board.Path());
    EXPECT_EQ(RunHostUpdate(host, plan), "WZSA" + Progress() + "D");
    host.Close();
    board.Join();
    EXPECT_TRUE(board.Log().AllHeld()) << board.Summary();
    const Bytes flash = folder.ReadFlash();
    ASSERT_EQ(flash.size(), 0x100000u);
    EXPECT_TRUE(std::equal(map.begin(), map.end(), flash.begin()));
    EXPECT_TRUE(std::all_of(flash.begin() + 0x10000, flash.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

TEST(UpdateExchange, AnEraseAsksForNoDataAndLeavesTheFlashErased) {
    BoardFolder folder;
    {
        std::ofstream old(folder.Flash(), std::ios::binary);
        const Bytes zeros(0x100000, 0x00);
        old.write(reinterpret_cast<const char*>(zeros.data()), static_cast<std::streamsize>(zeros.size()));
    }
    RunningBoard board(folder.Options("13.5M"));
    HostPlan plan = PlanFor(folder, B57600);
    plan.header = MakeHeader(0x60000, 0x40000, 0x20000, 0x20000, 0, 0, 0, 0, 0xFFFFFFFF, 0);
    ScriptedHost host(board.Path());
    EXPECT_EQ(RunHostUpdate(host, plan), "WZS" + Progress() + "D");
    host.Close();
    board.Join();
    EXPECT_TRUE(board.Log().AllHeld()) << board.Summary();
    const Bytes flash = folder.ReadFlash();
    EXPECT_EQ(flash.size(), 0x100000u);
    EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

TEST(UpdateExchange, AWrongBootSpeedIsAFailedCheck) {
    BoardFolder folder;
    RunningBoard board(folder.Options("16M"));
    HostPlan plan = PlanFor(folder, B19200);  // 16M boots at 38400, not 19200
    plan.header = MakeHeader(0x1000, 0x1000, 0x1000, 0x1000, 10, 0, 0, 0, 0, 0);
    plan.data = {{'C', Pattern(10, 30)}};
    ScriptedHost host(board.Path());
    RunHostUpdate(host, plan);
    host.Close();
    board.Join();
    EXPECT_TRUE(CheckFailed(board.Log(), "line settings at boot speed", "speed 19200 instead of 38400"));
    EXPECT_TRUE(CheckHeld(board.Log(), "code section"));
    EXPECT_FALSE(board.Log().AllHeld());
}

TEST(UpdateExchange, ALineThatRewritesBytesIsAFailedCheck) {
    BoardFolder folder;
    RunningBoard board(folder.Options("27M"));
    ScriptedHost host(board.Path());
    ASSERT_TRUE(host.Open(B115200));
    host.Write(Bytes(16, 0xFF));
    ASSERT_TRUE(host.Open(B115200, /*raw=*/false));  // canonical input, echo, CR/LF translation
    host.ReadFor(Ms{200});
    host.Close();
    board.Stop();
    EXPECT_TRUE(CheckFailed(board.Log(), "line settings at boot speed", "canonical"));
}

TEST(UpdateExchange, FaultyLoaderFramingsAreCaught) {
    BoardFolder folder;
    RunningBoard board(folder.Options("4M"));
    HostPlan plan = PlanFor(folder, B9600);
    // The first body byte lost: everything after it is one place early.
    Bytes shifted(2049, 0x00);
    shifted[0] = 0x18;
    std::copy(folder.Loader1().begin() + 5, folder.Loader1().end() - 1, shifted.begin() + 1);
    plan.loader1Wire = shifted;
    plan.loader2WithTrailer = true;
    plan.header = MakeHeader(0x1000, 0x1000, 0x1000, 0x1000, 0, 20, 0, 0, 0, 0);
    plan.data = {{'F', Pattern(20, 40)}};
    ScriptedHost host(board.Path());
    EXPECT_EQ(RunHostUpdate(host, plan), "WZSF" + Progress() + "D");
    host.Close();
    board.Join();
    EXPECT_TRUE(CheckFailed(board.Log(), "loader 1", "block byte 0 is"));
    EXPECT_TRUE(CheckFailed(board.Log(), "loader 2", "1 byte more than the loader's 2999 bytes"));
}

TEST(UpdateExchange, AShortSectionEndsTheUpdateWithoutProgramming) {
    BoardFolder folder;
    BoardOptions options = folder.Options("4M");
    options.idleTimeout = Ms{300};
    RunningBoard board(options);
    HostPlan plan = PlanFor(folder, B9600);
    plan.header = MakeHeader(0x1000, 0x1000, 0x1000, 0x1000, 0, 0, 50, 0, 0, 0);
    plan.data = {{'B', Pattern(49, 50)}};
    ScriptedHost host(board.Path());
    EXPECT_EQ(RunHostUpdate(host, plan, Ms{1000}), "WZSB");
    host.Close();
    board.Join();
    EXPECT_TRUE(CheckFailed(board.Log(), "bitmap section", "received 49 of 50 bytes, then nothing"));
    const Bytes flash = folder.ReadFlash();
    EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

TEST(UpdateExchange, AfterAnAbandonedUpdateTheNextWakeUpStartsAfresh) {
    BoardFolder folder;
    BoardOptions options = folder.Options("27M");
    options.once = false;
    options.idleTimeout = Ms{300};
    RunningBoard board(options);
    HostPlan plan = PlanFor(folder, B115200);
    plan.header = MakeHeader(0x1000, 0x1000, 0x1000, 0x1000, 8, 0, 0, 0, 0, 0);
    plan.data = {{'C', Pattern(7, 90)}};  // one byte short: the board gives up
    ScriptedHost host(board.Path());
    EXPECT_EQ(RunHostUpdate(host, plan, Ms{1000}), "WZSC");
    plan.data = {{'C', Pattern(8, 91)}};
    EXPECT_EQ(RunHostUpdate(host, plan), "WZSC" + Progress() + "D");
    host.Close();
    board.Stop();
    EXPECT_TRUE(CheckFailed(board.Log(), "code section", "received 7 of 8 bytes"));
    EXPECT_EQ(board.Log().FailedCount(), 1u) << board.Summary();
    const Bytes flash = folder.ReadFlash();
    EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + 8, Pattern(8, 91).begin()));
}

TEST(UpdateExchange, AHeaderThatOverflowsTheFlashIsRefused) {
    BoardFolder folder;
    RunningBoard board(folder.Options("4M"));
    HostPlan plan = PlanFor(folder, B9600);
    plan.header = MakeHeader(0x60000, 0x40000, 0x20000, 0x20000, 0, 0, 0, 0x50000, 0, 0);
    ScriptedHost host(board.Path());
    EXPECT_EQ(RunHostUpdate(host, plan, Ms{1000}), "WZS");
    host.Close();
    board.Join();
    EXPECT_TRUE(CheckFailed(board.Log(), "section header", "logo of 0x50000 bytes at 0xC0000 runs past the end"));
}

}  // namespace
}  // namespace kestrel::sim::test
