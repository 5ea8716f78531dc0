// Wire traces: recorded by the line under a whole update against the virtual board,
// compared byte for byte with what the board took in and sent, and explained; then
// the explanation of the board's faults, and of traces cut short or made of junk.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <thread>

#include "cli/ExecutableFolder.h"
#include "cli/FlashCommands.h"
#include "trace/TraceReader.h"
#include "image/FlashImage.h"
#include "serial/SerialLine.h"
#include "trace/WireTrace.h"
#include "tests/e2e/BoardProcess.h"
#include "tests/support/Pty.h"
#include "tests/support/Waiting.h"

namespace {

namespace fs = std::filesystem;

class NoPause : public ISleeper {
public:
    void SleepMs(uint32_t) override {}
};

// Takes a fraction of each pause, so the board's hang-up lands in the middle of a run.
class ShortPause : public ISleeper {
public:
    void SleepMs(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms / 50)); }
};

class SilentReporter : public IImageReporter {
public:
    void ErrorText(const char*) override {}
    void MessageBox(const std::string&, const std::string&, MessageIcon) override {}
};

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct TraceLine {
    std::string word;
    std::vector<uint8_t> bytes;
};

// The trace's events, read here with nothing of the reader under test.
std::vector<TraceLine> ParseTrace(const std::string& text) {
    std::vector<TraceLine> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string time, word, hex;
        words >> time >> word >> hex;
        TraceLine l{word, {}};
        if (word == "TX" || word == "RX")
            for (size_t i = 0; i + 1 < hex.size(); i += 2)
                l.bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        lines.push_back(std::move(l));
    }
    return lines;
}

std::vector<uint8_t> Joined(const std::vector<TraceLine>& lines, const std::string& word) {
    std::vector<uint8_t> all;
    for (const auto& l : lines)
        if (l.word == word)
            all.insert(all.end(), l.bytes.begin(), l.bytes.end());
    return all;
}

