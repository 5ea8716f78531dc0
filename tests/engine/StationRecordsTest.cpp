// What a station keeps of each board and decides about it without a line: the JSON
// record a factory system reads, the results file it is appended to (never half a
// line, never over an input), the check of the new firmware, and the counters.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "digest/Sha256.h"
#include "engine/BoardCheck.h"
#include "engine/BoardResult.h"
#include "engine/JsonText.h"
#include "engine/ResultsFile.h"
#include "engine/RunRecord.h"
#include "engine/StationCounters.h"
#include "engine/StationPlan.h"
#include "protocol/WireProtocol.h"
#include "tests/support/JsonReader.h"
#include "trace/WireTrace.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class Folder {
public:
    Folder() : path(fs::temp_directory_path() / ("kestrel-records-" + std::to_string(getpid()))) {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Folder() { fs::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    static std::string Text(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    fs::path path;
};

TEST(JsonText, EveryByteTheBoardOrAFileNameHoldsMakesValidJson) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"plain", "\"plain\""},
        {"say \"hi\" \\ bye", R"("say \"hi\" \\ bye")"},
        {"\r\nline\t\x01\x1f\x7f", R"("\r\nline\t\u0001\u001f\u007f")"},
        {"Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x93\xBA", "\"Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x93\xBA\""},
        // Bytes that are no UTF-8: a lone continuation, an overlong slash, a surrogate,
        // beyond U+10FFFF, a sequence cut at the end.
        {"a\x80z", "\"a\xEF\xBF\xBDz\""},
        {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"end\xE2\x82", "\"end\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {std::string("nul\0byte", 8), R"("nul\u0000byte")"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JsonString(c.in), c.out);
        EXPECT_TRUE(JsonReader::Read(JsonString(c.in))) << JsonString(c.in);
    }
    EXPECT_EQ(JsonSeconds(58.1), "58.1");
    EXPECT_EQ(JsonSeconds(3.0004), "3");
    EXPECT_EQ(JsonSeconds(0.0256), "0.026");
    EXPECT_EQ(JsonSeconds(-0.0001), "0");
    EXPECT_EQ(JsonSeconds(1.0 / 0.0), "0");
}

BoardResult SampleResult() {
    RunRecord run(ExchangeProgress::Kind::Update, RunRecord::Clock::now());
    const uint8_t loader[] = {0x18, 1, 2, 3};
    run.Answered(kReplyLoader1, RunRecord::Clock::now());
    run.Sent(loader, 1);
    run.Sent(loader + 1, 3);
    BoardResult r = ResultOfRun(run.Fail(FailureClass::LineLost, "The serial line was lost!\n/dev/x: hung up",
                                         RunRecord::Clock::now()));
    r.board = 7;
    r.port = 2;
    r.device = "/dev/serial/by-id/usb-FTDI_\"odd\"-port0";
    r.adapter = {"FTDI", "FT232R USB UART", "A1B2C3", "0403:6001"};
    r.crystal = "27M";
    r.files = {{"code.s", std::string(64, 'a')}, {"FONT.bin", std::string(64, 'b')}};
    r.console = std::string(5000, 'x') + "\xFF";
    return r;
}

TEST(BoardRecord, OneLineOfJsonWithEverythingAFactorySystemNeeds) {
    BoardResult r = SampleResult();
    r.started = std::chrono::system_clock::time_point(std::chrono::milliseconds(1714557483125));  // 2024-05-01
    r.ended = r.started + 58100ms;
    r.checkSeconds = 2.5;
    const std::string line = ResultJsonLine(r);
    ASSERT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one record, one line";
    const auto json = JsonReader::Read(line);
    ASSERT_TRUE(json) << line;
    const JsonValue& v = *json;
    EXPECT_EQ(v["started"].text, "2024-05-01T09:58:03.125Z");
    EXPECT_EQ(v["ended"].text, "2024-05-01T09:59:01.225Z");
    EXPECT_EQ(v["board"].number, 7);
    EXPECT_EQ(v["port"].number, 2);
    EXPECT_EQ(v["device"].text, r.device);
    EXPECT_EQ(v["adapter"]["vendor"].text, "FTDI");
    EXPECT_EQ(v["adapter"]["model"].text, "FT232R USB UART");
    EXPECT_EQ(v["adapter"]["serial"].text, "A1B2C3");
    EXPECT_EQ(v["crystal"].text, "27M");
    ASSERT_EQ(v["files"].items.size(), 2u);
    EXPECT_EQ(v["files"].items[1]["path"].text, "FONT.bin");
    EXPECT_EQ(v["files"].items[1]["sha256"].text, std::string(64, 'b'));
    // The wire digest covers the bytes as they were sent, in whatever pieces.
    const uint8_t loader[] = {0x18, 1, 2, 3};
    EXPECT_EQ(v["wire_sha256"].text, Sha256::Hex(Sha256::Of(loader, 4)));
    EXPECT_EQ(v["bytes_sent"].number, 4);
    for (const char* stage : {"to_w", "loader1", "loader2", "header", "sections", "programming", "check"})
        EXPECT_EQ(v["stages"][stage].type, JsonValue::Type::Number) << stage;
    EXPECT_EQ(v["stages"]["check"].number, 2.5);
    EXPECT_EQ(v["console"].text, std::string(BoardResult::kConsoleBytes, 'x')) << "cut at 4 KiB";
    EXPECT_EQ(v["result"].text, "failed");
    EXPECT_EQ(v["message"].text, "The serial line was lost!\n/dev/x: hung up");
    EXPECT_EQ(v["seconds"].number, 58.1);

    // An adapter the system knows nothing of is an empty object, not missing.
    r.adapter = {};
    EXPECT_TRUE(JsonReader::Read(ResultJsonLine(r))->Has("adapter"));
    EXPECT_TRUE((*JsonReader::Read(ResultJsonLine(r)))["adapter"].fields.empty());
    for (auto [outcome, name] : {std::pair{BoardOutcome::CheckFailed, "check-failed"},
                                 {BoardOutcome::FinishedEarly, "finished-early"}, {BoardOutcome::TimedOut, "timed-out"},
                                 {BoardOutcome::Cancelled, "cancelled"}, {BoardOutcome::Passed, "passed"}}) {
        r.outcome = outcome;
        EXPECT_EQ((*JsonReader::Read(ResultJsonLine(r)))["result"].text, name);
    }
}

