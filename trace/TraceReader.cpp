#include "trace/TraceReader.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "protocol/Crystals.h"
#include "protocol/ExchangeProgress.h"
#include "protocol/Pacing.h"
#include "trace/TraceLine.h"
#include "protocol/WireProtocol.h"

namespace {

constexpr uint32_t kFullSpeed = 115200;
constexpr int kBitsPerByte = 10;  // start, eight data bits, stop
constexpr size_t kMostDamagedLines = 20;
constexpr size_t kShownBytes = 16;

using Kind = TraceEvent::Kind;
using Event = TraceEvent;

// What the board last asked for, and so what the writes that follow are.
enum class Request { None, Loader1, Loader2, Header, Section };

std::string Hex(const std::vector<uint8_t>& bytes, size_t most) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < bytes.size() && i < most; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
    if (bytes.size() > most)
        out += "...";
    return out;
}

std::string Seconds(int64_t micros) {
    char text[48];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, static_cast<double>(micros) / 1e6,
                                         std::chars_format::fixed, micros >= 10'000'000 ? 0 : 1);
    return std::string(text, ec == std::errc() ? end : text) + " s";
}

std::string Millis(int64_t micros) {
    char text[48];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, static_cast<double>(micros) / 1e3,
                                         std::chars_format::fixed, 1);
    return std::string(text, ec == std::errc() ? end : text) + " ms";
}

// A byte as the board's reply character: 'W', or 0x05 for the small numbers.
std::string ReplyName(uint8_t b) {
    if (b >= 0x21 && b < 0x7F)
        return std::string("'") + static_cast<char>(b) + "'";
    static constexpr char digits[] = "0123456789abcdef";
    return std::string("0x") + digits[b >> 4] + digits[b & 0x0F];
}

std::string Printable(const std::vector<uint8_t>& bytes, size_t most) {
    std::string out;
    for (size_t i = 0; i < bytes.size() && i < most; ++i) {
        const uint8_t b = bytes[i];
        if (b == '\r')
            out += "\\r";
        else if (b == '\n')
            out += "\\n";
        else if (b >= 0x20 && b < 0x7F)
            out += static_cast<char>(b);
        else
            out += '.';
    }
    if (bytes.size() > most)
        out += "...";
    return out;
}

const char* SectionName(uint8_t letter) {
    switch (letter) {
    case 'A': return "flash map";
    case 'C': return "code";
    case 'F': return "font";
    case 'B': return "bitmap";
    case 'E': return "logo";
    default: return nullptr;
    }
}

std::optional<uint32_t> BaudOf(std::string_view settings) {
    const auto comma = settings.find(',');
    const std::string_view speed = settings.substr(0, comma);
    uint32_t baud = 0;
    const auto [end, ec] = std::from_chars(speed.data(), speed.data() + speed.size(), baud);
    if (ec != std::errc() || end != speed.data() + speed.size() || baud == 0)
        return std::nullopt;
    return baud;
}

const CrystalChoice* CrystalForBootSpeed(uint32_t baud) {
    for (const CrystalChoice& c : kCrystals) {
        if (c.bootBaud == baud)
            return &c;
    }
    return nullptr;
}

int64_t WireMicros(size_t bytes, uint32_t baud) {
    return baud == 0 ? 0 : static_cast<int64_t>(bytes) * kBitsPerByte * 1'000'000 / baud;
}

uint32_t LittleEndian32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}

class Explainer {
public:
    explicit Explainer(TraceExplanation& out) : out(out) {}

    void Add(size_t lineNumber, const Event& e) {
        line = {};
        line.lineNumber = lineNumber;
        line.micros = e.micros;
        endMicros = e.micros;
        switch (e.kind) {
        case Kind::Open: OnOpen(e); break;
        case Kind::Close: OnClose(e); break;
        case Kind::Tx: OnTx(e); break;
        case Kind::Rx: OnRx(e); break;
        case Kind::Lost: OnLost(); break;
        case Kind::Note: OnNote(e); break;
        }
        out.lines.push_back(std::move(line));
    }

    void Damaged(size_t lineNumber, int64_t micros, std::string_view text, const std::string& why) {
        ExplainedLine d;
        d.lineNumber = lineNumber;
        d.micros = micros;
        d.mark = ExplainedLine::Mark::Damaged;
        d.event = "DAMAGED";
        d.meaning = "not a trace line: " + why + " (\"" + Printable(std::vector<uint8_t>(text.begin(), text.end()), 40) +
                    "\"); skipped";
        out.lines.push_back(std::move(d));
        ++out.damagedLines;
    }

