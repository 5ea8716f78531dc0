// The wire-trace reader's verdicts on hand-made traces of runs that ended every way
// a run can end.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "trace/TraceReader.h"

namespace {

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

}  // namespace
