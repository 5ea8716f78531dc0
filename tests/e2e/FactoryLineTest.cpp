// Several boards flashed at once from one command, as a production line runs them:
// each board gets its own verdict, and no board's fault reaches another.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <regex>

#include "tests/e2e/EndToEndFixture.h"

namespace {

namespace fs = std::filesystem;

class FactoryLine : public EndToEnd {
protected:
    // A virtual board reached through the link Work(name), so that the tool calls it
    // `name`; its flash is Work(name + ".flash").
    std::unique_ptr<BoardProcess> StartNamedBoard(const std::string& name, std::vector<std::string> args) {
        args.insert(args.end(), {"--crystal", "27M", "--flash", Work(name + ".flash"), "--link", Work(name)});
        auto board = std::make_unique<BoardProcess>(Bin(), args, Work(name + ".board.log"));
        EXPECT_FALSE(board->Device().empty()) << "the virtual board " << name << " did not start";
        return board;
    }
    static std::vector<std::string> Healthy() { return {"--once", "--reply-gap-ms", "40", "--progress-gap-ms", "15"}; }

    std::vector<uint8_t> MakeMap() {
        std::vector<uint8_t> map(0x60000);  // the size of a complete flash map
        for (size_t i = 0; i < map.size(); ++i)
            map[i] = static_cast<uint8_t>((i * 2654435761u) >> 24);
        WriteFile(Work("MAP.BIN"), map);
        return map;
    }
    void ExpectFlashed(const std::string& name, const std::vector<uint8_t>& map) {
        const auto flash = ReadFile(Work(name + ".flash"));
        ASSERT_GE(flash.size(), map.size()) << name;
        EXPECT_TRUE(std::equal(map.begin(), map.end(), flash.begin())) << name << "'s flash differs";
    }
};

// The summary table's row for this board: "NAME  RESULT  TIME s".
std::string ResultOf(const std::string& out, const std::string& name) {
    std::smatch m;
    if (!std::regex_search(out, m, std::regex("\n" + name + " +(.*?) +[0-9]+\\.[0-9] s\n")))
        return "(no row for " + name + ")";
    return m[1];
}

TEST_F(FactoryLine, EveryBoardGetsItsOwnVerdictWhateverTheOthersDo) {
    const auto map = MakeMap();
    // Eight lines: five healthy boards, one that never answers, one that hangs up in
    // the middle of the data, and an adapter that is not there.
    std::vector<std::unique_ptr<BoardProcess>> boards;
    std::vector<std::string> args = {"update", "--crystal", "27M", "--timeout", "2", "--log-dir", Work("logs")};
    for (int i = 0; i < 5; ++i) {
        boards.push_back(StartNamedBoard("ttyOK" + std::to_string(i), Healthy()));
        args.insert(args.end(), {"--device", Work("ttyOK" + std::to_string(i))});
    }
    boards.push_back(StartNamedBoard("ttySilent", {"--fault", "silent"}));
    boards.push_back(StartNamedBoard("ttyHangup", {"--fault", "hangup", "--reply-gap-ms", "40"}));
    args.insert(args.end(), {"--device", Work("ttySilent"), "--device", Work("ttyHangup"), "--device",
                             "/dev/kestrel-absent", Work("MAP.BIN")});
    NoPause sleeper;
    const CommandRun r = Command(RunUpdateCommand, args, sleeper);
    EXPECT_EQ(r.status, 1) << r.out << r.err;

    for (int i = 0; i < 5; ++i) {
        const std::string name = "ttyOK" + std::to_string(i);
        SCOPED_TRACE(name);
        EXPECT_EQ(ResultOf(r.out, name), "flashed") << r.out;
        ExpectLogInOrder(r.out, {name + ": Ready to update program......", name + ": 4.Programing flash....",
                                 name + ": 5.Update finished!!!"});
        EXPECT_NE(r.err.find(name + " progress 100%\n"), std::string::npos) << r.err;
        EXPECT_EQ(boards[static_cast<size_t>(i)]->Wait(), 0) << boards[static_cast<size_t>(i)]->Report();
        ExpectFlashed(name, map);
        const auto log = ReadFile(Work("logs/" + name + ".log"));
        EXPECT_TRUE(std::regex_search(std::string(log.begin(), log.end()),
                                      std::regex(R"(\n\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  5\.Update finished!!!\n)")))
            << std::string(log.begin(), log.end());
    }
    EXPECT_EQ(ResultOf(r.out, "ttySilent").rfind("timed out: no reply from the board for 2 s", 0), 0u) << r.out;
    EXPECT_EQ(ResultOf(r.out, "ttyHangup").rfind("failed: ", 0), 0u) << r.out;
    EXPECT_NE(ResultOf(r.out, "ttyHangup").find("The serial line was lost!"), std::string::npos) << r.out;
    EXPECT_NE(ResultOf(r.out, "kestrel-absent").find("failed: Can't open port! /dev/kestrel-absent: no such device"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("ttySilent: 5.Update finished!!!"), std::string::npos);
    // The files are listed once, not once per board.
    EXPECT_EQ(r.out.find("----Include Files:"), r.out.rfind("----Include Files:")) << r.out;
    const auto silentLog = ReadFile(Work("logs/ttySilent.log"));
    EXPECT_NE(std::string(silentLog.begin(), silentLog.end()).find("result: timed out"), std::string::npos);
}

TEST_F(FactoryLine, ARepeatedDeviceOrARefusedFileTouchesNoBoard) {
    auto a = StartNamedBoard("ttyA", Healthy());
    auto b = StartNamedBoard("ttyB", Healthy());
    NoPause sleeper;
    // The same device by its name, and once more through another path to it.
    for (const std::string& again : {Work("ttyA"), a->Device()}) {
        SCOPED_TRACE(again);
        const CommandRun twice = Command(
            RunUpdateCommand, {"update", "--device", Work("ttyA"), "--device", Work("ttyB"), "--device", again, Sample("FONT.bin")},
            sleeper);
        EXPECT_EQ(twice.status, 2) << twice.err;
        EXPECT_NE(twice.err.find("named twice"), std::string::npos) << twice.err;
    }
    EXPECT_EQ(Command(RunConsoleCommand, {"console", "--device", Work("ttyA"), "--device", Work("ttyB")}, sleeper).status, 2);

    std::vector<uint8_t> odd(100, 0x11);
    odd.back() = 'D';  // no section has this letter
    WriteFile(Work("odd.bin"), odd);
    const CommandRun refused = Command(
        RunUpdateCommand, {"update", "--device", Work("ttyA"), "--device", Work("ttyB"), Sample("FONT.bin"), Work("odd.bin")},
        sleeper);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("no board was touched"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.out.find("Ready to update"), std::string::npos) << refused.out;

    // Both boards are still waiting for their first update: an erase reaches both,
    // each recorded in a wire trace of its own in the trace folder.
    const CommandRun erase = Command(RunEraseCommand,
                                     {"erase", "--device", Work("ttyA"), "--device", Work("ttyB"), "--crystal", "27M",
                                      "--trace", Work("traces")},
                                     sleeper);
    EXPECT_EQ(erase.status, 0) << erase.out << erase.err;
    EXPECT_EQ(ResultOf(erase.out, "ttyA"), "erased") << erase.out;
    EXPECT_EQ(ResultOf(erase.out, "ttyB"), "erased") << erase.out;
    for (const char* name : {"ttyA", "ttyB"}) {
        const auto bytes = ReadFile(Work("traces/" + std::string(name) + ".trace"));
        const std::string trace(bytes.begin(), bytes.end());
        EXPECT_NE(trace.find(" OPEN " + Work(name) + " "), std::string::npos) << name << ":\n" << trace;
        EXPECT_NE(trace.find(" RX 44\n"), std::string::npos) << name << ": no 'D' in\n" << trace;
    }
    EXPECT_EQ(a->Wait(), 0) << a->Report();
    EXPECT_EQ(b->Wait(), 0) << b->Report();
}

TEST_F(FactoryLine, CtrlCCancelsEveryBoard) {
    MakeMap();
    std::vector<std::unique_ptr<BoardProcess>> boards;
    std::vector<std::string> args = {"update", "--crystal", "27M", "--timeout", "30", Work("MAP.BIN")};
    for (const char* name : {"ttyX", "ttyY", "ttyZ"}) {
        boards.push_back(StartNamedBoard(name, {"--reply-gap-ms", "40"}));
        args.insert(args.end(), {"--device", Work(name)});
    }
    // The protocol's pauses are taken at a thirtieth, so that Ctrl-C lands while every
    // board is busy.
    RecordingSleeper sleeper(30);
    RunningCommand command(RunUpdateCommand, args, sleeper, interrupts);
    ASSERT_TRUE(WaitUntil([&] {
        const std::string out = command.Out();
        return out.find("ttyX: 3.Loading") != std::string::npos && out.find("ttyY: 3.Loading") != std::string::npos &&
               out.find("ttyZ: 3.Loading") != std::string::npos;
    }, std::chrono::seconds(60))) << command.Out();
    interrupts = 1;
    const CommandRun r = command.Finish();
    EXPECT_EQ(r.status, 130) << r.out << r.err;
    for (const char* name : {"ttyX", "ttyY", "ttyZ"})
        EXPECT_EQ(ResultOf(r.out, name), "cancelled") << r.out;
}

TEST_F(FactoryLine, ABoardThatReportsAFinishItCouldNotHaveReachedFailsInTheTableAndItsLog) {
    const struct {
        const char* name;
        const char* fault;
        const char* result;
    } boards[] = {
        {"ttyEarly", "early-d",
         "failed: finished early: the board reported finished, but it never asked for loader 1, loader 2 and the "
         "section header"},
        {"ttyHeader", "early-d-after-header", "failed: finished early: the board reported finished, but it never asked for CODE and FONT"},
        {"ttySkip", "skip-sections", "failed: finished early: the board reported finished, but it never asked for FONT"},
        {"ttyGood", "none", "flashed"},
    };
    std::vector<std::unique_ptr<BoardProcess>> running;
    std::vector<std::string> args = {"update", "--crystal", "27M", "--timeout", "20", "--log-dir", Work("logs"),
                                     Sample("code.s"), Sample("FONT.bin")};
    for (const auto& b : boards) {
        running.push_back(StartNamedBoard(b.name, {"--once", "--fault", b.fault, "--reply-gap-ms", "20", "--progress-gap-ms", "5"}));
        args.insert(args.end(), {"--device", Work(b.name)});
    }
    NoPause sleeper;
    const CommandRun r = Command(RunUpdateCommand, args, sleeper);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    for (const auto& b : boards) {
        SCOPED_TRACE(b.name);
        EXPECT_EQ(ResultOf(r.out, b.name), b.result) << r.out;
        const auto log = ReadFile(Work("logs/" + std::string(b.name) + ".log"));
        EXPECT_NE(std::string(log.begin(), log.end()).find("  result: " + std::string(b.result) + "\n"), std::string::npos);
    }
}

TEST_F(FactoryLine, EachBoardsLogIsWrittenAsItsLinesHappen) {
    auto silent = StartNamedBoard("ttySilent", {"--fault", "silent"});
    NoPause sleeper;
    RunningCommand command(RunUpdateCommand,
                           {"update", "--device", Work("ttySilent"), "--crystal", "27M", "--timeout", "0", "--log-dir",
                            Work("logs"), Sample("FONT.bin")},
                           sleeper, interrupts);
    command.EndInput();
    const std::string log = Work("logs/ttySilent.log");
    auto logText = [&] {
        const auto bytes = ReadFile(log);
        return std::string(bytes.begin(), bytes.end());
    };
    // The board never answers and the run waits for ever: what is in the log is there
    // while the run goes on.
    ASSERT_TRUE(WaitUntil([&] { return logText().find("  Ready to update program......\n") != std::string::npos; },
                          std::chrono::seconds(30)))
        << logText();
    EXPECT_FALSE(command.Done());
    EXPECT_EQ(logText().rfind("Kestrel update of " + Work("ttySilent") + "\n", 0), 0u) << logText();
    interrupts = 1;
    const CommandRun r = command.Finish();
    EXPECT_EQ(r.status, 130) << r.out << r.err;
    EXPECT_NE(logText().find("  result: cancelled\n"), std::string::npos) << logText();
}

TEST_F(FactoryLine, AHangUpOfTheOperatorsTerminalCancelsTheRunAndKeepsTheLogs) {
    auto silent = StartNamedBoard("ttySilent", {"--fault", "silent"});
    std::vector<std::string> all = {Bin() + "/kestrel-cli", "update", "--device", Work("ttySilent"), "--crystal", "27M",
                                    "--timeout", "0", "--log-dir", Work("logs"), Sample("FONT.bin")};
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, Work("out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, Work("err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    auto logText = [&] {
        const auto bytes = ReadFile(Work("logs/ttySilent.log"));
        return std::string(bytes.begin(), bytes.end());
    };
    const bool waiting = WaitUntil([&] { return logText().find("Ready to update program......") != std::string::npos; },
                                   std::chrono::seconds(30));
    kill(pid, SIGHUP);
    int status = 0;
    ASSERT_TRUE(WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, std::chrono::seconds(30)));
    ASSERT_TRUE(waiting) << logText();
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_NE(logText().find("  Stop updating!!!\n"), std::string::npos) << logText();
    EXPECT_NE(logText().find("  result: cancelled\n"), std::string::npos) << logText();
}

}  // namespace
