// Whole updates from the command-line front end to the virtual board over a pty:
// the wire exchange, the board's flash afterwards, and every way it can go wrong.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <sstream>

#include "cli/ExecutableFolder.h"
#include "cli/FlashCommands.h"
#include "image/FlashImage.h"
#include "tests/e2e/BoardProcess.h"
#include "tests/support/Pty.h"

namespace {

namespace fs = std::filesystem;

class NoPause : public ISleeper {
public:
    void SleepMs(uint32_t) override {}
};

// Records the pauses the protocol asks for and takes a tenth of each, so that a
// cancel can land in the middle of a run while the test stays short.
class RecordingSleeper : public ISleeper {
public:
    explicit RecordingSleeper(uint32_t divisor = 0) : divisor(divisor) {}
    void SleepMs(uint32_t ms) override {
        {
            std::lock_guard lock(mutex);
            pauses.push_back(ms);
        }
        if (divisor)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms / divisor));
    }
    std::vector<uint32_t> Pauses() {
        std::lock_guard lock(mutex);
        return pauses;
    }

private:
    uint32_t divisor;
    std::mutex mutex;
    std::vector<uint32_t> pauses;
};

class SilentReporter : public IImageReporter {
public:
    void ErrorText(const char*) override {}
    void MessageBox(const std::string&, const std::string&, MessageIcon) override {}
};

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
}

struct CommandRun {
    int status = -1;
    std::string out, err;
};

