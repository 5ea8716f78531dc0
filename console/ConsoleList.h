#pragma once
#include <cstdint>
#include <string>

#include "engine/ConsoleLines.h"

class QListWidget;
struct SharedState;

// The board's console in list 1028: the bytes the worker leaves in the text slot are
// assembled into lines by the rules of ConsoleLines (shared with the CLI), the last
// item always showing the unfinished line.
class ConsoleList {
public:
    ConsoleList(QListWidget& list, SharedState& shared);

    // WM_RX_TEXT: takes the first n bytes of the text slot, then empties the slot,
    // which lets the worker read the next bytes.
    void OnRxText(uint32_t n);
    // Empties the list; an unfinished line comes back with the next bytes.
    void OnClear();
    // The list as text, CR LF after every item (the unfinished one too).
    std::string SavedText() const { return lines.SavedText(); }
    const std::string& PendingLine() const { return lines.PendingLine(); }

private:
    QListWidget& list;
    SharedState& shared;
    ConsoleLines lines;
};