TEST(BoardRecord, WakingAgainStartsTheRunAndItsTimeToWOver) {
    const auto t0 = RunRecord::Clock::now();
    RunRecord run(ExchangeProgress::Kind::Update, t0);
    run.Listening(t0 + 20ms);
    // A board powered after 30 s of wake-ups: the run is as old as the last one.
    run.WokenAgain(t0 + 30s);
    EXPECT_FALSE(run.SilentFor(5s, t0 + 34s)) << "a wake-up is the tool's own sending, not the board's silence";
    run.Answered(kReplyLoader1, t0 + 30s + 400ms);
    const RunVerdict& v = run.Cancel(t0 + 31s);
    EXPECT_NEAR(v.seconds[kTimeToW], 0.4, 0.01);
    EXPECT_NEAR(v.TotalSeconds(), 1.0, 0.05);
    EXPECT_LT(std::chrono::system_clock::now() - v.started, 1s) << "started is the last wake-up, not the first";
}

TEST(ResultsFile, AppendsWholeLinesAndRefusesAPathThatWouldHarmAnInput) {
    Folder f;
    const std::string results = f / "results.jsonl";
    std::ofstream(f / "code.s") << "S00F000068656C6C6F\n";
    fs::create_symlink(f / "code.s", f / "alias.jsonl");
    std::ofstream(f / "notes.txt") << "my notes\n";
    ASSERT_EQ(mkfifo((f / "fifo").c_str(), 0600), 0);
    const std::vector<std::string> inputs = {f / "code.s"};

    EXPECT_EQ(ResultsFile::PathProblem(results, inputs), "");
    EXPECT_NE(ResultsFile::PathProblem(f / "alias.jsonl", inputs).find("which this run uses"), std::string::npos);
    EXPECT_EQ(ResultsFile::PathProblem(f.path.string(), inputs), "it is a folder");
    EXPECT_NE(ResultsFile::PathProblem(f / "fifo", inputs).find("no regular file"), std::string::npos);
    EXPECT_NE(ResultsFile::PathProblem(f / "notes.txt", inputs).find("other than results"), std::string::npos);
    EXPECT_EQ(ResultsFile::PathProblem("", inputs), "no file is named");

    std::string why;
    {
        auto file = ResultsFile::Open(results, why);
        ASSERT_TRUE(file) << why;
        ASSERT_TRUE(file->Append("{\"board\":1}\n", why)) << why;
    }
    // A later station run adds to the records of the earlier one.
    EXPECT_EQ(ResultsFile::PathProblem(results, inputs), "");
    auto again = ResultsFile::Open(results, why);
    ASSERT_TRUE(again);
    ASSERT_TRUE(again->Append("{\"board\":2}\n", why));
    EXPECT_EQ(Folder::Text(results), "{\"board\":1}\n{\"board\":2}\n");
    EXPECT_FALSE(ResultsFile::Open(f / "no-such-folder/results.jsonl", why));
}

