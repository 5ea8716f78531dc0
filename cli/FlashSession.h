#pragma once
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/RunOutput.h"
#include "engine/ConsoleLines.h"
#include "engine/RunVerdict.h"
#include "engine/SessionEvents.h"
#include "engine/SharedState.h"
#include "engine/Sleeper.h"
#include "image/FlashImage.h"
#include "settings/ProfileFile.h"

class Session;
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
    // An image loaded and checked once for several boards; taken instead of files.
    std::shared_ptr<const ImageSnapshot> preparedImage;
    // The board's console text goes to a terminal: its control bytes are shown as
    // text rather than let act on the operator's screen.
    bool terminalOutput = false;
};

// One headless run of a board's session: it opens the line, loads the update files
// and follows an update, an erase or the board's console, showing what the window
// would show on `output`. The run's outcome is the session's verdict.
class FlashSession {
public:
    static constexpr int kOk = 0;
    static constexpr int kFailed = 1;
    static constexpr int kCancelled = 130;

    FlashSession(SessionOptions options, ISleeper& sleeper, IRunOutput& output, const std::atomic<int>& interrupts);
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
    // console command, each at least a moment after the worker has carried out the one
    // before, and an "initflash" is followed to its end before the next one.
    // Ends when the input ends (after a moment for the board's answer), on Ctrl-C, when
    // the line is lost or an erase fails; then writes the lines to `saveFile` when one
    // is named.
    int Console(int commandsFd, const std::string& saveFile);

    // How the board's last run ended; for a board that never got as far as a run (its
    // line would not open), a failed verdict with what the operator was told.
    RunVerdict Outcome(int status) const;
    // The image loaded by LoadFiles, for other boards of the same run.
    ImageSnapshot Image() const;
    // The crystal the board is woken at (--crystal, else the settings file's).
    int CrystalInUse() const { return CrystalIndex(); }

private:
    int FollowRun();
    // Handles every event waiting, after waiting at most `wait` for the first; the
    // run's end when one came.
    std::optional<RunVerdict> Pump(std::chrono::milliseconds wait);
    void Handle(const SessionEvent& e);
    void PrintConsoleLines();
    void PrintConsoleLine(const std::string& line);
    // The next console command may go out: the last one is done, a moment ago.
    bool CommandMayGo(std::chrono::steady_clock::time_point pacedFrom) const;
    int CrystalIndex() const;
    int SaveConsole(const std::string& saveFile, int status);

    SessionOptions options;
    IRunOutput& output;
    const std::atomic<int>& interrupts;
    OperatorSettings settings;
    SharedState shared;
    std::unique_ptr<Session> session;

    ConsoleLines console;
    size_t consolePrinted = 0;
    std::vector<std::string> shown;  // what the operator was told of problems
    std::optional<int> portState;
    bool filesRefused = false;
    std::optional<RunVerdict> verdict;
};
