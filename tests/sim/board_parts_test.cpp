// The board's own reading of what the tool sends: header, loader framings,
// line settings, and its command line and flash file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <termios.h>
#include <unistd.h>

#include "sim/board_options.h"
#include "sim/flash_store.h"
#include "sim/line_settings.h"
#include "sim/pty_line.h"
#include "sim/loader_files.h"
#include "sim/section_header.h"
#include "tests/sim/board_fixture.h"

namespace kestrel::sim::test {
namespace {

SectionHeader Decode(const Bytes& bytes) {
    return DecodeSectionHeader(std::span<const std::uint8_t, 40>(bytes.data(), 40));
}

TEST(SectionHeaderReading, WordsAreLittleEndianInTheirOrder) {
    const Bytes wire = {0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00,
                        0x02, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
    const SectionHeader h = Decode(wire);
    EXPECT_EQ(h.codeArea, 0x80000u);
    EXPECT_EQ(h.fontArea, 0x20000u);
    EXPECT_EQ(h.bitmapArea, 0x40000u);
    EXPECT_EQ(h.logoArea, 0x20000u);
    EXPECT_EQ(h.codeLength, 0x40000u);
    EXPECT_EQ(h.mapLength, 0u);
    EXPECT_EQ(h.reserve, 1u);
    EXPECT_TRUE(HeaderProblems(h).empty());
    const auto requests = RequestsFor(h);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].letter, 'C');
}

TEST(SectionHeaderReading, SectionsAreAskedInOrderAtTheirAreaStarts) {
    const SectionHeader h = Decode(MakeHeader(0x60000, 0x40000, 0x20000, 0x10000, 5, 0, 7, 9, 0, 0));
    const auto requests = RequestsFor(h);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].letter, 'C');
    EXPECT_EQ(requests[1].letter, 'B');
    EXPECT_EQ(requests[1].flashOffset, 0xA0000u);
    EXPECT_EQ(requests[2].letter, 'E');
    EXPECT_EQ(requests[2].flashOffset, 0xC0000u);
    EXPECT_EQ(requests[2].length, 9u);
    // An erase asks for nothing, a map for everything at once.
    EXPECT_TRUE(RequestsFor(Decode(MakeHeader(1, 1, 1, 1, 0, 0, 0, 0, 0xFFFFFFFF, 0))).empty());
    const auto map = RequestsFor(Decode(MakeHeader(1, 1, 1, 1, 1, 0, 0, 0, 0x60000, 0)));
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map[0].letter, 'A');
    EXPECT_EQ(map[0].length, 0x60000u);
}

TEST(SectionHeaderReading, InconsistentHeadersAreNamed) {
    auto problems = [](const Bytes& b) {
        std::string all;
        for (const auto& p : HeaderProblems(Decode(b))) all += p + "|";
        return all;
    };
    EXPECT_NE(problems(MakeHeader(0x100, 0x100, 0x100, 0x100, 0x101, 0, 0, 0, 0, 0)).find("code of 0x101"),
              std::string::npos);
    EXPECT_NE(problems(MakeHeader(0x100, 0x100, 0x100, 0x100, 0, 0x200, 0, 0, 0, 0)).find("font of 0x200"),
              std::string::npos);
    // Area sizes whose 32-bit sum wraps must not pass as a small layout.
    EXPECT_NE(problems(MakeHeader(0xFFFFFFF0, 0x20, 0, 0, 0, 0, 0, 0, 0, 0)).find("past the end of the flash"),
              std::string::npos);
    EXPECT_NE(problems(MakeHeader(0, 0, 0, 0, 0, 0, 0, 0, 0x100001, 0)).find("larger than the flash"),
              std::string::npos);
    EXPECT_NE(problems(MakeHeader(0, 0, 0, 0, 4, 0, 0, 0, 0xFFFFFFFF, 0)).find("an erase announces"),
              std::string::npos);
    EXPECT_NE(problems(MakeHeader(0, 0, 0, 0, 0, 0, 0, 0, 0, 2)).find("reserve flag"), std::string::npos);
    // A section that fills its area exactly fits.
    EXPECT_EQ(problems(MakeHeader(0x100, 0x100, 0x100, 0x100, 0x100, 0x100, 0x100, 0xFFD00, 0, 0)), "");
}

TEST(LoaderFraming, Loader1IsTheBodyZeroFilledBehindTheStartByte) {
    const Bytes file = Pattern(1029, 7);
    std::string error;
    const auto wire = Loader1Wire(file, error);
    ASSERT_TRUE(wire);
    ASSERT_EQ(wire->size(), 2049u);
    EXPECT_EQ((*wire)[0], 0x18);
    EXPECT_TRUE(std::equal(file.begin() + 4, file.begin() + 1028, wire->begin() + 1));
    EXPECT_TRUE(std::all_of(wire->begin() + 1025, wire->end(), [](std::uint8_t b) { return b == 0; }));
    // 2053 bytes fill the block exactly; one more does not fit.
    EXPECT_TRUE(Loader1Wire(Pattern(2053, 1), error));
    EXPECT_FALSE(Loader1Wire(Pattern(2054, 1), error));
    EXPECT_NE(error.find("does not fit"), std::string::npos);
    EXPECT_FALSE(Loader1Wire(Pattern(4, 1), error));
}