    std::string Verdict() const;
    // The last update or erase did not end with a 'D' the board could have reached.
    bool UpdateStopped() const { return updating && !(finished && tally.Complete()); }
    bool LastRunFinished() const { return updating && finished && tally.Complete(); }

private:
    void Warn(const std::string& text) {
        line.mark = ExplainedLine::Mark::Warning;
        line.meaning += line.meaning.empty() ? text : "; " + text;
    }

    void OnOpen(const Event& e) {
        line.event = "OPEN " + e.device + " " + e.settings;
        const auto b = BaudOf(e.settings);
        if (!b) {
            Warn("settings with no speed this reader knows");
            lineOpen = true;
            return;
        }
        line.meaning = "line opened at " + std::to_string(*b) + " baud";
        if (baud && *b != baud)
            line.meaning += " (speed change from " + std::to_string(baud) + ")";
        if (stage == Stage::WokenUp) {
            // A wake-up followed by a reopen is an update's start; without one it was
            // the "reset" console command.
            updating = true;
            if (const CrystalChoice* c = CrystalForBootSpeed(*b)) {
                crystal = c;
                line.meaning += ": the boot speed of crystal " + std::string(c->text) + ", waiting for the board's 'W'";
            } else {
                Warn("no crystal boots at this speed");
            }
            stage = Stage::AwaitingW;
            stageMicros = e.micros;
            bootBaud = *b;
        } else if (RunGoesOn() && stage == Stage::Loader1Sent && *b == kFullSpeed) {
            line.meaning += ": full speed for loader 2, waiting for 'Z'";
            loader1Done = true;
        }
        baud = *b;
        lineOpen = true;
        wireBusyUntil = 0;
    }

    void OnClose(const Event& e) {
        line.event = "CLOSE";
        line.meaning = "line closed";
        // A close throws away what the driver still holds: everything written must have
        // had time to leave the line.
        if (lineOpen && baud && wireBusyUntil > e.micros)
            Warn("closed while " + Millis(wireBusyUntil - e.micros) + " of written bytes were still to leave the line at " +
                 std::to_string(baud) + " baud: the end of the last write may have been cut off");
        lineOpen = false;
        closedMicros = e.micros;
    }

    void OnLost() {
        line.event = "LOST";
        line.meaning = "the line hung up (device unplugged, or closed at its far end)";
        if (RunGoesOn()) {
            lostDuring = Where();
            Warn("the update was " + lostDuring);
        }
        line.mark = ExplainedLine::Mark::Warning;
        lineOpen = false;
    }

    void OnNote(const Event& e) {
        line.event = "NOTE";
        if (e.text.rfind("log: ", 0) == 0) {
            line.meaning = "operator log: " + e.text.substr(5);
            if (e.text.find("cancelled by the operator") != std::string::npos && RunGoesOn()) {
                // The run ends here: the tool answers the board no more.
                cancelled = true;
                cancelledWhere = Where();
                cancelMicros = e.micros;
            }
            if (e.text == "log: ----Erase Flash:")
                eraseNext = true;  // the wake-up that follows starts an erase
        } else if (e.text.rfind("line error ", 0) == 0) {
            // CE_* bits: 0x1 queue overflow, 0x2 overrun, 0x4 parity, 0x8 framing, 0x10 break.
            line.meaning = e.text + " (framing and parity errors come from a speed or settings that differ from "
                                    "the board's)";
            line.mark = ExplainedLine::Mark::Warning;
            if (RunGoesOn())
                ++lineErrors;
        } else if (e.text.rfind("gave up: ", 0) == 0) {
            line.meaning = "the tool gave up: " + e.text.substr(9);
            line.mark = ExplainedLine::Mark::Warning;
            decision = "The tool gave up: " + e.text.substr(9) + ".";
        } else if (e.text.rfind("box ", 0) == 0) {
            line.meaning = "message box " + e.text.substr(4);
            line.mark = ExplainedLine::Mark::Warning;
            lastBox = e.text.substr(4);
            if (lastBox.rfind("Error: Can't open port!", 0) == 0)
                openFailure = lastBox;
        } else
            line.meaning = e.text;
    }

