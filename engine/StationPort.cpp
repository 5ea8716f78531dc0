#include "engine/StationPort.h"

#include <time.h>

#include <cstdio>

#include "platform/FileFacts.h"
#include "protocol/Crystals.h"
#include "trace/WireTrace.h"

namespace {

using namespace std::chrono_literals;

// An absent device is looked for this often; one that is there but would not open
// is tried again after the longer pause.
constexpr auto kLookEvery = 250ms;
constexpr auto kRetryOpen = 1s;
// While a board is flashed the station looks at its session this often, so that a
// silent board is given up in time.
constexpr auto kFlashingLook = 200ms;

std::string LogTime() {
    const auto now = std::chrono::system_clock::now();
    const time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    tm local{};
    localtime_r(&seconds, &local);
    char text[40];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(millis));
    return text;
}

// The stages in which the board has answered: from 'W' on.
bool BoardStage(Stage s) {
    return s == Stage::Loader1 || s == Stage::Loader2 || s == Stage::Header || s == Stage::Section ||
           s == Stage::Programming;
}

// A run that ended without the board ever answering was a wait, not a board.
bool BoardTookPart(const RunVerdict& v) {
    return BoardStage(v.stoppedAt.stage) || v.stoppedAt.stage == Stage::Finished || v.bytesSent > 0 ||
           v.reached.ReportedFinished() || v.result == RunResult::FinishedEarly || v.result == RunResult::Passed;
}

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\n')
            c = ' ';
    return text;
}

}  // namespace

StationPort::StationPort(Station& st, size_t i) : station(st), setup(st.Setup()), index(i) {
    const std::string& device = setup.devices[index];
    view.device = device;
    if (setup.library)
        setup.library(shared);
    shared.ReserveProgram = setup.reserve ? 1 : 0;
    SessionSetup s;
    s.lines = setup.lines ? setup.lines(device) : SerialLineFactory([device](uint32_t) { return device; });
    s.sleeper = setup.sleeper;
    s.boxesWait = false;  // nobody dismisses a box at a station: it is shown, and goes on
    s.wake = [&st] { st.Signal(); };
    // Whatever the operator would be shown during a board's run ends it as failed.
    s.policy = RunPolicy{setup.timeout, true};
    s.preparedImage = setup.image;
    session = std::make_unique<Session>(shared, std::move(s));
}

StationPort::~StationPort() {
    if (session)
        session->Quit();
}

void StationPort::Start() {
    session->Start();
    view.since = std::chrono::system_clock::now();
    // Shown once it is known whether the device is there.
    phase = Phase::Absent;
    nextTry = Clock::now();
}

bool StationPort::DeviceThere() const { return LookAtFile(setup.devices[index]).exists; }

void StationPort::Note(const std::string& line) { log += LogTime() + "  " + line + "\n"; }

void StationPort::Show() {
    view.boards = boards;
    if (everShown && view == shown)
        return;
    everShown = true;
    shown = view;
    station.PortChanged(index, view);
}

void StationPort::GoAbsent(const std::string& reason, Clock::time_point retry) {
    phase = Phase::Absent;
    nextTry = retry;
    view.state = PortView::State::Off;
    view.reason = reason;
    Show();
}

void StationPort::Stop(const std::string& reason) {
    phase = Phase::Stopped;
    if (!reason.empty() || (view.state != PortView::State::Passed && view.state != PortView::State::Failed)) {
        view.state = PortView::State::Stopped;
        view.reason = reason;
    }
    view.next = PortView::Next::Nothing;
    Show();
}

void StationPort::StartWaiting(Clock::time_point now) {
    if (!station.MayWake()) {
        Stop("");
        return;
    }
    if (!session->PortOpen()) {
        GoAbsent("", now);
        return;
    }
    log.clear();
    lastBox.clear();
    if (setup.trace) {
        std::string why;
        trace = setup.trace(index, boards + 1, why);
        session->SetTrace(trace);
        if (!trace && why != traceProblem)
            station.PortProblem(index, "Warning: no wire trace of this port's board " + std::to_string(boards + 1) + ": " + why,
                                false);
        traceProblem = trace ? "" : why;
    }
    phase = Phase::Waiting;
    if (view.state != PortView::State::Waiting)
        view.since = std::chrono::system_clock::now();
    view.state = PortView::State::Waiting;
    view.reason.clear();
    view.next = PortView::Next::Nothing;
    view.percent = 0;
    view.stage = {};
    Show();
    nextWake = now + setup.wakeEvery;
    session->StartUpdate(setup.crystalIndex);
}

