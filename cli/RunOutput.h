#pragma once
// Where one board's run is shown. A run on one board prints to the command's standard
// output and error; each board of a run on several prints into the shared display and
// its own log. The board's session calls these with what it has to say, already sorted:
// nothing is ever read back from what was printed.
#include <ostream>
#include <string>

#include "cli/ProgressDisplay.h"

class IRunOutput {
public:
    virtual ~IRunOutput() = default;
    // A line of the operator log or of the board's console (standard output).
    virtual void Log(const std::string& line) = 0;
    // A message the operator must read: a box as "Caption: text", an error; may hold
    // several lines (standard error).
    virtual void Problem(const std::string& text) = 0;
    // What the tool itself says about the run, not a problem of the board ("Cancelling: ...").
    virtual void Remark(const std::string& text) = 0;
    virtual void Progress(int percent) = 0;
};

// The command's own streams, progress as a bar on a terminal or plain lines.
class StreamOutput : public IRunOutput {
public:
    StreamOutput(std::ostream& out, std::ostream& err, bool errIsTerminal)
        : out(out), err(err), progress(err, errIsTerminal) {}
    ~StreamOutput() override { progress.Break(); }

    void Log(const std::string& line) override {
        progress.Break();
        out << line << "\n" << std::flush;
    }
    void Problem(const std::string& text) override { Remark(text); }
    void Remark(const std::string& text) override {
        progress.Break();
        err << text << "\n" << std::flush;
    }
    void Progress(int percent) override { progress.Show(percent); }

private:
    std::ostream& out;
    std::ostream& err;
    ProgressDisplay progress;
};
