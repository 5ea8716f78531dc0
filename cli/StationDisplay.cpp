#include "cli/StationDisplay.h"

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

StationDisplay::StationDisplay(std::ostream& o, std::ostream& e, bool t, std::vector<std::string> n)
    : out(o), err(e), terminal(t), names(std::move(n)), views(names.size()), portFigures(names.size()),
      plainShown(names.size()) {
    for (const auto& name : names)
        nameWidth = std::max(nameWidth, name.size());
    Draw();
}

StationDisplay::~StationDisplay() {
    // The last state of every port stays on the screen.
    drawn = 0;
}

std::string StationDisplay::Name(size_t port) const {
    return port < names.size() ? names[port] : std::string("station");
}

void StationDisplay::Erase() {
    if (!terminal || drawn == 0)
        return;
    err << "\x1b[" << drawn << "A\r\x1b[J";
    drawn = 0;
}

void StationDisplay::Draw() {
    if (!terminal)
        return;
    const auto now = std::chrono::system_clock::now();
    for (size_t i = 0; i < names.size(); ++i) {
        err << names[i] << std::string(nameWidth - names[i].size(), ' ') << "  "
            << DescribePort(views[i], names.size() > 1, now);
        if (names.size() > 1 && portFigures[i].boards > 0)
            err << "  [" << portFigures[i].passed << " passed, " << portFigures[i].failed << " failed]";
        err << "\x1b[K\n";
    }
    err << "total: " << DescribeCounters(total) << "\x1b[K\n" << std::flush;
    drawn = names.size() + 1;
}

void StationDisplay::Tick() {
    if (!terminal)
        return;
    Erase();
    Draw();
}

void StationDisplay::Port(size_t port, const PortView& view) {
    if (port >= views.size())
        return;
    views[port] = view;
    if (terminal) {
        Erase();
        Draw();
        return;
    }
    // One line per change that means something: not every percent, nor every block.
    std::string line = DescribePort(view, names.size() > 1, view.since);
    if (view.state == PortView::State::Waiting)
        line = "waiting for a board";
    if (view.state == PortView::State::Flashing) {
        StageReport coarse = view.stage;
        coarse.block = coarse.blocks = 0;
        line = coarse.stage == Stage::Programming ? "flashing (the board programs its flash)"
                                                  : "flashing (" + DescribeStage(coarse) + ")";
    }
    if (line == plainShown[port])
        return;
    plainShown[port] = line;
    out << Name(port) << ": " << line << "\n" << std::flush;
}

void StationDisplay::BoardEnded(const StationEvent& e) {
    total = e.counters;
    if (e.port < portFigures.size())
        portFigures[e.port] = e.portCounters;
    const BoardResult& r = e.result;
    std::string line = Name(e.port) + ": board " + std::to_string(r.board) + " " + BoardOutcomeName(r.outcome) + " in " +
                       ClockTime(r.Seconds());
    if (!r.Passed()) {
        std::string why = r.message;
        for (char& c : why)
            if (c == '\n')
                c = ' ';
        line += ": " + why;
    }
    Erase();
    out << line << "\n";
    if (!terminal)
        out << "total: " << DescribeCounters(total) << "\n";
    out << std::flush;
    if (!e.kept)
        err << "Error: the record of board " << r.board << " could not be written to the results file: " << e.text
            << "; no new board is woken, the boards under way finish. The record:\n"
            << ResultJsonLine(r) << std::flush;
    Draw();
}

void StationDisplay::Problem(size_t port, const std::string& text) {
    Erase();
    out << std::flush;
    err << Name(port) << ": " << text << "\n" << std::flush;
    Draw();
}

void StationDisplay::Remark(const std::string& text) {
    Erase();
    out << std::flush;
    err << text << "\n" << std::flush;
    Draw();
}
