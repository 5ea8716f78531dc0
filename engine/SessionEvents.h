#pragma once
// What a session tells its front end, in the order it happened: typed events, never
// texts to be read back. The window, the command line and the tests all follow an
// update through these.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/OwnerInterfaces.h"
#include "engine/RunVerdict.h"

struct SessionEvent {
    enum class Kind : uint8_t {
        Stage,        // `stage`: where the run is now
        Progress,     // `value`: 0..100
        PortState,    // `value`: 1 open, 0 closed or failed to open
        Log,          // `text`: one operator-log line
        ConsoleBytes, // `bytes`: the board's console output
        MessageBox,   // `text`, `caption`, `icon`; `box` to dismiss (0: nobody waits for it)
        FileResult,   // `text` the path; `value` 1 taken, 0 refused; `caption` what was shown
        RunEnded,     // `verdict`: the run's end, also when it never began (refused at the start)
    };
    Kind kind = Kind::Log;
    StageReport stage;
    int value = 0;
    std::string text, caption;
    BoxIcon icon = BoxIcon::None;
    uint64_t box = 0;
    std::vector<uint8_t> bytes;
    RunVerdict verdict;
};