    // Where in the exchange the update stands, for a stop or a hang-up.
    std::string Where() const {
        switch (stage) {
        case Stage::WokenUp: return "just after the wake-up";
        case Stage::AwaitingW: return "while waiting for the board's first request ('W') at " + BootSpeed();
        case Stage::Loader1Sent:
            return loader1Done ? "after loader 1, while waiting for 'Z'"
                               : "while loader 1 was being sent at " + std::to_string(bootBaud ? bootBaud : baud) + " baud";
        case Stage::Loader2Sent: return "in loader 2 (after " + std::to_string(requestBytes) + " of its bytes)";
        case Stage::HeaderAsked: return "after 'S', before the section header went out";
        case Stage::HeaderSent: return "after the section header, while waiting for a section request";
        case Stage::Section: {
            const uint32_t announced = LengthOf(sectionLetter);
            if (announced && announced != kEraseLength && sectionOffset >= announced)
                return std::string("after the whole ") + SectionName(sectionLetter) + " section";
            std::string where = std::string("in the ") + SectionName(sectionLetter) + " section";
            if (blocksSent)
                where += " (after " + std::to_string(sectionOffset) + " of its " +
                         (announced && announced != kEraseLength ? std::to_string(announced) + " " : std::string()) +
                         "bytes, in " + std::to_string(blocksSent) + " writes)";
            return where;
        }
        case Stage::Programming: return "while the board programmed its flash (" + std::to_string(progress) + "/16)";
        case Stage::Idle: break;
        }
        return "idle";
    }

    // The speed the line listened at for 'W', with the crystal that boots at it.
    std::string BootSpeed() const {
        if (!bootBaud)
            return "its boot speed";
        return std::to_string(bootBaud) + " baud" + (crystal ? " (crystal " + std::string(crystal->text) + ")" : "");
    }

    // An update or erase is under way: woken, neither finished nor cancelled.
    bool RunGoesOn() const { return updating && !finished && !cancelled; }

    // The pause since the previous write against the pause the exchange needs after it.
    void CheckPause(int64_t now) {
        if (!lastTx)
            return;
        const int64_t pause = now - lastTx->micros;
        line.meaning += ", " + Millis(pause) + " after the previous write";
        if (lastTx->neededMs == 0)
            return;
        line.meaning += " (needs " + std::to_string(lastTx->neededMs) + " ms" +
                        (lastTx->why.empty() ? std::string() : " " + lastTx->why) + ")";
        // Times are whole microseconds: allow one for the rounding.
        if (pause + 1 < int64_t{lastTx->neededMs} * 1000)
            Warn("TOO SOON: " + Millis(int64_t{lastTx->neededMs} * 1000 - pause) + " short of the pause");
    }

