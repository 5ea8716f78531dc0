#pragma once
#include <optional>
#include <string>

// The four-field settings text "baud,parity,databits,stopbits", e.g. "115200,N,8,1".
struct LineSettings {
    unsigned baud = 0;
    char parity = 'N';  // 'N', 'E' or 'O'
    int dataBits = 8;   // 5 to 8
    int stopBits = 1;   // 1 or 2
};

// Parses a settings text. Refuses anything that is not exactly four comma-separated
// fields without blanks, a baud rate the line driver cannot set, a parity letter other
// than N, E or O, data bits outside 5..8 or stop bits other than 1 and 2.
std::optional<LineSettings> ParseLineSettings(const std::string& text);
