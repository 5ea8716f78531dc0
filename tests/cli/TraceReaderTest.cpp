// The wire-trace reader's verdicts on hand-made traces of runs that ended every way
// a run can end, and `kestrel-cli trace` on files that are no trace or no file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

#include "cli/TraceCommand.h"
#include "trace/TraceReader.h"

namespace {

namespace fs = std::filesystem;

// A trace as the line records it, written line by line with the times moving on.
class Trace {
public:
    Trace& Line(const std::string& event) {
        micros += 1000;
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%lld.%06lld", micros / 1'000'000, micros % 1'000'000);
        text += std::string(stamp) + " " + event + "\n";
        return *this;
    }
    Trace& Wait(double seconds) {
        micros += static_cast<long long>(seconds * 1e6);
        return *this;
    }
    Trace& Open(const std::string& settings) { return Line("OPEN /dev/ttyUSB0 " + settings); }
    Trace& Close() { return Line("CLOSE"); }
    Trace& Note(const std::string& note) { return Line("NOTE " + note); }
    Trace& Rx(uint8_t byte) { return Line("RX " + Hex({byte})); }
    Trace& Tx(const std::vector<uint8_t>& bytes) { return Line("TX " + Hex(bytes)); }
    Trace& TxFill(size_t count, uint8_t byte) { return Tx(std::vector<uint8_t>(count, byte)); }

    // The wake-up at the operator's 115200 baud, then the line at the boot speed.
    Trace& WakeUp(const std::string& bootSpeed) {
        return Open("115200,N,8,1").TxFill(16, 0xFF).Wait(0.01).Close().Open(bootSpeed + ",N,8,1");
    }
    // 'W' and loader 1, the switch to full speed, 'Z' and loader 2 whole.
    Trace& Loaders() {
        Rx('W').Tx({0x18}).TxFill(2048, 0).Wait(0.3).Close().Open("115200,N,8,1");
        return Rx('Z').Tx({1, 2, 3, 4}).Wait(0.03).TxFill(2048, 0x11).Wait(0.3).TxFill(100, 0x22).Wait(0.3);
    }
    // 'S' and a section header announcing these lengths (code, font, bitmap, logo, map).
    Trace& Header(const std::array<uint32_t, 5>& lengths) {
        std::vector<uint8_t> words(40, 0);
        for (size_t i = 0; i < 5; ++i)
            for (size_t b = 0; b < 4; ++b)
                words[16 + 4 * i + b] = static_cast<uint8_t>(lengths[i] >> (8 * b));
        return Rx('S').Tx(words).Wait(0.03);
    }
    // The board asks for a section and `sent` bytes of it go out.
    Trace& Section(char letter, size_t sent) {
        Rx(static_cast<uint8_t>(letter));
        for (size_t at = 0; at < sent; at += 2048)
            TxFill(std::min<size_t>(2048, sent - at), 0x5A).Wait(0.3);
        return *this;
    }
    Trace& Programmed() {
        for (uint8_t r = 1; r <= 16; ++r)
            Rx(r).Wait(0.1);
        return *this;
    }