class WireTraceTest : public ::testing::Test {
protected:
    WireTraceTest() {
        work = fs::temp_directory_path() / ("kestrel-trace-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(work);
    }
    ~WireTraceTest() override { fs::remove_all(work); }

    std::string Work(const std::string& name) const { return (work / name).string(); }
    static std::string Sample(const std::string& name) { return std::string(KESTREL_SOURCE_DIR) + "/res/samples/" + name; }
    static std::string Bin() { return ExecutableFolder(); }

    // Runs `kestrel-cli update --trace` against a board started with `boardArgs`;
    // returns the command's status.
    int TracedUpdate(std::vector<std::string> boardArgs, const std::vector<std::string>& files, ISleeper& sleeper,
                     const std::string& timeout, std::string* errText = nullptr) {
        boardArgs.insert(boardArgs.end(), {"--crystal", "27M", "--flash", Work("flash.bin")});
        BoardProcess board(Bin(), boardArgs, Work("board.log"));
        EXPECT_FALSE(board.Device().empty()) << "the virtual board did not start";
        std::vector<std::string> args = {"update", "--device", board.Device(), "--crystal", "27M",
                                         "--timeout", timeout, "--trace", Work("wire.trace")};
        args.insert(args.end(), files.begin(), files.end());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::ostringstream out, err;
        const int status = RunUpdateCommand(static_cast<int>(args.size()), argv.data(),
                                            {sleeper, -1, out, err, false, interrupts});
        if (errText)
            *errText = out.str() + err.str();
        boardReport = board.Report();
        return status;
    }

    fs::path work;
    std::atomic<int> interrupts{0};
    std::string boardReport;
};

TEST_F(WireTraceTest, AnUpdatesTraceHoldsEveryByteTheBoardTookInAndSentAndReadsAsFinished) {
    const std::vector<std::string> files = {Sample("code.s"), Sample("FONT.bin"), Sample("BITMAP.bin"), Sample("LOGO.bin")};
    NoPause sleeper;
    std::string said;
    ASSERT_EQ(TracedUpdate({"--once", "--reply-gap-ms", "40", "--progress-gap-ms", "15"}, files, sleeper, "20", &said), 0)
        << said << boardReport;
    const std::string text = ReadText(Work("wire.trace"));
    const auto lines = ParseTrace(text);

    // What went out, rebuilt from the loader files and the board's flash afterwards:
    // the wake-up, loader 1 in its block, loader 2 without its trailer byte, the
    // header, and each section as the board stored it.
    SilentReporter quiet;
    CFlashImage image(quiet);
    ASSERT_TRUE(image.ReadFlashAddrAssign(Bin() + "/Lib/FlashAddrAssign.h"));
    image.ResetImage();
    for (const auto& f : files)
        ASSERT_TRUE(image.OnLoadFile(f)) << f;
    const auto flash = ReadBytes(Work("flash.bin"));
    ASSERT_GE(flash.size(), size_t{kImageBufSize});
    const auto loader1 = ReadBytes(Bin() + "/Lib/Pgm_27M.bin");
    const auto loader2 = ReadBytes(Bin() + "/Lib/Pgm_M850T.bin");
    ASSERT_GT(loader1.size(), 5u);
    ASSERT_GT(loader2.size(), 5u);

    std::vector<uint8_t> expected(16, 0xFF);
    expected.push_back(0x18);
    std::vector<uint8_t> block(2048, 0x00);
    std::copy(loader1.begin() + 4, loader1.end() - 1, block.begin());
    expected.insert(expected.end(), block.begin(), block.end());
    expected.insert(expected.end(), loader2.begin(), loader2.end() - 1);
    const size_t headerAt = expected.size();
    expected.resize(expected.size() + 40);  // compared field by field below
    const std::pair<uint32_t, uint32_t> sections[] = {{image.CodeStart, image.CodeLen}, {image.FontStart, image.FontLen},
                                                      {image.BmpStart, image.BmpLen}, {image.LogoStart, image.LogoLen}};
    std::string asked;
    for (const auto& l : lines)
        if (l.word == "RX" && l.bytes.size() == 1 && std::string("CFBE").find(static_cast<char>(l.bytes[0])) != std::string::npos)
            asked += static_cast<char>(l.bytes[0]);
    ASSERT_EQ(asked.size(), 4u) << "the board asks for each of the four sections once";
    for (char letter : asked) {
        const auto& [start, length] = sections[std::string("CFBE").find(letter)];
        expected.insert(expected.end(), flash.begin() + start, flash.begin() + start + length);
    }

    auto sent = Joined(lines, "TX");
    ASSERT_EQ(sent.size(), expected.size());
    const uint32_t lengths[] = {image.CodeLen, image.FontLen, image.BmpLen, image.LogoLen, image.FlashMapLen};
    for (size_t i = 0; i < 5; ++i) {
        const size_t at = headerAt + 16 + 4 * i;
        EXPECT_EQ(sent[at] | sent[at + 1] << 8 | sent[at + 2] << 16 | uint32_t{sent[at + 3]} << 24, lengths[i]) << i;
    }
    std::copy_n(sent.begin() + headerAt, 40, expected.begin() + headerAt);
    EXPECT_TRUE(sent == expected) << "the trace's TX bytes differ from what the board took in";

    // What came back: the three requests, the sections, sixteen progress steps, 'D'.
    std::string replies = "WZS" + asked;
    for (char p = 1; p <= 16; ++p)
        replies += p;
    replies += 'D';
    const auto received = Joined(lines, "RX");
    EXPECT_EQ(std::string(received.begin(), received.end()), replies);

    // The operator log is in the story, in place.
    const auto loadingAt = text.find("NOTE log: 1.Loading loader 1...");
    EXPECT_NE(loadingAt, std::string::npos);
    EXPECT_LT(text.find("RX 57"), loadingAt);

    const TraceExplanation e = ExplainTrace(text);
    EXPECT_EQ(e.updatesFinished, 1) << FormatExplanation(e);
    EXPECT_EQ(e.damagedLines, 0u);
    EXPECT_NE(e.verdict.find("The update finished"), std::string::npos) << e.verdict;
    const std::string told = FormatExplanation(e);
    EXPECT_NE(told.find("bitmap block 1 of "), std::string::npos) << told;
    EXPECT_NE(told.find("programming progress 16/16 (100 %)"), std::string::npos);
    // Without pauses every write after a block comes too soon, and the reader says so.
    EXPECT_NE(told.find("TOO SOON"), std::string::npos);

    // Cut anywhere, the trace is still read as far as it goes, without a crash.
    for (size_t cut : {size_t{1}, text.size() / 3, text.size() / 2 + 7, text.find(" RX 44") + 4}) {
        const TraceExplanation part = ExplainTrace(std::string_view(text).substr(0, cut));
        EXPECT_FALSE(part.verdict.empty());
        EXPECT_EQ(part.updatesFinished, 0) << cut;
        if (text[cut - 1] != '\n') {
            EXPECT_NE(part.verdict.find("ends in the middle of a line"), std::string::npos) << cut;
        }
    }
    const TraceExplanation half = ExplainTrace(std::string_view(text).substr(0, text.find("RX 01")));
    EXPECT_NE(half.verdict.find("The update stopped after the whole logo section: no reply for"), std::string::npos) << half.verdict;
}

TEST_F(WireTraceTest, TheExplanationOfEachBoardFaultNamesIt) {
    std::vector<uint8_t> map(0x60000, 0x42);
    std::ofstream(Work("map.bin"), std::ios::binary).write(reinterpret_cast<const char*>(map.data()), map.size());
    const struct {
        const char* fault;
        const char* verdict;
    } faults[] = {
        {"silent", "the board never answered the wake-up: no 'W' in"},
        {"double", "sent its reply twice or more in one read (5757)"},
        {"garbage", "bytes that are no reply (7fa5"},
        {"hangup", "The update stopped in the flash map section (after "},
    };
    for (const auto& f : faults) {
        SCOPED_TRACE(f.fault);
        ShortPause sleeper;
        const bool hangup = std::string(f.fault) == "hangup";
        EXPECT_EQ(TracedUpdate({"--fault", f.fault, "--reply-gap-ms", "40"}, {Work("map.bin")}, sleeper, hangup ? "20" : "1"),
                  1);
        const TraceExplanation e = ExplainTrace(ReadText(Work("wire.trace")));
        EXPECT_NE(e.verdict.find(f.verdict), std::string::npos) << FormatExplanation(e);
        if (hangup) {
            EXPECT_NE(e.verdict.find("the serial line was lost"), std::string::npos) << e.verdict;
        } else {
            EXPECT_NE(e.verdict.find("The tool gave up: no reply from the board for 1 s while waiting for the board's first request"), std::string::npos) << e.verdict;
        }
        EXPECT_TRUE(e.lastUpdateStopped);
    }
}

// A board that says 'D' before it could have been flashed: the trace reader gives
// the run the verdict the tool gave it, in the same words.
TEST_F(WireTraceTest, AFinishTheBoardCouldNotHaveReachedReadsAsTheToolSaidIt) {
    const std::vector<std::string> files = {Sample("code.s"), Sample("FONT.bin"), Sample("BITMAP.bin"), Sample("LOGO.bin")};
    const struct {
        const char* fault;
        const char* missing;
    } faults[] = {
        {"early-d", "the board reported finished, but it never asked for loader 1, loader 2 and the section header"},
        {"early-d-after-header", "the board reported finished, but it never asked for CODE, FONT, BITMAP and LOGO"},
        {"skip-sections", "the board reported finished, but it never asked for FONT, BITMAP and LOGO"},
    };
    for (const auto& f : faults) {
        SCOPED_TRACE(f.fault);
        NoPause sleeper;
        std::string said;
        EXPECT_EQ(TracedUpdate({"--once", "--fault", f.fault, "--reply-gap-ms", "20", "--progress-gap-ms", "5"}, files,
                               sleeper, "20", &said),
                  1)
            << said;
        EXPECT_NE(said.find(std::string("Error: ") + f.missing + "\n"), std::string::npos) << said;
        const TraceExplanation e = ExplainTrace(ReadText(Work("wire.trace")));
        EXPECT_EQ(e.verdict, std::string("The update failed: ") + f.missing + ".") << FormatExplanation(e);
        EXPECT_FALSE(e.lastRunFinished);
        EXPECT_EQ(e.updatesFinished, 0);
    }
}

TEST_F(WireTraceTest, PausesSpeedsAndDamageAreCalledOutInAHandWrittenTrace) {
    const std::string trace =
        "0.000000 OPEN /dev/ttyUSB 0 115200,N,8,1\n"
        "0.010000 TX ffffffffffffffffffffffffffffffff\n"
        "0.021000 CLOSE\n"
        "0.021100 OPEN /dev/ttyUSB 0 9600,N,8,1\n"
        "0.500000 RX 57\n"
        "0.500100 TX 18\n"
        "0.500200 TX " + std::string(4096, 'a') + "\n"
        "1.000000 CLOSE\n"                 // 2049 bytes need 2.1 s at 9600 baud
        "garbage in the middle\n"
        "0.900000 NOTE time going back\n"
        "1.000100 OPEN /dev/ttyUSB 0 115200,N,8,1\n"
        "1.100000 RX 5a\n"
        "1.200000 TX 00112233\n"           // 1.2 s after loader 1, which needs 2.3 s at 4M
        "1.210000 TX " + std::string(4096, '0') + "\n"  // 10 ms after a header that needs 30
        "1.250000 NOTE line error 0x8: the bytes waiting were discarded\n"
        "1.300000 LOST\n";
    const TraceExplanation e = ExplainTrace(trace);
    const std::string told = FormatExplanation(e);
    EXPECT_NE(told.find("the boot speed of crystal 4M"), std::string::npos) << told;
    EXPECT_NE(told.find("speed change from 9600"), std::string::npos) << told;
    EXPECT_NE(told.find("closed while 1634.5 ms of written bytes were still to leave the line at 9600 baud"), std::string::npos) << told;
    EXPECT_NE(told.find("needs 2300 ms for loader 1 at crystal 4M's boot speed); TOO SOON"), std::string::npos) << told;
    EXPECT_NE(told.find("(needs 30 ms after a header); TOO SOON: 20.0 ms short"), std::string::npos) << told;
    EXPECT_EQ(e.damagedLines, 2u);
    EXPECT_NE(e.verdict.find("The update stopped in loader 2 (after 2052 of its bytes): the serial line was lost"), std::string::npos)
        << e.verdict;
    EXPECT_NE(e.verdict.find("1 line error(s)"), std::string::npos) << e.verdict;
}

TEST_F(WireTraceTest, JunkIsReadWithoutACrashAndStopsWhereItStopsMakingSense) {
    std::mt19937 random(12);
    for (int round = 0; round < 50; ++round) {
        std::string junk(1 + random() % 4000, '\0');
        for (char& c : junk)
            c = static_cast<char>(round % 2 ? random() % 256 : "0123456789. TXROPENCLSfa\n"[random() % 26]);
        const TraceExplanation e = ExplainTrace(junk);
        EXPECT_FALSE(e.verdict.empty());
        EXPECT_LE(e.damagedLines, 20u);
        if (!e.readToTheEnd) {
            EXPECT_NE(e.verdict.find("does not read as a wire trace"), std::string::npos) << e.verdict;
        }
    }
}

TEST_F(WireTraceTest, LinesFromManyThreadsStayWholeAndInTimeOrder) {
    std::string why;
    auto trace = WireTrace::Create(Work("threads.trace"), why);
    ASSERT_TRUE(trace) << why;
    std::vector<std::thread> threads;
    const std::vector<uint8_t> block(2048, 0xA5);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                if (t == 0) trace->Tx(block.data(), block.size());
                if (t == 1) trace->Rx(block.data(), 3);
                if (t == 2) trace->Note("line one\nline two \\ end");
                if (t == 3) trace->Lost();
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_TRUE(trace->Healthy());
    EXPECT_FALSE(WireTrace::Create(Work("no/such/folder/x.trace"), why));
    auto full = WireTrace::Create("/dev/full", why);
    ASSERT_TRUE(full) << why;
    full->Tx(block.data(), block.size());
    EXPECT_FALSE(full->Healthy()) << "a trace that cannot be written must say so";
    EXPECT_NE(why.find("No such file"), std::string::npos) << why;

    const std::string text = ReadText(Work("threads.trace"));
    const TraceExplanation e = ExplainTrace(text);
    EXPECT_EQ(e.damagedLines, 0u);
    EXPECT_EQ(e.lines.size(), 801u);
    EXPECT_NE(text.find(" NOTE line one\\nline two \\\\ end\n"), std::string::npos);
    EXPECT_EQ(Joined(ParseTrace(text), "TX").size(), 200u * 2048);
}

TEST_F(WireTraceTest, ATraceAttachedToAnOpenLineRecordsWhatCrossesItAndTheHangUp) {
    TestPty pty;
    CSerialLine line;
    line.SetDeviceResolver([&](uint32_t) { return pty.SlavePath(); });
    ASSERT_TRUE(line.OpenPort(1, "9600,N,8,1"));
    const std::vector<uint8_t> before = {1, 2, 3};
    ASSERT_EQ(line.WriteBytes(before.data(), 3), 3u);  // not recorded: no trace yet

    std::string why;
    auto trace = WireTrace::Create(Work("attached.trace"), why);
    ASSERT_TRUE(trace) << why;
    line.SetTrace(trace);
    std::vector<uint8_t> written(3000);
    for (size_t i = 0; i < written.size(); ++i)
        written[i] = static_cast<uint8_t>(i * 13);
    ASSERT_EQ(line.WriteBytes(written.data(), 3000), 3000u);
    const auto atFarEnd = pty.Receive(3003);
    ASSERT_EQ(atFarEnd.size(), 3003u);
    EXPECT_TRUE(std::equal(written.begin(), written.end(), atFarEnd.begin() + 3));

    const std::string sent = "S\x01board text";
    pty.Send(sent);
    std::vector<uint8_t> read;
    ASSERT_TRUE(WaitUntil([&] {
        uint8_t chunk[64];
        const uint32_t n = line.ReadAvailable(chunk, sizeof chunk, 0);
        read.insert(read.end(), chunk, chunk + n);
        return read.size() >= sent.size();
    }));
    line.Note("operator pressed Cancel");
    pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return ReadText(Work("attached.trace")).find(" LOST\n") != std::string::npos; }));
    line.ClosePort();

    const auto lines = ParseTrace(ReadText(Work("attached.trace")));
    std::string words;
    for (const auto& l : lines)
        words += l.word + " ";
    EXPECT_EQ(words.substr(0, 17), "NOTE NOTE OPEN TX") << words;
    EXPECT_NE(words.find("NOTE LOST CLOSE "), std::string::npos) << words;
    EXPECT_EQ(Joined(lines, "TX"), written);
    const auto received = Joined(lines, "RX");
    EXPECT_EQ(std::string(received.begin(), received.end()), sent);
    EXPECT_NE(ReadText(Work("attached.trace")).find("OPEN " + pty.SlavePath() + " 9600,N,8,1\n"), std::string::npos);
}

}  // namespace
