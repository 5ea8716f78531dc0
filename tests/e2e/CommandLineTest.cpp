// The command line as scripts and operators use it: options, cancelling, timeouts,
// the console's ends, and a library that cannot carry the run.
#include <sys/stat.h>

#include <sstream>

#include "cli/SaveCommand.h"
#include "engine/LogTexts.h"
#include "engine/Messages.h"
#include "tests/e2e/EndToEndFixture.h"
#include "tests/support/Pty.h"

namespace {

namespace fs = std::filesystem;

int Save(int argc, char** argv, const CommandContext&) { return RunSaveCommand(argc, argv); }

TEST_F(EndToEnd, OptionsStandAnywhereOrAreRefusedAlikeByEveryCommand) {
    NoPause sleeper;
    const std::string font = Sample("FONT.bin");
    const struct {
        CommandFunction command;
        std::vector<std::string> args;
    } refused[] = {
        {RunUpdateCommand, {"update", "--device", "D", font, "--bogus"}},
        {RunUpdateCommand, {"update", font, "--device"}},
        {RunUpdateCommand, {"update", "--device", "D", font, "--timeout", "soon"}},
        {RunEraseCommand, {"erase", "--device", "D", "--reserve"}},
        {RunEraseCommand, {"erase", "extra", "--device", "D"}},
        {RunConsoleCommand, {"console", "--device", "D", "--bogus"}},
        {RunConsoleCommand, {"console", "--timeout", "-1", "--device", "D"}},
        {RunConsoleCommand, {"console", "--device", "D", "--settings", "abc"}},
        {RunConsoleCommand, {"console", "--device", "D", "--settings", "115200,N,8"}},
        {Save, {"save", font, "--bogus"}},
        {Save, {"save", font, "--output"}},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.args.back());
        EXPECT_EQ(Command(c.command, c.args, sleeper).status, 2);
    }

    // Taken after the files: the run gets as far as the line (and waiting for ever is
    // a choice, not a usage error).
    const CommandRun update =
        Command(RunUpdateCommand, {"update", font, "--device", "/dev/kestrel-absent", "--timeout", "0"}, sleeper);
    EXPECT_EQ(update.status, 1);
    EXPECT_NE(update.err.find("Can't open port!\n/dev/kestrel-absent"), std::string::npos) << update.err;
    const CommandRun save = Command(Save, {"save", font, "--output", Work("out.bin")}, sleeper);
    EXPECT_EQ(save.status, 0) << save.err;
    EXPECT_TRUE(fs::exists(Work("out.bin")));
}

TEST_F(EndToEnd, LoaderTwoStopsAtTheNextBlockWhenCancelledOrWhenTheBoardDies) {
    // A loader 2 of 256 blocks, so that the run is plainly in the middle of it.
    const std::string lib = CopyOfLib();
    std::vector<uint8_t> loader(4 + 256 * 2048 + 1);
    for (size_t i = 0; i < loader.size(); ++i)
        loader[i] = static_cast<uint8_t>(i * 7);
    WriteFile(lib + "/Pgm_M850T.bin", loader);
    for (const bool cancel : {true, false}) {
        SCOPED_TRACE(cancel ? "Ctrl-C" : "board killed");
        interrupts = 0;
        auto board = StartBoard({"--crystal", "27M", "--lib", lib, "--reply-gap-ms", "40"});
        RecordingSleeper sleeper(30);
        std::atomic<RunningCommand*> running{nullptr};
        // Pauses: the wake-up, loader 1, loader 2's header, then one per block.
        constexpr size_t kStopAt = 20;
        sleeper.afterPause = [&](size_t pauses) {
            if (pauses != kStopAt)
                return;
            if (cancel) {
                interrupts = 1;
                running.load()->WaitForOutput("Stop updating!!!");  // the Cancel has been made
            } else {
                board->Kill();
            }
        };
        RunningCommand command(RunUpdateCommand,
                               {"update", "--device", board->Device(), "--crystal", "27M", "--lib", lib,
                                "--timeout", "30", Sample("FONT.bin")},
                               sleeper, interrupts);
        running = &command;
        command.EndInput();
        const CommandRun r = command.Finish();
        EXPECT_EQ(r.status, cancel ? 130 : 1) << r.out << r.err;
        ExpectLogInOrder(r.out, {"2.Loading loader 2...."});
        EXPECT_EQ(r.out.find("3.Loading update data...."), std::string::npos);
        EXPECT_LE(sleeper.Pauses().size(), kStopAt + 1) << "the download went on after it should have stopped";
        if (!cancel) {
            EXPECT_NE(r.err.find("The serial line was lost!"), std::string::npos) << r.err;
        }
    }
}

