// The command-line contract of kestrel-board-sim: first stdout line, link,
// --once, events of a succession, the summary on stderr and the exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iterator>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/sim/board_fixture.h"
#include "tests/support/Waiting.h"

extern char** environ;

namespace kestrel::sim::test {
namespace {

// kestrel-board-sim run as a child process with its output on pipes.
class SpawnedBoard {
public:
    explicit SpawnedBoard(std::vector<std::string> args) {
        args.insert(args.begin(), KESTREL_BOARD_SIM_EXE);
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~SpawnedBoard() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        if (err_ >= 0) close(err_);
    }

    // The next line of stdout: the device path first, then the events.
    std::string Line() {
        std::string line;
        char c;
        pollfd p{out_, POLLIN, 0};
        while (poll(&p, 1, 60000) > 0 && read(out_, &c, 1) == 1 && c != '\n') line.push_back(c);
        return line;
    }

    // Exit status, or -1 when the board did not end (the limit only guards
    // against a hang).
    int Wait() {
        int status = 0;
        if (!WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, Ms{60000})) return -1;
        pid_ = -1;
        char buffer[4096];
        ssize_t n;
        while ((n = read(err_, buffer, sizeof buffer)) > 0) stderr_.append(buffer, static_cast<std::size_t>(n));
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void Signal(int sig) { kill(pid_, sig); }
    const std::string& Stderr() const { return stderr_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string stderr_;
};

std::vector<std::string> Args(const BoardFolder& folder, const std::string& crystal) {
    return {"--crystal", crystal, "--lib", folder.Path().string(), "--flash", folder.Flash().string(),
            "--reply-gap-ms", "30", "--progress-gap-ms", "5", "--idle-timeout-ms", "10000"};
}

TEST(BoardExecutable, UpdateThroughTheLinkEndsWithStatusZeroAndTheLinkRemoved) {
    BoardFolder folder;
    const auto link = folder.Path() / "ttyBOARD";
    std::filesystem::create_symlink("/nonexistent", link);  // an old link is replaced
    auto args = Args(folder, "8M");
    args.insert(args.end(), {"--once", "--link", link.string()});
    SpawnedBoard board(args);
    const std::string path = board.Line();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    EXPECT_EQ(std::filesystem::read_symlink(link), path);

    HostPlan plan = PlanFor(folder, B19200);
    plan.header = MakeHeader(0x1000, 0x1000, 0x1000, 0x1000, 0, 0, 0, 3000, 0, 0);
    const Bytes logo = Pattern(3000, 70);
    plan.data = {{'E', logo}};
    ScriptedHost host(link.string());
    EXPECT_EQ(RunHostUpdate(host, plan).back(), 'D');
    host.Close();

    EXPECT_EQ(board.Wait(), 0) << board.Stderr();
    EXPECT_NE(board.Stderr().find("logo section: 3000 bytes"), std::string::npos) << board.Stderr();
    EXPECT_NE(board.Stderr().find("result: all"), std::string::npos) << board.Stderr();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    const Bytes flash = folder.ReadFlash();
    EXPECT_TRUE(std::equal(logo.begin(), logo.end(), flash.begin() + 0x3000));
}

TEST(BoardExecutable, AFailedCheckEndsWithStatusOne) {
    BoardFolder folder;
    auto args = Args(folder, "4M");
    args.push_back("--once");
    SpawnedBoard board(args);
    ScriptedHost host(board.Line());
    HostPlan plan = PlanFor(folder, B115200);  // 4M boots at 9600
    plan.header = MakeHeader(0x1000, 0x1000, 0x1000, 0x1000, 0, 0, 0, 0, 0xFFFFFFFF, 0);
    RunHostUpdate(host, plan);
    host.Close();
    EXPECT_EQ(board.Wait(), 1);
    EXPECT_NE(board.Stderr().find("[FAILED] line settings at boot speed: 115200,N,8,1: speed 115200 instead of 9600"),
              std::string::npos)
        << board.Stderr();
}

TEST(BoardExecutable, HangupExitsByItselfWithStatusZero) {
    BoardFolder folder;
    auto args = Args(folder, "27M");
    args.insert(args.end(), {"--fault", "hangup"});
    SpawnedBoard board(args);
    ScriptedHost host(board.Line());
    HostPlan plan = PlanFor(folder, B115200);
    plan.header = MakeHeader(0x10000, 0x1000, 0x1000, 0x1000, 0x4000, 0, 0, 0, 0, 0);
    plan.data = {{'C', Pattern(0x4000, 80)}};
    EXPECT_EQ(RunHostUpdate(host, plan), "WZSC");
    EXPECT_EQ(board.Wait(), 0) << board.Stderr();
    EXPECT_NE(board.Stderr().find("hung up after 8192 of 16384 bytes"), std::string::npos) << board.Stderr();
}

TEST(BoardExecutable, StopSignalPrintsTheSummary) {
    BoardFolder folder;
    {
        // On the console, right after the board has started.
        SpawnedBoard board(Args(folder, "4M"));
        ASSERT_FALSE(board.Line().empty());
        board.Signal(SIGTERM);
        EXPECT_EQ(board.Wait(), 0);
        EXPECT_NE(board.Stderr().find("checks:\n  none made"), std::string::npos) << board.Stderr();
    }
    {
        // In the middle of an update, while the board waits for loader 1.
        SpawnedBoard board(Args(folder, "27M"));
        ScriptedHost host(board.Line());
        ASSERT_TRUE(host.Open(B115200));
        host.Write(Bytes(16, 0xFF));
        ASSERT_TRUE(host.Open(B115200));
        ASSERT_EQ(host.Read(1, Ms{60000}), Bytes{'W'});
        board.Signal(SIGINT);
        EXPECT_EQ(board.Wait(), 0);
        EXPECT_NE(board.Stderr().find("[held]   line settings at boot speed"), std::string::npos) << board.Stderr();
    }
}

TEST(BoardExecutable, ASuccessionAnnouncesEveryStepOnStdoutAndSummarisesEachBoard) {
    BoardFolder folder;
    auto args = Args(folder, "27M");
    args.insert(args.end(), {"--boards", "2", "--off", "0", "--swap", "0", "--first-serial", "41", "--fault-board",
                             "2=skip-sections"});
    SpawnedBoard board(args);
    ScriptedHost host(board.Line());
    HostPlan plan = PlanFor(folder, B115200);
    const Bytes code = Pattern(300, 71), font = Pattern(200, 72);
    plan.header = MakeHeader(0x2000, 0x1000, 0x1000, 0x1000, 300, 200, 0, 0, 0, 0);
    plan.data = {{'C', code}, {'F', font}};

    EXPECT_EQ(board.Line(), "board 1 KSTB-0041 off");
    EXPECT_EQ(board.Line(), "board 1 KSTB-0041 on");
    EXPECT_EQ(RunHostUpdate(host, plan), "WZSCF" + Progress() + "D");
    for (const char* event : {"woken", "answered", "booted", "done finished", "out"}) {
        EXPECT_EQ(board.Line(), std::string("board 1 KSTB-0041 ") + event);
    }
    EXPECT_EQ(board.Line(), "board 2 KSTB-0042 off");
    EXPECT_EQ(board.Line(), "board 2 KSTB-0042 on");
    EXPECT_EQ(RunHostUpdate(host, plan), "WZSC" + Progress() + "D");  // no 'F': the fault of board 2
    for (const char* event : {"woken", "answered", "booted", "done finished", "out"}) {
        EXPECT_EQ(board.Line(), std::string("board 2 KSTB-0042 ") + event);
    }
    EXPECT_EQ(board.Line(), "end");
    host.Close();

    EXPECT_EQ(board.Wait(), 0) << board.Stderr();
    const std::string flash = folder.Flash().string();
    // Beside each flash, what the board received from loader 1's start byte to the
    // last byte of the last section it asked for.
    const auto joined = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    for (const auto& [number, tail] : {std::pair{1, joined({plan.header, code, font})}, std::pair{2, joined({plan.header, code})}}) {
        std::ifstream in(flash + "." + std::to_string(number) + ".wire", std::ios::binary);
        const Bytes wire((std::istreambuf_iterator<char>(in)), {});
        ASSERT_GT(wire.size(), tail.size()) << number;
        EXPECT_EQ(wire.front(), 0x18) << number;
        EXPECT_TRUE(std::equal(tail.begin(), tail.end(), wire.end() - static_cast<std::ptrdiff_t>(tail.size()))) << number;
    }
    EXPECT_NE(board.Stderr().find("board 1 KSTB-0041, fault none, flash " + flash + ".1: flashed (code 300 bytes, "
                                  "font 200 bytes), firmware OK"),
              std::string::npos)
        << board.Stderr();
    EXPECT_NE(board.Stderr().find("board 2 KSTB-0042, fault skip-sections, flash " + flash +
                                  ".2: not flashed whole: 'D' although it left out font 200 bytes"),
              std::string::npos)
        << board.Stderr();
    EXPECT_NE(board.Stderr().find("1 of 2 flashed whole and booted with firmware OK; not board 2"), std::string::npos);
    std::ifstream second(flash + ".2", std::ios::binary);
    const Bytes two((std::istreambuf_iterator<char>(second)), std::istreambuf_iterator<char>());
    ASSERT_EQ(two.size(), 0x100000u);
    EXPECT_TRUE(std::equal(code.begin(), code.end(), two.begin()));
    EXPECT_TRUE(std::all_of(two.begin() + 0x2000, two.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

TEST(BoardExecutable, BadOptionsAndMissingFilesEndWithStatusTwo) {
    BoardFolder folder;
    {
        SpawnedBoard board({"--crystal", "12M"});
        EXPECT_EQ(board.Wait(), 2);
        EXPECT_NE(board.Stderr().find("unknown crystal '12M'"), std::string::npos);
        EXPECT_NE(board.Stderr().find("usage:"), std::string::npos);
    }
    {
        const auto empty = folder.Path() / "empty";
        std::filesystem::create_directory(empty);
        SpawnedBoard board({"--lib", empty.string(), "--flash", folder.Flash().string()});
        EXPECT_EQ(board.Wait(), 2);
        EXPECT_NE(board.Stderr().find("Pgm_4M.bin"), std::string::npos) << board.Stderr();
    }
    {
        // A plain file where the link should go is not overwritten.
        const auto taken = folder.Path() / "taken";
        std::ofstream(taken) << "keep";
        auto args = Args(folder, "4M");
        args.insert(args.end(), {"--link", taken.string()});
        SpawnedBoard board(args);
        EXPECT_EQ(board.Wait(), 2);
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(taken)));
    }
    {
        // A later board's flash file that is no flash is found before any board
        // is touched, not overwritten when that board's turn comes.
        const auto third = folder.Flash().string() + ".3";
        std::ofstream(third) << "keep";
        auto args = Args(folder, "4M");
        args.insert(args.end(), {"--boards", "3"});
        SpawnedBoard board(args);
        EXPECT_EQ(board.Wait(), 2);
        EXPECT_NE(board.Stderr().find(third + " holds 4 bytes"), std::string::npos) << board.Stderr();
        EXPECT_EQ(std::filesystem::file_size(third), 4u);
    }
}

}  // namespace
}  // namespace kestrel::sim::test
