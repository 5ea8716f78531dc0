// The station against virtual boards in succession, as a production line runs it:
// board after board on one port and on four at once, each fault among them, with a
// record per board that names what was sent (its hash recomputed from what the board
// received), the counters and the exit status; a line that is pulled and comes back;
// each step of Ctrl-C; a results file the disk cannot take.
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <regex>

#include "cli/StationCommand.h"
#include "digest/Sha256.h"
#include "tests/e2e/EndToEndFixture.h"
#include "tests/support/JsonReader.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class StationLine : public EndToEnd {
protected:
    // A succession of `boards` boards on the line reached through the link Work(name);
    // board K keeps its flash in Work(name + ".flash.K").
    std::unique_ptr<BoardProcess> StartLine(const std::string& name, unsigned boards, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--crystal", "27M", "--boards", std::to_string(boards), "--off", "0.6",
                                         "--swap", "0.6", "--reply-gap-ms", "40", "--progress-gap-ms", "15",
                                         "--flash", Work(name + ".flash"), "--link", Work(name)};
        args.insert(args.end(), extra.begin(), extra.end());
        auto board = std::make_unique<BoardProcess>(Bin(), args, Work(name + ".board.log"));
        EXPECT_FALSE(board->Device().empty()) << "the virtual board " << name << " did not start";
        return board;
    }
    // The station's command line: quick wake-ups and re-arming, a results file.
    std::vector<std::string> Station(const std::vector<std::string>& lines, std::vector<std::string> more) const {
        std::vector<std::string> args = {"station", "--crystal", "27M", "--wake-every", "0.2", "--rearm-after", "0.3",
                                         "--timeout", "3", "--results", Work("results.jsonl")};
        for (const auto& line : lines)
            args.insert(args.end(), {"--device", Work(line)});
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
    // The board has written what it received (after its 'D' and the tool's reopen).
    static void WaitForBoardEnd(BoardProcess& line, unsigned k) {
        const std::string prefix = "board " + std::to_string(k) + " KSTB-" + std::string(4 - std::to_string(k).size(), '0') +
                                   std::to_string(k) + " done ";
        EXPECT_TRUE(WaitUntil([&] {
            for (const auto& e : line.Events())
                if (e.rfind(prefix, 0) == 0)
                    return true;
            return false;
        }, 60s)) << prefix;
    }
    std::vector<JsonValue> Records() const {
        std::vector<JsonValue> records;
        std::ifstream in(Work("results.jsonl"));
        for (std::string line; std::getline(in, line);) {
            auto json = JsonReader::Read(line);
            EXPECT_TRUE(json) << "not a JSON record: " << line;
            if (json)
                records.push_back(*json);
        }
        return records;
    }
    static std::string HashOf(const std::string& file) {
        Sha256::Digest d{};
        std::string why;
        EXPECT_TRUE(Sha256OfFile(file, d, why)) << file << ": " << why;
        return Sha256::Hex(d);
    }
    // The serial number the board's firmware printed, as the record's console holds it.
    static std::string SerialHeard(const JsonValue& record) {
        std::smatch m;
        const std::string& console = record["console"].text;
        return std::regex_search(console, m, std::regex("Serial number: (KSTB-[0-9]+)")) ? m[1].str() : "";
    }
    // Every record names the files as they are, and what the board `line`.K received.
    void ExpectRecordOf(const JsonValue& r, const std::string& line, unsigned k, const std::vector<std::string>& files,
                        bool wholeOnTheWire = true) {
        SCOPED_TRACE(line + " board " + std::to_string(k));
        EXPECT_EQ(r["device"].text, Work(line)) << "the record names the device as it was given";
        EXPECT_EQ(r["crystal"].text, "27M");
        ASSERT_EQ(r["files"].items.size(), files.size());
        for (size_t i = 0; i < files.size(); ++i) {
            EXPECT_EQ(r["files"].items[i]["path"].text, files[i]);
            EXPECT_EQ(r["files"].items[i]["sha256"].text, HashOf(files[i]));
        }
        const std::string wire = Work(line + ".flash." + std::to_string(k) + ".wire");
        const auto received = ReadFile(wire);
        if (wholeOnTheWire) {
            EXPECT_EQ(r["wire_sha256"].text, HashOf(wire)) << "what the tool says it sent is what the board received";
            EXPECT_EQ(r["bytes_sent"].number, static_cast<double>(received.size()));
        } else {
            EXPECT_GE(r["bytes_sent"].number, static_cast<double>(received.size()));
        }
        EXPECT_LE(r["started"].text, r["ended"].text);
        for (const char* stage : {"to_w", "loader1", "loader2", "header", "sections", "programming"})
            EXPECT_GE(r["stages"][stage].number, 0) << stage;
    }
};