TEST_F(EndToEnd, CtrlCWhileWaitingForTheBoardEndsTheRunAndTimeoutZeroIsAChoice) {
    auto board = StartBoard({"--crystal", "27M", "--fault", "silent"});
    RecordingSleeper sleeper;
    sleeper.afterPause = [&](size_t pauses) {
        if (pauses == 1)  // the wake-up is out; the tool waits for the board
            interrupts = 1;
    };
    const CommandRun r = Command(RunEraseCommand, {"erase", "--timeout", "0", "--device", board->Device(), "--crystal", "27M"},
                                 sleeper);
    EXPECT_EQ(r.status, 130) << r.out << r.err;
    ExpectLogInOrder(r.out, {"----Erase Flash:", "Stop updating!!!"});
}

TEST_F(EndToEnd, TheConsoleEndsWithAFailureSoonAfterTheLineIsLost) {
    auto board = StartBoard({"--crystal", "27M"});
    NoPause sleeper;
    RunningCommand console(RunConsoleCommand, {"console", "--device", board->Device()}, sleeper, interrupts);
    console.Type("pcdemo\n");
    ASSERT_TRUE(console.WaitForOutput("PC demo mode started"));
    board->Kill();
    // The input stays open: only the lost line can end the console.
    ASSERT_TRUE(WaitUntil([&] { return console.Done(); }, std::chrono::seconds(30)));
    const CommandRun r = console.Finish();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("The serial line was lost!"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the console ends"), std::string::npos) << r.err;
}

TEST_F(EndToEnd, InitflashTypedIntoTheConsoleIsFollowedToItsEndAndGivesItsStatus) {
    {
        WriteFile(Work("flash.bin"), std::vector<uint8_t>(0x100000, 0x00));
        // Programming reports 100 ms apart: the erase outlasts the console's moment
        // for the board's answer after the input has ended.
        auto board = StartBoard({"--crystal", "27M", "--progress-gap-ms", "100"});
        NoPause sleeper;
        const CommandRun r =
            Command(RunConsoleCommand, {"console", "--device", board->Device(), "--crystal", "27M"}, sleeper, "initflash\n");
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        ExpectLogInOrder(r.out, {"----Erase Flash:", "4.Programing flash....", "5.Update finished!!!"});
        EXPECT_EQ(board->Stop(), 0) << board->Report();
        const auto flash = ReadFile(Work("flash.bin"));
        EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](uint8_t b) { return b == 0xFF; }));
    }
    {
        auto board = StartBoard({"--crystal", "27M", "--fault", "silent"});
        NoPause sleeper;
        const CommandRun r = Command(RunConsoleCommand,
                                     {"console", "--device", board->Device(), "--crystal", "27M", "--timeout", "1"},
                                     sleeper, "initflash\n");
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_NE(r.err.find("no reply from the board for 1 s while waiting for the board's first request"),
                  std::string::npos)
            << r.err;
    }
}

