#pragma once
// A factory station: every port loops wait for a board -> flash it -> check it ->
// record it -> wait for the next, each on a session of its own, until the operator
// stops it or it has done the boards it was asked for. The command line and the
// window drive this one loop and show its typed events: each port's state in words,
// each board's record as it ends, and the counters.
//
// Threads: the station runs on a thread of its own, which makes and drives every
// port's session; the requests below and Next() may come from any one front-end
// thread.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/BoardCheck.h"
#include "engine/BoardResult.h"
#include "engine/RunVerdict.h"
#include "engine/SharedState.h"
#include "engine/Sleeper.h"
#include "engine/StationCounters.h"
#include "image/FlashImage.h"
#include "serial/LineFactory.h"

class StationPort;
class WireTrace;

// What a port waits for after a board's verdict (and its check) before it wakes the next.
enum class RearmMode : uint8_t {
    Auto,    // a few seconds, then the wake-ups again
    Key,     // the operator says the next board is in (Enter, or the port's number)
    Replug,  // the device goes away and comes back (a USB adapter on the board)
};

struct StationSetup {
    std::vector<std::string> devices;  // one port each, numbered from 1 in this order
    int crystalIndex = 0;
    // The operator's line settings: the first wake-up of each board goes out at them.
    std::string lineSettings = "115200,N,8,1";
    std::shared_ptr<const ImageSnapshot> image;  // loaded and checked once for all ports
    std::vector<FileDigest> files;               // what the image was made of, for the records
    bool reserve = false;
    std::chrono::milliseconds wakeEvery{1000};
    RearmMode rearm = RearmMode::Auto;
    std::chrono::milliseconds rearmAfter{3000};
    CheckRule check;
    unsigned count = 0;  // boards in total, then the station ends; 0: until stopped
    // A board that has answered and then stays silent this long is given up; 0 never.
    std::chrono::seconds timeout{60};

    // How every port's session finds the library files.
    std::function<void(SharedState&)> library;
    // The line of a device; the platform's serial line when not set.
    std::function<LineFactory(const std::string& device)> lines;
    ISleeper* sleeper = nullptr;  // the protocol's pauses; real time when not set
    // Keeps a board's record (one JSON line) before the next board is woken; false
    // with why when it could not: the station then wakes no more boards.
    std::function<bool(const std::string& jsonLine, std::string& why)> keep;
    // The adapter behind a device (USB vendor, model, serial number).
    std::function<AdapterFacts(const std::string& device)> adapter;
    // A wire trace for the next board of a port (port from 0, board from 1); null with
    // why (the port says so, and its board goes untraced).
    std::function<std::shared_ptr<WireTrace>(size_t port, unsigned board, std::string& why)> trace;
    // Called from any thread when a station event waits.
    std::function<void()> wake;
};

// One port as its operator sees it.
struct PortView {
    enum class State : uint8_t {
        Off,       // the device is not there or cannot be opened: `reason`
        Waiting,   // waking a board now and then, since `since`
        Flashing,  // `percent`, `stage`
        Checking,  // listening to the board's new firmware
        Passed,    // the last board passed, in `seconds`
        Failed,    // the last board did not: `reason`
        Stopped,   // wakes no more boards: `reason` when a problem stopped it
    };
    // What a Passed or Failed port waits for before the next board.
    enum class Next : uint8_t { Timer, Key, Replug, Nothing };

    State state = State::Off;
    Next next = Next::Nothing;
    std::string device;
    std::string reason;
    std::chrono::system_clock::time_point since;
    int percent = 0;
    StageReport stage;
    double seconds = 0;
    unsigned boards = 0;  // boards this port has ended

    bool operator==(const PortView&) const = default;
};

struct StationEvent {
    enum class Kind : uint8_t {
        Port,        // `port` changed to `view`
        BoardEnded,  // `result` (also in the results, when `kept`); `log` its operator log; `counters`
        Problem,     // `text` the operator must read (of `port`, or of the station when port is npos)
        Ended,       // the station is over: no port wakes a board, none is under way
    };
    static constexpr size_t kStation = static_cast<size_t>(-1);

    Kind kind = Kind::Port;
    size_t port = kStation;
    PortView view;
    BoardResult result;
    bool kept = true;
    std::string log;
    CounterFigures counters, portCounters;
    std::string text;
};

// How a station's run came out, once it has ended.
struct StationOutcome {
    size_t boards = 0, passed = 0, cancelled = 0;
    bool stoppedByProblem = false;  // a port refused to start, or a record could not be kept
};

class Station {
public:
    explicit Station(StationSetup setup);
    ~Station();  // cancels whatever runs and waits for every port's session to end
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    void Start();
    // The first Ctrl-C: no new board is woken; the boards under way finish.
    void StopWaking();
    // The second: the boards under way are cancelled (and recorded as cancelled).
    void CancelBoards();
    // The operator says port `port` (from 0) has its next board: false when the port
    // waits for no key.
    bool Rearm(size_t port);
    // Ports that wait for a key now.
    std::vector<size_t> WaitingForKey() const;

    std::optional<StationEvent> Next();
    bool WaitForEvent(std::chrono::milliseconds limit);
    bool Ended() const;
    StationOutcome Outcome() const;
    size_t Ports() const { return setup.devices.size(); }
    const StationSetup& Setup() const { return setup; }
    CounterFigures Total() const;
    CounterFigures PortFigures(size_t port) const;

private:
    friend class StationPort;
    void Run();
    void Signal();
    void Emit(StationEvent e);
    // For the ports, on the station's thread.
    bool MayWake() const;
    void BoardBegan();
    void BoardEnded(size_t port, BoardResult result, std::string log);
    void PortChanged(size_t port, const PortView& view);
    void PortProblem(size_t port, const std::string& text, bool stopsStation);

    StationSetup setup;
    std::vector<std::unique_ptr<StationPort>> ports;  // the station thread's
    std::thread thread;

    mutable std::mutex mutex;  // everything below
    std::condition_variable changed;
    bool signalled = false;
    bool quit = false;
    bool stopWaking = false, cancelBoards = false;
    std::deque<size_t> rearms;
    std::vector<bool> keyWaits;
    std::deque<StationEvent> events;
    bool ended = false;
    unsigned begun = 0;
    StationOutcome outcome;
    StationCounters counters;
    std::condition_variable eventWaiting;
};