TEST(LoaderFraming, Loader2IsTheFileWithoutItsTrailer) {
    const Bytes file = Pattern(2054, 8);
    std::string error;
    const auto wire = Loader2Wire(file, error);
    ASSERT_TRUE(wire);
    EXPECT_EQ(*wire, Bytes(file.begin(), file.end() - 1));
    EXPECT_FALSE(Loader2Wire(Pattern(4, 1), error));
    EXPECT_EQ(FirstDifference(Bytes{1, 2, 3}, Bytes{1, 2}), 2u);
    EXPECT_EQ(FirstDifference(Bytes{1, 9, 3}, Bytes{1, 2, 3}), 1u);
    EXPECT_FALSE(FirstDifference(Bytes{1, 2}, Bytes{1, 2}));
}

TEST(LineSettingsCheck, OnlyTheAskedSpeedIn8N1RawPasses) {
    termios t{};
    cfmakeraw(&t);
    t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | CSTOPB)) | CS8 | CREAD | CLOCAL;
    cfsetspeed(&t, B57600);
    EXPECT_EQ(LineSettingsProblems(t, 57600), "");
    EXPECT_EQ(DescribeLineSettings(t), "57600,N,8,1");
    EXPECT_NE(LineSettingsProblems(t, 38400).find("speed 57600 instead of 38400"), std::string::npos);
    termios framed = t;
    framed.c_cflag = (framed.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB;
    EXPECT_EQ(DescribeLineSettings(framed), "57600,E,7,2");
    const std::string problems = LineSettingsProblems(framed, 57600);
    EXPECT_NE(problems.find("7 data bits"), std::string::npos);
    EXPECT_NE(problems.find("parity on"), std::string::npos);
    EXPECT_NE(problems.find("2 stop bits"), std::string::npos);
    termios flow = t;
    flow.c_iflag |= IXON;
    EXPECT_NE(LineSettingsProblems(flow, 57600).find("software flow control"), std::string::npos);
}

TEST(BoardLine, OnlyTheToolsReopenCountsNotOtherOpenersOfTheDevice) {
    PtyLine line;
    std::string error;
    ASSERT_TRUE(line.Open(error)) << error;
    std::vector<std::uint8_t> bytes;
    auto open_slave = [&] { return ::open(line.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); };
    // The tool opens the line and purges its input, as its serial layer does.
    int tool = open_slave();
    ASSERT_GE(tool, 0);
    tcflush(tool, TCIFLUSH);
    line.Pump(Ms{0}, bytes);
    const LineMark mark = line.Mark();

    // A refused opener: open, close, nothing else.
    ::close(open_slave());
    line.Pump(Ms{0}, bytes);
    EXPECT_FALSE(line.ReopenedSince(mark));
    EXPECT_TRUE(line.SlaveOpen());

    // The tool reopens while another program holds the device: the line is
    // never free, yet the tool's purge after its close gives the reopen away.
    const int other = open_slave();
    ::close(tool);
    tool = open_slave();
    tcflush(tool, TCIFLUSH);
    ::close(other);
    line.Pump(Ms{0}, bytes);
    EXPECT_TRUE(line.ReopenedSince(mark));
    EXPECT_TRUE(line.SlaveOpen());

    // The tool leaves: the line is free.
    ::close(tool);
    line.Pump(Ms{0}, bytes);
    EXPECT_FALSE(line.SlaveOpen());
    EXPECT_TRUE(bytes.empty());
}

TEST(BoardCommandLine, DefaultsAndEveryOption) {
    BoardOptions o;
    std::string error;
    char* plain[] = {const_cast<char*>("sim"), nullptr};
    ASSERT_EQ(ParseBoardArgs(1, plain, o, error), ParseOutcome::Run);
    EXPECT_EQ(o.crystal, "4M");
    EXPECT_EQ(o.flashFile, "flash.bin");
    EXPECT_EQ(o.replyGap.count(), 400);
    EXPECT_EQ(o.progressGap.count(), 100);
    EXPECT_FALSE(o.once);

    const char* args[] = {"sim",    "--crystal", "13.5M", "--lib",   "/l",  "--flash", "/f", "--link", "/k", "--fault",
                          "hangup", "--once",    "--reply-gap-ms", "7", "--progress-gap-ms", "0", nullptr};
    ASSERT_EQ(ParseBoardArgs(16, const_cast<char**>(args), o, error), ParseOutcome::Run) << error;
    EXPECT_EQ(o.crystal, "13.5M");
    EXPECT_EQ(o.libDir, "/l");
    EXPECT_EQ(o.flashFile, "/f");
    EXPECT_EQ(o.linkPath, "/k");
    EXPECT_EQ(o.fault, FaultMode::HangUp);
    EXPECT_TRUE(o.once);
    EXPECT_EQ(o.replyGap.count(), 7);
    EXPECT_EQ(o.progressGap.count(), 0);
}

