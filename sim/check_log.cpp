#include "sim/check_log.h"

#include <algorithm>

namespace kestrel::sim {

void CheckLog::Check(std::string name, bool held, std::string detail) {
    const std::lock_guard lock(mutex_);
    checks_.push_back({std::move(name), held, std::move(detail)});
}

void CheckLog::Received(std::string what) {
    const std::lock_guard lock(mutex_);
    received_.push_back(std::move(what));
}

void CheckLog::Note(std::string what) {
    const std::lock_guard lock(mutex_);
    notes_.push_back(std::move(what));
}

bool CheckLog::Made(const std::string& name) const {
    const std::lock_guard lock(mutex_);
    return std::any_of(checks_.begin(), checks_.end(), [&](const CheckResult& c) { return c.name == name; });
}

bool CheckLog::AllHeld() const { return FailedCount() == 0; }

std::size_t CheckLog::FailedCount() const {
    return static_cast<std::size_t>(
        std::count_if(checks_.begin(), checks_.end(), [](const CheckResult& c) { return !c.held; }));
}

const CheckResult* CheckLog::Find(const std::string& name) const {
    for (const CheckResult& c : checks_) {
        if (c.name == name) return &c;
    }
    return nullptr;
}

std::string CheckLog::Summary(const std::string& title) const {
    std::string out = title + "\n";
    out += "received:\n";
    if (received_.empty()) out += "  nothing\n";
    for (const std::string& r : received_) out += "  " + r + "\n";
    if (!notes_.empty()) {
        out += "notes:\n";
        for (const std::string& n : notes_) out += "  " + n + "\n";
    }
    out += "checks:\n";
    if (checks_.empty()) out += "  none made\n";
    for (const CheckResult& c : checks_) {
        out += std::string(c.held ? "  [held]   " : "  [FAILED] ") + c.name;
        if (!c.detail.empty()) out += ": " + c.detail;
        out += "\n";
    }
    const std::size_t failed = FailedCount();
    if (failed == 0) {
        out += "result: all " + std::to_string(checks_.size()) + " checks held\n";
    } else {
        out += "result: " + std::to_string(failed) + " of " + std::to_string(checks_.size()) + " checks failed\n";
    }
    return out;
}

}  // namespace kestrel::sim
