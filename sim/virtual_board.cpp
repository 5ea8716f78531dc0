#include "sim/virtual_board.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "sim/board_io.h"
#include "sim/board_wire.h"
#include "sim/console_text.h"

namespace kestrel::sim {

namespace {
// After a reset pattern the tool reopens the line at once when it is starting
// an update; a plain reset leaves it open.
constexpr BoardIo::Ms kRebootWindow{500};
// How long the board waits, after its last update with --once, for the tool
// to let go of the line, so that the tool never sees it vanish under it.
constexpr BoardIo::Ms kLingerAfterUpdate{2000};
constexpr BoardIo::Ms kConsolePoll{50};
// A line closed this long means the tool has let go of it, not that it is
// reopening it.
constexpr BoardIo::Ms kToolGoneGrace{1000};
// The firmware prints its banner line by line as it boots.
constexpr BoardIo::Ms kBannerLineGap{20};

std::span<const std::uint8_t> AsBytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string Seconds(std::chrono::milliseconds ms) {
    std::string text = std::to_string(ms.count() / 1000);
    if (ms.count() % 1000 != 0) {
        std::string fraction = std::to_string(1000 + ms.count() % 1000).substr(1);
        while (fraction.back() == '0') fraction.pop_back();
        text += "." + fraction;
    }
    return text + " s";
}

std::string Verdict(const BoardRecord& board, SessionEnd end, const std::string& outcome, const std::string& skipped) {
    const std::string fault = std::string(" (") + FaultModeName(board.fault) + " fault)";
    switch (end) {
        case SessionEnd::Finished:
            if (!skipped.empty()) {
                return "not flashed whole: 'D' although it left out " + skipped + fault + "; flash holds " + outcome;
            }
            if (board.fault == FaultMode::BadBanner) {
                return "flashed (" + outcome + "), but its firmware reports a flash checksum error" + fault;
            }
            return "flashed (" + outcome + "), firmware OK";
        case SessionEnd::Faulted:
            if (board.fault == FaultMode::EarlyD || board.fault == FaultMode::EarlyDAfterHeader) {
                return "not flashed: 'D' before any data" + fault;
            }
            return "not flashed: no 'D' of its own" + fault;
        case SessionEnd::Abandoned: return "not flashed: the update broke off";
        case SessionEnd::Refused: return "not flashed: the section header was refused";
        case SessionEnd::HungUp: return "not flashed: it hung up the line in its first section" + fault;
        case SessionEnd::Unplugged: return "not flashed: the line was pulled during the update";
        case SessionEnd::Stopped: break;
    }
    return "stopped during its update";
}
}  // namespace

VirtualBoard::VirtualBoard(BoardOptions options) : options_(std::move(options)) {}

VirtualBoard::~VirtualBoard() { Shutdown(); }

bool VirtualBoard::Start(std::string& error) {
    const auto crystal = FindCrystal(options_.crystal);
    if (!crystal) {
        error = "unknown crystal '" + options_.crystal + "'";
        return false;
    }
    crystal_ = *crystal;
    const auto lib = options_.libDir.empty() ? DefaultLibDir() : options_.libDir;
    auto loaders = LoadLoaderImages(lib, crystal_.name, error);
    if (!loaders) return false;
    loaders_ = std::move(*loaders);

    boards_.clear();
    if (options_.boards == 0) {
        auto board = std::make_unique<BoardRecord>();
        board->fault = options_.fault;
        board->flashFile = options_.flashFile;
        boards_.push_back(std::move(board));
    } else {
        for (unsigned number = 1; number <= options_.boards; ++number) {
            auto board = std::make_unique<BoardRecord>();
            board->number = number;
            board->serial = SerialNumber(options_.firstSerial + number - 1);
            board->fault = options_.FaultOf(number);
            board->flashFile = options_.FlashFileOf(number);
            // Found now rather than when the board's turn comes.
            if (!FlashStore::Usable(board->flashFile, error)) return false;
            boards_.push_back(std::move(board));
        }
    }
    current_ = boards_.front().get();
    if (!flash_.Open(current_->flashFile, error)) return false;
    if (!line_.Open(error)) return false;
    first_path_ = line_.SlavePath();
    // Counted from here, before Run: whoever drives the clock after Start
    // never moves it too early.
    if (options_.replugAfter) pull_at_ = clock_->Now() + *options_.replugAfter;
    return PlaceLink(error);
}

bool VirtualBoard::PlaceLink(std::string& error) {
    if (options_.linkPath.empty()) return true;
    namespace fs = std::filesystem;
    const fs::path& link = options_.linkPath;
    std::error_code ec;
    const auto status = fs::symlink_status(link, ec);
    if (fs::exists(status) && !fs::is_symlink(status)) {
        error = link.string() + " exists and is not a link; it is left alone";
        return false;
    }
    // Replace an old link in one step: a tool that opens the path never finds
    // it missing.
    const fs::path temporary = link.string() + ".new" + std::to_string(::getpid());
    fs::remove(temporary, ec);
    fs::create_symlink(line_.SlavePath(), temporary, ec);
    if (!ec) fs::rename(temporary, link, ec);
    if (ec) {
        fs::remove(temporary, ec);
        error = "cannot place the link " + link.string() + ": " + ec.message();
        return false;
    }
    link_placed_ = true;
    return true;
}

void VirtualBoard::RemoveLink() {
    if (!link_placed_) return;
    std::error_code ec;
    if (std::filesystem::read_symlink(options_.linkPath, ec) == line_.SlavePath()) {
        std::filesystem::remove(options_.linkPath, ec);
    }
    link_placed_ = false;
}

void VirtualBoard::Shutdown() {
    RemoveLink();
    line_.Close();
}

void VirtualBoard::Pull() {
    // The link goes first: a tool that sees the hang-up and opens the path
    // again finds nothing there rather than the dying pty.
    RemoveLink();
    line_.Close();
    replug_at_ = clock_->Now() + options_.unpluggedTime;
    if (current_ != nullptr) current_->log.Note("the line was pulled for " + Seconds(options_.unpluggedTime));
    Emit("unplugged");
}

bool VirtualBoard::KeepLine(BoardIo& io) {
    if (line_.IsOpen()) return true;
    if (!replug_at_) return false;
    if (clock_->Now() < *replug_at_) {
        io.Pump(kConsolePoll);  // the line is away: this only lets time pass
        return !io.StopRequested();
    }
    replug_at_.reset();
    std::string error;
    if (!line_.Open(error) || !PlaceLink(error)) {
        setup_error_ = "the line could not be plugged in again: " + error;
        return false;
    }
    Emit("line " + line_.SlavePath());
    return true;
}

void VirtualBoard::KeepWire(BoardRecord& board, const std::vector<std::uint8_t>& wire) {
    // Beside the flash: what this board was sent, for whoever checks the tool's record.
    const std::filesystem::path path = flash_.Path().string() + ".wire";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(wire.data()), static_cast<std::streamsize>(wire.size()));
    if (!out) board.log.Note("the received bytes could not be written to " + path.string());
}