void StationPort::Pump() {
    while (auto e = session->Next())
        Handle(*e);
}

void StationPort::Handle(const SessionEvent& e) {
    const auto now = Clock::now();
    switch (e.kind) {
    case SessionEvent::Kind::PortState:
        if (phase == Phase::Opening) {
            if (e.value == 1) {
                StartWaiting(now);
            } else {
                GoAbsent(lastBox.empty() ? "the device cannot be opened" : lastBox, now + kRetryOpen);
            }
        } else if (e.value == 0 && phase == Phase::Rearming) {
            goneSinceBoard = true;
        }
        return;
    case SessionEvent::Kind::MessageBox: {
        lastBox = OneLine(e.text);
        Note(e.caption + ": " + lastBox);
        // Outside a board's run nobody else will read it (the line lost while re-arming),
        // unless it is the pull a replug re-arm waits for.
        const bool awaitedPull = phase == Phase::Rearming && setup.rearm == RearmMode::Replug;
        if (phase != Phase::Waiting && phase != Phase::Flashing && phase != Phase::Opening && !awaitedPull)
            station.PortProblem(index, e.caption + ": " + lastBox, false);
        return;
    }
    case SessionEvent::Kind::Log: Note(e.text); return;
    case SessionEvent::Kind::Progress:
        if (phase == Phase::Flashing) {
            view.percent = e.value;
            Show();
        }
        return;
    case SessionEvent::Kind::Stage:
        if (!BoardStage(e.stage.stage))
            return;
        view.stage = e.stage;
        if (phase == Phase::Waiting)
            BoardBegan();
        else if (phase == Phase::Flashing)
            Show();
        return;
    case SessionEvent::Kind::ConsoleBytes:
        if (phase == Phase::Checking && check) {
            check->Take(e.bytes.data(), e.bytes.size());
            Tick(now);
        }
        return;
    case SessionEvent::Kind::RunEnded: RunEnded(e.verdict); return;
    case SessionEvent::Kind::FileResult: return;
    }
}

void StationPort::BoardBegan() {
    phase = Phase::Flashing;
    view.state = PortView::State::Flashing;
    view.percent = 0;
    station.BoardBegan();
    Show();
}

void StationPort::RunEnded(const RunVerdict& v) {
    const auto now = Clock::now();
    if (phase == Phase::Waiting && !BoardTookPart(v)) {
        // No board answered this wait.
        switch (v.failure) {
        case FailureClass::StartRefused:
            Stop(OneLine(v.message));
            station.PortProblem(index, "the board was not woken: " + OneLine(v.message), true);
            return;
        case FailureClass::PortFailed:
        case FailureClass::LineLost: GoAbsent(OneLine(v.message), now + kLookEvery); return;
        default: break;
        }
        if (v.result == RunResult::Cancelled) {
            Stop("");
            return;
        }
        StartWaiting(now);  // given up after a silence longer than the wake interval: wake on
        return;
    }
    if (phase == Phase::Waiting)
        BoardBegan();  // it answered with 'D' at once
    if (phase != Phase::Flashing)
        return;
    if (v.Passed() && setup.check.Active()) {
        phase = Phase::Checking;
        view.state = PortView::State::Checking;
        Show();
        checked = v;
        check.emplace(setup.check, now);
        return;
    }
    FinishBoard(v, std::nullopt, "");
}

void StationPort::FinishBoard(const RunVerdict& v, std::optional<BoardOutcome> checkOutcome, const std::string& why) {
    BoardResult r = ResultOfRun(v);
    r.port = static_cast<unsigned>(index + 1);
    r.device = setup.devices[index];
    if (setup.adapter)
        r.adapter = setup.adapter(r.device);
    if (setup.crystalIndex >= 0 && static_cast<size_t>(setup.crystalIndex) < kCrystalCount)
        r.crystal = kCrystals[setup.crystalIndex].text;
    r.files = setup.files;
    if (trace)
        r.trace = trace->Path();
    if (check) {
        const auto now = Clock::now();
        r.checkSeconds = check->SecondsListened(now);
        r.console = check->Heard();
        r.ended = v.ended + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                std::chrono::duration<double>(*r.checkSeconds));
        if (checkOutcome)
            r.outcome = *checkOutcome;
        if (!why.empty())
            r.message += "; " + why;
    }
    check.reset();
    checked.reset();
    ++boards;
    Note("result: " + std::string(BoardOutcomeName(r.outcome)) + ": " + OneLine(r.message));
    view.state = r.Passed() ? PortView::State::Passed : PortView::State::Failed;
    view.seconds = r.Seconds();
    view.reason = r.Passed() ? "" : OneLine(r.message);
    view.percent = 0;
    view.stage = {};
    station.BoardEnded(index, std::move(r), std::move(log));
    log.clear();
    Rearm();
}

