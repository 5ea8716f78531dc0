#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Reads a wire trace (serial/WireTrace.h) and tells what each line meant to the
// update: the board's replies by name, every write's part of the exchange and the
// pause before it against the pause the exchange needs, speed changes, and, at the
// end, how far the last update got and why it stopped there (a 'D' the board could
// not have reached, a cancel, a give-up, a lost line). A trace cut off or damaged
// is read as far as it makes sense, and says where it stopped doing so; CR LF line
// ends are read as LF.
struct ExplainedLine {
    enum class Mark { Fine, Warning, Damaged };
    size_t lineNumber = 0;  // in the trace file
    int64_t micros = 0;     // time since the trace began
    Mark mark = Mark::Fine;
    std::string event;      // the line in short: "TX 2048 bytes 00ff…", "RX 57"
    std::string meaning;    // what it meant
};

struct TraceExplanation {
    std::vector<ExplainedLine> lines;
    // How the trace ends: whether the last update finished, and if not, where it
    // stopped and the likeliest reason.
    std::string verdict;
    size_t damagedLines = 0;
    bool cutOff = false;           // the last line has no end: the recording stopped mid-line
    bool readToTheEnd = true;      // false when too much was damaged to go on
    size_t traceLines = 0;         // lines read as trace lines; 0: no wire trace at all
    int updatesFinished = 0;       // updates and erases that reached their 'D' with all they needed
    bool lastUpdateStopped = false;  // the last update in the trace did not finish
    // The last update or erase finished: the board reported 'D' after it was given
    // both loaders, the header and every section the header announced, whole.
    bool lastRunFinished = false;
};

TraceExplanation ExplainTrace(std::string_view traceText);

// The explanation as text for a terminal: one line per event, then the verdict.
std::string FormatExplanation(const TraceExplanation& explanation);
