#include "serial/LineHooks.h"

void LineHooks::SetFailureBox(ISerialLine::FailureBox box) {
    std::lock_guard lock(mutex);
    failureBox = std::move(box);
}

void LineHooks::ShowFailure(const std::string& text) const {
    ISerialLine::FailureBox box;
    {
        std::lock_guard lock(mutex);
        box = failureBox;
    }
    if (box)
        box(text, "Class CSerialLine");
}

void LineHooks::SetTrace(std::shared_ptr<WireTrace> t) {
    std::lock_guard lock(mutex);
    trace = std::move(t);
    if (trace && !openLine.first.empty()) {
        trace->Note("recording a line that was already open");
        trace->Open(openLine.first, openLine.second);
    }
}

std::shared_ptr<WireTrace> LineHooks::Trace() const {
    std::lock_guard lock(mutex);
    return trace;
}

void LineHooks::Note(const std::string& text) const {
    if (auto t = Trace())
        t->Note(text);
}

void LineHooks::Opened(const std::string& device, const std::string& settings) {
    std::lock_guard lock(mutex);
    openLine = {device, settings};
    if (trace)
        trace->Open(device, settings);
}

void LineHooks::Closed() {
    std::lock_guard lock(mutex);
    openLine = {};
    if (trace)
        trace->Close();
}