    std::string text;

private:
    static std::string Hex(const std::vector<uint8_t>& bytes) {
        static constexpr char digits[] = "0123456789abcdef";
        std::string out;
        for (uint8_t b : bytes)
            out += {digits[b >> 4], digits[b & 0x0F]};
        return out;
    }
    long long micros = 0;
};

constexpr std::array<uint32_t, 5> kFourSections = {5000, 3000, 7000, 2501, 0};
constexpr std::array<uint32_t, 5> kErase = {0, 0, 0, 0, 0xFFFFFFFF};

Trace AllFourSections() {
    Trace t;
    t.WakeUp("115200").Loaders().Header(kFourSections);
    t.Section('C', 5000).Section('F', 3000).Section('B', 7000).Section('E', 2501);
    return t;
}

struct Ending {
    const char* what;
    std::string trace;
    bool finished;        // the last run counts as done
    const char* verdict;  // what the verdict says
    const char* never;    // what it must not say ("" for nothing)
};

void ExpectVerdicts(const std::vector<Ending>& endings) {
    for (const Ending& e : endings) {
        SCOPED_TRACE(e.what);
        const TraceExplanation explained = ExplainTrace(e.trace);
        EXPECT_NE(explained.verdict.find(e.verdict), std::string::npos) << FormatExplanation(explained);
        if (*e.never) {
            EXPECT_EQ(explained.verdict.find(e.never), std::string::npos) << explained.verdict;
        }
        EXPECT_EQ(explained.lastRunFinished, e.finished) << explained.verdict;
        EXPECT_EQ(explained.lastUpdateStopped, !e.finished) << explained.verdict;
        EXPECT_EQ(explained.updatesFinished, e.finished ? 1 : 0);
        EXPECT_EQ(explained.damagedLines, 0u);
    }
}

// A 'D' is a flashed board only when the board was given all it had to be given:
// both loaders, the header, and every section the header announced, whole. The
// reader says so in the words the tool itself uses for the run.
TEST(TraceVerdicts, AFinishTheBoardCouldNotHaveReachedIsAFailureThatNamesWhatIsMissing) {
    ExpectVerdicts({
        {"everything", AllFourSections().Programmed().Rx('D').text, true,
         "The update finished: the board reported 'D' ", ""},
        {"'D' answers the wake-up", Trace().WakeUp("115200").Rx('D').text, false,
         "The update failed: the board reported finished, but it never asked for loader 1, loader 2 and the section "
         "header",
         "The update finished"},
        {"'D' right after the header", Trace().WakeUp("115200").Loaders().Header(kFourSections).Rx('D').text, false,
         "The update failed: the board reported finished, but it never asked for CODE, FONT, BITMAP and LOGO", ""},
        {"only CODE asked for",
         Trace().WakeUp("115200").Loaders().Header(kFourSections).Section('C', 5000).Programmed().Rx('D').text,
         false, "The update failed: the board reported finished, but it never asked for FONT, BITMAP and LOGO.", ""},
        {"FONT cut short",
         Trace().WakeUp("115200").Loaders().Header({0, 3000, 0, 0, 0}).Section('F', 2048).Rx('D').text, false,
         "The update failed: the board reported finished, but FONT was not sent whole", ""},
        {"an erase", Trace().Note("log: ----Erase Flash:").WakeUp("115200").Loaders().Header(kErase).Programmed().Rx('D').text,
         true, "The erase finished: the board reported 'D' ", ""},
        {"an erase the board ends at once", Trace().Note("log: ----Erase Flash:").WakeUp("115200").Rx('D').text, false,
         "The erase failed: the board reported finished, but it never asked for loader 1", ""},
    });
}

// A run the operator cancelled is told as cancelled where it stood, not as a fault
// of the board or the crystal; the speeds named are the ones the line had.
TEST(TraceVerdicts, CancelledRunsAreToldAsCancelledAtTheirStageWithTheLinesSpeeds) {
    const std::string cancel = "log: Stop updating!!! (cancelled by the operator)";
    Trace loader1;
    loader1.WakeUp("9600").Rx('W').Tx({0x18}).TxFill(2048, 0).Note(cancel).Close().Open("115200,N,8,1");
    Trace section;
    section.WakeUp("115200").Loaders().Header(kFourSections).Section('C', 4096).Note(cancel).Close().Open(
        "115200,N,8,1");
    Trace awaitingW;
    awaitingW.WakeUp("9600").Wait(3).Note(cancel).Close().Open("115200,N,8,1");
    Trace gaveUpAwaitingW;
    gaveUpAwaitingW.WakeUp("9600").Wait(5).Note("gave up: no reply from the board for 5 s").Note("log: Stop updating!!!")
        .Close().Open("115200,N,8,1");
    Trace afterHeader;
    afterHeader.WakeUp("115200").Loaders().Header(kFourSections).Rx('X').Wait(5).Note(
        "gave up: no reply from the board for 5 s");
    ExpectVerdicts({
        {"in loader 1", loader1.text, false,
         "The operator cancelled the update while loader 1 was being sent at 9600 baud", "crystal chosen"},
        {"in a section", section.text, false,
         "The operator cancelled the update in the code section (after 4096 of its 5000 bytes, in 2 writes)",
         "stopped in the middle"},
        {"waiting for 'W'", awaitingW.text, false,
         "The operator cancelled the update while waiting for the board's first request ('W') at 9600 baud "
         "(crystal 4M), ",
         "115200"},
        {"given up waiting for 'W'", gaveUpAwaitingW.text, false,
         "while waiting for the board's first request ('W') at 9600 baud (crystal 4M): the board never answered",
         "115200"},
        {"a stray byte after the header", afterHeader.text, false,
         "The update stopped after the section header, while waiting for a section request: no reply for",
         "waiting to send the section header"},
    });
}

struct CommandRun {
    int status = -1;
    std::string out, err;
};

// `kestrel-cli trace PATH` in a child process with a memory limit and an alarm, so
// that a reader that hangs or reads without end fails the test instead of ending it.
CommandRun RunTrace(const std::string& path, const fs::path& scratch) {
    const std::string outFile = (scratch / "out.txt").string(), errFile = (scratch / "err.txt").string();
    std::cout.flush();
    std::cerr.flush();
    const pid_t child = ::fork();
    if (child == 0) {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // they reserve far more address space
        const rlimit memory{1u << 30, 1u << 30};
        ::setrlimit(RLIMIT_AS, &memory);
#endif
        ::alarm(30);
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(err, 2);
        std::string command = "trace";
        std::string argument = path;
        char* argv[] = {command.data(), argument.data(), nullptr};
        // Nothing may leave the child but its status: not even an exception, which
        // would carry on with the test in a copy of the test program.
        int status = 99;
        try {
            status = RunTraceCommand(2, argv);
            std::cout.flush();
            std::cerr.flush();
        } catch (...) {
        }
        ::_exit(status);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    CommandRun r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    auto read = [](const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    r.out = read(outFile);
    r.err = read(errFile);
    return r;
}

// A folder of the test's own, gone with everything in it when the test ends.
struct ScratchFolder {
    ScratchFolder() : path(fs::temp_directory_path() / ("kestrel-trace-command-" + std::to_string(::getpid()))) {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~ScratchFolder() { fs::remove_all(path); }
    const fs::path path;
};

TEST(TraceCommand, ReadsOnlyRegularFilesAndItsStatusFollowsTheVerdict) {
    const ScratchFolder scratch;
    const fs::path& dir = scratch.path;
    auto write = [&](const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    };
    fs::create_symlink("/dev/zero", dir / "zero.trace");
    ASSERT_EQ(::mkfifo((dir / "fifo.trace").c_str(), 0644), 0);
    fs::create_directory(dir / "folder.trace");
    const std::string huge = write("huge.trace", "");
    fs::resize_file(huge, 64 * 1024 * 1024 + 1);  // sparse: takes no room
    const std::string finished = AllFourSections().Programmed().Rx('D').text;
    std::string crlf;
    for (char c : finished)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);

    const struct {
        const char* what;
        std::string path;
        int status;
        const char* out;  // in the explanation ("" when there is none)
        const char* err;  // on stderr ("" when it stays empty)
    } cases[] = {
        {"a link to /dev/zero", (dir / "zero.trace").string(), 2, "", "is not a regular file"},
        {"/dev/urandom", "/dev/urandom", 2, "", "is not a regular file"},
        {"a FIFO without a writer", (dir / "fifo.trace").string(), 2, "", "is not a regular file"},
        {"a folder", (dir / "folder.trace").string(), 2, "", "is a folder"},
        {"a file over 64 MiB", huge, 2, "", " is 67108865 bytes, far more than a wire trace holds"},
        {"no trace line", write("notes.txt", "hello\nthis is no trace\n"), 1, "",
         " is not a wire trace"},
        {"empty", write("empty.trace", ""), 1, "", " is not a wire trace"},
        {"a finished update", write("done.trace", finished), 0,
         "The update finished", ""},
        {"a finished update with CR LF line ends", write("crlf.trace", crlf), 0, "The update finished", ""},
        {"a finish the board could not have reached", write("early.trace", Trace().WakeUp("115200").Rx('D').text), 1,
         "The update failed: the board reported finished", ""},
        {"a port that failed to open",
         write("port.trace", Trace().Note("trace began").Note("box Error: Can't open port!\\n/dev/ttyUSB9: no such device").text),
         1, "the line could not be opened (Error: Can't open port!", ""},
        {"console text only", write("console.trace", Trace().Open("115200,N,8,1").Rx('W').text), 1,
         "No update in this trace", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const CommandRun r = RunTrace(c.path, dir);
        EXPECT_EQ(r.status, c.status) << r.err;
        if (*c.out) {
            EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
        } else {
            EXPECT_EQ(r.out, "");
        }
        if (*c.err) {
            // One line naming the file and what it is.
            EXPECT_EQ(r.err.rfind("kestrel-cli trace: " + c.path, 0), 0u) << r.err;
            EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        } else {
            EXPECT_EQ(r.err, "");
        }
    }
}

}  // namespace
