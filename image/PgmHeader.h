#pragma once
// The C header that lets a small program be compiled into another program: the
// whole code image, length header and letter included, as one byte array.

#include <cstdint>
#include <string>

// `values` holds length + 1 bytes; the array is declared with `length` elements
// although length + 1 values follow, as the board's build expects.
std::string FormatPgmHeader(const uint8_t* values, uint32_t length);
