#pragma once
// Follows an update (or an erase) by what the worker reports, to tell how long the
// board has been silent while the tool waits for it, and what the tool is waiting
// for. The tool's own sending never counts as silence: it ends by itself, block by
// block.
#include <chrono>

#include "engine/MessageQueue.h"

class UpdateWatch {
public:
    using Clock = std::chrono::steady_clock;

    // The board has just been asked to wake up.
    void Begin(Clock::time_point now);
    // Every message from the worker: anything shows the run is alive, and the log lines
    // and progress move the stage on.
    void Take(const ThreadMessage& m, Clock::time_point now);
    // True when the tool has waited for the board for `limit` without a word from it.
    bool SilentFor(std::chrono::seconds limit, Clock::time_point now) const;
    // What the tool is waiting for, in the operator's words.
    const char* Awaited() const;

private:
    enum class Stage {
        WakeUp,
        SendingLoader1,
        Loader2Request,
        SendingLoader2,
        DataRequest,
        MoreData,
        Programming,
        Finish,
    };
    Stage stage = Stage::WakeUp;
    Clock::time_point lastWord{};
};
