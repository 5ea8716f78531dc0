// What the board commands refuse before any line is opened: a wire trace, a log or the
// console's saved text that would destroy a file the run reads (or any file that is no
// trace), the operator's own terminal as a line, and settings the file holds outside
// their lists. In each case the board hears nothing and every file stays as it was.
#include <sys/stat.h>

#include "tests/e2e/EndToEndFixture.h"
#include "tests/support/Pty.h"
#include "trace/TracePath.h"

namespace {

namespace fs = std::filesystem;

std::string Text(const std::string& path) {
    const auto bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

bool BeginsLikeATraceFile(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return BeginsLikeATrace(line);
}

// The file of a pty's board in a folder of one file per board: /dev/pts/3 is "pts_3".
std::string BoardFile(const TestPty& pty, const std::string& extension) {
    return "pts_" + fs::path(pty.SlavePath()).filename().string() + extension;
}

TEST_F(EndToEnd, ATraceNeverTakesTheNameOfAFileTheRunReadsNorOfAnythingButATrace) {
    const std::string lib = CopyOfLib();
    fs::copy(Sample("code.s"), Work("mine.s"));
    fs::create_directory(Work("folder"));
    ASSERT_EQ(mkfifo(Work("fifo").c_str(), 0600), 0);
    WriteFile(Work("empty.trace"), {});
    std::ofstream(Work("old.trace")) << "0.000000 NOTE trace began 2026-01-01 00:00:00 UTC\n";
    TestPty board;
    const std::string font = Sample("FONT.bin");
    const struct {
        const char* what;
        std::vector<std::string> trace;  // "--trace" and its name, and the files
        bool refused;
    } cases[] = {
        {"an update file named as the trace too", {"--trace", Work("mine.s"), Work("mine.s"), font}, true},
        {"the trace's name forgotten: the firmware taken for it", {"--trace", Work("mine.s"), font}, true},
        {"the line itself", {"--trace", board.SlavePath(), font}, true},
        {"a loader", {"--trace", lib + "/Pgm_27M.bin", font}, true},
        {"a loader of another crystal", {"--trace", lib + "/Pgm_4M.bin", font}, true},
        {"the address file", {"--trace", lib + "/FlashAddrAssign.h", font}, true},
        {"the settings file", {"--trace", lib + "/M850T.ini", font}, true},
        {"a device", {"--trace", "/dev/null", font}, true},
        {"a folder", {"--trace", Work("folder"), font}, true},
        {"a pipe", {"--trace", Work("fifo"), font}, true},
        {"an option where the name belongs", {"--trace", "--reserve", font}, true},
        {"an empty file", {"--trace", Work("empty.trace"), font}, false},
        {"an earlier trace", {"--trace", Work("old.trace"), font}, false},
        {"a new file", {"--trace", Work("new.trace"), font}, false},
    };
    NoPause sleeper;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string before = Text(Work("mine.s")) + Text(lib + "/Pgm_27M.bin") + Text(lib + "/M850T.ini");
        std::vector<std::string> args = {"update", "--device", board.SlavePath(), "--lib", lib, "--crystal", "27M",
                                         "--timeout", "1"};
        args.insert(args.end(), c.trace.begin(), c.trace.end());
        const CommandRun r = Command(RunUpdateCommand, args, sleeper);
        const std::vector<uint8_t> heard = board.Receive(16, c.refused ? 100 : 5000);
        if (c.refused) {
            EXPECT_EQ(r.status, 2) << r.out << r.err;
            EXPECT_NE(r.err.find("cannot record the wire trace"), std::string::npos) << r.err;
            EXPECT_TRUE(heard.empty()) << "the board was woken";
        } else {
            EXPECT_EQ(r.status, 1) << r.out << r.err;  // the pty never answers
            EXPECT_EQ(heard.size(), 16u) << "the board was not woken";
            EXPECT_TRUE(BeginsLikeATraceFile(c.trace[1]));
        }
        EXPECT_EQ(Text(Work("mine.s")) + Text(lib + "/Pgm_27M.bin") + Text(lib + "/M850T.ini"), before);
    }
    EXPECT_TRUE(fs::is_directory(Work("folder")));
    EXPECT_EQ(Text(Work("mine.s")), Text(Sample("code.s")));
}

TEST_F(EndToEnd, SeveralBoardsRecordTheirTracesOnlyIntoAFolderOfTracesAndTheirLogsOverNothingTheyRead) {
    TestPty a, b;
    fs::copy(Sample("FONT.bin"), Work("FONT.bin"));
    fs::create_directories(Work("traces"));
    std::ofstream(Work("traces/" + BoardFile(b, ".trace"))) << "notes of mine\n";
    fs::create_directories(Work("logs/" + BoardFile(a, ".log")));
    const struct {
        const char* what;
        std::vector<std::string> options;
        const char* told;
    } cases[] = {
        {"the trace folder is the firmware", {"--trace", Work("FONT.bin")}, "is not a folder"},
        {"a board's trace would replace a file of notes", {"--trace", Work("traces")}, "other than a wire trace"},
        {"a board's log is a folder", {"--log-dir", Work("logs")}, "it is a folder"},
    };
    NoPause sleeper;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = {"update", "--device", a.SlavePath(), "--device", b.SlavePath(), "--crystal", "27M",
                                         Work("FONT.bin")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const CommandRun r = Command(RunUpdateCommand, args, sleeper);
        EXPECT_EQ(r.status, 2) << r.out << r.err;
        EXPECT_NE(r.err.find(c.told), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("no board was touched"), std::string::npos) << r.err;
        EXPECT_TRUE(a.Receive(1, 100).empty());
        EXPECT_TRUE(b.Receive(1, 100).empty());
    }
    EXPECT_EQ(ReadFile(Work("FONT.bin")), ReadFile(Sample("FONT.bin")));
    EXPECT_EQ(Text(Work("traces/" + BoardFile(b, ".trace"))), "notes of mine\n");
}

TEST_F(EndToEnd, TheOperatorsOwnTerminalIsRefusedAsALine) {
    NoPause sleeper;
    const struct {
        CommandFunction command;
        std::vector<std::string> args;
    } cases[] = {
        {RunUpdateCommand, {"update", "--device", "/dev/tty", Sample("FONT.bin")}},
        {RunEraseCommand, {"erase", "--device", "/dev/tty"}},
        {RunConsoleCommand, {"console", "--device", "/dev/tty"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        const CommandRun r = Command(c.command, c.args, sleeper, "reset\n");
        EXPECT_EQ(r.status, 2) << r.out << r.err;
        EXPECT_NE(r.err.find("/dev/tty is the terminal Kestrel runs in, not a line to a board"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(EndToEnd, TheConsolesSaveFileIsCheckedBeforeTheLineIsOpened) {
    fs::create_directory(Work("folder"));
    const std::string lib = CopyOfLib();
    const struct {
        std::string save;
        const char* told;
    } cases[] = {
        {"/dev/null", "no regular file"},
        {Work("folder"), "it is a folder"},
        {Work("missing/stbinfo.txt"), "No such file or directory"},
        {lib + "/M850T.ini", "which this run reads"},
    };
    NoPause sleeper;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.save);
        TestPty board;
        const CommandRun r = Command(RunConsoleCommand, {"console", "--device", board.SlavePath(), "--lib", lib, "--save", c.save},
                                     sleeper, "pcdemo\n");
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_NE(r.err.find(c.told), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("the console was not started"), std::string::npos) << r.err;
        EXPECT_TRUE(board.Receive(1, 100).empty()) << "the command went out";
    }
    EXPECT_TRUE(fs::is_directory(Work("folder")));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_EQ(Text(lib + "/M850T.ini"), Text(Bin() + "/Lib/M850T.ini"));
}

TEST_F(EndToEnd, SettingsOutsideTheirListsAreNamedAndStopTheRunBeforeTheLineIsOpened) {
    const std::string lib = CopyOfLib();
    const struct {
        const char* settings;
        std::vector<std::string> extra;
        const char* told;
    } cases[] = {
        {"[PLANT]\nXTLO=9\n", {}, "holds [PLANT] XTLO=9, which is not in its list (0 = 4M"},
        {"[COM]\nbaudrate=99\n", {"--crystal", "27M"}, "holds [COM] baudrate=99, which is not in its list (0 = 115200"},
        {"[COM]\nstopbits=3\n", {"--crystal", "27M"}, "holds [COM] stopbits=3, which is not in its list (0 = 1)"},
    };
    NoPause sleeper;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        std::ofstream(lib + "/M850T.ini", std::ios::trunc) << c.settings;
        for (const bool erase : {false, true}) {
            TestPty board;
            std::vector<std::string> args = {erase ? "erase" : "update", "--device", board.SlavePath(), "--lib", lib};
            args.insert(args.end(), c.extra.begin(), c.extra.end());
            if (!erase)
                args.push_back(Sample("FONT.bin"));
            const CommandRun r = Command(erase ? RunEraseCommand : RunUpdateCommand, args, sleeper);
            EXPECT_EQ(r.status, 1) << r.out << r.err;
            EXPECT_NE(r.err.find("the settings file " + lib + "/M850T.ini " + c.told), std::string::npos) << r.err;
            EXPECT_EQ(r.err.find("Can't open port!"), std::string::npos) << r.err;
            EXPECT_EQ(r.err.find("No crystal is chosen"), std::string::npos) << r.err;
            EXPECT_TRUE(board.Receive(1, 100).empty()) << "the board was woken";
        }
    }
    // A console that needs no crystal runs; its "initflash" is refused with the same words.
    std::ofstream(lib + "/M850T.ini", std::ios::trunc) << "[PLANT]\nXTLO=9\n";
    TestPty board;
    const CommandRun console =
        Command(RunConsoleCommand, {"console", "--device", board.SlavePath(), "--lib", lib}, sleeper, "pcdemo\ninitflash\n");
    EXPECT_EQ(console.status, 1) << console.out << console.err;
    EXPECT_NE(console.err.find("holds [PLANT] XTLO=9, which is not in its list"), std::string::npos) << console.err;
    EXPECT_EQ(board.Receive(32, 2000), std::vector<uint8_t>(16, 0xEE)) << "pcdemo, and no wake-up";
}

TEST_F(EndToEnd, ASettingReadAsZeroIsSaidOnceAndTheRunGoesOn) {
    const std::string lib = CopyOfLib();
    std::ofstream(lib + "/M850T.ini", std::ios::trunc) << "[COM]\nbaudrate=fast\nparity=-2\n";
    std::vector<std::unique_ptr<BoardProcess>> boards;
    std::vector<std::string> args = {"erase", "--lib", lib, "--crystal", "27M", "--timeout", "20"};
    for (const char* name : {"ttyA", "ttyB"}) {
        boards.push_back(std::make_unique<BoardProcess>(
            Bin(), std::vector<std::string>{"--crystal", "27M", "--once", "--reply-gap-ms", "20", "--progress-gap-ms", "5",
                                            "--flash", Work(std::string(name) + ".flash"), "--link", Work(name)},
            Work(std::string(name) + ".log")));
        args.insert(args.end(), {"--device", Work(name)});
    }
    NoPause sleeper;
    const CommandRun r = Command(RunEraseCommand, args, sleeper);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    for (const char* said : {"holds [COM] baudrate=fast, which is not a number; it is read as 0 (115200)",
                             "holds [COM] parity=-2, which is negative; it is read as 0 (None)"}) {
        const size_t at = r.err.find(said);
        EXPECT_NE(at, std::string::npos) << r.err;
        EXPECT_EQ(r.err.find(said, at + 1), std::string::npos) << "said more than once:\n" << r.err;
    }
}

}  // namespace
