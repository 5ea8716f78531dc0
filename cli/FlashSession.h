#pragma once
#include <atomic>
#include <chrono>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliOwner.h"
#include "cli/ProgressDisplay.h"
#include "cli/UpdateWatch.h"
#include "engine/ConsoleLines.h"
#include "settings/ProfileFile.h"
#include "engine/SharedState.h"
#include "engine/Sleeper.h"

class CUIThread;
class WireTrace;

struct SessionOptions {
    static constexpr int kDefaultTimeoutSeconds = 60;

    std::string device;         // --device: the line to use, as port 1
    unsigned port = 0;          // --port: a COM number mapped through the settings file
    std::string libFolder;      // --lib
    std::optional<int> crystal; // --crystal, as an index into the crystal list
    bool reserve = false;       // --reserve
    // --timeout: how long the board may stay silent while the tool waits for it during
    // an update or an erase; 0 waits as long as it takes, as the window does.
    int timeoutSeconds = kDefaultTimeoutSeconds;
    std::string lineSettings;   // --settings (console); else the settings file's line
    std::shared_ptr<WireTrace> trace;  // --trace: every byte on the line, recorded
};

// One headless run of the worker: it opens the line, loads the update files and
// follows an update, an erase or the board's console, printing what the window would
// show: log lines to `out`, progress and message boxes to `err`.
class FlashSession {
public:
    static constexpr int kOk = 0;
    static constexpr int kFailed = 1;
    static constexpr int kCancelled = 130;

    FlashSession(SessionOptions options, ISleeper& sleeper, std::ostream& out, std::ostream& err,
                 bool errIsTerminal, const std::atomic<int>& interrupts);
    ~FlashSession();

    // False, after saying why, when the settings file cannot be used or the line
    // cannot be opened.
    bool OpenLine();
    // Resets the image and loads each file as Open File does; false when any file was
    // refused or reported a problem.
    bool LoadFiles(const std::vector<std::string>& files);
    int Update();
    int Erase();
    // Shows the board's console lines; each line read from `commandsFd` is sent as a
    // console command, and an "initflash" is followed to its end before the next one.
    // Ends when the input ends (after a moment for the board's answer), on Ctrl-C, when
    // the line is lost or an erase fails; then writes the lines to `saveFile` when one
    // is named.
    int Console(int commandsFd, const std::string& saveFile);

private:
    int FollowUpdate();
    int Cancel(int status);
    void Pump(std::chrono::milliseconds wait);
    void Handle(const ThreadMessage& m);
    bool WaitWhileBusy();
    void PrintConsoleText(uint32_t n);
    int CrystalIndex() const;
    int SaveConsole(const std::string& saveFile, int status);

    SessionOptions options;
    ISleeper& sleeper;
    std::ostream& out;
    std::ostream& err;
    const std::atomic<int>& interrupts;
    OperatorSettings settings;
    SharedState shared;
    CliOwner owner;
    ProgressDisplay progress;
    std::unique_ptr<CUIThread> worker;

    ConsoleLines console;
    size_t consolePrinted = 0;
    int problems = 0;            // message boxes and error texts seen
    std::optional<int> portState;
    bool updateDone = false;
    UpdateWatch watch;
};