    void OnTx(const Event& e) {
        const auto& b = e.bytes;
        line.event = "TX " + std::to_string(b.size()) + (b.size() == 1 ? " byte " : " bytes ") + Hex(b, kShownBytes);
        uint32_t neededMs = 0;
        std::string why;
        if (!lineOpen)
            Warn("written while the trace shows the line closed");

        requestBytes += b.size();
        if (b.size() == kWakeUpLength && std::all_of(b.begin(), b.end(), [](uint8_t x) { return x == kWakeUpByte; })) {
            line.meaning = "wake-up (16 x 0xFF): the board is asked to reset";
            if (RunGoesOn())
                Warn("a new start: the update before stopped " + Where());
            StartUpdate(e.micros);
            neededMs = kWakeUpPauseMs;
            why = "after the wake-up";
        } else if (b.size() == kWakeUpLength && std::all_of(b.begin(), b.end(), [](uint8_t x) { return x == kDemoByte; })) {
            line.meaning = "the \"pcdemo\" console command (16 x 0xEE)";
        } else if (request == Request::Loader1) {
            if (b.size() == 1 && b[0] == kLoader1StartByte) {
                line.meaning = "loader 1 start byte";
            } else {
                line.meaning = "loader 1, " + std::to_string(b.size()) + " bytes";
                if (b.size() != kDownloadBlockSize)
                    Warn("loader 1 goes out as one block of " + std::to_string(kDownloadBlockSize) + " bytes");
                tally.Loader1Sent(b.size() == kDownloadBlockSize);
                neededMs = crystal ? crystal->loader1PauseMs : 0;
                why = crystal ? "for loader 1 at crystal " + std::string(crystal->text) + "'s boot speed" : "";
                request = Request::None;
            }
            stage = Stage::Loader1Sent;
        } else if (request == Request::Loader2) {
            ++writesInRequest;
            if (writesInRequest == 1) {
                line.meaning = "loader 2 header";
                if (b.size() != kLoaderHeaderBytes)
                    Warn("the loader 2 header is " + std::to_string(kLoaderHeaderBytes) + " bytes");
                neededMs = kHeaderPauseMs;
                why = "after a header";
            } else {
                line.meaning = b.size() == kDownloadBlockSize
                                   ? "loader 2 block " + std::to_string(writesInRequest - 1)
                                   : "loader 2, last " + std::to_string(b.size()) + " bytes";
                // Its body goes out in whole blocks and one shorter write at its end.
                if (b.size() < kDownloadBlockSize)
                    tally.Loader2Sent(true);
                neededMs = kBlockPauseMs;
                why = "after a block";
            }
        } else if (request == Request::Header) {
            line.meaning = "section header";
            if (b.size() == kSectionHeaderBytes)
                DescribeHeader(b);
            else
                Warn("a section header is " + std::to_string(kSectionHeaderBytes) + " bytes");
            neededMs = kHeaderPauseMs;
            why = "after a header";
            request = Request::None;
        } else if (request == Request::Section) {
            DescribeSectionWrite(b.size());
            neededMs = kBlockPauseMs;
            why = "after a block";
        } else {
            line.meaning = RunGoesOn() ? "a write the board did not ask for" : "console bytes \"" + Printable(b, 40) + "\"";
        }
        CheckPause(e.micros);
        lastTx = LastWrite{e.micros, b.size(), neededMs, why};
        wireBusyUntil = std::max(wireBusyUntil, e.micros) + WireMicros(b.size(), baud);
    }

    void DescribeHeader(const std::vector<uint8_t>& b) {
        const uint32_t code = LittleEndian32(b, 16), font = LittleEndian32(b, 20), bitmap = LittleEndian32(b, 24),
                       logo = LittleEndian32(b, 28), map = LittleEndian32(b, 32), reserve = LittleEndian32(b, 36);
        lengths = {{'C', code}, {'F', font}, {'B', bitmap}, {'E', logo}, {'A', map}};
        std::array<uint32_t, 10> words{};
        for (size_t i = 0; i < words.size(); ++i)
            words[i] = LittleEndian32(b, 4 * i);
        tally.HeaderSent(words);
        if (map == kEraseLength)
            line.meaning += ": erase the whole flash";
        else if (map != 0)
            line.meaning += ": complete flash map of " + std::to_string(map) + " bytes";
        else
            line.meaning += ": code " + std::to_string(code) + ", font " + std::to_string(font) + ", bitmap " +
                            std::to_string(bitmap) + ", logo " + std::to_string(logo) + " bytes";
        if (reserve)
            line.meaning += ", reserve program";
        stage = Stage::HeaderSent;
    }

    void DescribeSectionWrite(size_t size) {
        ++blocksSent;
        const uint64_t from = sectionOffset;
        sectionOffset += size;
        const char* name = SectionName(sectionLetter);
        const uint32_t announced = LengthOf(sectionLetter);
        std::string text = std::string(name) + " ";
        if (size == kDownloadBlockSize) {
            text += "block " + std::to_string(blocksSent);
            if (announced && announced != kEraseLength)
                text += " of " + std::to_string((uint64_t{announced} + kDownloadBlockSize - 1) / kDownloadBlockSize);
        } else {
            text += "last part, " + std::to_string(size) + " bytes";
        }
        text += " (bytes " + std::to_string(from) + "-" + std::to_string(sectionOffset - 1) + ")";
        line.meaning = text;
        if (haveHeader() && announced != kEraseLength && sectionOffset > announced)
            Warn("more than the " + std::to_string(announced) + " bytes the section header announced");
        if (haveHeader() && announced != 0 && announced != kEraseLength && sectionOffset >= announced)
            tally.SectionSent(sectionLetter, true);
    }

    bool haveHeader() const { return !lengths.empty(); }
    uint32_t LengthOf(uint8_t letter) const {
        for (const auto& [l, n] : lengths)
            if (l == letter)
                return n;
        return 0;
    }

