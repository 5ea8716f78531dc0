// The board's side of whole updates, driven over its pty by a scripted host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <unistd.h>

#include "tests/sim/board_fixture.h"

namespace kestrel::sim::test {
namespace {

constexpr Ms kGenerous{30000};

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
                             kGenerous)
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
    ASSERT_TRUE(board.WaitForCheck("line settings at boot speed"));
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
    EXPECT_EQ(RunHostUpdate(host, plan, [&] { return board.Ended(); }), "WZSB");
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
    EXPECT_EQ(RunHostUpdate(host, plan, [&] { return board.Log().Made("code section"); }), "WZSC");
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
    EXPECT_EQ(RunHostUpdate(host, plan, [&] { return board.Ended(); }), "WZS");
    host.Close();
    board.Join();
    EXPECT_TRUE(CheckFailed(board.Log(), "section header", "logo of 0x50000 bytes at 0xC0000 runs past the end"));
}

// Another program trying the board's device while an update runs, over and
// over: a second serial tool that opens it, is refused the lock the running
// tool holds and closes it again, and a prober that opens and closes it.
class ForeignOpener {
public:
    explicit ForeignOpener(std::string path) : path_(std::move(path)), thread_([this] { Loop(); }) {}
    ~ForeignOpener() { Stop(); }
    void Stop() {
        stop_.store(true);
        if (thread_.joinable()) thread_.join();
    }
    int Refused() const { return refused_.load(); }

private:
    void Loop() {
        for (unsigned attempt = 0; !stop_.load(); ++attempt) {
            const int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0 && errno == EBUSY) ++refused_;
            if (fd >= 0) {
                if (attempt % 2 == 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) ++refused_;
                ::close(fd);
            }
            // Paces the disturbance so that it spans the whole update.
            std::this_thread::sleep_for(Ms{2});
        }
    }

    std::string path_;
    std::atomic<bool> stop_{false};
    std::atomic<int> refused_{0};
    std::thread thread_;
};

TEST(UpdateExchange, OtherProgramsOpeningTheDeviceDoNotDisturbAnUpdate) {
    // 27M boots at full speed, so only the reopen itself marks loader 1's end;
    // 8M changes speed as well.
    for (const auto& [crystal, boot] : {std::pair{"27M", B115200}, std::pair{"8M", B19200}}) {
        SCOPED_TRACE(crystal);
        BoardFolder folder;
        RunningBoard board(folder.Options(crystal));
        HostPlan plan = PlanFor(folder, boot);
        const Bytes code = Pattern(5000, 100);
        plan.header = MakeHeader(0x2000, 0x1000, 0x1000, 0x1000, 5000, 0, 0, 0, 0, 0);
        plan.data = {{'C', code}};
        // Pauses keep the board waiting for data and for the reopen while the
        // other program comes and goes.
        plan.pause = Ms{40};
        ScriptedHost host(board.Path(), /*exclusive=*/true);
        ForeignOpener other(board.Path());
        EXPECT_EQ(RunHostUpdate(host, plan, [&] { return board.Ended(); }), "WZSC" + Progress() + "D");
        other.Stop();
        // It was refused, so it tried while the update held the device.
        EXPECT_GT(other.Refused(), 0);
        host.Close();
        board.Join();
        EXPECT_TRUE(board.Log().AllHeld()) << board.Summary();
        const Bytes flash = folder.ReadFlash();
        EXPECT_TRUE(std::equal(code.begin(), code.end(), flash.begin()));
    }
}

}  // namespace
}  // namespace kestrel::sim::test