TEST(BoardCommandLine, EveryFaultModeIsNamedAndDocumented) {
    const std::string usage = BoardUsage();
    for (const char* name : {"none", "silent", "double", "garbage", "hangup", "hasty", "coalesced", "early-d",
                             "early-d-after-header", "skip-sections", "bad-banner"}) {
        const auto mode = ParseFaultMode(name);
        ASSERT_TRUE(mode) << name;
        EXPECT_STREQ(FaultModeName(*mode), name);
        if (*mode != FaultMode::None) {
            EXPECT_NE(usage.find(std::string(name) + ":"), std::string::npos) << name;
        }
    }
}

TEST(BoardCommandLine, SuccessionAndHotPlugOptions) {
    BoardOptions o;
    std::string error;
    const char* args[] = {"sim",           "--boards",     "3",           "--off",        "0.5",
                          "--swap",        "2",            "--first-serial", "7",         "--fault",
                          "hasty",         "--fault-board", "2=early-d",  "--fault-board", "3=bad-banner",
                          "--swap-replug", "--replug-after", "1.25",      "--unplugged",  "0",
                          nullptr};
    ASSERT_EQ(ParseBoardArgs(20, const_cast<char**>(args), o, error), ParseOutcome::Run) << error;
    EXPECT_EQ(o.boards, 3u);
    EXPECT_EQ(o.offTime.count(), 500);
    EXPECT_EQ(o.swapTime.count(), 2000);
    EXPECT_EQ(o.firstSerial, 7u);
    EXPECT_EQ(o.FaultOf(1), FaultMode::Hasty);
    EXPECT_EQ(o.FaultOf(2), FaultMode::EarlyD);
    EXPECT_EQ(o.FaultOf(3), FaultMode::BadBanner);
    EXPECT_TRUE(o.swapReplug);
    ASSERT_TRUE(o.replugAfter);
    EXPECT_EQ(o.replugAfter->count(), 1250);
    EXPECT_EQ(o.unpluggedTime.count(), 0);
    EXPECT_EQ(o.FlashFileOf(2), "flash.bin.2");
    EXPECT_EQ(SerialNumber(7), "KSTB-0007");
    EXPECT_EQ(SerialNumber(12345), "KSTB-12345");
}

TEST(BoardCommandLine, BadValuesAreUsageErrors) {
    std::string error;
    for (std::vector<const char*> args : std::vector<std::vector<const char*>>{
             {"sim", "--crystal", "12M"},
             {"sim", "--fault", "loud"},
             {"sim", "--reply-gap-ms", "-5"},
             {"sim", "--progress-gap-ms", "1x"},
             {"sim", "--bogus"},
             {"sim", "extra"},
             // Succession and hot-plug options that mean nothing or cannot hold.
             {"sim", "--off", "1"},
             {"sim", "--fault-board", "1=silent"},
             {"sim", "--swap-replug"},
             {"sim", "--unplugged", "1"},
             {"sim", "--fault", "bad-banner"},
             {"sim", "--boards", "0"},
             {"sim", "--boards", "2", "--once"},
             {"sim", "--boards", "2", "--fault-board", "3=silent"},
             {"sim", "--boards", "2", "--fault-board", "1=silent", "--fault-board", "1=double"},
             {"sim", "--boards", "2", "--fault-board", "x=silent"},
             {"sim", "--boards", "2", "--fault-board", "2=loud"},
             {"sim", "--boards", "2", "--off", "1.2345"},
             {"sim", "--boards", "2", "--swap", ".5"},
             {"sim", "--boards", "2", "--swap", "-1"},
         }) {
        BoardOptions o;
        args.push_back(nullptr);
        EXPECT_EQ(ParseBoardArgs(static_cast<int>(args.size() - 1), const_cast<char**>(args.data()), o, error),
                  ParseOutcome::UsageError)
            << args[1];
    }
}

TEST(BoardFlash, StartsErasedRefusesOtherSizesAndStaysInside) {
    BoardFolder folder;
    FlashStore flash;
    std::string error;
    ASSERT_TRUE(flash.Open(folder.Flash(), error)) << error;
    EXPECT_EQ(folder.ReadFlash(), Bytes(0x100000, 0xFF));
    EXPECT_EQ(flash.Program(0xFFFF0, Pattern(0x20, 3)), 0x10u);
    EXPECT_EQ(flash.Program(0x100000, Pattern(1, 3)), 0u);
    ASSERT_TRUE(flash.Save(error));
    FlashStore again;
    ASSERT_TRUE(again.Open(folder.Flash(), error));
    EXPECT_TRUE(std::equal(again.Bytes().begin() + 0xFFFF0, again.Bytes().end(), Pattern(0x10, 3).begin()));

    const auto odd = folder.Path() / "odd.bin";
    std::ofstream(odd, std::ios::binary) << "not a flash";
    FlashStore refused;
    EXPECT_FALSE(refused.Open(odd, error));
    EXPECT_NE(error.find("not a 1048576-byte flash"), std::string::npos);
}

}  // namespace
}  // namespace kestrel::sim::test
