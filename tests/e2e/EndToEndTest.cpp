// Whole updates from the command-line front end to the virtual board over a pty:
// the wire exchange, the board's flash afterwards, and every way it can go wrong.
#include <sys/file.h>

#include <regex>

#include "tests/e2e/EndToEndFixture.h"
#include "tests/support/Pty.h"

namespace {

namespace fs = std::filesystem;

// The board's flash after an update of these files into a fresh board, worked out
// without the tool's image code: region starts from the address file, the code from
// srec_cat's binary of the S-record file with its length patched in as the code image
// carries it, and the section files as they are, letter included.
std::vector<uint8_t> ExpectedFlash(const std::vector<std::string>& files, const std::string& scratch) {
    std::ifstream layoutFile(ExecutableFolder() + "/Lib/FlashAddrAssign.h");
    const std::string layout((std::istreambuf_iterator<char>(layoutFile)), {});
    auto size = [&](const char* key) {
        std::smatch m;
        const bool found = std::regex_search(layout, m, std::regex(std::string(key) + R"(\s+0x([0-9A-Fa-f]+))"));
        EXPECT_TRUE(found) << key;
        return found ? static_cast<uint32_t>(std::stoul(m[1], nullptr, 16)) : 0u;
    };
    const uint32_t fontStart = size("CodeBufSize");
    const uint32_t bmpStart = fontStart + size("FontBufSize");
    const uint32_t logoStart = bmpStart + size("BmpBufSize");

    std::vector<uint8_t> flash(0x100000, 0xFF);
    for (const auto& file : files) {
        std::vector<uint8_t> bytes;
        uint32_t start = 0;
        if (file.size() > 2 && file.substr(file.size() - 2) == ".s") {
            const std::string binary = scratch + "/code-from-srec_cat.bin";
            const std::string convert = "srec_cat '" + file + "' -offset -0x80000000 -o '" + binary + "' -binary";
            EXPECT_EQ(std::system(convert.c_str()), 0) << convert;
            bytes = ReadFile(binary);
            const auto length = static_cast<uint32_t>(bytes.size() + 4);  // the code image's own length
            EXPECT_GE(length, 0x4000u) << "a full code image is expected, not a small program";
            bytes.at(0x17C) = 0x00;
            for (int i = 0; i < 4; ++i)
                bytes.at(0x194 + i) = static_cast<uint8_t>(length >> (24 - 8 * i));
        } else {
            bytes = ReadFile(file);
            const char letter = static_cast<char>(bytes.back());
            start = letter == 'F' ? fontStart : letter == 'B' ? bmpStart : logoStart;
        }
        std::copy(bytes.begin(), bytes.end(), flash.begin() + start);
    }
    return flash;
}

void ExpectSameFlash(const std::vector<uint8_t>& flash, const std::vector<uint8_t>& expected) {
    ASSERT_EQ(flash.size(), expected.size());
    const auto differs = std::mismatch(flash.begin(), flash.end(), expected.begin());
    EXPECT_TRUE(differs.first == flash.end()) << "the flash differs first at offset 0x" << std::hex
                                              << (differs.first - flash.begin());
}

const std::vector<std::string> kLog = {"Ready to update program......", "1.Loading loader 1...",
                                       "2.Loading loader 2....",          "3.Loading update data....",
                                       "4.Programing flash....",          "5.Update finished!!!"};


TEST_F(EndToEnd, CodeFontBitmapAndLogoLandInTheBoardsFlash) {
    auto board = StartBoard({"--crystal", "27M", "--once", "--reply-gap-ms", "40", "--progress-gap-ms", "15"});
    NoPause sleeper;
    const std::vector<std::string> files = {Sample("code.s"), Sample("FONT.bin"), Sample("BITMAP.bin"),
                                            Sample("LOGO.bin")};
    // Options may follow the files.
    std::vector<std::string> args = {"update"};
    args.insert(args.end(), files.begin(), files.end());
    args.insert(args.end(), {"--device", board->Device(), "--crystal", "27M", "--timeout", "20"});
    const CommandRun r = Command(RunUpdateCommand, args, sleeper);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    ExpectLogInOrder(r.out, kLog);
    EXPECT_EQ(board->Wait(), 0) << board->Report();
    ExpectSameFlash(ReadFile(Work("flash.bin")), ExpectedFlash(files, work.string()));
}

TEST_F(EndToEnd, ACompleteFlashMapGoesOutWhole) {
    std::vector<uint8_t> map(0x60000);
    for (size_t i = 0; i < map.size(); ++i)
        map[i] = static_cast<uint8_t>((i * 2654435761u) >> 24);
    WriteFile(Work("MAP.BIN"), map);
    auto board = StartBoard({"--crystal", "13.5M", "--once", "--reply-gap-ms", "40", "--progress-gap-ms", "15"});
    NoPause sleeper;
    const CommandRun r = Command(RunUpdateCommand,
                          {"update", "--device", board->Device(), "--crystal", "13.5M", "--timeout", "20", Work("MAP.BIN")},
                          sleeper);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(board->Wait(), 0) << board->Report();
    const auto flash = ReadFile(Work("flash.bin"));
    ASSERT_GE(flash.size(), map.size());
    EXPECT_TRUE(std::equal(map.begin(), map.end(), flash.begin()));
}

TEST_F(EndToEnd, EraseLeavesTheWholeFlashErased) {
    WriteFile(Work("flash.bin"), std::vector<uint8_t>(0x100000, 0x00));
    auto board = StartBoard({"--crystal", "16M", "--once", "--reply-gap-ms", "40", "--progress-gap-ms", "15"});
    NoPause sleeper;
    const CommandRun r = Command(RunEraseCommand, {"erase", "--device", board->Device(), "--crystal", "16M", "--timeout", "20"},
                          sleeper);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    ExpectLogInOrder(r.out, {"----Erase Flash:", "1.Loading loader 1...", "5.Update finished!!!"});
    EXPECT_EQ(board->Wait(), 0) << board->Report();
    const auto flash = ReadFile(Work("flash.bin"));
    EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST_F(EndToEnd, EveryCrystalBootsAtItsSpeedAndWaitsItsOwnPauseAfterLoaderOne) {
    const struct {
        const char* crystal;
        uint32_t pause;
    } crystals[] = {{"4M", 2300}, {"8M", 1000}, {"13.5M", 1000}, {"16M", 1000}, {"27M", 300}};
    for (const auto& c : crystals) {
        SCOPED_TRACE(c.crystal);
        auto board = StartBoard({"--crystal", c.crystal, "--once", "--reply-gap-ms", "40", "--progress-gap-ms", "15"});
        RecordingSleeper sleeper;
        const CommandRun r = Command(RunUpdateCommand,
                              {"update", "--device", board->Device(), "--crystal", c.crystal, "--timeout", "20",
                               Sample("FONT.bin")},
                              sleeper);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(board->Wait(), 0) << board->Report();  // the board checks the speed it was woken at
        const auto pauses = sleeper.Pauses();
        ASSERT_GE(pauses.size(), 2u);
        EXPECT_EQ(pauses[0], 10u);       // after the wake-up
        EXPECT_EQ(pauses[1], c.pause);   // after loader 1
    }
}

TEST_F(EndToEnd, PortNumberAndCrystalComeFromTheSettingsFileOfTheNamedLibrary) {
    auto board = StartBoard({"--crystal", "8M", "--once", "--reply-gap-ms", "40", "--progress-gap-ms", "15"});
    fs::copy(Bin() + "/Lib", Work("Lib"));
    std::ofstream(Work("Lib/M850T.ini"), std::ios::trunc)
        << "[COM]\r\nportno=1\r\nbaudrate=0\r\n[PLANT]\r\nXTLO=1\r\n[PORTS]\r\ncom2=" << board->Device() << "\r\n";
    NoPause sleeper;
    const CommandRun r = Command(RunUpdateCommand, {"update", "--port", "2", "--lib", Work("Lib"), Sample("FONT.bin")}, sleeper);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(board->Wait(), 0) << board->Report();  // woken at 8M's 19200 baud
}

TEST_F(EndToEnd, RealTimePacingFlashesTheBoardToo) {
    auto board = StartBoard({"--crystal", "27M", "--once"});
    RealSleeper sleeper;
    const CommandRun r = Command(RunUpdateCommand,
                          {"update", "--device", board->Device(), "--crystal", "27M", "--timeout", "30",
                           Sample("FONT.bin"), Sample("LOGO.bin")},
                          sleeper);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(board->Wait(), 0) << board->Report();
    ExpectSameFlash(ReadFile(Work("flash.bin")), ExpectedFlash({Sample("FONT.bin"), Sample("LOGO.bin")}, work.string()));
}

TEST_F(EndToEnd, CancelInTheMiddleOfASectionStopsItAtTheNextBlockAndReleasesTheLine) {
    std::vector<uint8_t> map(0x80000, 0x3C);
    WriteFile(Work("map.bin"), map);
    auto board = StartBoard({"--crystal", "27M", "--reply-gap-ms", "40", "--progress-gap-ms", "15"});
    RecordingSleeper sleeper(30);
    // Well into the map's 256 blocks, press Ctrl-C.
    size_t cancelledAt = 0;
    sleeper.afterPause = [&](size_t pauses) {
        if (pauses == 40)
            cancelledAt = pauses, interrupts = 1;
    };
    const CommandRun r = Command(RunUpdateCommand,
                          {"update", "--device", board->Device(), "--crystal", "27M", "--timeout", "30", Work("map.bin")},
                          sleeper);
    EXPECT_EQ(r.status, 130) << r.out << r.err;
    ASSERT_EQ(cancelledAt, 40u);
    ExpectLogInOrder(r.out, {"3.Loading update data....", "Stop updating!!!"});
    EXPECT_EQ(r.out.find("5.Update finished!!!"), std::string::npos);
    // At most the block under way when Ctrl-C came, not the rest of the map.
    EXPECT_LE(sleeper.Pauses().size(), cancelledAt + 1);
    // The device is free again for the next try.
    const int fd = ::open(board->Device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
}

TEST_F(EndToEnd, ABoardThatNeverAnswersEndsInATimeoutNamingWhatWasAwaited) {
    auto board = StartBoard({"--crystal", "27M", "--fault", "silent"});
    NoPause sleeper;
    const CommandRun r = Command(RunUpdateCommand,
                          {"update", "--device", board->Device(), "--crystal", "27M", "--timeout", "1", Sample("FONT.bin")},
                          sleeper);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no reply from the board for 1 s while waiting for the board's first request ('W') after "
                         "the wake-up"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find("1.Loading loader 1..."), std::string::npos);
}

TEST_F(EndToEnd, TwoRepliesInOneReadAreNotAnswered) {
    auto board = StartBoard({"--crystal", "27M", "--fault", "double"});
    NoPause sleeper;
    const CommandRun r = Command(RunUpdateCommand,
                          {"update", "--device", board->Device(), "--crystal", "27M", "--timeout", "1", Sample("FONT.bin")},
                          sleeper);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.find("1.Loading loader 1..."), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("while waiting for the board's first request"), std::string::npos) << r.err;
    // The board did send its doubled reply, and heard nothing back.
    board->Stop();
    EXPECT_NE(board->Report().find("no answer to a doubled reply"), std::string::npos) << board->Report();
}

TEST_F(EndToEnd, TheLastReportAndDInOneReadEndInTheTimeoutNeverInSuccess) {
    // The last progress report and 'D' in one read: the read is not answered, and the
    // run ends with the timeout, never as a success. (A board that never waits for the
    // tool's reads is not followed end to end here: on a stalled host its reports meet
    // in one read, which the tool rightly leaves unanswered.)
    auto board = StartBoard({"--crystal", "27M", "--fault", "coalesced"});
    NoPause sleeper;
    // (A timeout of a few seconds: only the coalesced pair may end the run, never a
    // loaded machine's slow start of the programming.)
    const CommandRun r = Command(RunUpdateCommand,
                                 {"update", "--device", board->Device(), "--crystal", "27M", "--timeout", "5",
                                  Sample("FONT.bin")},
                                 sleeper);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    ExpectLogInOrder(r.out, {"4.Programing flash...."});
    EXPECT_EQ(r.out.find("5.Update finished!!!"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("no reply from the board for 5 s while waiting for"), std::string::npos) << r.err;
    board->Stop();
    EXPECT_NE(board->Report().find("no answer to coalesced replies"), std::string::npos) << board->Report();
}

TEST_F(EndToEnd, ABoardHangingUpMidSectionIsReportedOnce) {
    std::vector<uint8_t> map(0x60000, 0x42);
    WriteFile(Work("map.bin"), map);
    auto board = StartBoard({"--crystal", "27M", "--fault", "hangup", "--reply-gap-ms", "40"});
    RecordingSleeper sleeper(100);
    const CommandRun r = Command(RunUpdateCommand,
                          {"update", "--device", board->Device(), "--crystal", "27M", "--timeout", "20", Work("map.bin")},
                          sleeper);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    ExpectLogInOrder(r.out, {"3.Loading update data...."});  // the section had begun
    const size_t lost = r.err.find("The serial line was lost!");
    ASSERT_NE(lost, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("The serial line was lost!", lost + 1), std::string::npos);
}

TEST_F(EndToEnd, ARefusedFileStopsTheUpdateBeforeTheBoardIsWoken) {
    TestPty pty;
    std::vector<uint8_t> odd(100, 0x11);
    odd.back() = 'D';  // no section has this letter
    WriteFile(Work("odd.bin"), odd);
    NoPause sleeper;
    const CommandRun r = Command(RunUpdateCommand,
                          {"update", "--device", pty.SlavePath(), Sample("FONT.bin"), Work("odd.bin")}, sleeper);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Warning: The open file is not the right type!"), std::string::npos) << r.err;
    EXPECT_TRUE(pty.Receive(1, 200).empty());
}

TEST_F(EndToEnd, APortThatCannotBeOpenedSaysWhichDeviceAndWhy) {
    NoPause sleeper;
    const CommandRun r = Command(RunUpdateCommand, {"update", "--device", "/dev/kestrel-absent", Sample("FONT.bin")}, sleeper);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error: Can't open port!\n/dev/kestrel-absent: no such device"), std::string::npos) << r.err;

    const CommandRun usage = Command(RunUpdateCommand, {"update", Sample("FONT.bin")}, sleeper);
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(Command(RunUpdateCommand, {"update", "--device", "x", "--crystal", "5M", "f.bin"}, sleeper).status, 2);
    EXPECT_EQ(Command(RunEraseCommand, {"erase", "--port", "0"}, sleeper).status, 2);
}

TEST_F(EndToEnd, ConsoleShowsTheBoardsTextSendsCommandsAndReplacesTheSavedFileWhole) {
    // The old text also goes by another name: a save that wrote into the file would
    // change it there too, a save that replaces the file leaves it alone.
    std::ofstream(Work("stbinfo.txt")) << "old lines\r\n";
    fs::create_hard_link(Work("stbinfo.txt"), Work("kept.txt"));
    auto board = StartBoard({"--crystal", "27M"});
    NoPause sleeper;
    RunningCommand console(RunConsoleCommand, {"console", "--device", board->Device(), "--save", Work("stbinfo.txt")},
                           sleeper, interrupts);
    console.Type("pcdemo\n");
    ASSERT_TRUE(console.WaitForOutput("PC demo mode started"));
    console.EndInput();
    const CommandRun r = console.Finish();
    EXPECT_EQ(r.status, 0) << r.err;
    const auto saved = ReadFile(Work("stbinfo.txt"));
    EXPECT_NE(std::string(saved.begin(), saved.end()).find("PC demo mode started"), std::string::npos);
    const auto kept = ReadFile(Work("kept.txt"));
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "old lines\r\n");
    EXPECT_EQ(board->Stop(), 0) << board->Report();
}

}  // namespace
