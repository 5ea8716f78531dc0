#pragma once
// Two readings of the board's flash address assignment file.
//
// The board's own tools read it as plain text: line by line, each key searched
// (with its text anywhere in a line) below the line of the key before it, the
// value taken as the hexadecimal digits after two skipped characters. The
// firmware build reads the same file with a C compiler. For a file of plain
// "#define Key 0xHEX" lines the two agree; wherever they could differ (a decimal
// value, an expression, a key in a comment or in a longer name, a key defined
// twice or out of order, ...) the file is refused rather than flashed as one
// reading has it while the board's firmware was built with the other.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr const char* kAddrAssignKeys[4] = {"CodeBufSize", "FontBufSize", "BmpBufSize", "EsLogoPicBufSize"};

// The board tools' reading.
struct AddrAssignReading {
    std::array<uint32_t, 4> sizes{};
    std::array<size_t, 4> lines{};  // line number (from 1) each key was taken from; 0 = not found
    size_t found = 0;               // keys found, in order
};
AddrAssignReading ReadAsTheBoardTools(std::string_view text);

// Where a C compiler would read `text` differently from `reading` (which must be
// ReadAsTheBoardTools(text)): "line N: why", or "" when both readings give the
// same values from the same lines. A key that neither reading finds is not
// reported here.
std::string WhereACompilerDisagrees(std::string_view text, const AddrAssignReading& reading);
