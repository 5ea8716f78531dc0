#pragma once
// One board's session: the worker, its shared state and its line, and what every
// front end (the window, the command line with one board or many, the station, the
// tests) asks of them: load files, update or erase at a crystal, cancel, console
// commands, open and close the port, save the image. Beneath it the worker and its
// message set run as they always have; above it the front end sees typed events in
// the order they happened and one verdict per run, built from what the worker did.
//
// Threads: the requests and Next() are the front end's (the thread that made the
// session); the worker and the line's monitor raise events from their own threads.
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/MessageQueue.h"
#include "engine/OwnerInterfaces.h"
#include "engine/RunRecord.h"
#include "engine/SessionEvents.h"
#include "engine/SessionMailbox.h"
#include "engine/SharedState.h"
#include "engine/Sleeper.h"
#include "engine/WorkerFacts.h"
#include "image/FlashImage.h"
#include "serial/LineFactory.h"

class CUIThread;
class WireTrace;

// How the session follows a run.
struct RunPolicy {
    // Give the run up when the board stays silent this long while the tool waits for
    // it; 0 waits as long as it takes (the window does).
    std::chrono::seconds timeout{0};
    // Any message the operator is shown during the run ends it as failed: a script is
    // told at once rather than left waiting for a Cancel.
    bool stopOnProblem = false;
};

// What the update files opened last left in the image, as an Update would find it.
enum class OpenedFiles : uint8_t {
    None,     // nothing opened since the image was emptied
    Loading,  // files are still being taken in
    Refused,  // files were opened and every one of them was refused
    Taken,    // at least one of them is in the image
    Erased,   // an erase has discarded what was taken: nothing of it would be sent
};

// The operator-log line that tells how a run that did not pass ended and why: "The
// update did not start: ...", "The erase stopped: ...", "The update failed: ...". Empty
// for a run that passed or was cancelled (the log has said so already).
std::string RunEndLogLine(const RunVerdict& verdict);

struct SessionSetup {
    LineFactory lines;                // the worker's line; the platform's own without it
    ISleeper* sleeper = nullptr;      // every pause of the protocol
    bool boxesWait = true;            // a message box holds the worker until dismissed
    std::function<void()> wake;       // called from any thread when an event waits
    RunPolicy policy;                 // for every run, also one typed as "initflash"
    std::shared_ptr<const ImageSnapshot> preparedImage;  // taken over at start instead of an empty image
    std::function<void(const ThreadMessage&)> onPost;   // sees each request posted (tests)
};

class Session : private IWindowPoster, private IMessageBoxOwner, private IWorkerFacts {
public:
    Session(SharedState& shared, SessionSetup setup);
    ~Session() override;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Starts the worker (it reads the flash layout); the first request may follow at once.
    void Start();
    // Ends the worker: a download under way stops, a box it waits for is let go.
    void Quit();
    // Asks the worker to end after what it has been asked before (the window's close).
    void RequestQuit();
    bool WorkerRuns() const;

    // ---- Requests.
    // Opens port n with a settings text ("115200,N,8,1"); these are the operator's
    // settings from now on, which a cancel returns the line to.
    bool OpenPort(uint32_t portNumber, const std::string& settings);
    // The same, where the front end knows why its settings cannot make a line
    // (`problem`: which setting, and why): the "Can't open port!" of these settings
    // then names the problem in its detail beside the line's own cause. Without a port
    // (number 0) nothing is posted: the line is closed, as a failed open leaves it, and
    // the box is shown at once. A later OpenPort without a problem clears it.
    bool OpenPort(uint32_t portNumber, const std::string& settings, const std::string& problem);
    void ClosePort();
    // Loads the files into the image one after the other, as Open File does (after a
    // ResetImage); each ends in a FileResult event. Busy() until the last is in.
    bool LoadFiles(const std::vector<std::string>& files);
    // Empties the image (a new batch of none).
    bool ResetImage();
    bool SaveImage(const std::string& path);
    bool Busy() const;
    // What an Update would send of the files opened last.
    OpenedFiles Files() const;
    // The files opened last (taken or refused), and with them the library files the
    // worker reads: what a wire trace must never be written over.
    std::vector<std::string> FilesInUse() const;
    // A console command as typed; "initflash" starts an erase run.
    void ConsoleCommand(const std::string& text, int crystalIndex);
    // Console commands asked for that the worker has not yet carried out, and when it
    // finished the last one: a front end that sends several paces them from there, so
    // that the board takes in each before the next.
    int ConsoleCommandsPending() const { return commandsPending; }
    std::chrono::steady_clock::time_point LastConsoleCommandDone() const;
    // Arms an update and wakes the board at that crystal. A closed port is opened
    // with the operator's settings first, so that the wake-up goes out.
    // A crystal index beyond the table is refused by the worker; noCrystalWhy, when
    // the front end knows it, says why no crystal is chosen (the settings file's value).
    void StartUpdate(int crystalIndex, const std::string& noCrystalWhy = {});
    void StartErase(int crystalIndex) { ConsoleCommand("initflash", crystalIndex); }
    // The operator's Cancel: the worker stops answering the board (a download stops
    // after its current block) and the line goes back to the operator's settings.
    void Cancel();
    // While the update under way still listens for the board's first request: sends
    // the wake-up again at that crystal, and the run's start and its time to 'W' are
    // counted from now (a station's port waking a board that may have been powered
    // since). False, with nothing sent, when the board has answered meanwhile or no
    // update waits; the worker also holds the wake-up back when a reply came first.
    bool WakeAgain(int crystalIndex);
    // Cancels the update under way only while it still waits for the board's first
    // request, as one step with the board's answer: false when the board has
    // answered (the run goes on) or no run is under way.
    bool CancelWhileWaiting();

