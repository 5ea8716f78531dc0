#pragma once
// What the owner hangs on a line, on every platform: the failure box for the monitor's
// own failures and the wire trace. The owner sets them from its thread while the
// monitor and the worker read them from theirs.
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "serial/ISerialLine.h"
#include "trace/WireTrace.h"

class LineHooks {
public:
    void SetFailureBox(ISerialLine::FailureBox box);
    // Shows a failure in the owner's box, if it has given one.
    void ShowFailure(const std::string& text) const;

    // A trace attached to a line already open starts with the line as it stands, so
    // that its reader knows the device and the speed.
    void SetTrace(std::shared_ptr<WireTrace> trace);
    std::shared_ptr<WireTrace> Trace() const;
    void Note(const std::string& text) const;

    // The line has opened on a device at settings, or has closed.
    void Opened(const std::string& device, const std::string& settings);
    void Closed();

private:
    ISerialLine::FailureBox failureBox;
    std::shared_ptr<WireTrace> trace;
    std::pair<std::string, std::string> openLine;  // device and settings while open
    mutable std::mutex mutex;
};