TEST_F(EndToEnd, ALibraryThatCannotCarryTheRunIsRefusedBeforeTheBoardHearsAnything) {
    const std::string lib = CopyOfLib();
    const auto restore = [&] {
        fs::remove_all(lib);
        fs::copy(Bin() + "/Lib", lib);
    };
    const struct {
        const char* what;
        std::function<void()> spoil;
        const char* told;
    } cases[] = {
        {"loader 2 is a folder",
         [&] { fs::remove(lib + "/Pgm_M850T.bin"), fs::create_directory(lib + "/Pgm_M850T.bin"); },
         "Open pgm2 failed!"},
        {"loader 2 is /dev/zero",
         [&] { fs::remove(lib + "/Pgm_M850T.bin"), fs::create_symlink("/dev/zero", lib + "/Pgm_M850T.bin"); },
         "Pgm_M850T.bin: is not a regular file"},
        {"the address file has no CodeBufSize",
         [&] { std::ofstream(lib + "/FlashAddrAssign.h", std::ios::trunc) << "#define FontBufSize 0x20000\n"; },
         "has no CodeBufSize"},
        {"the address file gives a size in decimal, which the firmware's compiler reads otherwise",
         [&] {
             std::ofstream(lib + "/FlashAddrAssign.h", std::ios::trunc)
                 << "#define CodeBufSize 0x80000\n#define FontBufSize 131072\n#define BmpBufSize 0x30000\n"
                    "#define EsLogoPicBufSize 0x10000\n";
         },
         "FlashAddrAssign.h, line 2: FontBufSize is 131072, a decimal number"},
        {"the settings file is a folder",
         [&] { fs::remove(lib + "/M850T.ini"), fs::create_directory(lib + "/M850T.ini"); },
         "M850T.ini: is a folder, not a file"},
    };
    NoPause sleeper;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        restore();
        c.spoil();
        for (const bool erase : {true, false}) {
            SCOPED_TRACE(erase ? "erase" : "update");
            TestPty board;
            std::vector<std::string> args = {erase ? "erase" : "update", "--device", board.SlavePath(), "--lib", lib,
                                             "--crystal", "27M"};
            if (!erase)
                args.push_back(Sample("FONT.bin"));
            const CommandRun r = Command(erase ? RunEraseCommand : RunUpdateCommand, args, sleeper);
            EXPECT_EQ(r.status, 1) << r.out << r.err;
            EXPECT_NE(r.err.find(c.told), std::string::npos) << r.err;
            EXPECT_TRUE(board.Receive(1, 100).empty()) << "the board was woken";
        }
    }
}

TEST_F(EndToEnd, AFinishTheBoardCouldNotHaveReachedFailsUpdateEraseAndTheConsolesInitflash) {
    const struct {
        const char* fault;
        CommandFunction command;
        std::vector<std::string> files;  // none: an erase, or "initflash" typed into the console
        bool console;
        const char* told;
    } cases[] = {
        {"early-d", RunUpdateCommand, {Sample("code.s"), Sample("FONT.bin")}, false,
         "the board reported finished, but it never asked for loader 1, loader 2 and the section header"},
        {"early-d-after-header", RunUpdateCommand, {Sample("code.s"), Sample("FONT.bin")}, false,
         "the board reported finished, but it never asked for CODE and FONT"},
        {"skip-sections", RunUpdateCommand, {Sample("code.s"), Sample("FONT.bin"), Sample("LOGO.bin")}, false,
         "the board reported finished, but it never asked for FONT and LOGO"},
        {"early-d", RunEraseCommand, {}, false,
         "the board reported finished, but it never asked for loader 1, loader 2 and the section header, and it never "
         "reported the erase through to 16 of 16"},
        // An erase holds the board's reports through to 16: a 'D' straight after the
        // header erased nothing.
        {"early-d-after-header", RunEraseCommand, {}, false,
         "the board reported finished, but it never reported the erase through to 16 of 16"},
        {"early-d", RunConsoleCommand, {}, true,
         "the board reported finished, but it never asked for loader 1, loader 2 and the section header, and it never "
         "reported the erase through to 16 of 16"},
    };
    NoPause sleeper;
    for (const auto& c : cases) {
        const std::string name = c.files.empty() ? (c.console ? "console" : "erase") : "update";
        SCOPED_TRACE(name + " --fault " + c.fault);
        auto board = StartBoard({"--crystal", "27M", "--once", "--fault", c.fault, "--reply-gap-ms", "20", "--progress-gap-ms", "5"});
        std::vector<std::string> args = {name, "--device", board->Device(), "--crystal", "27M", "--timeout", "20"};
        args.insert(args.end(), c.files.begin(), c.files.end());
        const CommandRun r = Command(c.command, args, sleeper, c.console ? "initflash\n" : "");
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        // The board's word is logged as it said it; the verdict says what it never got.
        ExpectLogInOrder(r.out, {"5.Update finished!!!"});
        EXPECT_NE(r.err.find("Error: " + std::string(c.told) + "\n"), std::string::npos) << r.err;
        board->Stop();
    }
}