TEST_F(StationLine, BoardAfterBoardOnOnePortEachWithTheRecordItsVerdictAndCheckGive) {
    // Eight boards in turn: two healthy ones around one of each way a board can go wrong.
    auto line = StartLine("lineA", 8,
                          {"--fault-board", "2=bad-banner", "--fault-board", "3=hangup", "--fault-board", "4=early-d",
                           "--fault-board", "5=skip-sections", "--fault-board", "6=coalesced", "--fault-board",
                           "7=early-d-after-header", "--unplugged", "0.3"});
    const std::vector<std::string> files = {Sample("code.s"), Sample("FONT.bin"), Sample("LOGO.bin")};
    std::vector<std::string> more = {"--count", "8", "--expect", "firmware OK", "--fail-on", "PANIC",
                                     "--expect-within", "2"};
    more.insert(more.end(), files.begin(), files.end());
    NoPause sleeper;
    const CommandRun r = Command(RunStationCommand, Station({"lineA"}, more), sleeper);
    EXPECT_EQ(r.status, 1) << "not every board passed\n" << r.out << r.err;

    WaitForBoardEnd(*line, 8);
    const auto records = Records();
    ASSERT_EQ(records.size(), 8u) << r.out << r.err;
    const char* results[] = {"passed", "check-failed", "failed", "finished-early", "finished-early", "timed-out",
                             "finished-early", "passed"};
    for (unsigned k = 1; k <= 8; ++k) {
        const JsonValue& rec = records[k - 1];
        EXPECT_EQ(rec["board"].number, k);
        EXPECT_EQ(rec["port"].number, 1);
        EXPECT_EQ(rec["result"].text, results[k - 1]) << "board " << k << ": " << rec["message"].text;
        ExpectRecordOf(rec, "lineA", k, files, k != 3);
    }
    // The check heard each firmware say who it was.
    EXPECT_EQ(SerialHeard(records[0]), "KSTB-0001");
    EXPECT_EQ(SerialHeard(records[1]), "KSTB-0002");
    EXPECT_EQ(SerialHeard(records[7]), "KSTB-0008");
    EXPECT_NE(records[1]["message"].text.find("matches --fail-on 'PANIC'"), std::string::npos);
    EXPECT_NE(records[2]["message"].text.find("The serial line was lost!"), std::string::npos);
    EXPECT_NE(records[3]["message"].text.find("never asked for loader 1"), std::string::npos);
    EXPECT_NE(records[4]["message"].text.find("never asked for FONT and LOGO"), std::string::npos);
    EXPECT_NE(records[5]["message"].text.find("no reply from the board for 3 s"), std::string::npos);
    EXPECT_EQ(records[3]["bytes_sent"].number, 0) << "an early 'D' was sent nothing";
    EXPECT_EQ(records[3]["console"].text, "") << "no firmware listened to without a passed verdict";

    EXPECT_NE(r.out.find("lineA: board 8 passed in "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("total: 8 boards, 2 passed, 6 failed, yield 25.0 %"), std::string::npos) << r.out;
    // The virtual board saw the tool do everything right, board after board.
    line->Stop();
    EXPECT_NE(line->Report().find("result: all "), std::string::npos) << line->Report();
}

TEST_F(StationLine, FourPortsAtOnceEachBoardItsOwnVerdict) {
    const std::vector<std::string> lines = {"ttyP1", "ttyP2", "ttyP3", "ttyP4"};
    std::vector<std::unique_ptr<BoardProcess>> boards;
    boards.push_back(StartLine(lines[0], 3, {"--fault-board", "2=bad-banner"}));
    boards.push_back(StartLine(lines[1], 3, {"--fault-board", "1=hangup", "--unplugged", "0.3"}));
    boards.push_back(StartLine(lines[2], 3, {"--fault-board", "3=early-d"}));
    boards.push_back(StartLine(lines[3], 3));
    NoPause sleeper;
    const CommandRun r = Command(
        RunStationCommand,
        Station(lines, {"--count", "12", "--fail-on", "PANIC", "--expect-within", "1", Sample("FONT.bin"), Sample("LOGO.bin")}),
        sleeper);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    for (auto& b : boards)
        WaitForBoardEnd(*b, 3);
    const auto records = Records();
    ASSERT_EQ(records.size(), 12u) << r.out << r.err;
    std::map<std::string, std::vector<std::string>> byPort;
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i]["board"].number, static_cast<double>(i + 1)) << "numbered in the order they were written";
        const std::string device = records[i]["device"].text;
        byPort[device].push_back(records[i]["result"].text);
        const size_t port = static_cast<size_t>(records[i]["port"].number);
        ASSERT_GE(port, 1u);
        ASSERT_LE(port, 4u);
        EXPECT_EQ(device, Work(lines[port - 1]));
        const unsigned k = static_cast<unsigned>(byPort[device].size());
        ExpectRecordOf(records[i], lines[port - 1], k, {Sample("FONT.bin"), Sample("LOGO.bin")},
                       !(port == 2 && k == 1));
    }
    EXPECT_EQ(byPort[Work("ttyP1")], (std::vector<std::string>{"passed", "check-failed", "passed"}));
    EXPECT_EQ(byPort[Work("ttyP2")], (std::vector<std::string>{"failed", "passed", "passed"}));
    EXPECT_EQ(byPort[Work("ttyP3")], (std::vector<std::string>{"passed", "passed", "finished-early"}));
    EXPECT_EQ(byPort[Work("ttyP4")], (std::vector<std::string>{"passed", "passed", "passed"}));
    EXPECT_NE(r.out.find("total: 12 boards, 9 passed, 3 failed, yield 75.0 %"), std::string::npos) << r.out;
}

