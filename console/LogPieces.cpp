#include "console/LogPieces.h"

namespace {

// Bytes of the character that starts at text[i].
size_t CharacterBytes(const std::string& text, size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 1;
    if (i + length > text.size())
        return 1;
    for (size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
            return 1;
    return length;
}

}  // namespace

std::vector<std::string> LogPieces(const std::string& text) {
    std::vector<std::string> pieces(1);
    size_t inPiece = 0;
    for (size_t i = 0; i < text.size();) {
        if (inPiece == kLogPieceLength) {
            pieces.emplace_back();
            inPiece = 0;
        }
        const size_t n = CharacterBytes(text, i);
        pieces.back().append(text, i, n);
        ++inPiece;
        i += n;
    }
    if (inPiece == kLogPieceLength)
        pieces.emplace_back();  // a full last piece is followed by an empty item
    return pieces;
}