TEST_F(EndToEnd, ARunGivenUpAfterRepliesThatAreNoRequestSaysWhatArrived) {
    const struct {
        const char* fault;
        const char* told;
    } cases[] = {
        {"double", "; the board sent 2 bytes that are no request: 57 57\n"},
        {"garbage", "; the board sent 5 bytes that are no request: 7f a5 3c c3 99\n"},
    };
    NoPause sleeper;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        auto board = StartBoard({"--crystal", "27M", "--once", "--fault", c.fault});
        const CommandRun r = Command(
            RunUpdateCommand, {"update", "--device", board->Device(), "--crystal", "27M", "--timeout", "2", Sample("FONT.bin")},
            sleeper);
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_NE(r.err.find("Error: no reply from the board for 2 s while waiting for the board's first request ('W') "
                             "after the wake-up" + std::string(c.told)),
                  std::string::npos)
            << r.err;
        board->Stop();
    }
}

TEST_F(EndToEnd, PipedConsoleCommandsGoOutEachAMomentAfterTheOneBefore) {
    auto board = StartBoard({"--crystal", "27M"});
    NoPause sleeper;
    const CommandRun r = Command(RunConsoleCommand, {"console", "--device", board->Device(), "--trace", Work("wire.trace")},
                                 sleeper, "pcdemo\npcdemo\nreset\npcdemo\n");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    // The writes as the line made them, with their times.
    std::ifstream trace(Work("wire.trace"));
    std::vector<std::pair<double, std::string>> writes;
    for (std::string line; std::getline(trace, line);) {
        std::istringstream words(line);
        double seconds = 0;
        std::string word, hex;
        words >> seconds >> word >> hex;
        if (word == "TX")
            writes.emplace_back(seconds, hex);
    }
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[0].second, std::string(32, 'e'));
    EXPECT_EQ(writes[2].second, std::string(32, 'f'));
    for (size_t i = 1; i < writes.size(); ++i)
        EXPECT_GE(writes[i].first - writes[i - 1].first, 0.020) << "write " << i << " followed too soon";
    // Both demo commands before the reset reached the board as two.
    board->Stop();
    const std::string report = board->Report();
    const size_t first = report.find("console: pcdemo");
    ASSERT_NE(first, std::string::npos) << report;
    EXPECT_NE(report.find("console: pcdemo", first + 1), std::string::npos) << report;
}

TEST_F(EndToEnd, TheBoardsControlBytesReachATerminalAsTextAndAPipeAsTheyCame) {
    const std::string board = "\x1b]0;owned\x07\x1b[2J\tBoot\x7f ok\r\n";
    for (const bool terminal : {true, false}) {
        SCOPED_TRACE(terminal ? "terminal" : "pipe");
        TestPty pty;
        NoPause sleeper;
        RunningCommand console(RunConsoleCommand, {"console", "--device", pty.SlavePath()}, sleeper, interrupts, terminal);
        // The line is open once the console can answer a command.
        console.Type("pcdemo\n");
        ASSERT_EQ(pty.Receive(16, 10000).size(), 16u);
        pty.Send(board);
        ASSERT_TRUE(console.WaitForOutput("ok"));
        console.EndInput();
        const CommandRun r = console.Finish();
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, terminal ? "\\x1b]0;owned\\x07\\x1b[2J\tBoot\\x7f ok\r\n" : board);
    }
}

}  // namespace
