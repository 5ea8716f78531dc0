#pragma once
// One port of a station: its own session on its own device, and the loop wait for a
// board -> flash -> check -> record -> re-arm. Everything here runs on the station's
// thread; the session's worker and line report through its events.
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "engine/BoardCheck.h"
#include "engine/Session.h"
#include "engine/Station.h"

class StationPort {
public:
    using Clock = std::chrono::steady_clock;

    StationPort(Station& station, size_t index);
    ~StationPort();
    StationPort(const StationPort&) = delete;
    StationPort& operator=(const StationPort&) = delete;

    void Start();
    // Takes every event the session has waiting.
    void Pump();
    // Moves the loop on at `now`: timers, the check, a stop.
    void Tick(Clock::time_point now);
    // When Tick wants to run next (time_point::max() when only an event can move it).
    Clock::time_point NextTick() const;
    // A board is under way: being flashed, or its firmware listened to.
    bool Busy() const { return phase == Phase::Flashing || phase == Phase::Checking; }
    bool Stopped() const { return phase == Phase::Stopped; }
    bool WaitsForKey() const { return phase == Phase::Rearming && view.next == PortView::Next::Key; }
    void KeyPressed();
    // The boards under way are cancelled; a check under way ends as cancelled.
    void CancelBoard();

private:
    enum class Phase { Absent, Opening, Waiting, Flashing, Checking, Rearming, Stopped };

    void Handle(const SessionEvent& e);
    void RunEnded(const RunVerdict& verdict);
    void StartWaiting(Clock::time_point now);
    void Stop(const std::string& reason);
    void GoAbsent(const std::string& reason, Clock::time_point retry);
    void BoardBegan();
    void FinishBoard(const RunVerdict& verdict, std::optional<BoardOutcome> checkOutcome, const std::string& checkWhy);
    void Rearm();
    void Note(const std::string& line);
    void Show();
    bool DeviceThere() const;

    Station& station;
    const StationSetup& setup;
    const size_t index;
    SharedState shared;
    std::unique_ptr<Session> session;
    std::shared_ptr<WireTrace> trace;
    std::string traceProblem;  // told once, not at every wait

    Phase phase = Phase::Absent;
    PortView view;
    PortView shown;
    bool everShown = false;
    Clock::time_point nextTry{}, nextWake{}, rearmAt{};
    bool goneSinceBoard = false;  // replug: the device went away after the last board
    std::string lastBox;          // the last message the session showed
    std::string log;              // the operator log of the board under way
    std::optional<BoardCheck> check;
    std::optional<RunVerdict> checked;  // the verdict of the board whose firmware is listened to
    unsigned boards = 0;                // this port's boards ended
};
