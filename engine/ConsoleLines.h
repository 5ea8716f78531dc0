#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Assembles the board's console bytes into the lines of the console list: a line
// ends at a line feed (not shown), or when a byte arrives while the line already
// holds more than 80 bytes. The last line is the unfinished one.
class ConsoleLines {
public:
    void Take(const uint8_t* bytes, size_t n);
    // Removes every line; an unfinished line comes back with the next bytes.
    void Clear() { lines.clear(); }

    const std::vector<std::string>& Lines() const { return lines; }
    const std::string& PendingLine() const { return pending; }
    // The whole list as a text file: every line, the unfinished one too, CR LF ended.
    std::string SavedText() const;

private:
    void ShowPending();

    std::vector<std::string> lines;  // the list's items; the last shows `pending`
    std::string pending;
    int lineColumn = 0;
};
