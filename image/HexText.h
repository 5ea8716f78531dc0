#pragma once
// Reading hexadecimal fields out of text lines the way the board's files are read:
// digits are taken as far as they go, a field without digits is 0, and a field
// that runs past the end of its line simply has fewer digits.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include <array>

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

// One byte written as two digits at `pos`, read like any other field: a bad or
// missing second digit leaves the first alone, a bad first digit gives 0.
inline uint8_t ReadHexByte(std::string_view text, size_t pos) {
    if (pos + 1 < text.size()) {
        const int high = HexDigitValue(text[pos]);
        const int low = HexDigitValue(text[pos + 1]);
        if ((high | low) >= 0) return static_cast<uint8_t>((high << 4) | low);
        return static_cast<uint8_t>(high < 0 ? 0 : high);
    }
    return static_cast<uint8_t>(pos < text.size() && HexDigitValue(text[pos]) >= 0 ? HexDigitValue(text[pos]) : 0);
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
