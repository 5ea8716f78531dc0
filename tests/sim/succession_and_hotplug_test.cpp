// Boards in succession on one line, as a factory station flashes them, and a
// line that is pulled and plugged in again as a USB adapter is.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "tests/sim/board_fixture.h"
#include "tests/support/Waiting.h"

namespace kestrel::sim::test {
namespace {

constexpr Ms kGenerous{30000};

std::string Event(unsigned board, const std::string& what) {
    return "board " + std::to_string(board) + " " + SerialNumber(board) + " " + what;
}

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool StartsWith(const Bytes& flash, const Bytes& code) {
    return flash.size() == 0x100000 && std::equal(code.begin(), code.end(), flash.begin());
}

bool Erased(const Bytes& flash) {
    return flash.size() == 0x100000 && std::all_of(flash.begin(), flash.end(), [](std::uint8_t b) { return b == 0xFF; });
}

void WakeForUpdate(ScriptedHost& host, speed_t boot) {
    ASSERT_TRUE(host.Open(B115200));
    host.Write(Bytes(16, 0xFF));
    ASSERT_TRUE(host.Open(boot));
}

HostPlan CodeUpdate(const BoardFolder& folder, const Bytes& code) {
    HostPlan plan = PlanFor(folder, B115200);
    plan.header = MakeHeader(0x4000, 0x1000, 0x1000, 0x1000, static_cast<std::uint32_t>(code.size()), 0, 0, 0, 0, 0);
    plan.data = {{'C', code}};
    return plan;
}

BoardOptions Succession(const BoardFolder& folder, unsigned boards) {
    BoardOptions options = folder.Options("27M");
    options.once = false;
    options.boards = boards;
    return options;
}

// The path of the line once it is back after a pull.
std::string AwaitNewLine(const RunningBoard& board) {
    WaitUntil([&] { return !board.Events().LastLine().empty(); }, std::chrono::seconds(60));
    return board.Events().LastLine();
}

TEST(BoardSuccession, EachBoardIsOffThenFlashedOnceBootsWithItsSerialAndKeepsItsOwnFlash) {
    BoardFolder folder;
    ManualClock clock;
    BoardOptions options = Succession(folder, 2);
    options.offTime = Ms{1000};
    options.swapTime = Ms{1000};
    RunningBoard board(options, &clock);
    ScriptedHost host(board.Path());
    const Bytes codes[] = {Pattern(300, 31), Pattern(500, 32)};
    for (unsigned k = 1; k <= 2; ++k) {
        SCOPED_TRACE(k);
        ASSERT_GE(board.WaitForEvent(Event(k, "off")), 0);
        // Without power the wake-up is heard and never answered.
        WakeForUpdate(host, B115200);
        ASSERT_GE(board.WaitForEvent(Event(k, "ignored off")), 0);
        EXPECT_EQ(host.Queued(), 0u);
        clock.Advance(options.offTime);
        ASSERT_GE(board.WaitForEvent(Event(k, "on")), 0);

        EXPECT_EQ(RunHostUpdate(host, CodeUpdate(folder, codes[k - 1])), "WZSC" + Progress() + "D");
        const std::string banner = host.ReadUntil("firmware OK\r\n", kGenerous);
        EXPECT_NE(banner.find("Serial number: " + SerialNumber(k) + "\r\n"), std::string::npos) << banner;
        EXPECT_NE(banner.find("Self test: firmware OK\r\n"), std::string::npos) << banner;
        ASSERT_GE(board.WaitForEvent(Event(k, "done finished")), 0);

        // Flashed and booted: the next wake-up finds its firmware, not its boot code.
        WakeForUpdate(host, B115200);
        ASSERT_GE(board.WaitForEvent(Event(k, "ignored done")), 0);
        clock.Advance(options.swapTime);
        ASSERT_GE(board.WaitForEvent(Event(k, "out")), 0);
    }
    ASSERT_GE(board.WaitForEvent("end"), 0);
    host.Close();
    board.Join();  // no board left and the tool gone: it ends by itself
    EXPECT_TRUE(board.AllHeld()) << board.Summary();
    for (unsigned k = 1; k <= 2; ++k) {
        EXPECT_TRUE(board.Board(k).good) << board.Board(k).verdict;
        EXPECT_TRUE(StartsWith(ReadFile(folder.Flash().string() + "." + std::to_string(k)), codes[k - 1])) << k;
    }
    EXPECT_NE(board.Summary().find("2 of 2 flashed whole and booted with firmware OK\n"), std::string::npos);
}

TEST(BoardSuccession, FaultyBoardsAmongHealthyOnesGetVerdictsOfTheirOwn) {
    BoardFolder folder;
    BoardOptions options = Succession(folder, 4);
    options.offTime = Ms{0};
    options.swapTime = Ms{0};
    options.unpluggedTime = Ms{0};
    options.linkPath = folder.Path() / "ttySTATION";
    options.boardFaults = {{2, FaultMode::BadBanner}, {3, FaultMode::HangUp}, {4, FaultMode::EarlyD}};
    RunningBoard board(options);
    ScriptedHost host(options.linkPath.string());
    const Bytes code = Pattern(0x3000, 41);
    const HostPlan plan = CodeUpdate(folder, code);

    ASSERT_GE(board.WaitForEvent(Event(1, "on")), 0);
    EXPECT_EQ(RunHostUpdate(host, plan), "WZSC" + Progress() + "D");
    EXPECT_NE(host.ReadUntil("firmware OK\r\n", kGenerous).find("firmware OK"), std::string::npos);

    ASSERT_GE(board.WaitForEvent(Event(2, "on")), 0);
    EXPECT_EQ(RunHostUpdate(host, plan), "WZSC" + Progress() + "D");
    const std::string panic = host.ReadUntil("PANIC: flash checksum error", kGenerous);
    EXPECT_NE(panic.find("Serial number: KSTB-0002"), std::string::npos) << panic;
    EXPECT_EQ(panic.find("firmware OK"), std::string::npos) << panic;

    // Board 3 pulls the line in the middle of its code; the line comes back
    // behind the same link for board 4, which says 'D' at once.
    ASSERT_GE(board.WaitForEvent(Event(3, "on")), 0);
    EXPECT_EQ(RunHostUpdate(host, plan), "WZSC");
    EXPECT_TRUE(host.HungUp());
    ASSERT_GE(board.WaitForEvent(Event(4, "on")), 0);
    EXPECT_EQ(std::filesystem::read_symlink(options.linkPath), AwaitNewLine(board));
    EXPECT_EQ(RunHostUpdate(host, plan), "D");
    ASSERT_GE(board.WaitForEvent("end"), 0);
    host.Close();
    board.Join();

    EXPECT_TRUE(board.AllHeld()) << board.Summary();  // every fault was the boards'
    EXPECT_TRUE(board.Board(1).good);
    for (unsigned k = 2; k <= 4; ++k) EXPECT_FALSE(board.Board(k).good) << board.Board(k).verdict;
    EXPECT_NE(board.Summary().find("1 of 4 flashed whole and booted with firmware OK; not board 2, 3, 4\n"),
              std::string::npos)
        << board.Summary();
    EXPECT_TRUE(StartsWith(ReadFile(board.Board(2).flashFile), code));  // flashed, but its firmware fails
    EXPECT_TRUE(Erased(ReadFile(board.Board(3).flashFile)));
    EXPECT_TRUE(Erased(ReadFile(board.Board(4).flashFile)));
}

TEST(BoardSuccession, SwapReplugBringsTheNextBoardOnANewPtyWhileItIsStillOff) {
    BoardFolder folder;
    ManualClock clock;
    BoardOptions options = Succession(folder, 2);
    options.offTime = Ms{2000};
    options.swapTime = Ms{0};
    options.unpluggedTime = Ms{1000};
    options.swapReplug = true;
    options.linkPath = folder.Path() / "ttyUSB-station";
    RunningBoard board(options, &clock);
    ScriptedHost host(options.linkPath.string());
    ASSERT_GE(board.WaitForEvent(Event(1, "off")), 0);
    clock.Advance(options.offTime);
    ASSERT_GE(board.WaitForEvent(Event(1, "on")), 0);
    const Bytes first = Pattern(100, 51);
    EXPECT_EQ(RunHostUpdate(host, CodeUpdate(folder, first)), "WZSC" + Progress() + "D");

    // Swapped: the line is pulled under the tool and the next board comes unpowered.
    const int pulled = board.WaitForEvent("unplugged");
    ASSERT_GE(pulled, 0);
    ASSERT_GE(board.WaitForEvent(Event(2, "off"), static_cast<std::size_t>(pulled)), 0);
    EXPECT_TRUE(host.HungUp());
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(options.linkPath)));