class EndToEnd : public ::testing::Test {
protected:
    EndToEnd() {
        work = fs::temp_directory_path() / ("kestrel-e2e-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(work);
    }
    ~EndToEnd() override { fs::remove_all(work); }

    std::string Work(const std::string& name) const { return (work / name).string(); }
    static std::string Sample(const std::string& name) { return std::string(KESTREL_SOURCE_DIR) + "/res/samples/" + name; }
    static std::string Bin() { return ExecutableFolder(); }

    std::unique_ptr<BoardProcess> StartBoard(std::vector<std::string> args) {
        args.insert(args.end(), {"--flash", Work("flash.bin")});
        auto board = std::make_unique<BoardProcess>(Bin(), args, Work("board.log"));
        EXPECT_FALSE(board->Device().empty()) << "the virtual board did not start";
        return board;
    }

    CommandRun Command(int (*command)(int, char**, const CommandContext&), std::vector<std::string> args, ISleeper& sleeper,
                const std::string& input = "") {
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::istringstream in(input);
        std::ostringstream out, err;
        CommandRun r;
        r.status = command(static_cast<int>(args.size()), argv.data(), {sleeper, in, out, err, false, interrupts});
        r.out = out.str();
        r.err = err.str();
        return r;
    }

    // The image the tool builds from these files, for comparing with the board's flash.
    static void ExpectFlashHolds(const std::vector<uint8_t>& flash, const std::vector<std::string>& files) {
        SilentReporter quiet;
        CFlashImage image(quiet);
        ASSERT_TRUE(image.ReadFlashAddrAssign(Bin() + "/Lib/FlashAddrAssign.h"));
        image.ResetImage();
        for (const auto& f : files)
            ASSERT_TRUE(image.OnLoadFile(f)) << f;
        ASSERT_GE(flash.size(), size_t{kImageBufSize});
        auto same = [&](uint32_t start, uint32_t length, const char* what) {
            EXPECT_TRUE(std::equal(flash.begin() + start, flash.begin() + start + length, image.ImageBuf.begin() + start))
                << what << " differs";
        };
        if (image.FlashMapLen)
            same(0, image.FlashMapLen, "flash map");
        same(image.CodeStart, image.CodeLen, "code");
        same(image.FontStart, image.FontLen, "font");
        same(image.BmpStart, image.BmpLen, "bitmap");
        same(image.LogoStart, image.LogoLen, "logo");
    }

    fs::path work;
    std::atomic<int> interrupts{0};
};

const std::vector<std::string> kLog = {"Ready to update program......", "1.Loading loader 1...",
                                       "2.Loading loader 2....",          "3.Loading update data....",
                                       "4.Programing flash....",          "5.Update finished!!!"};

void ExpectLogInOrder(const std::string& out, const std::vector<std::string>& lines) {
    size_t at = 0;
    for (const auto& line : lines) {
        const size_t found = out.find(line + "\n", at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << out;
        at = found + line.size();
    }
}

TEST_F(EndToEnd, CodeFontBitmapAndLogoLandInTheBoardsFlash) {
    auto board = StartBoard({"--crystal", "27M", "--once", "--reply-gap-ms", "40", "--progress-gap-ms", "15"});
    NoPause sleeper;
    const std::vector<std::string> files = {Sample("code.s"), Sample("FONT.bin"), Sample("BITMAP.bin"),
                                            Sample("LOGO.bin")};
    std::vector<std::string> args = {"update", "--device", board->Device(), "--crystal", "27M", "--timeout", "20"};
    args.insert(args.end(), files.begin(), files.end());
    const CommandRun r = Command(RunUpdateCommand, args, sleeper);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    ExpectLogInOrder(r.out, kLog);
    EXPECT_EQ(board->Wait(), 0) << board->Report();
    ExpectFlashHolds(ReadFile(Work("flash.bin")), files);
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
    WriteFile(Work("flash.bin"), std::vector<uint8_t>(kImageBufSize, 0x00));
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
    ExpectFlashHolds(ReadFile(Work("flash.bin")), {Sample("FONT.bin"), Sample("LOGO.bin")});
}

TEST_F(EndToEnd, CancelInTheMiddleOfASectionStopsCleanlyAndReleasesTheLine) {
    std::vector<uint8_t> map(0x80000, 0x3C);
    WriteFile(Work("map.bin"), map);
    auto board = StartBoard({"--crystal", "27M", "--reply-gap-ms", "40", "--progress-gap-ms", "15"});
    RecordingSleeper sleeper(30);
    std::thread canceller([&] {
        // Once well into the map's 256 blocks, press Ctrl-C.
        while (sleeper.Pauses().size() < 40)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        interrupts = 1;
    });
    const CommandRun r = Command(RunUpdateCommand,
                          {"update", "--device", board->Device(), "--crystal", "27M", "--timeout", "30", Work("map.bin")},
                          sleeper);
    canceller.join();
    EXPECT_EQ(r.status, 130) << r.out << r.err;
    EXPECT_NE(r.out.find("Stop updating!!!"), std::string::npos);
    EXPECT_EQ(r.out.find("5.Update finished!!!"), std::string::npos);
    // The device is free again for the next try.
    const int fd = ::open(board->Device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
}

TEST_F(EndToEnd, ABoardThatNeverAnswersEndsInATimeout) {
    auto board = StartBoard({"--crystal", "27M", "--fault", "silent"});
    NoPause sleeper;
    const CommandRun r = Command(RunUpdateCommand,
                          {"update", "--device", board->Device(), "--crystal", "27M", "--timeout", "1", Sample("FONT.bin")},
                          sleeper);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no reply from the board for 1 s"), std::string::npos) << r.err;
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

TEST_F(EndToEnd, ConsoleShowsTheBoardsTextAndSendsCommands) {
    auto board = StartBoard({"--crystal", "27M"});
    NoPause sleeper;
    const CommandRun r = Command(RunConsoleCommand,
                          {"console", "--device", board->Device(), "--save", Work("stbinfo.txt")}, sleeper, "pcdemo\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(r.out.empty()) << "the board printed nothing for pcdemo";
    const auto saved = ReadFile(Work("stbinfo.txt"));
    const std::string text(saved.begin(), saved.end());
    EXPECT_NE(text.find("\r\n"), std::string::npos);
    EXPECT_EQ(board->Stop(), 0) << board->Report();
}

}  // namespace
