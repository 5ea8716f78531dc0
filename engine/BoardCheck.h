#pragma once
// The check after flashing. The exchange has no read-back, so a station may listen to
// the board's new firmware as it boots (at 115200, after 'D') for a while: a line
// that matches the fail pattern fails the board at once; the expected pattern must
// be heard for the board to pass. Plain code: it is fed the board's bytes and asked
// at the times its owner chooses.
#include <chrono>
#include <cstdint>
#include <optional>
#include <regex>
#include <string>

struct CheckRule {
    std::optional<std::regex> expect, failOn;
    std::string expectText, failOnText;  // as the operator typed them, for the messages
    std::chrono::milliseconds within{10000};

    bool Active() const { return expect || failOn; }
};

class BoardCheck {
public:
    using Clock = std::chrono::steady_clock;
    enum class State { Listening, Passed, Failed };

    // Lines longer than this are judged in pieces of this many bytes.
    static constexpr size_t kLongestLine = 1024;

    BoardCheck(const CheckRule& rule, Clock::time_point now);

    void Take(const uint8_t* bytes, size_t count);
    // Where the check stands at `now`; once the listening time is over the line still
    // unfinished is judged too, and the check ends either way.
    State Decide(Clock::time_point now);
    Clock::time_point Deadline() const { return deadline; }
    // What was heard, at most `limit` bytes from the start.
    const std::string& Heard() const { return heard; }
    // Why the check ended as it did, in the operator's words.
    const std::string& Why() const { return why; }
    double SecondsListened(Clock::time_point now) const;

private:
    void Judge(const std::string& line);

    const CheckRule& rule;
    const Clock::time_point began, deadline;
    std::optional<Clock::time_point> endedAt;
    State state = State::Listening;
    bool expectHeard = false;
    std::string line;
    std::string heard;
    std::string why;
};
