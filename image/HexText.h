#pragma once
// Hexadecimal digits as the board's text files carry them.

#include <array>
#include <cstdint>

// Digit values by character, -1 for anything that is not a hexadecimal digit. A
// table, because S-record files carry a million digits and this is their loop.
inline constexpr std::array<int8_t, 256> kHexDigitValues = [] {
    std::array<int8_t, 256> table{};
    for (auto& v : table) v = -1;
    for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<int8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<int8_t>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<int8_t>(c - 'a' + 10);
    return table;
}();

// Value of one hexadecimal digit, or -1 for any other character.
inline int HexDigitValue(char c) { return kHexDigitValues[static_cast<uint8_t>(c)]; }