    void StartUpdate(int64_t micros) {
        updating = false;
        loader1Done = false;
        finished = false;
        cancelled = false;
        cancelledWhere.clear();
        bootBaud = 0;
        tally = ExchangeProgress(eraseNext ? ExchangeProgress::Kind::Erase : ExchangeProgress::Kind::Update);
        eraseNext = false;
        stage = Stage::WokenUp;
        stageMicros = micros;
        request = Request::None;
        crystal = nullptr;
        lengths.clear();
        progress = 0;
        lostDuring.clear();
        lastReply.reset();
        lastBox.clear();
        decision.clear();
        lineErrors = 0;
        unanswered.clear();
        repeatedReply = false;
        wakeUpMicros = micros;
    }

    void OnRx(const Event& e) {
        const auto& b = e.bytes;
        line.event = "RX " + Hex(b, kShownBytes);
        if (!RunGoesOn()) {
            line.meaning = "console text \"" + Printable(b, 60) + "\"";
            return;
        }
        const std::string after = lastTx ? ", " + Millis(e.micros - lastTx->micros) + " after the last write" : "";
        if (b.size() != 1) {
            line.meaning = std::to_string(b.size()) + " bytes in one read";
            repeatedReply = std::all_of(b.begin(), b.end(), [&](uint8_t x) { return x == b[0]; }) && IsReply(b[0]);
            if (repeatedReply)
                Warn("the board sent " + ReplyName(b[0]) + " " + std::to_string(b.size()) +
                     " times: a reply comes alone, so none of them is answered");
            else
                Warn("no reply of the board (a reply is one byte alone): nothing is answered");
            if (unanswered.size() < kShownBytes)
                unanswered.insert(unanswered.end(), b.begin(), b.end());
            return;
        }
        const uint8_t r = b[0];
        if (IsReply(r)) {
            // A byte that is no reply leaves the exchange where it stood.
            unanswered.clear();
            repeatedReply = false;
            lastReply = r;
            requestBytes = 0;
            stageMicros = e.micros;
            // The board asks on: it took loader 2 whole.
            if (request == Request::Loader2 && writesInRequest >= 2)
                tally.Loader2Sent(true);
        }
        switch (r) {
        case 'W':
            line.meaning = "'W': the boot code asks for loader 1";
            if (stage == Stage::AwaitingW)
                line.meaning += ", " + Millis(e.micros - wakeUpMicros) + " after the wake-up";
            request = Request::Loader1;
            stage = Stage::Loader1Sent;
            loader1Done = false;
            return;
        case 'Z':
            line.meaning = "'Z': loader 1 runs and asks for loader 2" + after;
            request = Request::Loader2;
            writesInRequest = 0;
            stage = Stage::Loader2Sent;
            return;
        case 'S':
            line.meaning = "'S': loader 2 runs and asks for the section header" + after;
            request = Request::Header;
            stage = Stage::HeaderAsked;
            return;
        case 'D':
            tally.Finished();
            finished = true;
            finishMicros = e.micros;
            if (tally.Complete()) {
                line.meaning = std::string("'D': programming finished, the ") + RunWord() + " is done";
                ++out.updatesFinished;
            } else {
                line.meaning = "'D': the board reports finished";
                Warn(tally.EarlyFinishText());
            }
            request = Request::None;
            return;
        default: break;
        }
        if (const char* name = SectionName(r)) {
            line.meaning = ReplyName(r) + ": the board asks for the " + name + " section" + after;
            if (haveHeader() && r != 'A' && LengthOf(r) == 0)
                Warn("the section header announced no " + std::string(name) + " bytes");
            request = Request::Section;
            stage = Stage::Section;
            tally.SectionSent(r, false);
            sectionLetter = r;
            sectionOffset = 0;
            blocksSent = 0;
            return;
        }
        if (r >= 1 && r <= 16) {
            line.meaning = "programming progress " + std::to_string(r) + "/16 (" + std::to_string(((r * 40) >> 4) + 60) +
                           " %)";
            if (r <= progress)
                Warn("progress did not advance");
            progress = r;
            tally.ProgrammingReport(r);
            request = Request::None;
            stage = Stage::Programming;
            return;
        }
        line.meaning = ReplyName(r) + ": no reply this exchange knows; not answered";
        line.mark = ExplainedLine::Mark::Warning;
        if (unanswered.size() < kShownBytes)
            unanswered.push_back(r);
    }

    static bool IsReply(uint8_t b) {
        return b == 'W' || b == 'Z' || b == 'S' || b == 'D' || SectionName(b) || (b >= 1 && b <= 16);
    }

