#pragma once
#include <cstdint>
#include <string>

#include "engine/ConsoleLines.h"

class QListWidget;

// The board's console in list 1028: the board's bytes are assembled into lines by the rules of ConsoleLines (shared with the CLI), the last
// item always showing the unfinished line.
class ConsoleList {
public:
    explicit ConsoleList(QListWidget& list);

    // The board's console bytes, in the order they came.
    void OnRxBytes(const uint8_t* bytes, size_t n);
    // Empties the list; an unfinished line comes back with the next bytes.
    void OnClear();
    // The list as text, CR LF after every item (the unfinished one too).
    std::string SavedText() const { return lines.SavedText(); }
    const std::string& PendingLine() const { return lines.PendingLine(); }

private:
    QListWidget& list;
    ConsoleLines lines;
};
