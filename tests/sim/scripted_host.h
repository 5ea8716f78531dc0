#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <termios.h>
#include <vector>

namespace kestrel::sim::test {

using Bytes = std::vector<std::uint8_t>;
using Ms = std::chrono::milliseconds;

// A small serial host written for these tests: it opens the board's pty slave
// the way a serial tool would (raw, 8N1, input purged on open) and reads and writes
// with deadlines. An exclusive host also takes the device's lock on every open,
// so that a second program of its kind is refused.
class ScriptedHost {
public:
    explicit ScriptedHost(std::string path, bool exclusive = false)
        : path_(std::move(path)), exclusive_(exclusive) {}
    ~ScriptedHost() { Close(); }

    bool Open(speed_t speed, bool raw = true);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    bool Write(std::span<const std::uint8_t> bytes);
    bool Write(const std::string& text);
    // Up to `count` bytes, waiting at most `timeout` in all.
    Bytes Read(std::size_t count, Ms timeout);
    // Reads until `needle` has arrived or `timeout` passed; returns all read.
    std::string ReadUntil(const std::string& needle, Ms timeout);
    // Whether the board has closed its end.
    bool HungUp();
    // Bytes that have arrived and wait to be read.
    std::size_t Queued();
    // Everything the board wrote that nobody has read, taken through a fresh
    // open that does not purge (the line keeps its input across closes).
    Bytes Leftover();

private:
    std::string path_;
    bool exclusive_;
    int fd_ = -1;
};

// What the host sends in one update, and how.
struct HostPlan {
    speed_t bootSpeed = B9600;
    speed_t operatorSpeed = B115200;
    Bytes loader1File;
    Bytes loader2File;
    Bytes header;                         // the 40 bytes for 'S'
    std::map<std::uint8_t, Bytes> data;   // what each request letter gets
    // Sends loader 1's block as this instead of the framed file, when set.
    std::optional<Bytes> loader1Wire;
    // Sends the whole loader-2 file, trailer included, when set.
    bool loader2WithTrailer = false;
    // The tool's pauses, shortened: after loader 1 before the reopen, and after
    // every block of loader 2 and the sections.
    Ms pause{0};
    // Returns right after answering this request, leaving the rest to the test.
    std::optional<std::uint8_t> returnAfter;
};

// Tells the host that the board has stopped answering (it ended, or made the
// check that closes its side of the exchange): nothing more is coming.
using BoardQuiet = std::function<bool()>;

// The tool's side of an update, as simple as it can be: wake-up, loaders at
// their speeds, then an answer to every request until 'D'. Returns the
// replies of the board in order, and leaves the line open at 115200 after
// reopening it as the tool does after 'D'. It also returns when the board hangs
// up or `quiet` holds with nothing left to read; `reply_timeout` only guards
// against a hang.
std::string RunHostUpdate(ScriptedHost& host, const HostPlan& plan, const BoardQuiet& quiet = {},
                          Ms reply_timeout = Ms{30000});

// The header the tool would send: four area sizes, four lengths, map length,
// reserve flag, little-endian.
Bytes MakeHeader(std::uint32_t code_area, std::uint32_t font_area, std::uint32_t bitmap_area, std::uint32_t logo_area,
                 std::uint32_t code, std::uint32_t font, std::uint32_t bitmap, std::uint32_t logo, std::uint32_t map,
                 std::uint32_t reserve);

// Deterministic non-trivial bytes.
Bytes Pattern(std::size_t n, std::uint8_t seed);

}  // namespace kestrel::sim::test
