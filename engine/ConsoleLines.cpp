#include "engine/ConsoleLines.h"

void ConsoleLines::ShowPending() {
    if (lines.empty())
        lines.push_back(pending);
    else
        lines.back() = pending;
}

void ConsoleLines::Take(const uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const char b = static_cast<char>(bytes[i]);
        if (b == '\n' || lineColumn > 80) {
            ShowPending();
            lineColumn = 0;
            pending.clear();
            lines.emplace_back();  // the new unfinished line
            if (b != '\n')
                pending += b;
        } else {
            pending += b;
        }
        ++lineColumn;
    }
    if (!pending.empty())
        ShowPending();
}

std::string ConsoleLines::SavedText() const {
    std::string text;
    for (const auto& line : lines)
        text += line + "\r\n";
    return text;
}
