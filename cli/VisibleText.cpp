#include "cli/VisibleText.h"

namespace {

void AppendEscaped(std::string& out, unsigned char byte) {
    static const char digits[] = "0123456789abcdef";
    out += "\\x";
    out += digits[byte >> 4];
    out += digits[byte & 0x0F];
}

}  // namespace

std::string VisibleControls(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b == '\t' || b == '\r' || b == '\n') {
            out += static_cast<char>(b);
        } else if (b < 0x20 || b == 0x7F) {
            AppendEscaped(out, b);
        } else if (b == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            AppendEscaped(out, b);
            AppendEscaped(out, static_cast<unsigned char>(text[++i]));
        } else {
            out += static_cast<char>(b);
        }
    }
    return out;
}