void StationPort::Rearm() {
    const auto now = Clock::now();
    if (!station.MayWake()) {
        Stop("");
        return;
    }
    phase = Phase::Rearming;
    goneSinceBoard = false;
    switch (setup.rearm) {
    case RearmMode::Auto:
        view.next = PortView::Next::Timer;
        rearmAt = now + setup.rearmAfter;
        break;
    case RearmMode::Key: view.next = PortView::Next::Key; break;
    case RearmMode::Replug:
        view.next = PortView::Next::Replug;
        rearmAt = now;
        break;
    }
    Show();
}

void StationPort::KeyPressed() {
    if (!WaitsForKey())
        return;
    StartWaiting(Clock::now());
}

void StationPort::CancelBoard() {
    if (phase == Phase::Flashing) {
        session->Cancel();  // its verdict comes as an event, and is recorded as cancelled
        return;
    }
    if (phase == Phase::Checking && checked) {
        const RunVerdict v = *checked;
        FinishBoard(v, BoardOutcome::Cancelled, "cancelled by the operator while the check listened to the firmware");
    }
}

void StationPort::Tick(Clock::time_point now) {
    switch (phase) {
    case Phase::Absent:
        if (!station.MayWake()) {
            Stop("");
            return;
        }
        if (now < nextTry)
            return;
        if (!DeviceThere()) {
            if (view.reason.empty())
                view.reason = "the device is not there";
            view.state = PortView::State::Off;
            Show();
            nextTry = now + kLookEvery;
            return;
        }
        lastBox.clear();
        phase = Phase::Opening;
        session->OpenPort(1, setup.lineSettings);
        return;
    case Phase::Opening: return;
    case Phase::Waiting:
        if (!station.MayWake()) {
            if (session->CancelWhileWaiting())
                Stop("");
            else if (session->RunActive())
                BoardBegan();  // the board answered just now: it is flashed to its end
            // else the wait has just ended by itself: its end, still to be taken, decides
            return;
        }
        if (now >= nextWake) {
            session->WakeAgain(setup.crystalIndex);
            nextWake = now + setup.wakeEvery;
        }
        return;
    case Phase::Flashing: return;
    case Phase::Checking:
        if (check && check->Decide(now) != BoardCheck::State::Listening) {
            const RunVerdict v = *checked;
            const bool passed = check->Decide(now) == BoardCheck::State::Passed;
            const std::string why = check->Why();
            FinishBoard(v, passed ? BoardOutcome::Passed : BoardOutcome::CheckFailed, why);
        }
        return;
    case Phase::Rearming:
        if (!station.MayWake()) {
            Stop("");
            return;
        }
        if (setup.rearm == RearmMode::Auto && now >= rearmAt) {
            StartWaiting(now);
        } else if (setup.rearm == RearmMode::Replug && now >= rearmAt) {
            rearmAt = now + kLookEvery;
            const bool there = DeviceThere();
            if (!there || !session->PortOpen()) {
                goneSinceBoard = true;
                if (session->PortOpen())
                    session->ClosePort();  // the device has gone: let go of it
            }
            if (goneSinceBoard && there)
                GoAbsent("", now);  // back: opened, and the next board woken
        }
        return;
    case Phase::Stopped: return;
    }
}

StationPort::Clock::time_point StationPort::NextTick() const {
    switch (phase) {
    case Phase::Absent: return nextTry;
    case Phase::Waiting: return nextWake;
    case Phase::Flashing: return Clock::now() + kFlashingLook;
    case Phase::Checking: return check ? check->Deadline() : Clock::now();
    case Phase::Rearming:
        return setup.rearm == RearmMode::Key ? Clock::time_point::max() : rearmAt;
    case Phase::Opening:
    case Phase::Stopped: break;
    }
    return Clock::time_point::max();
}
