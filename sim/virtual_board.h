#pragma once

#include <string>

#include "sim/board_io.h"
#include "sim/board_options.h"
#include "sim/check_log.h"
#include "sim/crystal.h"
#include "sim/flash_store.h"
#include "sim/loader_files.h"
#include "sim/pty_line.h"
#include "sim/stop_source.h"
#include "sim/update_session.h"

namespace kestrel::sim {

// The virtual set-top-box board: a booted board on its console until the tool
// wakes it, then the boot code and loaders of an update, then booted again.
class VirtualBoard {
public:
    explicit VirtualBoard(BoardOptions options);
    ~VirtualBoard();
    VirtualBoard(const VirtualBoard&) = delete;
    VirtualBoard& operator=(const VirtualBoard&) = delete;

    // Reads the loader files and the flash, opens the pty and places the link.
    bool Start(std::string& error);
    const std::string& DevicePath() const { return line_.SlavePath(); }

    // Runs until `stop` is set, until the first update ends when the options
    // ask for one only, or until the board has hung up its line.
    void Run(const StopSource& stop);

    // Removes the link (if it still points at this board's line) and closes it.
    void Shutdown();

    const CheckLog& Log() const { return log_; }
    std::string Summary() const;

private:
    // Handles the reset pattern: an update when the tool reopens the line
    // soon, otherwise a reboot to the banner.
    SessionEnd Reboot(BoardIo& io, LineMark mark, bool& session_ran);
    void PrintBanner(BoardIo& io);
    bool PlaceLink(std::string& error);

    BoardOptions options_;
    Crystal crystal_{};
    LoaderImages loaders_;
    FlashStore flash_;
    PtyLine line_;
    CheckLog log_;
    std::string last_update_ = "none since power-on";
    bool link_placed_ = false;
};

}  // namespace kestrel::sim