TEST_F(StationLine, APulledLineIsWaitedForAndReplugReArmsOnlyOnceTheAdapterIsBack) {
    // Pulled while the port waits for a board that is not yet powered: no board, and
    // the port goes on once the line is back.
    {
        auto line = StartLine("ttyHot", 1, {"--off", "2", "--replug-after", "0.4", "--unplugged", "0.5"});
        NoPause sleeper;
        const CommandRun r = Command(RunStationCommand, Station({"ttyHot"}, {"--count", "1", Sample("FONT.bin")}), sleeper);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_TRUE(line->HasEvent("unplugged"));
        const auto records = Records();
        ASSERT_EQ(records.size(), 1u) << r.out << r.err;
        EXPECT_EQ(records[0]["result"].text, "passed");
        EXPECT_NE(r.out.find("ttyHot: off: "), std::string::npos) << r.out;
    }
    fs::remove(Work("results.jsonl"));
    // --rearm replug: the flashed board hears no wake-up; the next board is woken only
    // once the adapter has been pulled and is back.
    auto line = StartLine("ttyUsb", 2, {"--swap-replug", "--swap", "1", "--unplugged", "0.5"});
    NoPause sleeper;
    const CommandRun r =
        Command(RunStationCommand, Station({"ttyUsb"}, {"--count", "2", "--rearm", "replug", Sample("FONT.bin")}), sleeper);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    WaitForBoardEnd(*line, 2);
    const auto records = Records();
    ASSERT_EQ(records.size(), 2u) << r.out << r.err;
    for (unsigned k = 1; k <= 2; ++k)
        ExpectRecordOf(records[k - 1], "ttyUsb", k, {Sample("FONT.bin")});
    const auto events = line->Events();
    EXPECT_FALSE(line->HasEvent("board 1 KSTB-0001 ignored done")) << "the flashed board was woken again";
    const auto unplugged = std::find(events.begin(), events.end(), "unplugged");
    const auto woken = std::find(events.begin(), events.end(), "board 2 KSTB-0002 woken");
    EXPECT_LT(unplugged, woken);
    EXPECT_NE(woken, events.end());
    EXPECT_NE(r.out.find("unplug it and plug in the next board"), std::string::npos) << r.out;
}

