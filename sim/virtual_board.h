#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/board_io.h"
#include "sim/board_options.h"
#include "sim/check_log.h"
#include "sim/crystal.h"
#include "sim/flash_store.h"
#include "sim/loader_files.h"
#include "sim/pty_line.h"
#include "sim/schedule_clock.h"
#include "sim/stop_source.h"
#include "sim/update_session.h"

namespace kestrel::sim {

// One board on the line: the single board, or one board of a succession.
struct BoardRecord {
    unsigned number = 1;  // 1 … N in a succession; 1 for the single board
    std::string serial;   // "KSTB-0001"; empty for the single board
    FaultMode fault = FaultMode::None;
    std::filesystem::path flashFile;
    CheckLog log;
    // What the last update left, for the boot code's banner.
    std::string lastUpdate = "none since power-on";
    // A succession's account of the board, and whether it came out a good
    // board: a whole update and a firmware that says it is fine.
    std::string verdict = "never plugged in";
    bool good = false;
};

// One line per event; see the usage text for the words.
using BoardEvents = std::function<void(const std::string&)>;

// The virtual set-top-box board: a booted board on its console until the tool
// wakes it, then the boot code and loaders of an update, then booted again.
// With a succession, board after board takes its turn on the line: plugged in
// unpowered, powered, one update, its firmware's banner, swapped for the next.
class VirtualBoard {
public:
    explicit VirtualBoard(BoardOptions options);
    ~VirtualBoard();
    VirtualBoard(const VirtualBoard&) = delete;
    VirtualBoard& operator=(const VirtualBoard&) = delete;

    // Before Run: where events go, and the clock of power, swaps and pulls
    // (the steady clock unless a test drives it). The clock must outlive Run.
    void SetEvents(BoardEvents events) { events_ = std::move(events); }
    void SetScheduleClock(const ScheduleClock& clock) { clock_ = &clock; }

    // Reads the loader files and the flash, opens the pty and places the link.
    bool Start(std::string& error);
    // The line as Start opened it; a line plugged in again comes as a "line
    // PATH" event.
    const std::string& DevicePath() const { return first_path_; }

    // Runs until `stop` is set, until the first update ends when the options
    // ask for one only, until the board has hung up its line, or until the
    // last board of a succession is gone and the tool has let go of the line.
    void Run(const StopSource& stop);

    // Removes the link (if it still points at this board's line) and closes it.
    void Shutdown();

    // The single board, or board 1 of a succession.
    const CheckLog& Log() const { return boards_.front()->log; }
    // Board `number` (1 … BoardCount()); there from Start on.
    const BoardRecord& Board(unsigned number) const { return *boards_.at(number - 1); }
    std::size_t BoardCount() const { return boards_.size(); }
    bool AllHeld() const;
    // Why a succession stopped early: a later board's flash file, or a line
    // that could not be plugged in again. Empty otherwise.
    const std::string& SetupError() const { return setup_error_; }
    std::string Summary() const;

private:
    void RunSingle(BoardIo& io);
    void RunSuccession(BoardIo& io);
    // One board of a succession from its plug-in to its swap; false when the
    // board was stopped or the line could not come back.
    bool RunOneBoard(BoardIo& io, BoardRecord& board);
    // The powered board on its console until a wake-up has run an update
    // (its end), or nullopt when the board stops or its line is gone for good.
    std::optional<SessionEnd> Console(BoardIo& io, BoardRecord& board);
    // Keeps the line read until `until`, answering nothing; false on a stop.
    bool Unanswered(BoardIo& io, BoardRecord& board, ScheduleClock::TimePoint until, const std::string& state);
    void PrintBanner(BoardIo& io, const BoardRecord& board);
    void PrintFirmwareBanner(BoardIo& io, const BoardRecord& board, bool healthy);

    // The line as a USB adapter: pulled (link gone, pty closed) and plugged in
    // again (new pty, link placed in one step).
    void Pull();
    // While the line is pulled: waits a while, or plugs it in once it is due.
    // False when it will not come back or the board stops.
    bool KeepLine(BoardIo& io);
    bool PlaceLink(std::string& error);
    void RemoveLink();

    // Writes what the update brought (loader 1's first byte to the last section's
    // last byte) to FLASH.wire beside the board's flash file.
    void KeepWire(BoardRecord& board, const std::vector<std::uint8_t>& wire);
    void Emit(const std::string& event) const;
    void Emit(const BoardRecord& board, const std::string& what) const;

    BoardOptions options_;
    Crystal crystal_{};
    LoaderImages loaders_;
    FlashStore flash_;
    PtyLine line_;
    std::vector<std::unique_ptr<BoardRecord>> boards_;
    BoardRecord* current_ = nullptr;
    // What the last session programmed and left out.
    std::string last_outcome_;
    std::string last_skipped_;
    std::string first_path_;
    bool link_placed_ = false;
    std::optional<ScheduleClock::TimePoint> pull_at_;
    std::optional<ScheduleClock::TimePoint> replug_at_;
    const ScheduleClock* clock_ = &SteadyScheduleClock();
    BoardEvents events_;
    std::string setup_error_;
};

}  // namespace kestrel::sim
