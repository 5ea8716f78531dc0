#include "engine/Station.h"

#include <algorithm>

#include "engine/StationPort.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

}  // namespace

Station::Station(StationSetup s)
    : setup(std::move(s)), keyWaits(setup.devices.size()), counters(setup.devices.size(), Clock::now()) {}

Station::~Station() {
    {
        std::lock_guard lock(mutex);
        quit = true;
        signalled = true;
    }
    changed.notify_all();
    if (thread.joinable())
        thread.join();
}

void Station::Start() {
    thread = std::thread([this] { Run(); });
}

void Station::Signal() {
    {
        std::lock_guard lock(mutex);
        signalled = true;
    }
    changed.notify_all();
}

void Station::StopWaking() {
    {
        std::lock_guard lock(mutex);
        stopWaking = true;
        signalled = true;
    }
    changed.notify_all();
}

void Station::CancelBoards() {
    {
        std::lock_guard lock(mutex);
        stopWaking = true;
        cancelBoards = true;
        signalled = true;
    }
    changed.notify_all();
}

bool Station::Rearm(size_t port) {
    {
        std::lock_guard lock(mutex);
        if (port >= keyWaits.size() || !keyWaits[port])
            return false;
        keyWaits[port] = false;
        rearms.push_back(port);
        signalled = true;
    }
    changed.notify_all();
    return true;
}

std::vector<size_t> Station::WaitingForKey() const {
    std::lock_guard lock(mutex);
    std::vector<size_t> waiting;
    for (size_t i = 0; i < keyWaits.size(); ++i)
        if (keyWaits[i])
            waiting.push_back(i);
    return waiting;
}

bool Station::MayWake() const {
    std::lock_guard lock(mutex);
    return !stopWaking && !quit && (setup.count == 0 || begun < setup.count);
}

void Station::BoardBegan() {
    std::lock_guard lock(mutex);
    ++begun;
}

void Station::Emit(StationEvent e) {
    {
        std::lock_guard lock(mutex);
        events.push_back(std::move(e));
    }
    eventWaiting.notify_all();
    if (setup.wake)
        setup.wake();
}

void Station::PortChanged(size_t port, const PortView& view) {
    {
        std::lock_guard lock(mutex);
        keyWaits[port] = view.next == PortView::Next::Key && view.state != PortView::State::Stopped &&
                         (view.state == PortView::State::Passed || view.state == PortView::State::Failed);
    }
    StationEvent e;
    e.kind = StationEvent::Kind::Port;
    e.port = port;
    e.view = view;
    Emit(std::move(e));
}

void Station::PortProblem(size_t port, const std::string& text, bool stopsStation) {
    if (stopsStation) {
        std::lock_guard lock(mutex);
        outcome.stoppedByProblem = true;
    }
    StationEvent e;
    e.kind = StationEvent::Kind::Problem;
    e.port = port;
    e.text = text;
    Emit(std::move(e));
}

void Station::BoardEnded(size_t port, BoardResult result, std::string log) {
    StationEvent e;
    e.kind = StationEvent::Kind::BoardEnded;
    e.port = port;
    {
        std::lock_guard lock(mutex);
        result.board = static_cast<unsigned>(outcome.boards + 1);
        ++outcome.boards;
        outcome.passed += result.Passed() ? 1 : 0;
        outcome.cancelled += result.outcome == BoardOutcome::Cancelled ? 1 : 0;
        counters.Count(port, result.Passed(), result.Seconds());
        e.counters = counters.Total(Clock::now());
        e.portCounters = counters.Port(port, Clock::now());
    }
    // On the disk before anything else happens at this port or any other.
    std::string why;
    if (setup.keep && !setup.keep(ResultJsonLine(result), why)) {
        e.kept = false;
        e.text = why;
        {
            std::lock_guard lock(mutex);
            stopWaking = true;
            outcome.stoppedByProblem = true;
        }
    }
    e.result = std::move(result);
    e.log = std::move(log);
    Emit(std::move(e));
}

CounterFigures Station::Total() const {
    std::lock_guard lock(mutex);
    return counters.Total(Clock::now());
}

CounterFigures Station::PortFigures(size_t port) const {
    std::lock_guard lock(mutex);
    return counters.Port(port, Clock::now());
}

std::optional<StationEvent> Station::Next() {
    std::lock_guard lock(mutex);
    if (events.empty())
        return std::nullopt;
    StationEvent e = std::move(events.front());
    events.pop_front();
    return e;
}

bool Station::WaitForEvent(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex);
    return eventWaiting.wait_for(lock, limit, [&] { return !events.empty(); });
}

bool Station::Ended() const {
    std::lock_guard lock(mutex);
    return ended;
}

StationOutcome Station::Outcome() const {
    std::lock_guard lock(mutex);
    return outcome;
}

void Station::Run() {
    // The sessions are made here: their events are this thread's to take.
    for (size_t i = 0; i < setup.devices.size(); ++i)
        ports.push_back(std::make_unique<StationPort>(*this, i));
    for (auto& p : ports)
        p->Start();
    bool cancelled = false;
    for (;;) {
        bool cancelNow = false, leaving = false;
        std::deque<size_t> keys;
        {
            std::unique_lock lock(mutex);
            leaving = quit;
            if (cancelBoards && !cancelled)
                cancelNow = cancelled = true;
            keys.swap(rearms);
        }
        if (leaving) {
            for (auto& p : ports)
                p->CancelBoard();
            break;
        }
        const auto now = Clock::now();
        for (auto& p : ports)
            p->Pump();
        for (size_t k : keys)
            ports[k]->KeyPressed();
        if (cancelNow)
            for (auto& p : ports)
                p->CancelBoard();
        for (auto& p : ports)
            p->Tick(now);
        // Over once no port wakes a board and none is under way.
        const bool over = std::all_of(ports.begin(), ports.end(), [](const auto& p) { return p->Stopped(); });
        if (over)
            break;
        auto next = Clock::time_point::max();
        for (auto& p : ports)
            next = std::min(next, p->NextTick());
        std::unique_lock lock(mutex);
        if (next == Clock::time_point::max())
            changed.wait(lock, [&] { return signalled; });
        else
            changed.wait_until(lock, next, [&] { return signalled; });
        signalled = false;
    }
    for (auto& p : ports)
        p->Pump();
    ports.clear();  // each session quits: the worker ends, the line is let go
    {
        std::lock_guard lock(mutex);
        ended = true;
    }
    StationEvent e;
    e.kind = StationEvent::Kind::Ended;
    Emit(std::move(e));
}