TEST_F(StationLine, TheFirstCtrlCLetsTheBoardUnderWayFinishAndWakesNoOther) {
    auto soon = StartLine("ttySoon", 2);
    auto late = StartLine("ttyLate", 1, {"--off", "600"});  // powered long after the station stops
    NoPause sleeper;
    RunningCommand station(RunStationCommand, Station({"ttySoon", "ttyLate"}, {Sample("code.s")}), sleeper, interrupts);
    ASSERT_TRUE(soon->WaitForEvent("board 1 KSTB-0001 answered"));
    interrupts = 1;
    const CommandRun r = station.Finish();
    EXPECT_EQ(r.status, 0) << "the one board there was passed\n" << r.out << r.err;
    EXPECT_NE(r.err.find("Stopping: no new board is woken"), std::string::npos) << r.err;
    const auto records = Records();
    ASSERT_EQ(records.size(), 1u) << r.out;
    EXPECT_EQ(records[0]["result"].text, "passed");
    EXPECT_EQ(records[0]["device"].text, Work("ttySoon"));
    EXPECT_FALSE(soon->HasEvent("board 2 KSTB-0002 woken"));
    EXPECT_FALSE(late->HasEvent("board 1 KSTB-0001 woken"));

    // Ctrl-C while every port only waits: no board, status 130.
    fs::remove(Work("results.jsonl"));
    interrupts = 0;
    auto idle = StartLine("ttyIdle", 1, {"--off", "600"});
    RunningCommand waiting(RunStationCommand, Station({"ttyIdle"}, {Sample("code.s")}), sleeper, interrupts);
    ASSERT_TRUE(idle->WaitForEvent("board 1 KSTB-0001 ignored off"));  // the port wakes
    interrupts = 1;
    const CommandRun none = waiting.Finish();
    EXPECT_EQ(none.status, 130) << none.out << none.err;
    EXPECT_TRUE(Records().empty());
}

TEST_F(StationLine, TheSecondCtrlCCancelsTheBoardUnderWayAndRecordsIt) {
    std::vector<uint8_t> map(0x60000);
    for (size_t i = 0; i < map.size(); ++i)
        map[i] = static_cast<uint8_t>(i * 13);
    WriteFile(Work("MAP.BIN"), map);
    auto line = StartLine("ttyMap", 1);
    // The protocol's pauses at a tenth: the map takes a few seconds to go out.
    RecordingSleeper sleeper(10);
    RunningCommand station(RunStationCommand, Station({"ttyMap"}, {Work("MAP.BIN")}), sleeper, interrupts);
    ASSERT_TRUE(station.WaitForOutput("ttyMap: flashing (section MAP)"));
    interrupts = 1;
    interrupts = 2;
    const CommandRun r = station.Finish();
    EXPECT_EQ(r.status, 130) << r.out << r.err;
    const auto records = Records();
    ASSERT_EQ(records.size(), 1u) << r.out << r.err;
    EXPECT_EQ(records[0]["result"].text, "cancelled");
    EXPECT_EQ(records[0]["message"].text.rfind("cancelled by the operator during section MAP", 0), 0u)
        << records[0]["message"].text;
    EXPECT_LT(records[0]["bytes_sent"].number, static_cast<double>(map.size()));
}

