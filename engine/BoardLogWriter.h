#pragma once
// Appends each board's log to its port's log file on a thread of its own, in the order
// the boards ended: a log on the disk (locked, then synced) never holds up the front
// end that hands it over. What could not be written is told through `warn`, from the
// writer's thread.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "engine/Station.h"

class BoardLogWriter {
public:
    BoardLogWriter(std::string folder, std::function<void(const std::string& warning)> warn);
    ~BoardLogWriter();  // writes what it was given, then ends
    BoardLogWriter(const BoardLogWriter&) = delete;
    BoardLogWriter& operator=(const BoardLogWriter&) = delete;

    // The board of a BoardEnded event, on the port called `name` at `device`.
    void Append(const std::string& name, const std::string& device, const StationEvent& ended);

private:
    struct Piece {
        std::string name, device;
        StationEvent ended;
    };
    void Run();

    const std::string folder;
    const std::function<void(const std::string&)> warn;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Piece> pieces;
    bool leaving = false;
    std::thread thread;
};
