#include "cli/ProgressDisplay.h"

#include <algorithm>
#include <string>

void ProgressDisplay::Show(long percent) {
    if (percent == shown)
        return;
    shown = percent;
    if (!terminal) {
        out << "progress " << percent << "%\n" << std::flush;
        return;
    }
    constexpr int kWidth = 40;
    const int filled = static_cast<int>(std::clamp(percent, 0L, 100L) * kWidth / 100);
    out << "\r[" << std::string(static_cast<size_t>(filled), '#') << std::string(static_cast<size_t>(kWidth - filled), '.')
        << "] " << percent << "%" << std::flush;
    barOpen = true;
}

void ProgressDisplay::Break() {
    if (barOpen)
        out << "\n" << std::flush;
    barOpen = false;
}