// kestrel-cli itself, with a limit on the size of the files it writes standing in for
// a full disk, and its output read as it comes.
struct Process {
    int status = -1;
    std::string out, err;
};
Process RunTool(const std::vector<std::string>& args, std::optional<rlim_t> fileLimit,
                const std::function<void(pid_t, const std::string&)>& whileRunning = {}) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        signal(SIGXFSZ, SIG_IGN);
        if (fileLimit) {
            const rlimit limit{*fileLimit, *fileLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    Process p;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    const auto deadline = std::chrono::steady_clock::now() + 180s;
    for (int open = 2; open > 0 && std::chrono::steady_clock::now() < deadline;) {
        if (poll(fds, 2, 100) < 0)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            (i == 0 ? p.out : p.err).append(buffer, static_cast<size_t>(n));
        }
        if (whileRunning)
            whileRunning(pid, p.out + p.err);
    }
    for (auto& f : fds)
        if (f.fd >= 0)
            ::close(f.fd);
    int st = 0;
    waitpid(pid, &st, 0);
    p.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return p;
}

TEST_F(StationLine, AResultsFileTheDiskCannotTakeIsToldAtOnceAndNoBoardIsFlashedBlind) {
    // Both lines' first boards are flashed at the same time; neither record fits.
    auto a = StartLine("ttyFullA", 2);
    auto b = StartLine("ttyFullB", 2);
    const std::string earlier = "{\"board\":1,\"result\":\"passed\"}\n";
    WriteFile(Work("results.jsonl"), std::vector<uint8_t>(earlier.begin(), earlier.end()));
    std::vector<std::string> args = Station({"ttyFullA", "ttyFullB"}, {Sample("FONT.bin")});
    args.insert(args.begin(), Bin() + "/kestrel-cli");
    const Process p = RunTool(args, earlier.size() + 20);
    EXPECT_EQ(p.status, 1) << p.out << p.err;
    EXPECT_NE(p.err.find("could not be written to the results file: File too large; no new board is woken"),
              std::string::npos)
        << p.err;
    // Each record that could not be kept is shown whole instead, and the file is as it was.
    EXPECT_NE(p.err.find("{\"board\":1,\"kind\":\"update\""), std::string::npos) << p.err;
    const auto kept = ReadFile(Work("results.jsonl"));
    EXPECT_EQ(std::string(kept.begin(), kept.end()), earlier);
    EXPECT_FALSE(a->HasEvent("board 2 KSTB-0002 woken"));
    EXPECT_FALSE(b->HasEvent("board 2 KSTB-0002 woken"));
}

TEST_F(StationLine, ThreeCtrlCsQuitAtOnceAndLeaveOnlyWholeRecords) {
    std::vector<uint8_t> map(0x60000, 0x5A);
    WriteFile(Work("MAP.BIN"), map);
    auto line = StartLine("ttyQuit", 1);
    std::vector<std::string> args = Station({"ttyQuit"}, {Work("MAP.BIN")});
    args.insert(args.begin(), Bin() + "/kestrel-cli");
    // The third Ctrl-C quits at once, without waiting for the station's threads: the
    // thread sanitizer's report of threads not joined at that exit is no fault here.
    const char* sanitizer = std::getenv("TSAN_OPTIONS");
    const std::string saved = sanitizer ? sanitizer : "";
    setenv("TSAN_OPTIONS", (saved + ":report_thread_leaks=0").c_str(), 1);
    // Each Ctrl-C once the one before has been heard (signals that come together are one).
    int sent = 0;
    const Process p = RunTool(args, std::nullopt, [&](pid_t pid, const std::string& output) {
        const char* heard[] = {"ttyQuit: flashing (section MAP)", "Stopping: ", "Cancelling "};
        if (sent < 3 && output.find(heard[sent]) != std::string::npos) {
            kill(pid, SIGINT);
            if (++sent == 3)
                return;
        }
    });
    if (sanitizer)
        setenv("TSAN_OPTIONS", saved.c_str(), 1);
    else
        unsetenv("TSAN_OPTIONS");
    EXPECT_GE(sent, 2) << p.out << p.err;
    EXPECT_EQ(p.status, 130) << p.out << p.err;
    EXPECT_EQ(p.out.find("board 1 passed"), std::string::npos) << "the board under way was let finish";
    // Whatever the station managed to keep is whole records only.
    std::ifstream in(Work("results.jsonl"));
    for (std::string l; std::getline(in, l);)
        EXPECT_TRUE(JsonReader::Read(l)) << l;
}

