#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace kestrel::sim {

// What the board received and every check it made of the tool's side of the
// exchange. The exit status and the summary are built from it.
struct CheckResult {
    std::string name;
    bool held;
    std::string detail;
};

// The board writes it from its own thread. Made() may be asked from any thread
// while the board runs, so that a test can wait until the board has got as far
// as a check; everything else is read once the board has ended.
class CheckLog {
public:
    void Check(std::string name, bool held, std::string detail = {});
    void Received(std::string what);
    void Note(std::string what);

    // Whether a check of that name has been made yet.
    bool Made(const std::string& name) const;

    bool AllHeld() const;
    std::size_t FailedCount() const;
    const std::vector<CheckResult>& Checks() const { return checks_; }
    const std::vector<std::string>& ReceivedItems() const { return received_; }
    const std::vector<std::string>& Notes() const { return notes_; }

    // The first check named `name`, or nullptr.
    const CheckResult* Find(const std::string& name) const;

    // The text printed on exit: what was received, each check, the verdict.
    std::string Summary(const std::string& title) const;

private:
    mutable std::mutex mutex_;
    std::vector<CheckResult> checks_;
    std::vector<std::string> received_;
    std::vector<std::string> notes_;
};

}  // namespace kestrel::sim
