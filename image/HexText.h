#pragma once
// Reading hexadecimal fields out of text lines the way the board's files are read:
// digits are taken as far as they go, a field without digits is 0, and a field
// that runs past the end of its line simply has fewer digits.

#include <cstddef>
#include <cstdint>
#include <string_view>

// Value of one hexadecimal digit, or -1 for any other character.
inline int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Reads at most `width` digits starting at `pos`, stopping at the first character
// that is not a digit or at the end of the text.
inline uint32_t ReadHexField(std::string_view text, size_t pos, size_t width) {
    uint32_t value = 0;
    for (size_t i = 0; i < width && pos + i < text.size(); ++i) {
        int digit = HexDigitValue(text[pos + i]);
        if (digit < 0) break;
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return value;
}
