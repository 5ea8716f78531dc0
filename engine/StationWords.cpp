#include "engine/StationWords.h"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace {

std::string Percent(double fraction) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f %%", fraction * 100);
    return text;
}

std::string OneDecimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

}  // namespace

std::string ClockTime(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    const long total = std::lround(seconds);
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

std::string DescribeCounters(const CounterFigures& f) {
    std::string text = std::to_string(f.boards) + (f.boards == 1 ? " board, " : " boards, ") +
                       std::to_string(f.passed) + " passed, " + std::to_string(f.failed) + " failed";
    if (f.boards == 0)
        return text;
    return text + ", yield " + Percent(f.yield) + ", median " + ClockTime(f.medianSeconds) + " a board, " +
           OneDecimal(f.boardsPerHour) + " boards an hour";
}

std::string DescribePort(const PortView& v, bool severalPorts, std::chrono::system_clock::time_point now) {
    const auto since = std::chrono::duration<double>(now - v.since).count();
    std::string next;
    switch (v.next) {
    case PortView::Next::Timer: next = "; the next board is woken shortly"; break;
    case PortView::Next::Key:
        next = severalPorts ? "; type the port's number and Enter for the next board" : "; press Enter for the next board";
        break;
    case PortView::Next::Replug: next = "; unplug it and plug in the next board"; break;
    case PortView::Next::Nothing: break;
    }
    switch (v.state) {
    case PortView::State::Off: return "off: " + (v.reason.empty() ? std::string("the device is not there") : v.reason);
    case PortView::State::Waiting: return "waiting for a board since " + ClockTime(since);
    case PortView::State::Flashing:
        return "flashing " + std::to_string(v.percent) + " % (" + DescribeStage(v.stage) + ")";
    case PortView::State::Checking: return "checking the new firmware";
    case PortView::State::Passed: return "PASS " + ClockTime(v.seconds) + next;
    case PortView::State::Failed: return "FAIL: " + v.reason + next;
    case PortView::State::Stopped: return v.reason.empty() ? "stopped" : "stopped: " + v.reason;
    }
    return "?";
}

std::string DescribePortBriefly(const PortView& v, std::chrono::system_clock::time_point now) {
    switch (v.state) {
    case PortView::State::Off: return v.reason.empty() ? std::string("off") : "off: " + v.reason;
    case PortView::State::Flashing:
        return v.stage.stage == Stage::Idle ? std::string("flashing") : "flashing: " + DescribeStage(v.stage);
    case PortView::State::Passed:
    case PortView::State::Failed: {
        // What comes next is the tile's to show; the verdict stays short.
        PortView bare = v;
        bare.next = PortView::Next::Nothing;
        return DescribePort(bare, false, now);
    }
    default: return DescribePort(v, false, now);
    }
}

std::string VerdictWord(BoardOutcome outcome) {
    std::string word = BoardOutcomeName(outcome);
    for (char& c : word)
        c = c == '-' ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return word;
}