    std::string Cause(std::string stopped) const;
    const char* RunWord() const { return tally.RunKind() == ExchangeProgress::Kind::Erase ? "erase" : "update"; }

    enum class Stage { Idle, WokenUp, AwaitingW, Loader1Sent, Loader2Sent, HeaderAsked, HeaderSent, Section, Programming };
    struct LastWrite {
        int64_t micros;
        size_t size;
        uint32_t neededMs;
        std::string why;
    };

    TraceExplanation& out;
    ExplainedLine line;
    uint32_t baud = 0;
    bool lineOpen = false;
    std::optional<LastWrite> lastTx;
    int64_t endMicros = 0, closedMicros = -1;
    int64_t wireBusyUntil = 0;  // when the bytes written so far have all left the line

    bool updating = false, finished = false, loader1Done = false;
    bool cancelled = false;      // the operator cancelled the run
    bool eraseNext = false;      // an erase was logged: the next wake-up starts it
    std::string cancelledWhere;  // where the run stood when it was cancelled
    int64_t cancelMicros = 0, finishMicros = 0;
    uint32_t bootBaud = 0;       // the speed the line listened at for 'W'
    ExchangeProgress tally;      // what the run has reached, as the tool judges it
    std::string openFailure;     // the box of a line that could not be opened
    uint64_t requestBytes = 0;  // written since the board's last reply
    Stage stage = Stage::Idle;
    int64_t stageMicros = 0, wakeUpMicros = 0;
    Request request = Request::None;
    const CrystalChoice* crystal = nullptr;
    std::vector<std::pair<uint8_t, uint32_t>> lengths;  // from the section header
    uint8_t sectionLetter = 0;
    uint64_t sectionOffset = 0;
    uint32_t blocksSent = 0;
    int writesInRequest = 0;
    int progress = 0;
    std::optional<uint8_t> lastReply;
    std::vector<uint8_t> unanswered;  // bytes read since the last reply that were none
    bool repeatedReply = false;       // the last of them: one reply several times over
    std::string lostDuring, lastBox;
    std::string decision;  // what the front end decided about the update, as it noted
    int lineErrors = 0;    // reads the line threw away in this update for line errors
};

std::string Explainer::Verdict() const {
    if (!updating) {
        if (!openFailure.empty())
            return "No update in this trace: the line could not be opened (" + openFailure + ").";
        return stage == Stage::WokenUp ? "No update in this trace: the last wake-up (16 x 0xFF) was not followed by a reopen "
                                         "at a boot speed, so it was the \"reset\" console command."
                                       : "No update in this trace (no wake-up was sent).";
    }
    const std::string run = std::string("The ") + RunWord();
    if (finished && tally.Complete())
        return run + " finished: the board reported 'D' " + Seconds(finishMicros - wakeUpMicros) + " after the wake-up.";
    if (finished)
        return run + " failed: " + tally.EarlyFinishText() + ".";
    if (cancelled)
        return "The operator cancelled the " + std::string(RunWord()) + " " + cancelledWhere + ", " +
               Seconds(cancelMicros - wakeUpMicros) + " after the wake-up.";
    const std::string v = run + " stopped " + Where();
    std::string decided = decision.empty() ? "" : " " + decision;
    if (lineErrors)
        decided += " The line reported " + std::to_string(lineErrors) +
                   " line error(s) meanwhile and threw those bytes away: check the crystal and the line settings.";
    if (!lostDuring.empty())
        return v + ": the serial line was lost (LOST): the cable was pulled, the adapter unplugged, or the far end closed." +
               decided;
    return Cause(v) + decided;
}