    // ---- What happened.
    // The next event, if one waits. Also where a run is given up after the board's
    // silence, or stopped after a problem (RunPolicy).
    std::optional<SessionEvent> Next();
    // Blocks until an event waits or `limit` passes.
    bool WaitForEvent(std::chrono::milliseconds limit);
    // A box event with a non-zero `box` has been dismissed: the worker goes on.
    void Dismissed(uint64_t box);

    bool RunActive() const;
    // The kind of the run under way (meaningful while RunActive()).
    ExchangeProgress::Kind RunKind() const;
    StageReport CurrentStage() const;
    std::optional<RunVerdict> LastVerdict() const;
    bool PortOpen() const { return portOpen; }
    uint32_t PortNumber() const;
    // The settings a cancel reopens the line with.
    std::string OperatorLineSettings() const;

    // The image as the worker holds it; read only while nothing is Busy().
    ImageSnapshot ImageNow() const;

    // ---- The wire trace of the line.
    void SetTrace(std::shared_ptr<WireTrace> trace);
    std::shared_ptr<WireTrace> Trace() const;
    void Note(const std::string& text);

private:
    // The worker's owner.
    void PostWindowMessage(uint32_t id, uint32_t wParam, int64_t lParam) override;
    void ShowMessageBox(const std::string& text, const std::string& caption, BoxIcon icon) override;
    // The worker's facts.
    void RunStarted(ExchangeProgress::Kind kind, uint32_t crystalIndex) override;
    void RunRefused(StartRefusal cause, const std::string& why) override;
    void ListeningForBoard(bool opened) override;
    void ReplyAnswered(uint8_t reply) override;
    void RepliesIgnored(const uint8_t* bytes, uint32_t count) override;
    void Sent(const uint8_t* bytes, uint32_t count) override;
    void LoaderSent(int which, bool whole) override;
    void HeaderSent(const std::array<uint32_t, 10>& words) override;
    void SectionBlock(uint8_t letter, uint32_t block, uint32_t blocks) override;
    void SectionSent(uint8_t letter, bool whole) override;
    void ProgrammingReport(uint8_t sixteenths) override;
    void FinishReported() override;
    void PortOpenFailed(const std::string& why) override;
    void LineLost(const std::string& why) override;
    void FileLoaded(const std::string& path, bool taken) override;
    void ImageSaved(const std::string& path, bool saved) override;
    void ConsoleCommandDone() override;

    bool Post(uint32_t id, uint32_t wParam, int64_t lParam, std::string text = {});
    // Posts a request; a console command is counted until the worker has done it.
    void PostCommand(const ThreadMessage& m);
    bool PostImageRequest(uint32_t id, std::string text = {});
    void PostNextFile();
    void Log(const std::string& text);
    void PushStage();
    // A new run; `askedOfWorker` when this session asked for it and waits for the
    // worker to say whether it started.
    void BeginRun(ExchangeProgress::Kind kind, bool askedOfWorker);
    void Shown(const std::string& text, const std::string& caption, BoxIcon icon, bool wait);
    // Ends the run under way with its verdict; `stopped` disarms the worker and logs
    // the stop, as a Cancel does.
    void EndRun(const RunVerdict& verdict, bool stopped);
    void CheckRun();
    // The end of a Cancel once the run is judged: the log line, the verdict, the reopen.
    void Cancelled(const std::optional<RunVerdict>& ended);
    // Posts the open of the operator's line, or fails it at once when it has no port.
    void OpenOperatorLine();
    void FailOpenAtOnce(const std::string& problem);
    // Opens the operator's line and posts `request` once it is open; the run fails if
    // it cannot be opened.
    void OpenFirst(ThreadMessage request);
    // The port's state came while an update or an erase waits for the port to open.
    void PortAnswered(bool open);
    // A port-state event; `answersAnOpen` unless it reports a line that was lost.
    void PushPortState(bool open, bool answersAnOpen);

    SharedState& shared;
    SessionSetup setup;
    SessionMailbox mailbox;
    std::unique_ptr<CUIThread> worker;

    mutable std::mutex mutex;  // the run, the files waiting to load and the problems below
    std::optional<RunRecord> run;
    bool startAnswered = true;  // the worker has said whether the run's start was taken
    std::optional<RunVerdict> lastVerdict;
    std::optional<StageReport> stageShown;  // the last stage event, so that each change is told once
    std::optional<std::string> problem;  // shown during the run (RunPolicy::stopOnProblem)
    std::deque<std::string> filesToLoad;
    std::string fileProblem;             // what was shown for the file loading now
    bool waitingForPort = false;         // an update or an erase waits for the port to open first
    ThreadMessage waitingRequest;        // and goes out with this once it is open
    std::deque<bool> portReportsAnswerOpen;  // of the port-state events not yet taken: answers an open
    bool lineLossReportDue = false;      // the next closed-port report is the lost line's
    uint32_t operatorPort = 1;
    std::string operatorSettings;
    std::string operatorProblem;         // why the operator's settings cannot open a line
    OpenedFiles files = OpenedFiles::None;
    std::vector<std::string> filesOpened;
    int filesTaken = 0;                  // of the files opened last
    bool erasedFiles = false;            // the erase under way discarded taken files

    std::atomic<int> filesPending{0};  // files asked for and not yet loaded
    std::atomic<int> commandsPending{0};  // console commands asked for and not yet carried out
    std::chrono::steady_clock::time_point commandDone;  // under `mutex`
    std::atomic<bool> portOpen{false};
};
