#pragma once

#include <chrono>
#include <cstdint>
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
// with deadlines.
class ScriptedHost {
public:
    explicit ScriptedHost(std::string path) : path_(std::move(path)) {}
    ~ScriptedHost() { Close(); }

    bool Open(speed_t speed, bool raw = true);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    bool Write(std::span<const std::uint8_t> bytes);
    bool Write(const std::string& text);
    // Up to `count` bytes, waiting at most `timeout` in all.
    Bytes Read(std::size_t count, Ms timeout);
    // Everything that arrives within `span`.
    Bytes ReadFor(Ms span);
    // Reads until `needle` has arrived or `timeout` passed; returns all read.
    std::string ReadUntil(const std::string& needle, Ms timeout);
    // Whether the board has closed its end.
    bool HungUp();

private:
    std::string path_;
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
};

// The tool's side of an update, as simple as it can be: wake-up, loaders at
// their speeds, then an answer to every request until 'D'. Returns the
// replies of the board in order, and leaves the line open at 115200 after
// reopening it as the tool does after 'D'.
std::string RunHostUpdate(ScriptedHost& host, const HostPlan& plan, Ms reply_timeout = Ms{5000});

// The header the tool would send: four area sizes, four lengths, map length,
// reserve flag, little-endian.
Bytes MakeHeader(std::uint32_t code_area, std::uint32_t font_area, std::uint32_t bitmap_area, std::uint32_t logo_area,
                 std::uint32_t code, std::uint32_t font, std::uint32_t bitmap, std::uint32_t logo, std::uint32_t map,
                 std::uint32_t reserve);

// Deterministic non-trivial bytes.
Bytes Pattern(std::size_t n, std::uint8_t seed);

}  // namespace kestrel::sim::test