void VirtualBoard::Emit(const std::string& event) const {
    if (events_) events_(event);
}

void VirtualBoard::Emit(const BoardRecord& board, const std::string& what) const {
    Emit("board " + std::to_string(board.number) + " " + board.serial + " " + what);
}

void VirtualBoard::PrintBanner(BoardIo& io, const BoardRecord& board) {
    if (board.fault == FaultMode::Silent) return;
    io.Send(AsBytes(BannerText(std::string(crystal_.name), board.lastUpdate)));
}

void VirtualBoard::PrintFirmwareBanner(BoardIo& io, const BoardRecord& board, bool healthy) {
    for (const std::string& line : FirmwareBanner(board.serial, last_outcome_, healthy)) {
        // A line pulled meanwhile takes the rest of the banner with it.
        if (!io.Send(AsBytes(line)) || io.Idle(kBannerLineGap) != WaitResult::Done) return;
    }
}

std::optional<SessionEnd> VirtualBoard::Console(BoardIo& io, BoardRecord& board) {
    BoardOptions options = options_;
    options.fault = board.fault;
    ConsolePatterns patterns;
    while (!io.StopRequested()) {
        if (!line_.IsOpen()) {
            if (!KeepLine(io)) return std::nullopt;
            patterns = ConsolePatterns();
            continue;
        }
        // Taken before the read: a close the tool makes right after its
        // wake-up is then always counted after this mark.
        const LineMark mark = io.Mark();
        io.Pump(kConsolePoll);
        const auto bytes = io.TakePending();
        for (std::uint8_t b : bytes) {
            const auto seen = patterns.Feed(b);
            if (seen == ConsolePatterns::Seen::Demo) {
                board.log.Received("console: pcdemo (16 x 0xEE)");
                if (board.fault != FaultMode::Silent) io.Send(AsBytes(DemoText()));
                continue;
            }
            if (seen != ConsolePatterns::Seen::Reset) continue;
            // The board reboots: the rest of what came with the pattern is lost.
            // It runs an update when the tool reopens the line soon, otherwise
            // it boots to its banner.
            const WaitResult r = io.AwaitReopen(mark, kRebootWindow);
            io.TakePending();
            if (r == WaitResult::Stopped) return std::nullopt;
            if (r == WaitResult::Unplugged) break;
            if (r != WaitResult::Done) {
                board.log.Received("console: reset (16 x 0xFF), no reopen followed: rebooted");
                PrintBanner(io, board);
                break;
            }
            if (options_.boards != 0) Emit(board, "woken");
            UpdateSession session(io, board.log, flash_, loaders_, options, crystal_);
            if (options_.boards != 0) session.OnAnswered([this, &board] { Emit(board, "answered"); });
            const SessionEnd end = session.Run();
            KeepWire(board, session.Wire());
            last_outcome_ = session.Outcome();
            last_skipped_ = session.Skipped();
            if (end == SessionEnd::Finished) board.lastUpdate = session.Outcome();
            return end;
        }
    }
    return std::nullopt;
}

