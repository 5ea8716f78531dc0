#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

// A record of everything a serial line does, one text line per event, written to the
// file as it happens so that a crash or a pulled cable keeps what went before:
//
//   0.000000 OPEN /dev/ttyUSB0 115200,N,8,1
//   0.000183 TX ffffffffffffffffffffffffffffffff
//   0.062001 RX 57
//
// Seconds since the trace began (monotonic, six decimals), then OPEN <device>
// <settings>, CLOSE, TX <hex> (a write as handed to the driver), RX <hex> (a read that
// returned bytes), LOST (the line hung up) or NOTE <text> (what the operator was told;
// backslashes and control characters escaped so that a note stays one line).
//
// Any thread may record: the worker writes, reads, opens and notes, the line's monitor
// reports a lost line, and a front end may note what it decides.
class WireTrace {
public:
    // Starts a trace in a new or emptied file; null, with the reason in `error`, when
    // the file cannot be written.
    static std::shared_ptr<WireTrace> Create(const std::string& path, std::string& error);
    ~WireTrace();
    WireTrace(const WireTrace&) = delete;
    WireTrace& operator=(const WireTrace&) = delete;

    void Open(std::string_view device, std::string_view settings);
    void Close();
    void Tx(const uint8_t* bytes, size_t length);
    void Rx(const uint8_t* bytes, size_t length);
    void Lost();
    void Note(std::string_view text);

    const std::string& Path() const { return path; }
    // False once a line could not be written whole (a full disk): the trace is then
    // incomplete from that point, and the line goes on without it.
    bool Healthy() const;

private:
    WireTrace(int fd, std::string path);
    // Writes "<seconds> <word>[ <rest>]\n"; `rest` is appended by the caller's filler.
    template <typename Fill>
    void Record(std::string_view word, size_t restHint, Fill fill);

    const int fd;
    const std::string path;
    const std::chrono::steady_clock::time_point began;
    mutable std::mutex mutex;
    std::string line;  // reused for every event, so recording allocates only at its peak
    bool healthy = true;
};

// Escapes a note so that it stays on one line: \\ \n \r \t and \xHH for other control
// bytes. The trace reader shows notes as they stand in the file.
std::string EscapeTraceNote(std::string_view text);
