#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <termios.h>
#include <vector>

namespace kestrel::sim {

// Where the line's close and purge counts stood at some moment.
struct LineMark {
    std::uint64_t closes;
    std::uint64_t purges;
};

// The board's end of the serial line: the master side of a pty whose slave the
// tool opens as its serial device.
//
// The board has to know when the tool has reopened the line: that is how the
// tool switches speed, and a switch to the same speed (a 27M board boots at
// 115200) changes nothing else. Opens and closes alone cannot tell: another
// program that opens the device and is refused (a second tool, a prober) opens
// and closes it too, and while it holds the device the tool's own close never
// leaves the line free. What only the tool's reopen does is purge its input,
// and the master learns of that in packet mode. So a reopen is a purge of the
// slave's input that follows a close. Closes are watched with inotify on the
// slave's device node, whose events queue up until read (the hang-up state of
// the master shows a close only while nobody holds the slave, and the tool
// reopens within microseconds); the hang-up state is the fallback when no watch
// can be set.
class PtyLine {
public:
    PtyLine() = default;
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // Opens a new pty (closing the one before, if any).
    bool Open(std::string& error);
    // Closes the master: the tool sees its line hang up and the slave's device
    // node goes away.
    void Close();
    bool IsOpen() const { return master_ >= 0; }

    const std::string& SlavePath() const { return slave_path_; }

    // Waits at most `wait` for bytes, a line event or `wake_fd` becoming
    // readable, and appends what arrived. Closes are taken in before purges and
    // bytes, so bytes the tool wrote before a close that has been counted are
    // always read by the same call.
    void Pump(std::chrono::milliseconds wait, std::vector<std::uint8_t>& out, int wake_fd = -1);

    // Whether anybody holds the slave open, as of the last Pump. A slave that
    // has never been opened counts as held: the master reports a hang-up only
    // once the last holder has gone.
    bool SlaveOpen() const { return !hung_up_; }

    LineMark Mark() const { return {closes_, purges_}; }
    // Whether the tool has reopened the line after `mark`: a purge of its input
    // came after a close that came after the mark. A program that opens the line
    // beside the tool, or is refused, never purges it.
    bool ReopenedSince(const LineMark& mark) const {
        return purges_ != mark.purges && closes_at_last_purge_ > mark.closes;
    }

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
    void NotePurge();

    int master_ = -1;
    int inotify_ = -1;
    std::string slave_path_;
    bool watching_ = false;
    bool hung_up_ = false;
    std::uint64_t closes_ = 0;
    std::uint64_t purges_ = 0;
    std::uint64_t closes_at_last_purge_ = 0;
    std::uint64_t tool_reads_ = 0;
};

}  // namespace kestrel::sim
