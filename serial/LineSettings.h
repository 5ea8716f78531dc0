#pragma once
#include <optional>
#include <string>
#include <termios.h>

// The four-field settings text "baud,parity,databits,stopbits", e.g. "115200,N,8,1".
struct LineSettings {
    unsigned baud = 0;
    speed_t speed = 0;  // the termios constant for baud
    char parity = 'N';  // 'N', 'E' or 'O'
    int dataBits = 8;   // 5 to 8
    int stopBits = 1;   // 1 or 2
};

// Parses a settings text. Refuses anything that is not exactly four comma-separated
// fields without blanks, a baud rate the line driver cannot set, a parity letter other
// than N, E or O, data bits outside 5..8 or stop bits other than 1 and 2.
std::optional<LineSettings> ParseLineSettings(const std::string& text);

// Writes the settings into a termios block in raw mode: no echo, no line editing, no
// CR/LF translation, no software or hardware flow control, reads never block.
void ApplyLineSettings(const LineSettings& settings, termios& tio);
