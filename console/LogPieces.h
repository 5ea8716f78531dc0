#pragma once
#include <string>
#include <vector>

// The operator log is a list of 54-character items: a text is cut into pieces of 54
// characters from its start, length / 54 + 1 of them, so a text whose length is a
// multiple of 54 (the empty text included) ends with an empty item. Characters are
// counted in the UTF-8 text's code points, so a Chinese path is never cut inside a
// character; a byte that is no valid UTF-8 counts as one character.
inline constexpr size_t kLogPieceLength = 54;
std::vector<std::string> LogPieces(const std::string& utf8Text);