TEST(ResultsFile, ARecordTheDiskCannotTakeIsToldAndLeavesNoHalfLine) {
    Folder f;
    const std::string results = f / "results.jsonl";
    const std::string first = "{\"board\":1}\n";
    std::ofstream(results) << first;
    // A file size limit stands in for a full disk: the write stops part way.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{first.size() + 10, first.size() + 10};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string why;
        auto file = ResultsFile::Open(results, why);
        const bool appended = file && file->Append("{\"board\":2,\"console\":\"" + std::string(100, 'x') + "\"}\n", why);
        _exit(!appended && why == "File too large" ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the failed append was not reported";
    EXPECT_EQ(Folder::Text(results), first) << "the part that went in was taken back out";
}

TEST(BoardCheck, TheFirmwaresWordsDecideOnceTheVerdictHasPassed) {
    const auto t = BoardCheck::Clock::now();
    const auto feed = [](BoardCheck& c, const std::string& text) {
        c.Take(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    };
    CheckRule both;
    both.expect.emplace("firmware OK");
    both.expectText = "firmware OK";
    both.failOn.emplace("PANIC|checksum");
    both.failOnText = "PANIC|checksum";
    both.within = 10s;

    // A fail line after the expected one still fails: the whole time is listened to.
    BoardCheck late(both, t);
    feed(late, "Self test: firmware OK\r\n");
    EXPECT_EQ(late.Decide(t + 1s), BoardCheck::State::Listening);
    feed(late, "Flash: PANIC\r\n");
    EXPECT_EQ(late.Decide(t + 2s), BoardCheck::State::Failed);
    EXPECT_EQ(late.Why(), "the firmware printed \"Flash: PANIC\", which matches --fail-on 'PANIC|checksum'");
    EXPECT_NEAR(late.SecondsListened(t + 5s), 2.0, 0.01);

    BoardCheck good(both, t);
    feed(good, "boot\r\nSelf test: firm");
    feed(good, "ware OK\r\n");
    EXPECT_EQ(good.Decide(t + 9s), BoardCheck::State::Listening);
    EXPECT_EQ(good.Decide(t + 10s), BoardCheck::State::Passed);
    EXPECT_EQ(good.Heard(), "boot\r\nSelf test: firmware OK\r\n");

    // Only --expect: passed as soon as it is heard; never heard: failed at the end.
    CheckRule expectOnly = both;
    expectOnly.failOn.reset();
    BoardCheck quick(expectOnly, t);
    feed(quick, "firmware OK\n");
    EXPECT_EQ(quick.Decide(t + 100ms), BoardCheck::State::Passed);
    BoardCheck silent(expectOnly, t);
    feed(silent, "firmware O");  // an unfinished last line is judged at the end too
    EXPECT_EQ(silent.Decide(t + 10s), BoardCheck::State::Failed);
    EXPECT_EQ(silent.Why(), "the firmware printed no line matching --expect 'firmware OK' within 10 s");
    BoardCheck unfinished(expectOnly, t);
    feed(unfinished, "...firmware OK");
    EXPECT_EQ(unfinished.Decide(t + 10s), BoardCheck::State::Passed);

    // Only --fail-on: a quiet firmware passes once the time is over.
    CheckRule failOnly = both;
    failOnly.expect.reset();
    BoardCheck quiet(failOnly, t);
    EXPECT_EQ(quiet.Decide(t + 10s), BoardCheck::State::Passed);

    // A firmware that never ends its line is judged in pieces, and kept to 4 KiB.
    BoardCheck flood(both, t);
    feed(flood, std::string(3 * BoardCheck::kLongestLine, '.') + "PANIC" + std::string(5000, '.'));
    EXPECT_EQ(flood.Decide(t + 1s), BoardCheck::State::Failed);
    EXPECT_LE(flood.Heard().size(), BoardResult::kConsoleBytes);
}

TEST(StationCounters, PerPortAndInTotal) {
    const auto t = StationCounters::Clock::now();
    StationCounters c(2, t);
    EXPECT_EQ(c.Total(t + 1h).boards, 0u);
    EXPECT_EQ(c.Total(t + 1h).yield, 0);
    c.Count(0, true, 60);
    c.Count(0, false, 10);
    c.Count(1, true, 50);
    c.Count(1, true, 70);
    const CounterFigures total = c.Total(t + 30min);
    EXPECT_EQ(total.boards, 4u);
    EXPECT_EQ(total.passed, 3u);
    EXPECT_EQ(total.failed, 1u);
    EXPECT_DOUBLE_EQ(total.yield, 0.75);
    EXPECT_DOUBLE_EQ(total.medianSeconds, 55);  // of 10, 50, 60, 70
    EXPECT_DOUBLE_EQ(total.boardsPerHour, 8);
    const CounterFigures first = c.Port(0, t + 30min);
    EXPECT_EQ(first.boards, 2u);
    EXPECT_DOUBLE_EQ(first.yield, 0.5);
    c.Count(1, false, 5);
    EXPECT_DOUBLE_EQ(c.Port(1, t + 1h).medianSeconds, 50);  // of 5, 50, 70
}

}  // namespace

TEST(StationTraces, AnEarlierRunsTracesAreKeptAndEachBoardGetsANewOne) {
    Folder f;
    const std::string first = StationTracePath(f.path.string(), "ttyUSB0", 1);
    std::string why;
    {
        auto earlier = WireTrace::Create(first, why);
        ASSERT_TRUE(earlier) << why;
        earlier->Note("the board an earlier run's record names");
    }
    auto read = [](const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string before = read(first);
    const auto traces = StationTraces(f.path.string(), {"ttyUSB0"}, {});
    const auto a = traces(0, 1, why);
    ASSERT_TRUE(a) << why;
    const auto b = traces(0, 1, why);
    ASSERT_TRUE(b) << why;
    EXPECT_NE(a->Path(), first);
    EXPECT_NE(b->Path(), a->Path());
    EXPECT_EQ(read(first), before);
}
