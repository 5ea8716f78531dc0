#pragma once
#include <ostream>

// Update progress on standard error: a bar redrawn in place on a terminal, or one
// plain line per new value when the output goes to a file or a pipe.
class ProgressDisplay {
public:
    ProgressDisplay(std::ostream& out, bool terminal) : out(out), terminal(terminal) {}
    void Show(long percent);
    // Ends a bar line so that the next text starts on a line of its own.
    void Break();

private:
    std::ostream& out;
    bool terminal;
    long shown = -1;
    bool barOpen = false;
};
