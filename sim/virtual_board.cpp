#include "sim/virtual_board.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
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

std::span<const std::uint8_t> AsBytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
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
    if (!flash_.Open(options_.flashFile, error)) return false;
    if (!line_.Open(error)) return false;
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

void VirtualBoard::Shutdown() {
    if (link_placed_) {
        std::error_code ec;
        if (std::filesystem::read_symlink(options_.linkPath, ec) == line_.SlavePath()) {
            std::filesystem::remove(options_.linkPath, ec);
        }
        link_placed_ = false;
    }
    line_.Close();
}

void VirtualBoard::PrintBanner(BoardIo& io) {
    if (options_.fault == FaultMode::Silent) return;
    io.Send(AsBytes(BannerText(std::string(crystal_.name), last_update_)));
}

SessionEnd VirtualBoard::Reboot(BoardIo& io, LineMark mark, bool& session_ran) {
    const WaitResult r = io.AwaitReopen(mark, kRebootWindow);
    io.TakePending();
    if (r == WaitResult::Stopped) return SessionEnd::Stopped;
    if (r != WaitResult::Done) {
        // A plain reset: the board boots straight into its firmware.
        log_.Received("console: reset (16 x 0xFF), no reopen followed: rebooted");
        PrintBanner(io);
        return SessionEnd::Finished;
    }
    session_ran = true;
    UpdateSession session(io, log_, flash_, loaders_, options_, crystal_);
    const SessionEnd end = session.Run();
    if (end == SessionEnd::Finished) {
        last_update_ = session.Outcome();
        PrintBanner(io);
    }
    return end;
}

void VirtualBoard::Run(const StopSource& stop) {
    BoardIo io(line_, stop);
    ConsolePatterns patterns;
    while (!io.StopRequested() && line_.IsOpen()) {
        // Taken before the read: a close the tool makes right after its
        // wake-up is then always counted after this mark.
        const LineMark mark = io.Mark();
        io.Pump(kConsolePoll);
        const auto bytes = io.TakePending();
        for (std::uint8_t b : bytes) {
            const auto seen = patterns.Feed(b);
            if (seen == ConsolePatterns::Seen::Demo) {
                log_.Received("console: pcdemo (16 x 0xEE)");
                if (options_.fault != FaultMode::Silent) io.Send(AsBytes(DemoText()));
                continue;
            }
            if (seen != ConsolePatterns::Seen::Reset) continue;
            // The board reboots: the rest of what came with the pattern is lost.
            bool session_ran = false;
            const SessionEnd end = Reboot(io, mark, session_ran);
            if (end == SessionEnd::HungUp || end == SessionEnd::Stopped) return;
            if (session_ran && options_.once) {
                if (end == SessionEnd::Finished) io.AwaitToolGone(BoardIo::Ms{0}, kLingerAfterUpdate);
                return;
            }
            break;
        }
    }
}

std::string VirtualBoard::Summary() const {
    return log_.Summary("kestrel-board-sim: crystal " + std::string(crystal_.name) + " (boots at " +
                        std::to_string(crystal_.bootBaud) + "), flash " + flash_.Path().string() + ", fault " +
                        FaultModeName(options_.fault));
}

}  // namespace kestrel::sim
