#include "cli/StationDisplay.h"


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
