#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One line of a wire trace (serial/WireTrace.h) as the trace reader sees it.
struct TraceEvent {
    enum class Kind { Open, Close, Tx, Rx, Lost, Note };
    Kind kind{};
    int64_t micros = 0;                  // since the trace began
    std::string device, settings, text;  // OPEN's device and settings; NOTE's text
    std::vector<uint8_t> bytes;          // TX and RX
};

// Reads one line, without its newline; nothing, with the reason in `why`, when the
// line is not a trace line.
std::optional<TraceEvent> ParseTraceLine(std::string_view line, std::string& why);
