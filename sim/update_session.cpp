#include "sim/update_session.h"

#include <array>

#include "sim/board_wire.h"
#include "sim/line_settings.h"

namespace kestrel::sim {

namespace {

// Time the tool gets to reopen the line after 'D' before the board boots anyway.
constexpr BoardIo::Ms kAfterFinishReopen{2000};
// How long a request waits for the tool to read it before it is sent again.
constexpr BoardIo::Ms kRequestReadLimit{1500};
constexpr int kRequestAttempts = 3;
// How long a progress report may wait for the tool to read the one before it.
constexpr BoardIo::Ms kProgressReadLimit{5000};
// After a reopen the tool purges its input; the board's reply waits this long.
constexpr BoardIo::Ms kSettle{30};
// A line closed this long means the tool has left, not that it is reopening.
constexpr BoardIo::Ms kToolGoneGrace{1000};
// Bytes that are no reply of the board: none is 'W', 'Z', 'S', 'A', 'C', 'F',
// 'B', 'E', 'D' or a progress value 1 … 16.
constexpr std::array<std::uint8_t, 5> kGarbage{0x7F, 0xA5, 0x3C, 0xC3, 0x99};

std::string Quote(std::uint8_t reply) { return std::string("'") + static_cast<char>(reply) + "'"; }

std::string Hex(std::uint8_t b) {
    static const char* const kDigits = "0123456789ABCDEF";
    return std::string("0x") + kDigits[b >> 4] + kDigits[b & 15];
}

std::string Bytes(std::size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

bool Interrupted(WaitResult r) { return r == WaitResult::Stopped || r == WaitResult::Unplugged; }

// A tool starting over sends the wake-up again; that is no answer to a reply.
void DropWakeUps(std::vector<std::uint8_t>& bytes) { std::erase(bytes, wire::kResetByte); }

}  // namespace

const char* SessionEndName(SessionEnd end) {
    switch (end) {
        case SessionEnd::Finished: return "finished";
        case SessionEnd::Abandoned: return "abandoned";
        case SessionEnd::Refused: return "refused";
        case SessionEnd::Faulted: return "faulted";
        case SessionEnd::HungUp: return "hungup";
        case SessionEnd::Stopped: return "stopped";
        case SessionEnd::Unplugged: return "unplugged";
    }
    return "ended";
}

SessionEnd UpdateSession::EndOf(WaitResult r, const std::string& during) {
    if (r == WaitResult::Unplugged) {
        log_.Note("the line was pulled " + during + "; the update is lost");
        return SessionEnd::Unplugged;
    }
    return SessionEnd::Stopped;
}

std::string UpdateSession::Shortfall(const Received& r, std::size_t count) const {
    std::string text = "received " + std::to_string(r.bytes.size()) + " of " + Bytes(count);
    switch (r.result) {
        case WaitResult::LineClosed: return text + ", then the tool closed the line";
        case WaitResult::TimedOut:
            return text + ", then nothing for " + std::to_string(options_.idleTimeout.count()) + " ms";
        default: return text;
    }
}

WaitResult UpdateSession::SettleAndCheckLine(unsigned baud, const std::string& check, const char* next_reply) {
    termios seen{};
    const WaitResult settled = io_.AwaitSettings(baud, kSettle, seen);
    if (settled != WaitResult::Done) return settled;
    const std::string problems = LineSettingsProblems(seen, baud);
    log_.Check(check, problems.empty(),
               problems.empty() ? DescribeLineSettings(seen) : DescribeLineSettings(seen) + ": " + problems);
    const auto early = io_.TakePending();
    if (next_reply != nullptr && !early.empty()) {
        log_.Check(std::string("quiet line before ") + next_reply, false,
                   "the tool sent " + Bytes(early.size()) + " before the board asked for anything");
    }
    return WaitResult::Done;
}

WaitResult UpdateSession::SendRequest(std::uint8_t request) {
    // A hasty board sends its request once and goes on.
    if (options_.fault == FaultMode::Hasty) {
        io_.Send(request);
        return io_.Line().IsOpen() ? WaitResult::Done : WaitResult::Unplugged;
    }
    // A request that reaches the tool just before it purges its input on a reopen
    // is lost; the tool reads every request it gets, so one left unread is sent again.
    for (int attempt = 0; attempt < kRequestAttempts; ++attempt) {
        const WaitResult read = io_.SendAndAwaitRead(request, kRequestReadLimit);
        if (Interrupted(read)) return read;
        if (read == WaitResult::Done) break;
        log_.Note(std::string("request '") + static_cast<char>(request) + "' was not read; sent again");
    }
    return WaitResult::Done;
}

UpdateSession::Received UpdateSession::Ask(std::uint8_t request, std::size_t count, bool then_gap) {
    Received r;
    r.result = SendRequest(request);
    if (Interrupted(r.result)) return r;
    r.result = io_.Receive(count, r.bytes, options_.idleTimeout);
    if (r.result != WaitResult::Done || !then_gap) return r;
    // The tool ends every run with a write shorter than a block and a pause
    // after it; when the run is a whole number of blocks that last write is
    // empty, so the tool is still pausing one block's time after the last byte.
    const std::size_t paced = request == wire::kAskLoader2 ? count - wire::kLoaderFileHeader : count;
    const auto gap = paced % wire::kWriteBlockSize == 0 ? 2 * options_.replyGap : options_.replyGap;
    const WaitResult idle = io_.Idle(gap);
    if (Interrupted(idle)) {
        r.result = idle;
        return r;
    }
    r.surplus = io_.TakePending().size();
    return r;
}

WaitResult UpdateSession::AwaitGiveUp(LineMark mark) {
    // The one board is there for the tool until it leaves. A station with a
    // succession of boards gives a board up and goes on trying the line, so
    // a board of a succession also takes a reopen, or silence, as the end.
    if (options_.boards == 0) return io_.AwaitToolGone(kToolGoneGrace, BoardIo::Ms{0});
    return io_.AwaitGiveUp(mark, kToolGoneGrace, options_.idleTimeout);
}

SessionEnd UpdateSession::ExpectNoAnswer(const std::string& check, LineMark mark) {
    // The tool must drop the faulty reply and send nothing; the exchange is
    // over once it gives up.
    const WaitResult r = AwaitGiveUp(mark);
    auto answer = io_.TakePending();
    if (options_.boards != 0) DropWakeUps(answer);
    log_.Check(check, answer.empty(),
               answer.empty() ? std::string("the tool sent nothing")
                              : "the tool answered with " + Bytes(answer.size()) + ", first " + Hex(answer[0]));
    return Interrupted(r) ? EndOf(r, "while the board waited for the tool to give up") : SessionEnd::Faulted;
}

SessionEnd UpdateSession::Silent() {
    const WaitResult r = AwaitGiveUp(io_.Mark());
    const auto heard = io_.TakePending();
    if (!heard.empty()) log_.Received(Bytes(heard.size()) + " while staying silent");
    return Interrupted(r) ? EndOf(r, "while the board stayed silent") : SessionEnd::Faulted;
}

SessionEnd UpdateSession::EarlyFinish(const std::string& where) {
    const LineMark before = io_.Mark();
    io_.Send(wire::kFinished);
    outcome_ = "nothing programmed";
    log_.Received(std::string("'D' sent ") + where + ", as the " + FaultModeName(options_.fault) +
                  " fault asks: nothing was programmed");
    return ExpectNoAnswer("no answer to an early 'D'", before);
}

SessionEnd UpdateSession::Run() {
    log_.Received("wake-up (16 x 0xFF), then the line reopened");
    const WaitResult boot = SettleAndCheckLine(crystal_.bootBaud, "line settings at boot speed", "'W'");
    if (boot != WaitResult::Done) return EndOf(boot, "right after the wake-up");

    switch (options_.fault) {
        case FaultMode::Silent: return Silent();
        case FaultMode::Double: {
            const LineMark before = io_.Mark();
            const std::uint8_t twice[] = {wire::kAskLoader1, wire::kAskLoader1};
            io_.Send(twice);
            return ExpectNoAnswer("no answer to a doubled reply", before);
        }
        case FaultMode::Garbage: {
            // One byte at a time, so that each read of the tool finds a single
            // byte that is no reply.
            const LineMark before = io_.Mark();
            for (std::uint8_t b : kGarbage) {
                io_.Send(b);
                const WaitResult idle = io_.Idle(BoardIo::Ms{20});
                if (Interrupted(idle)) return EndOf(idle, "while the board sent garbage");
            }
            return ExpectNoAnswer("no answer to garbage", before);
        }
        case FaultMode::EarlyD: return EarlyFinish("instead of 'W'");
        case FaultMode::None:
        case FaultMode::HangUp:
        case FaultMode::Hasty:
        case FaultMode::Coalesced:
        case FaultMode::EarlyDAfterHeader:
        case FaultMode::SkipSections:
        case FaultMode::BadBanner: break;
    }

    // Loader 1, at the boot speed. Its end is marked only by the tool closing
    // the line to reopen it at full speed.
    const LineMark before_loader1 = io_.Mark();
    // Its first byte apart: the moment the tool answered is an event of its own.
    Received one = Ask(wire::kAskLoader1, 1, false);
    if (one.result == WaitResult::Done) {
        if (answered_) answered_();
        std::vector<std::uint8_t> rest;
        one.result = io_.Receive(loaders_.loader1Wire.size() - 1, rest, options_.idleTimeout);
        one.bytes.insert(one.bytes.end(), rest.begin(), rest.end());
    }
    wire_ = one.bytes;
    if (Interrupted(one.result)) return EndOf(one.result, "during loader 1");
    if (one.result != WaitResult::Done) {
        log_.Check("loader 1", false, Shortfall(one, loaders_.loader1Wire.size()));
        return SessionEnd::Abandoned;
    }
    log_.Received("loader 1: " + Bytes(one.bytes.size()));
    std::string detail = "start byte and the " + std::to_string(wire::kLoader1BlockSize) + "-byte block match " +
                         loaders_.loader1File.filename().string();
    bool held = true;
    if (one.bytes[0] != wire::kLoader1StartByte) {
        held = false;
        detail = "start byte " + Hex(one.bytes[0]) + " instead of " + Hex(wire::kLoader1StartByte);
    } else if (const auto at = FirstDifference(one.bytes, loaders_.loader1Wire)) {
        held = false;
        detail = "block byte " + std::to_string(*at - 1) + " is " + Hex(one.bytes[*at]) + ", the loader file gives " +
                 Hex(loaders_.loader1Wire[*at]);
    }
    const WaitResult reopened = io_.AwaitReopen(before_loader1, options_.idleTimeout);
    const auto after_loader1 = io_.TakePending();
    if (!after_loader1.empty()) {
        held = false;
        detail += "; " + Bytes(after_loader1.size()) + " more followed the block";
    }
    log_.Check("loader 1", held, detail);
    if (Interrupted(reopened)) return EndOf(reopened, "while the board waited for the switch to full speed");
    if (reopened != WaitResult::Done) {
        log_.Check("reopen at full speed after loader 1", false, "the tool did not close and reopen the line");
        return SessionEnd::Abandoned;
    }
    const WaitResult full = SettleAndCheckLine(wire::kFullSpeedBaud, "line settings for loader 2", "'Z'");
    if (full != WaitResult::Done) return EndOf(full, "after the switch to full speed");

    // Loader 2: its header and body, never the trailer.
    Received two = Ask(wire::kAskLoader2, loaders_.loader2Wire.size());
    wire_.insert(wire_.end(), two.bytes.begin(), two.bytes.end());
    if (Interrupted(two.result)) return EndOf(two.result, "during loader 2");
    if (two.result != WaitResult::Done) {
        log_.Check("loader 2", false, Shortfall(two, loaders_.loader2Wire.size()));
        return SessionEnd::Abandoned;
    }
    log_.Received("loader 2: " + Bytes(two.bytes.size()));
    if (const auto at = FirstDifference(two.bytes, loaders_.loader2Wire)) {
        log_.Check("loader 2", false,
                   "byte " + std::to_string(*at) + " is " + Hex(two.bytes[*at]) + ", the loader file gives " +
                       Hex(loaders_.loader2Wire[*at]));
    } else {
        log_.Check("loader 2", two.surplus == 0,
                   two.surplus == 0 ? "first " + Bytes(two.bytes.size()) + " of " +
                                          loaders_.loader2File.filename().string()
                                    : Bytes(two.surplus) + " more than the loader's " + Bytes(two.bytes.size()));
    }

    // The section header decides what the board asks for next.
    Received head = Ask(wire::kAskHeader, wire::kSectionHeaderSize);
    wire_.insert(wire_.end(), head.bytes.begin(), head.bytes.end());
    if (Interrupted(head.result)) return EndOf(head.result, "during the section header");
    if (head.result != WaitResult::Done) {
        log_.Check("section header", false, Shortfall(head, wire::kSectionHeaderSize));
        return SessionEnd::Abandoned;
    }
    const SectionHeader header =
        DecodeSectionHeader(std::span<const std::uint8_t, wire::kSectionHeaderSize>(head.bytes.data(), head.bytes.size()));
    log_.Received("section header: " + DescribeHeader(header));
    std::vector<std::string> problems = HeaderProblems(header);
    if (head.surplus != 0) problems.push_back(Bytes(head.surplus) + " more followed the 40-byte header");
    std::string joined;
    for (const std::string& p : problems) joined += (joined.empty() ? "" : "; ") + p;
    log_.Check("section header", problems.empty(), problems.empty() ? "consistent" : joined);
    if (!problems.empty()) return SessionEnd::Refused;
    if (options_.fault == FaultMode::EarlyDAfterHeader) return EarlyFinish("right after the section header");

    std::vector<SectionRequest> requests = RequestsFor(header);
    if (options_.fault == FaultMode::SkipSections) {
        // Only the code is asked for; whatever else the header announced is left out.
        std::vector<SectionRequest> code;
        for (const SectionRequest& r : requests) {
            if (r.letter == wire::kAskCode) {
                code.push_back(r);
            } else {
                skipped_ += (skipped_.empty() ? "" : ", ") + std::string(r.name) + " " + Bytes(r.length);
            }
        }
        if (KindOf(header) == UpdateKind::Erase) skipped_ = "the erase of the whole flash";
        if (skipped_.empty()) log_.Note("skip-sections: the header announced nothing but code, so nothing is skipped");
        requests = std::move(code);
    }

    std::vector<ReceivedSection> sections;
    bool first = true;
    for (const SectionRequest& request : requests) {
        const std::string check = std::string(request.name) + " section";
        if (first && options_.fault == FaultMode::HangUp) {
            // Hang up with part of the section in: the tool is in the middle of
            // its paced writes.
            Received part = Ask(request.letter, request.length / 2, false);
            wire_.insert(wire_.end(), part.bytes.begin(), part.bytes.end());
            if (Interrupted(part.result)) return EndOf(part.result, "during the " + check);
            io_.PullLine();
            log_.Note("hung up after " + std::to_string(part.bytes.size()) + " of " + Bytes(request.length) + " of the " +
                      check + ", as the hangup fault asks");
            return SessionEnd::HungUp;
        }
        first = false;
        Received r = Ask(request.letter, request.length);
        wire_.insert(wire_.end(), r.bytes.begin(), r.bytes.end());
        if (Interrupted(r.result)) return EndOf(r.result, "during the " + check);
        if (r.result != WaitResult::Done) {
            log_.Check(check, false, Quote(request.letter) + " " + Shortfall(r, request.length));
            return SessionEnd::Abandoned;
        }
        log_.Received(check + ": " + Bytes(r.bytes.size()));
        log_.Check(check, r.surplus == 0,
                   r.surplus == 0 ? Bytes(r.bytes.size()) + " as announced"
                                  : Bytes(r.surplus) + " more than the " + Bytes(request.length) + " announced");
        sections.push_back({request, std::move(r.bytes)});
    }
    return Program(header, sections);
}

SessionEnd UpdateSession::Program(const SectionHeader& header, const std::vector<ReceivedSection>& sections) {
    if (KindOf(header) == UpdateKind::Erase) {
        if (skipped_.empty()) {
            flash_.Erase();
            outcome_ = "flash erased";
        } else {
            outcome_ = "nothing erased";
        }
    } else {
        outcome_.clear();
        for (const ReceivedSection& s : sections) {
            flash_.Program(s.request.flashOffset, s.bytes);
            outcome_ += (outcome_.empty() ? "" : ", ") + std::string(s.request.name) + " " + Bytes(s.bytes.size());
        }
        if (outcome_.empty()) outcome_ = "nothing to program";
    }
    std::string error;
    const bool saved = flash_.Save(error);
    log_.Check("flash file written", saved, saved ? flash_.Path().string() : error);

    const bool coalesce = options_.fault == FaultMode::Coalesced;
    const std::uint8_t alone = coalesce ? wire::kProgressSteps - 1 : wire::kProgressSteps;
    for (std::uint8_t step = 1; step <= alone; ++step) {
        // The tool may still be pacing its last write; each report waits for the
        // tool's read of the one before, however long that takes, unless the
        // board is a hasty one.
        if (options_.fault == FaultMode::Hasty) {
            io_.Send(step);
        } else if (const WaitResult read = io_.SendAndAwaitRead(step, kProgressReadLimit); Interrupted(read)) {
            return EndOf(read, "while the board programmed its flash");
        }
        const WaitResult gap = io_.Idle(options_.progressGap);
        if (Interrupted(gap)) return EndOf(gap, "while the board programmed its flash");
    }
    const auto during = io_.TakePending();
    if (!during.empty()) {
        log_.Check("quiet line while programming", false, "the tool sent " + Bytes(during.size()));
    }
    if (coalesce) {
        const LineMark before = io_.Mark();
        const std::uint8_t both[] = {wire::kProgressSteps, wire::kFinished};
        io_.Send(both);
        log_.Received("update ended with progress 16 and 'D' in one write, as the coalesced fault asks: " + outcome_);
        return ExpectNoAnswer("no answer to coalesced replies", before);
    }
    const LineMark before_finish = io_.Mark();
    io_.Send(wire::kFinished);
    if (skipped_.empty()) {
        log_.Received("update ended with 'D': " + outcome_);
    } else {
        log_.Received("update ended with 'D' as the skip-sections fault asks, leaving out " + skipped_ + ": " +
                      outcome_);
    }

    // The tool answers 'D' by reopening its line at full speed; the board
    // boots its new firmware meanwhile. Once 'D' is out the update is done: a
    // line pulled now only loses what the board prints.
    const WaitResult reopened = io_.AwaitReopen(before_finish, kAfterFinishReopen);
    WaitResult after = reopened;
    if (reopened == WaitResult::Done) {
        after = SettleAndCheckLine(wire::kFullSpeedBaud, "line settings after the update", nullptr);
    } else if (reopened == WaitResult::TimedOut) {
        log_.Note("the tool did not reopen the line after 'D'");
    }
    if (after == WaitResult::Stopped) return SessionEnd::Stopped;
    if (after == WaitResult::Unplugged) log_.Note("the line was pulled right after 'D'");
    return SessionEnd::Finished;
}

}  // namespace kestrel::sim