void VirtualBoard::Run(const StopSource& stop) {
    BoardIo io(line_, stop);
    if (options_.boards != 0 || options_.replugAfter) io.SetPull([this] { Pull(); });
    if (pull_at_) io.SchedulePull(*clock_, *pull_at_);
    if (options_.boards == 0) {
        RunSingle(io);
    } else {
        RunSuccession(io);
    }
}

void VirtualBoard::RunSingle(BoardIo& io) {
    BoardRecord& board = *boards_.front();
    for (;;) {
        const auto end = Console(io, board);
        if (!end || *end == SessionEnd::HungUp || *end == SessionEnd::Stopped) return;
        if (*end == SessionEnd::Finished) PrintBanner(io, board);
        if (options_.once) {
            if (*end == SessionEnd::Finished) io.AwaitToolGone(BoardIo::Ms{0}, kLingerAfterUpdate);
            return;
        }
    }
}

void VirtualBoard::RunSuccession(BoardIo& io) {
    for (const auto& board : boards_) {
        if (board.get() != current_) {
            current_ = board.get();
            std::string error;
            if (!flash_.Open(board->flashFile, error)) {
                setup_error_ = error;
                return;
            }
        }
        if (!RunOneBoard(io, *board)) return;
    }
    Emit("end");
    // No board is left; the line stays until the tool lets go of it, so that
    // it never vanishes under the tool.
    if (line_.IsOpen()) io.AwaitToolGone(kToolGoneGrace, BoardIo::Ms{0});
}