TEST_F(StationLine, ARefusedFileOrAnUnusableOutputTouchesNoPort) {
    auto line = StartLine("ttyRefuse", 1, {"--off", "0.2"});
    NoPause sleeper;
    std::vector<uint8_t> odd(100, 0x11);
    odd.back() = 'D';  // no section has this letter
    WriteFile(Work("odd.bin"), odd);
    const CommandRun refused = Command(RunStationCommand, Station({"ttyRefuse"}, {Sample("FONT.bin"), Work("odd.bin")}), sleeper);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("an update file was refused; no board was touched"), std::string::npos) << refused.err;
    // The results may not go over an update file, named through a link or not.
    fs::create_symlink(Sample("FONT.bin"), Work("font-link"));
    auto args = Station({"ttyRefuse"}, {Sample("FONT.bin")});
    *std::find(args.begin(), args.end(), Work("results.jsonl")) = Work("font-link");
    const CommandRun overInput = Command(RunStationCommand, args, sleeper);
    EXPECT_EQ(overInput.status, 1);
    EXPECT_NE(overInput.err.find("which this run uses"), std::string::npos) << overInput.err;
    EXPECT_NE(overInput.err.find("no board was touched"), std::string::npos) << overInput.err;
    // A trace folder that is a file.
    WriteFile(Work("not-a-folder"), {1, 2, 3});
    const CommandRun trace = Command(RunStationCommand, Station({"ttyRefuse"}, {"--trace", Work("not-a-folder"), Sample("FONT.bin")}), sleeper);
    EXPECT_EQ(trace.status, 1) << trace.err;
    EXPECT_NE(trace.err.find("trace folder"), std::string::npos) << trace.err;
    for (const std::vector<std::string>& usage :
         {std::vector<std::string>{"--rearm", "sometimes", Sample("FONT.bin")}, {"--wake-every", "0", Sample("FONT.bin")},
          {"--expect", "([", Sample("FONT.bin")}, {"--count", "0", Sample("FONT.bin")}, {}}) {
        EXPECT_EQ(Command(RunStationCommand, Station({"ttyRefuse"}, usage), sleeper).status, 2);
    }
    EXPECT_EQ(Command(RunStationCommand, Station({"ttyRefuse", "ttyRefuse"}, {Sample("FONT.bin")}), sleeper).status, 2);
    // Nothing of all this reached the board: it never heard a wake-up.
    line->Stop();
    EXPECT_FALSE(line->HasEvent("board 1 KSTB-0001 ignored off"));
    EXPECT_FALSE(line->HasEvent("board 1 KSTB-0001 woken"));
    EXPECT_FALSE(fs::exists(Work("results.jsonl")));
    EXPECT_EQ(ReadFile(Sample("FONT.bin")).size(), 3001u);
}