    clock.Advance(options.unpluggedTime);  // half of board 2's time without power
    const std::string line = AwaitNewLine(board);
    EXPECT_NE(line, board.Path());  // the tool still holds the old one
    EXPECT_EQ(std::filesystem::read_symlink(options.linkPath), line);
    WakeForUpdate(host, B115200);
    ASSERT_GE(board.WaitForEvent(Event(2, "ignored off")), 0);
    clock.Advance(options.offTime - options.unpluggedTime);
    ASSERT_GE(board.WaitForEvent(Event(2, "on")), 0);
    const Bytes second = Pattern(200, 52);
    EXPECT_EQ(RunHostUpdate(host, CodeUpdate(folder, second)), "WZSC" + Progress() + "D");
    ASSERT_GE(board.WaitForEvent("end"), 0);
    host.Close();
    board.Join();
    EXPECT_TRUE(board.AllHeld()) << board.Summary();
    EXPECT_TRUE(StartsWith(ReadFile(board.Board(1).flashFile), first));
    EXPECT_TRUE(StartsWith(ReadFile(board.Board(2).flashFile), second));
}

TEST(BoardHotPlug, AnUpdateCutByAPulledLineIsLostWithoutBlameAndTheBoardAnswersOnTheNewLine) {
    BoardFolder folder;
    ManualClock clock;
    BoardOptions options = folder.Options("27M");
    options.once = false;
    options.linkPath = folder.Path() / "ttyUSB-sim";
    options.replugAfter = Ms{5000};
    options.unpluggedTime = Ms{1000};
    RunningBoard board(options, &clock);
    const Bytes code = Pattern(5000, 61);
    HostPlan plan = CodeUpdate(folder, code);
    plan.returnAfter = 'S';
    ScriptedHost host(options.linkPath.string());
    EXPECT_EQ(RunHostUpdate(host, plan), "WZS");
    EXPECT_EQ(host.Read(1, kGenerous), Bytes{'C'});  // the board waits for the code

    clock.Advance(*options.replugAfter);
    ASSERT_GE(board.WaitForEvent("unplugged"), 0);
    EXPECT_TRUE(host.HungUp());
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(options.linkPath)));
    clock.Advance(options.unpluggedTime);
    const std::string line = AwaitNewLine(board);
    EXPECT_NE(line, board.Path());
    EXPECT_EQ(std::filesystem::read_symlink(options.linkPath), line);

    plan.returnAfter.reset();
    EXPECT_EQ(RunHostUpdate(host, plan), "WZSC" + Progress() + "D");
    host.Close();
    board.Stop();
    EXPECT_TRUE(board.AllHeld()) << board.Summary();
    const auto& notes = board.Log().Notes();
    EXPECT_TRUE(std::any_of(notes.begin(), notes.end(), [](const std::string& n) {
        return n.find("pulled during the code section") != std::string::npos;
    })) << board.Summary();
    EXPECT_TRUE(StartsWith(folder.ReadFlash(), code));
}

}  // namespace
}  // namespace kestrel::sim::test
