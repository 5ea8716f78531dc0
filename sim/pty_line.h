#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <termios.h>
#include <vector>

namespace kestrel::sim {

// The board's end of the serial line: the master side of a pty whose slave the
// tool opens as its serial device.
//
// The board has to see every close and reopen of the line by the tool: that is
// how the tool switches speed, and a switch to the same speed (a 27M board boots
// at 115200) changes nothing else. The master's hang-up state shows a close only
// while the slave stays closed, and the tool reopens within microseconds, so the
// line also watches the slave's device node with inotify, whose open and close
// events queue up until read. The hang-up state is the fallback when no watch
// can be set.
class PtyLine {
public:
    PtyLine() = default;
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    bool Open(std::string& error);
    // Closes the master: the tool sees its line hang up.
    void Close();
    bool IsOpen() const { return master_ >= 0; }

    const std::string& SlavePath() const { return slave_path_; }

    // Waits at most `wait` for bytes or a line event and appends what arrived.
    // Line events are taken in before the bytes, so bytes the tool wrote before
    // a close that has been counted are always read by the same call.
    void Pump(std::chrono::milliseconds wait, std::vector<std::uint8_t>& out);

    // Whether the tool holds the slave open, as of the last Pump.
    bool SlaveOpen() const;
    // Opens and closes of the slave seen so far.
    std::uint64_t OpenCount() const { return opens_; }
    std::uint64_t CloseCount() const { return closes_; }
    // Reads of the slave by the tool seen so far (0 forever without a watch).
    std::uint64_t ToolReadCount() const { return tool_reads_; }
    bool SeesToolReads() const { return watching_; }

    // The slave's settings, as the tool configured them.
    std::optional<termios> SlaveSettings() const;

    // Writes all of `bytes` unless the line refuses them; false when some were
    // dropped (the tool's input queue full while it is away).
    bool Write(std::span<const std::uint8_t> bytes);

private:
    void TakeLineEvents();
    void ReadAll(std::vector<std::uint8_t>& out);

    int master_ = -1;
    int inotify_ = -1;
    std::string slave_path_;
    bool watching_ = false;
    bool hung_up_ = false;
    std::int64_t open_files_ = 0;
    std::uint64_t opens_ = 0;
    std::uint64_t closes_ = 0;
    std::uint64_t tool_reads_ = 0;
};

}  // namespace kestrel::sim
