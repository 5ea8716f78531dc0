#pragma once

#include <string>
#include <termios.h>

namespace kestrel::sim {

// What the board can tell about the tool's side of the line from the pty's
// termios: the board hears the tool only when both ends run the same speed and
// framing, and a line that rewrites bytes (canonical input, echo, output
// translation, software flow control) corrupts loaders and replies alike.

// "9600,N,8,1" style text of the speed and framing.
std::string DescribeLineSettings(const termios& t);

// Baud rate of the line, or 0 when the speed is not one the board knows.
unsigned LineBaud(const termios& t);

// Empty when the line runs at `baud` with 8 data bits, no parity, 1 stop bit
// and passes bytes unchanged; otherwise what is wrong, in plain words.
std::string LineSettingsProblems(const termios& t, unsigned baud);

}  // namespace kestrel::sim