TEST_F(StationLine, RearmByKeyWakesAPortsNextBoardOnlyWhenItsNumberIsTyped) {
    auto one = StartLine("ttyK1", 2);
    auto two = StartLine("ttyK2", 1);
    NoPause sleeper;
    RunningCommand station(RunStationCommand, Station({"ttyK1", "ttyK2"}, {"--rearm", "key", "--count", "3", Sample("FONT.bin")}),
                           sleeper, interrupts);
    ASSERT_TRUE(station.WaitForOutput("ttyK1: PASS"));
    ASSERT_TRUE(station.WaitForOutput("ttyK2: PASS"));
    EXPECT_NE(station.Out().find("type the port's number and Enter for the next board"), std::string::npos);
    // The other port's number, then something that is no port: port 1 keeps waiting.
    station.Type("2\nthree\n");
    ASSERT_TRUE(one->WaitForEvent("board 2 KSTB-0002 on"));
    EXPECT_FALSE(one->HasEvent("board 2 KSTB-0002 ignored off"));
    station.Type("1\n");
    const CommandRun r = station.Finish();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("Type the port's number (1 to 2)"), std::string::npos) << r.err;
    EXPECT_EQ(Records().size(), 3u);
    EXPECT_TRUE(one->HasEvent("board 2 KSTB-0002 woken"));
}

TEST_F(StationLine, UpdateAndEraseKeepARecordOfEachBoardToo) {
    // One board: the record names what its flash was sent, as the board received it.
    auto single = StartBoard({"--crystal", "27M", "--once", "--reply-gap-ms", "40", "--progress-gap-ms", "15"});
    NoPause sleeper;
    const CommandRun update = Command(RunUpdateCommand,
                                      {"update", "--device", single->Device(), "--crystal", "27M", "--results",
                                       Work("results.jsonl"), Sample("FONT.bin"), Sample("LOGO.bin")},
                                      sleeper);
    EXPECT_EQ(update.status, 0) << update.out << update.err;
    EXPECT_EQ(single->Wait(), 0) << single->Report();
    auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["kind"].text, "update");
    EXPECT_EQ(records[0]["result"].text, "passed");
    EXPECT_EQ(records[0]["device"].text, single->Device());
    EXPECT_EQ(records[0]["wire_sha256"].text, HashOf(Work("flash.bin.wire")));
    EXPECT_EQ(records[0]["files"].items[1]["sha256"].text, HashOf(Sample("LOGO.bin")));

    // Several boards, one of them absent: a record each, in the same file.
    auto a = StartLine("ttyEraseA", 1, {"--off", "0"});
    auto b = StartLine("ttyEraseB", 1, {"--off", "0"});
    const CommandRun erase = Command(RunEraseCommand,
                                     {"erase", "--crystal", "27M", "--timeout", "10", "--results", Work("results.jsonl"),
                                      "--device", Work("ttyEraseA"), "--device", Work("ttyEraseB"), "--device",
                                      "/dev/kestrel-absent"},
                                     sleeper);
    EXPECT_EQ(erase.status, 1) << erase.out << erase.err;
    records = Records();
    ASSERT_EQ(records.size(), 4u) << erase.out << erase.err;
    std::map<std::string, std::string> results;
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(records[i]["kind"].text, "erase");
        EXPECT_TRUE(records[i]["files"].items.empty());
        results[records[i]["device"].text] = records[i]["result"].text;
    }
    EXPECT_EQ(results[Work("ttyEraseA")], "passed");
    EXPECT_EQ(results[Work("ttyEraseB")], "passed");
    EXPECT_EQ(results["/dev/kestrel-absent"], "failed");

    // A refused file touches no board and records none; the results may not replace an input.
    std::vector<uint8_t> odd(100, 0x11);
    odd.back() = 'D';
    WriteFile(Work("odd.bin"), odd);
    const CommandRun refused = Command(
        RunUpdateCommand, {"update", "--device", Work("ttyEraseA"), "--results", Work("results.jsonl"), Work("odd.bin")}, sleeper);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(Records().size(), 4u);
    const CommandRun over = Command(
        RunUpdateCommand, {"update", "--device", Work("ttyEraseA"), "--results", Sample("FONT.bin"), Sample("FONT.bin")}, sleeper);
    EXPECT_EQ(over.status, 1);
    EXPECT_NE(over.err.find("which this run uses"), std::string::npos) << over.err;
}

}  // namespace