std::string Explainer::Cause(std::string v) const {
    const int64_t silence = endMicros - std::max(stageMicros, lastTx ? lastTx->micros : int64_t{0});
    if (stage == Stage::AwaitingW) {
        if (repeatedReply)
            return v + ": the board sent its reply twice or more in one read (" + Hex(unanswered, kShownBytes) +
                   "); a reply comes alone, so none was answered. Then nothing for " + Seconds(silence) + ".";
        if (!unanswered.empty())
            return v + ": the board answered the wake-up with bytes that are no reply (" + Hex(unanswered, kShownBytes) +
                   "), so nothing was answered; then nothing for " + Seconds(silence) +
                   ". Noise on the line, or a board at another speed (check the crystal).";
        return v + ": the board never answered the wake-up: no 'W' in " + Seconds(endMicros - wakeUpMicros) +
               ". Check the board's power and cable, and that the crystal chosen is the board's.";
    }
    v += ": no reply for " + Seconds(silence);
    if (lastReply)
        v += " after " + ReplyName(*lastReply);
    switch (stage) {
    case Stage::Loader1Sent:
        v += ". Loader 1 did not start: the crystal chosen is not the board's, or its loader-1 file is damaged";
        break;
    case Stage::Loader2Sent: v += ". Loader 2 did not start, or did not get all of its bytes"; break;
    case Stage::HeaderSent: v += ". The board asked for no section after the header: it may have refused the sizes in it"; break;
    case Stage::Section:
        v += Where().rfind("after the whole", 0) == 0 ? ". The board asked for nothing more after it"
                                                      : ". The board stopped in the middle of the data";
        break;
    case Stage::Programming: v += ". The board stopped reporting while it programmed its flash"; break;
    default: break;
    }
    if (!unanswered.empty())
        v += " (the last bytes read, " + Hex(unanswered, kShownBytes) + ", were no reply)";
    if (closedMicros >= 0 && !lineOpen)
        v += ", then the line was closed";
    if (!lastBox.empty())
        v += ". The operator was shown: " + lastBox;
    return v + ".";
}

}  // namespace

TraceExplanation ExplainTrace(std::string_view text) {
    TraceExplanation out;
    Explainer explainer(out);
    size_t lineNumber = 0;
    int64_t lastMicros = 0;
    size_t at = 0;
    while (at < text.size()) {
        ++lineNumber;
        const auto newline = text.find('\n', at);
        const bool complete = newline != std::string_view::npos;
        std::string_view line = text.substr(at, complete ? newline - at : std::string_view::npos);
        at = complete ? newline + 1 : text.size();
        if (complete && !line.empty() && line.back() == '\r')
            line.remove_suffix(1);  // a trace copied through a Windows machine
        if (!complete)
            out.cutOff = true;
        if (line.empty())
            continue;
        std::string why;
        const auto event = ParseTraceLine(line, why);
        const bool backwards = event && event->micros < lastMicros;
        if (backwards)
            why = "its time goes back before the line above";
        if (!event || backwards) {
            explainer.Damaged(lineNumber, lastMicros, line, complete ? why : why + ", in the last line, cut off");
            if (out.damagedLines >= kMostDamagedLines) {
                out.readToTheEnd = !(at < text.size());
                break;
            }
            continue;
        }
        lastMicros = event->micros;
        ++out.traceLines;
        explainer.Add(lineNumber, *event);
        if (!complete)
            out.lines.back().meaning += " (the last line, cut off: it may be incomplete)";
    }
    out.verdict = explainer.Verdict();
    out.lastUpdateStopped = explainer.UpdateStopped();
    out.lastRunFinished = explainer.LastRunFinished();
    if (out.cutOff)
        out.verdict += " The trace ends in the middle of a line: the recording stopped there (a crash or a full disk).";
    if (!out.readToTheEnd)
        out.verdict += " Reading stopped at line " + std::to_string(lineNumber) + ": after " +
                       std::to_string(out.damagedLines) + " damaged lines the rest does not read as a wire trace.";
    else if (out.damagedLines)
        out.verdict += " " + std::to_string(out.damagedLines) + " damaged line(s) were skipped.";
    return out;
}

std::string FormatExplanation(const TraceExplanation& e) {
    std::string text;
    for (const ExplainedLine& l : e.lines) {
        char time[32];
        const auto [end, ec] = std::to_chars(time, time + sizeof time, static_cast<double>(l.micros) / 1e6,
                                             std::chars_format::fixed, 6);
        std::string stamp(time, ec == std::errc() ? end : time);
        if (stamp.size() < 11)
            stamp.insert(0, 11 - stamp.size(), ' ');
        const char* mark = l.mark == ExplainedLine::Mark::Warning ? " ! " : l.mark == ExplainedLine::Mark::Damaged ? " ? " : "   ";
        std::string event = l.event;
        if (event.size() < 30)
            event.resize(30, ' ');
        text += std::to_string(l.lineNumber) + ":" + stamp + mark + event + " " + l.meaning + "\n";
    }
    text += e.verdict + "\n";
    return text;
}
