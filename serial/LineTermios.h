#pragma once
#include <optional>
#include <termios.h>

#include "serial/LineSettings.h"

// The termios constant for a baud rate, if the driver has one.
std::optional<speed_t> TermiosSpeed(unsigned baud);

// Writes the settings into a termios block in raw mode: no echo, no line editing, no
// CR/LF translation, no software or hardware flow control, reads never block. A baud
// rate of 0 leaves the block's speed as it is.
void ApplyLineSettings(const LineSettings& settings, termios& tio);
