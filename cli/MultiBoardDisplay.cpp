#include "cli/MultiBoardDisplay.h"

#include <algorithm>

MultiBoardDisplay::MultiBoardDisplay(std::ostream& o, std::ostream& e, bool errIsTerminal, std::vector<std::string> names)
    : out(o), err(e), terminal(errIsTerminal) {
    for (auto& n : names) {
        nameWidth = std::max(nameWidth, n.size());
        rows.push_back(Row{std::move(n), -1, {}});
    }
}

void MultiBoardDisplay::Log(size_t board, const std::string& line) {
    std::lock_guard lock(mutex);
    Erase();
    out << rows[board].name << ": " << line << "\n" << std::flush;
    Draw();
}

void MultiBoardDisplay::Problem(size_t board, const std::string& line) {
    std::lock_guard lock(mutex);
    Erase();
    out << std::flush;  // what the board said before comes first
    err << rows[board].name << ": " << line << "\n" << std::flush;
    Draw();
}

void MultiBoardDisplay::Progress(size_t board, long percent) {
    std::lock_guard lock(mutex);
    Row& row = rows[board];
    if (row.percent == percent)
        return;
    row.percent = percent;
    if (!terminal) {
        err << row.name << " progress " << percent << "%\n" << std::flush;
        return;
    }
    Erase();
    Draw();
}

void MultiBoardDisplay::Ended(size_t board, const std::string& result) {
    std::lock_guard lock(mutex);
    rows[board].result = result;
    if (!terminal)
        return;
    Erase();
    Draw();
}

void MultiBoardDisplay::Erase() {
    if (!terminal || drawn == 0)
        return;
    err << "\x1b[" << drawn << "A\r\x1b[J" << std::flush;
    drawn = 0;
}

void MultiBoardDisplay::Draw() {
    if (!terminal)
        return;
    constexpr long kWidth = 30;
    for (const Row& row : rows) {
        err << row.name << std::string(nameWidth - row.name.size(), ' ') << "  ";
        if (!row.result.empty()) {
            err << row.result;
        } else if (row.percent < 0) {
            err << "waiting";
        } else {
            const long filled = std::clamp(row.percent, 0L, 100L) * kWidth / 100;
            err << "[" << std::string(static_cast<size_t>(filled), '#') << std::string(static_cast<size_t>(kWidth - filled), '.')
                << "] " << row.percent << "%";
        }
        err << "\x1b[K\n";
    }
    err << std::flush;
    drawn = rows.size();
}