bool VirtualBoard::RunOneBoard(BoardIo& io, BoardRecord& board) {
    // Each deadline is taken before the event that announces it: whoever
    // drives the clock on the event never moves it too early.
    board.verdict = "plugged in, never powered";
    const auto power_on = clock_->Now() + options_.offTime;
    Emit(board, "off");
    if (!Unanswered(io, board, power_on, "off")) return false;

    board.verdict = "powered, never woken";
    Emit(board, "on");
    const auto end = Console(io, board);
    if (!end || *end == SessionEnd::Stopped) {
        if (end) board.verdict = "stopped during its update";
        return false;
    }
    board.verdict = Verdict(board, *end, last_outcome_, last_skipped_);
    if (*end == SessionEnd::Finished) {
        const bool healthy = board.fault != FaultMode::BadBanner;
        board.good = healthy && last_skipped_.empty();
        PrintFirmwareBanner(io, board, healthy);
        if (io.StopRequested()) return false;
        Emit(board, "booted");
    }
    const auto swap = clock_->Now() + options_.swapTime;
    Emit(board, std::string("done ") + SessionEndName(*end));

    // Once woken the board answers no more wake-ups: its firmware runs, or it
    // hangs in a loader that gave up.
    if (!Unanswered(io, board, swap, "done")) return false;
    Emit(board, "out");
    if (options_.swapReplug && &board != boards_.back().get() && line_.IsOpen()) Pull();
    return true;
}

bool VirtualBoard::Unanswered(BoardIo& io, BoardRecord& board, ScheduleClock::TimePoint until,
                              const std::string& state) {
    ConsolePatterns patterns;
    std::size_t heard = 0;
    unsigned wake_ups = 0;
    while (clock_->Now() < until) {
        if (io.StopRequested()) return false;
        if (!line_.IsOpen()) {
            if (!KeepLine(io)) return false;
            patterns = ConsolePatterns();
            continue;
        }
        io.Pump(kConsolePoll);
        for (std::uint8_t b : io.TakePending()) {
            ++heard;
            if (patterns.Feed(b) == ConsolePatterns::Seen::Reset && wake_ups++ == 0) Emit(board, "ignored " + state);
        }
    }
    if (heard != 0) {
        board.log.Received("while " + state + ": " + std::to_string(heard) + (heard == 1 ? " byte, " : " bytes, ") +
                           std::to_string(wake_ups) + (wake_ups == 1 ? " wake-up" : " wake-ups") +
                           " among them, none answered");
    }
    return true;
}

bool VirtualBoard::AllHeld() const {
    for (const auto& board : boards_) {
        if (!board->log.AllHeld()) return false;
    }
    return true;
}

std::string VirtualBoard::Summary() const {
    const std::string crystal =
        "crystal " + std::string(crystal_.name) + " (boots at " + std::to_string(crystal_.bootBaud) + ")";
    if (options_.boards == 0) {
        return Log().Summary("kestrel-board-sim: " + crystal + ", flash " + flash_.Path().string() + ", fault " +
                             FaultModeName(options_.fault));
    }
    std::string out = "kestrel-board-sim: " + std::to_string(boards_.size()) + " boards in succession, " + crystal +
                      ", off " + Seconds(options_.offTime) + ", swap " + Seconds(options_.swapTime) + "\n";
    std::size_t checks = 0, failed = 0, good = 0;
    std::string failing, not_good;
    for (const auto& board : boards_) {
        const CheckLog& log = board->log;
        out += "\n" + log.Summary("board " + std::to_string(board->number) + " " + board->serial + ", fault " +
                                  FaultModeName(board->fault) + ", flash " + board->flashFile.string() + ": " +
                                  board->verdict);
        checks += log.Checks().size();
        failed += log.FailedCount();
        if (log.FailedCount() != 0) failing += (failing.empty() ? "" : ", ") + std::to_string(board->number);
        if (board->good) {
            ++good;
        } else {
            not_good += (not_good.empty() ? "" : ", ") + std::to_string(board->number);
        }
    }
    out += "\nboards: " + std::to_string(good) + " of " + std::to_string(boards_.size()) +
           " flashed whole and booted with firmware OK";
    out += not_good.empty() ? "\n" : "; not board " + not_good + "\n";
    if (!setup_error_.empty()) out += "stopped early: " + setup_error_ + "\n";
    if (failed == 0) {
        out += "result: all " + std::to_string(checks) + " checks held on every board\n";
    } else {
        out += "result: " + std::to_string(failed) + " of " + std::to_string(checks) + " checks failed, on board " +
               failing + "\n";
    }
    return out;
}

}  // namespace kestrel::sim
