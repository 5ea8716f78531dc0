#include "engine/Session.h"

#include "engine/LogTexts.h"
#include "engine/Messages.h"
#include "engine/UIThread.h"
#include "protocol/Crystals.h"
#include "trace/WireTrace.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kInitflash = "initflash";
constexpr const char* kCantOpenPort = "Can't open port!";
constexpr const char* kLogFilesErased = "The erase discarded the opened files: open them again before an update.";

SessionEvent Event(SessionEvent::Kind kind) {
    SessionEvent e;
    e.kind = kind;
    return e;
}

// The worker's line as the session hands it over. Where the front end knows why its
// settings cannot make a line (a settings value beyond its list), a failed open with
// those settings gives that reason beside the line's own, so that "Can't open port!"
// names the setting instead of blaming the port.
class ExplainedLine : public ISerialLine {
public:
    using Explain = std::function<std::string(const std::string& settings)>;
    ExplainedLine(std::unique_ptr<ISerialLine> line, Explain explain) : line(std::move(line)), explain(std::move(explain)) {}

    bool OpenPort(uint32_t n, const std::string& settings) override {
        const bool opened = line->OpenPort(n, settings);
        why = opened ? std::string() : explain(settings);
        return opened;
    }
    std::string LastOpenError() const override {
        const std::string own = line->LastOpenError();
        return why.empty() ? own : own + "\n" + why;
    }
    void ClosePort() override { line->ClosePort(); }
    bool IsOpen() const override { return line->IsOpen(); }
    uint32_t ReadAvailable(uint8_t* b, uint32_t n, uint32_t waitMs) override { return line->ReadAvailable(b, n, waitMs); }
    uint32_t WriteBytes(const uint8_t* b, uint32_t n) override { return line->WriteBytes(b, n); }
    bool DrainOutput(uint32_t timeoutMs) override { return line->DrainOutput(timeoutMs); }
    std::string DeviceName() const override { return line->DeviceName(); }
    void SetNotifyThread(INotifyTarget* target) override { line->SetNotifyThread(target); }
    uint32_t OpenCount() const override { return line->OpenCount(); }
    void SetTrace(std::shared_ptr<WireTrace> trace) override { line->SetTrace(std::move(trace)); }
    std::shared_ptr<WireTrace> Trace() const override { return line->Trace(); }
    void Note(const std::string& text) override { line->Note(text); }
    void SetFailureBox(FailureBox box) override { line->SetFailureBox(std::move(box)); }

private:
    std::unique_ptr<ISerialLine> line;
    Explain explain;
    std::string why;  // the worker's thread only, as the opens are
};

}  // namespace

std::string RunEndLogLine(const RunVerdict& v) {
    if (v.result == RunResult::Passed || v.result == RunResult::Cancelled)
        return {};
    const std::string run = v.kind == ExchangeProgress::Kind::Erase ? "erase" : "update";
    // Nothing of the exchange went out: the board was never woken, or the line that
    // would wake it was not there.
    const bool notStarted = v.failure == FailureClass::StartRefused ||
                            ((v.failure == FailureClass::PortFailed || v.failure == FailureClass::LineLost) &&
                             v.stoppedAt.stage == Stage::Waking && v.bytesSent == 0);
    std::string why = v.message;
    for (char& c : why)
        if (c == '\n')
            c = ' ';
    if (notStarted)
        return "The " + run + " did not start: " + why;
    if (v.result == RunResult::Failed)
        return "The " + run + " stopped: " + why;
    return "The " + run + " failed: " + why;
}

Session::Session(SharedState& s, SessionSetup su) : shared(s), setup(std::move(su)), mailbox(setup.wake) {
    static RealSleeper realTime;
    IWindowPoster& poster = *this;
    IMessageBoxOwner& boxes = *this;
    LineFactory lines = [made = setup.lines, this] {
        return std::make_unique<ExplainedLine>(made ? made() : MakeSerialLine(), [this](const std::string& settings) {
            std::lock_guard lock(mutex);
            return settings == operatorSettings ? operatorProblem : std::string();
        });
    };
    worker = std::make_unique<CUIThread>(shared, poster, boxes, setup.sleeper ? *setup.sleeper : realTime, lines);
    worker->SetFacts(this);
    worker->SetPreparedImage(setup.preparedImage);
    if (setup.preparedImage)
        files = OpenedFiles::Taken;
}

Session::~Session() { Quit(); }

void Session::Start() { worker->Start(); }

void Session::Quit() {
    if (!worker)
        return;
    // Nobody follows an update once the session goes: a download under way stops,
    // and a worker waiting for a box goes on.
    shared.UpdateArmed = 0;
    mailbox.Close();
    worker->Quit();
}

void Session::RequestQuit() { Post(WM_QUIT, 0, 0); }

bool Session::WorkerRuns() const { return shared.WorkerThreadId != 0; }

bool Session::Post(uint32_t id, uint32_t wParam, int64_t lParam, std::string text) {
    if (!WorkerRuns())
        return false;
    if (setup.onPost)
        setup.onPost(ThreadMessage{id, wParam, lParam, text});
    return worker->PostThreadMessage(id, wParam, lParam, std::move(text));
}

bool Session::PostImageRequest(uint32_t id, std::string text) {
    // BusyFlag as the dialog has always set it: the worker clears it at the end.
    shared.BusyFlag = 1;
    if (Post(id, 0, 0, std::move(text)))
        return true;
    shared.BusyFlag = 0;
    return false;
}

void Session::Log(const std::string& text) {
    if (worker)
        worker->Line().Note("log: " + text);
    SessionEvent e = Event(SessionEvent::Kind::Log);
    e.text = text;
    mailbox.Push(std::move(e));
}

// ---- Requests.

bool Session::OpenPort(uint32_t n, const std::string& settings) { return OpenPort(n, settings, {}); }

bool Session::OpenPort(uint32_t n, const std::string& settings, const std::string& problem) {
    {
        std::lock_guard lock(mutex);
        operatorPort = n;
        operatorSettings = settings;
        operatorProblem = problem;
    }
    if (!WorkerRuns())
        return false;
    OpenOperatorLine();
    return true;
}

void Session::OpenOperatorLine() {
    std::unique_lock lock(mutex);
    const uint32_t n = operatorPort;
    const std::string settings = operatorSettings;
    const std::string problem = operatorProblem;
    lock.unlock();
    if (n == 0 && !problem.empty()) {
        // No port is chosen, and the worker would only say that port 0 does not exist.
        FailOpenAtOnce("COM0: no port is chosen\n" + problem);
        return;
    }
    // Any other failure of these settings names the problem with the line's own cause.
    Post(WM_OPEN_PORT, static_cast<uint32_t>(settings.size()), n, settings);
}

void Session::FailOpenAtOnce(const std::string& problem) {
    // The open would fail, and for a reason the line cannot name: the line is left
    // closed, as the failed open would leave it, and the box names the setting.
    if (!Post(WM_CLOSE_PORT, 0, 0))
        return;
    portOpen = false;
    const std::string text = std::string(kCantOpenPort) + "\n" + problem;
    if (worker)
        worker->Line().Note("box Error: " + text);
    Shown(text, "Error", BoxIcon::Warning, false);
    PushPortState(false, true);  // taken up as the worker's own answer would be
}

void Session::PushPortState(bool open, bool answersAnOpen) {
    SessionEvent e = Event(SessionEvent::Kind::PortState);
    e.value = open ? 1 : 0;
    // In the mailbox's order: Next() tells each report's kind as it takes it.
    std::lock_guard lock(mutex);
    portReportsAnswerOpen.push_back(answersAnOpen);
    mailbox.Push(std::move(e));
}

OpenedFiles Session::Files() const {
    std::lock_guard lock(mutex);
    return files;
}

std::vector<std::string> Session::FilesInUse() const {
    std::vector<std::string> inUse;
    {
        std::lock_guard lock(mutex);
        inUse = filesOpened;
    }
    inUse.push_back(shared.LibraryFile("FlashAddrAssign.h"));
    inUse.push_back(shared.LibraryFile("Pgm_M850T.bin"));
    for (const auto& crystal : kCrystals)
        inUse.push_back(shared.LibraryFile("Pgm_" + std::string(crystal.text) + ".bin"));
    return inUse;
}

void Session::ClosePort() {
    if (Post(WM_CLOSE_PORT, 0, 0))
        portOpen = false;
}

bool Session::ResetImage() {
    {
        std::lock_guard lock(mutex);
        files = OpenedFiles::None;
        filesOpened.clear();
        filesTaken = 0;
    }
    return PostImageRequest(WM_RESET_IMAGE);
}

bool Session::LoadFiles(const std::vector<std::string>& files) {
    if (!WorkerRuns())
        return false;
    Log(kLogIncludeFiles);
    {
        std::lock_guard lock(mutex);
        filesToLoad.assign(files.begin(), files.end());
        filesOpened = files;
        filesTaken = 0;
        this->files = files.empty() ? OpenedFiles::None : OpenedFiles::Loading;
        // Counted now, so that Busy() holds until the last file is in.
        filesPending += static_cast<int>(files.size());
    }
    PostNextFile();  // the others follow as their results are taken (Next)
    return true;
}

void Session::PostNextFile() {
    std::string file;
    {
        std::lock_guard lock(mutex);
        if (filesToLoad.empty())
            return;
        file = filesToLoad.front();
        filesToLoad.pop_front();
        fileProblem.clear();
    }
    // One file at a time: its log line comes before whatever its loading shows.
    Log(file);
    shared.BusyFlag = 1;
    if (!Post(WM_LOAD_FILE, 0, 0, file)) {
        std::lock_guard lock(mutex);
        filesPending -= 1 + static_cast<int>(filesToLoad.size());
        filesToLoad.clear();
        shared.BusyFlag = 0;
    }
}

bool Session::SaveImage(const std::string& path) { return PostImageRequest(WM_SAVE_FLASH_MAP, path); }

bool Session::Busy() const { return shared.BusyFlag != 0 || filesPending > 0; }

void Session::ConsoleCommand(const std::string& text, int crystalIndex) {
    if (text == kInitflash) {
        BeginRun(ExchangeProgress::Kind::Erase, true);
        // An erase wakes the board as an update does: on a closed line, once it is open.
        if (!portOpen && WorkerRuns()) {
            OpenFirst(ThreadMessage{WM_CONSOLE_COMMAND, 0, crystalIndex, text});
            return;
        }
    }
    PostCommand(ThreadMessage{WM_CONSOLE_COMMAND, 0, crystalIndex, text});
}

void Session::PostCommand(const ThreadMessage& m) {
    // Console commands are counted until the worker has carried them out, for front
    // ends that pace them.
    const bool command = m.id == WM_CONSOLE_COMMAND;
    if (command)
        ++commandsPending;
    if (!Post(m.id, m.wParam, m.lParam, m.text) && command)
        --commandsPending;
}

std::chrono::steady_clock::time_point Session::LastConsoleCommandDone() const {
    std::lock_guard lock(mutex);
    return commandDone;
}

void Session::OpenFirst(ThreadMessage request) {
    {
        std::lock_guard lock(mutex);
        waitingForPort = true;
        waitingRequest = std::move(request);
    }
    OpenOperatorLine();
}

void Session::StartUpdate(int crystalIndex, const std::string& noCrystalWhy) {
    shared.UpdateArmed = 1;
    Log(kLogReady);
    BeginRun(ExchangeProgress::Kind::Update, true);
    if (!portOpen && WorkerRuns()) {
        // A closed line would swallow the wake-up, and the board would never answer:
        // the line opens at the operator's settings first, and the update follows
        // once it is open.
        OpenFirst(ThreadMessage{WM_START_UPDATE, static_cast<uint32_t>(crystalIndex), 0, noCrystalWhy});
        return;
    }
    Post(WM_START_UPDATE, static_cast<uint32_t>(crystalIndex), 0, noCrystalWhy);
}

void Session::Cancel() {
    // Disarmed first: the worker stops answering the board at its next step.
    shared.UpdateArmed = 0;
    std::optional<RunVerdict> ended;
    {
        std::lock_guard lock(mutex);
        waitingForPort = false;
        if (run && !run->Ended())
            ended = run->Cancel(Clock::now());
    }
    Cancelled(ended);
}

bool Session::CancelWhileWaiting() {
    std::optional<RunVerdict> ended;
    {
        // Under the lock the worker takes to report an answered reply: either the
        // board's first request was answered before (the stage has moved on), or the
        // worker finds the update disarmed when it goes to send its answer.
        std::lock_guard lock(mutex);
        if (!run || run->Ended())
            return false;
        const Stage stage = run->Current().stage;
        if (stage != Stage::Waking && stage != Stage::WaitingForW)
            return false;
        shared.UpdateArmed = 0;
        waitingForPort = false;
        ended = run->Cancel(Clock::now());
    }
    Cancelled(ended);
    return true;
}

bool Session::WakeAgain(int crystalIndex) {
    {
        std::lock_guard lock(mutex);
        if (!run || run->Ended() || waitingForPort || run->Current().stage != Stage::WaitingForW)
            return false;
        run->WokenAgain(Clock::now());
    }
    return Post(WM_START_UPDATE, static_cast<uint32_t>(crystalIndex), kStartUpdateAgain);
}

void Session::Cancelled(const std::optional<RunVerdict>& ended) {
    if (worker)
        worker->Line().Note(std::string("log: ") + kLogStopped + " (cancelled by the operator)");
    SessionEvent e = Event(SessionEvent::Kind::Log);
    e.text = kLogStopped;
    mailbox.Push(std::move(e));
    if (ended)
        EndRun(*ended, false);
    // The reopen at the operator's settings ends whatever speed the update had set;
    // what it reports comes after the run's end.
    OpenOperatorLine();
}

void Session::BeginRun(ExchangeProgress::Kind kind, bool askedOfWorker) {
    {
        std::lock_guard lock(mutex);
        run.emplace(kind, Clock::now());
        startAnswered = !askedOfWorker;
        stageShown.reset();
        problem.reset();
    }
    PushStage();
}

// ---- Events.

std::optional<SessionEvent> Session::Next() {
    auto e = mailbox.Next();
    if (!e) {
        CheckRun();
        e = mailbox.Next();
    }
    // Requests are the front end's alone: the next file goes to the worker once the
    // front end has taken the last one's result.
    if (e && e->kind == SessionEvent::Kind::FileResult)
        PostNextFile();
    if (e && e->kind == SessionEvent::Kind::PortState) {
        bool answersAnOpen = true;
        {
            std::lock_guard lock(mutex);
            if (!portReportsAnswerOpen.empty()) {
                answersAnOpen = portReportsAnswerOpen.front();
                portReportsAnswerOpen.pop_front();
            }
        }
        // A line lost before the open was taken up is no answer to it.
        if (answersAnOpen)
            PortAnswered(e->value != 0);
    }
    if (e && e->kind == SessionEvent::Kind::ConsoleBytes) {
        // The bytes are taken out of the text slot only now, by the front end, which
        // hands the slot back to the worker: a front end that falls behind holds the
        // board's text in the driver, not in memory.
        e->bytes.resize(std::min<size_t>(static_cast<size_t>(e->value), SharedTextSlot::kSize));
        shared.SharedText.CopyOut(e->bytes.data(), e->bytes.size());
        shared.SharedText.Clear();
    }
    return e;
}

bool Session::WaitForEvent(std::chrono::milliseconds limit) { return mailbox.WaitFor(limit); }

void Session::Dismissed(uint64_t box) { mailbox.Dismissed(box); }

void Session::PortAnswered(bool open) {
    ThreadMessage request;
    {
        std::lock_guard lock(mutex);
        if (!waitingForPort)
            return;
        waitingForPort = false;
        request = waitingRequest;
    }
    if (open) {
        PostCommand(request);
        return;
    }
    std::optional<RunVerdict> ended;
    {
        std::lock_guard lock(mutex);
        startAnswered = true;
        if (run && !run->Ended())
            ended = run->Fail(FailureClass::PortFailed,
                              problem.value_or("the line could not be opened; the board was not woken"), Clock::now());
    }
    if (ended)
        EndRun(*ended, true);
}

void Session::CheckRun() {
    std::optional<RunVerdict> ended;
    std::string gaveUp;
    {
        std::lock_guard lock(mutex);
        if (!run || run->Ended())
            return;
        const auto now = Clock::now();
        if (problem && setup.policy.stopOnProblem) {
            ended = run->Fail(FailureClass::Problem, *problem, now);
        } else if (setup.policy.timeout.count() > 0 && run->SilentFor(setup.policy.timeout, now)) {
            ended = run->GiveUp(setup.policy.timeout, now);
            gaveUp = ended->message;
        }
    }
    if (!ended)
        return;
    if (!gaveUp.empty() && worker)
        worker->Line().Note("gave up: " + gaveUp);
    EndRun(*ended, true);
}

void Session::EndRun(const RunVerdict& verdict, bool stopped) {
    bool discarded = false;
    {
        std::lock_guard lock(mutex);
        lastVerdict = verdict;
        if (verdict.kind == ExchangeProgress::Kind::Erase) {
            discarded = erasedFiles;
            erasedFiles = false;
        }
    }
    if (stopped) {
        shared.UpdateArmed = 0;
        Log(kLogStopped);
    }
    // Told once, as the erase ends: what was opened is no longer there to send.
    if (discarded)
        Log(kLogFilesErased);
    PushStage();
    SessionEvent e = Event(SessionEvent::Kind::RunEnded);
    e.verdict = verdict;
    mailbox.Push(std::move(e));
}

void Session::PushStage() {
    SessionEvent e = Event(SessionEvent::Kind::Stage);
    {
        std::lock_guard lock(mutex);
        if (!run)
            return;
        e.stage = run->Current();
        if (const auto& v = run->Verdict()) {
            e.stage.stage = v->result == RunResult::Passed      ? Stage::Finished
                            : v->result == RunResult::Cancelled ? Stage::Cancelled
                                                                : Stage::Failed;
        }
        if (stageShown == e.stage)
            return;
        stageShown = e.stage;
    }
    mailbox.Push(std::move(e));
}

bool Session::RunActive() const {
    std::lock_guard lock(mutex);
    return run && !run->Ended();
}

ExchangeProgress::Kind Session::RunKind() const {
    std::lock_guard lock(mutex);
    return run ? run->Kind() : ExchangeProgress::Kind::Update;
}

StageReport Session::CurrentStage() const {
    std::lock_guard lock(mutex);
    return run && !run->Ended() ? run->Current() : StageReport{};
}

std::optional<RunVerdict> Session::LastVerdict() const {
    std::lock_guard lock(mutex);
    return lastVerdict;
}

uint32_t Session::PortNumber() const { return worker->CurrentPortNumber(); }

std::string Session::OperatorLineSettings() const {
    std::lock_guard lock(mutex);
    return operatorSettings;
}

ImageSnapshot Session::ImageNow() const { return worker->Image().Snapshot(); }

void Session::SetTrace(std::shared_ptr<WireTrace> trace) { worker->Line().SetTrace(std::move(trace)); }
std::shared_ptr<WireTrace> Session::Trace() const { return worker->Line().Trace(); }
void Session::Note(const std::string& text) { worker->Line().Note(text); }

// ---- The worker's owner (on the worker's thread).

void Session::PostWindowMessage(uint32_t id, uint32_t wParam, int64_t lParam) {
    {
        std::lock_guard lock(mutex);
        if (run && !run->Ended())
            run->Heard(Clock::now());
    }
    if (id == WM_RX_TEXT) {
        SessionEvent e = Event(SessionEvent::Kind::ConsoleBytes);
        e.value = static_cast<int>(wParam);
        mailbox.Push(std::move(e));
        return;
    }
    if (id != WM_WORKER_STATUS)
        return;
    switch (wParam) {
    case STATUS_PORT_STATE: {
        portOpen = lParam != 0;
        bool lossReport = false;
        {
            std::lock_guard lock(mutex);
            lossReport = lineLossReportDue && lParam == 0;
            if (lossReport)
                lineLossReportDue = false;
        }
        // An update waiting for the line goes on as the answer to its open is taken (Next).
        PushPortState(lParam != 0, !lossReport);
        return;
    }
    case STATUS_LOG_TEXT: {
        SessionEvent e = Event(SessionEvent::Kind::Log);
        e.text = ParamText(lParam);
        mailbox.Push(std::move(e));
        return;
    }
    case STATUS_PROGRESS: {
        {
            // A run that has ended (cancelled while the worker finished its step) has
            // no progress left to show: its end has taken the bar back to 0.
            std::lock_guard lock(mutex);
            if (!run || run->Ended())
                return;
            run->Progress(static_cast<int>(lParam));
        }
        SessionEvent e = Event(SessionEvent::Kind::Progress);
        e.value = static_cast<int>(lParam);
        mailbox.Push(std::move(e));
        return;
    }
    case STATUS_ERROR_TEXT:
        // A text the worker posts is shown without holding the worker.
        Shown(ParamText(lParam), "Warning", BoxIcon::Error, false);
        return;
    default: return;  // STATUS_UPDATE_DONE: the run's end comes with the worker's own fact
    }
}

void Session::ShowMessageBox(const std::string& text, const std::string& caption, BoxIcon icon) {
    Shown(text, caption, icon, setup.boxesWait);
}

void Session::Shown(const std::string& text, const std::string& caption, BoxIcon icon, bool wait) {
    {
        std::lock_guard lock(mutex);
        if (fileProblem.empty())
            fileProblem = caption + ": " + text;
        if (run && !run->Ended() && !problem)
            problem = text;
    }
    SessionEvent e = Event(SessionEvent::Kind::MessageBox);
    e.text = text;
    e.caption = caption;
    e.icon = icon;
    mailbox.PushBox(std::move(e), wait);
}

// ---- The worker's facts (on the worker's thread).

void Session::RunStarted(ExchangeProgress::Kind kind, uint32_t) {
    bool ours;
    {
        std::lock_guard lock(mutex);
        ours = !startAnswered;
        startAnswered = true;
        if (kind == ExchangeProgress::Kind::Erase && files != OpenedFiles::None) {
            // The worker has set the image's lengths to those of an erase.
            erasedFiles = erasedFiles || files == OpenedFiles::Taken;
            files = OpenedFiles::Erased;
        }
    }
    if (!ours)
        BeginRun(kind, false);  // armed without this session asking: judged all the same
}

void Session::RunRefused(StartRefusal, const std::string& why) {
    std::optional<RunVerdict> ended;
    {
        std::lock_guard lock(mutex);
        const bool ours = !startAnswered;
        startAnswered = true;
        if (!ours)
            run.emplace(ExchangeProgress::Kind::Update, Clock::now());
        if (!run->Ended())
            ended = run->Fail(FailureClass::StartRefused, why, Clock::now());
    }
    if (ended)
        EndRun(*ended, true);
}

void Session::ListeningForBoard(bool) {
    {
        std::lock_guard lock(mutex);
        if (!run || run->Ended())
            return;
        run->Listening(Clock::now());
    }
    PushStage();
}

void Session::ReplyAnswered(uint8_t reply) {
    {
        std::lock_guard lock(mutex);
        if (!run || run->Ended())
            return;
        run->Answered(reply, Clock::now());
    }
    PushStage();
}

void Session::RepliesIgnored(const uint8_t* bytes, uint32_t count) {
    std::lock_guard lock(mutex);
    if (run && !run->Ended())
        run->Ignored(bytes, count, Clock::now());
}

void Session::Sent(const uint8_t* bytes, uint32_t count) {
    std::lock_guard lock(mutex);
    if (run && !run->Ended())
        run->Sent(bytes, count);
}

void Session::LoaderSent(int which, bool whole) {
    std::lock_guard lock(mutex);
    if (run && !run->Ended())
        run->LoaderSent(which, whole, Clock::now());
}

void Session::HeaderSent(const std::array<uint32_t, 10>& words) {
    std::lock_guard lock(mutex);
    if (run && !run->Ended())
        run->HeaderSent(words);
}

void Session::SectionBlock(uint8_t letter, uint32_t block, uint32_t blocks) {
    {
        std::lock_guard lock(mutex);
        if (!run || run->Ended())
            return;
        run->Heard(Clock::now());
        run->SectionBlock(letter, block, blocks);
    }
    PushStage();
}

void Session::SectionSent(uint8_t letter, bool whole) {
    std::lock_guard lock(mutex);
    if (run && !run->Ended())
        run->SectionSent(letter, whole);
}

void Session::ProgrammingReport(uint8_t sixteenths) {
    {
        std::lock_guard lock(mutex);
        if (!run || run->Ended())
            return;
        run->ProgrammingReport(sixteenths);
    }
    PushStage();
}

void Session::FinishReported() {
    std::optional<RunVerdict> ended;
    {
        std::lock_guard lock(mutex);
        if (!run || run->Ended()) {
            if (run)
                return;  // the run was already given up or cancelled
            // Armed without this session knowing: judged all the same.
            run.emplace(ExchangeProgress::Kind::Update, Clock::now());
        }
        ended = run->Finish(Clock::now());
    }
    EndRun(*ended, false);
}

void Session::PortOpenFailed(const std::string& why) {
    std::optional<RunVerdict> ended;
    {
        std::lock_guard lock(mutex);
        if (run && !run->Ended())
            ended = run->Fail(FailureClass::PortFailed, why, Clock::now());
    }
    if (ended)
        EndRun(*ended, true);
}

void Session::LineLost(const std::string& why) {
    portOpen = false;
    std::optional<RunVerdict> ended;
    {
        std::lock_guard lock(mutex);
        lineLossReportDue = true;  // the worker's port report that follows tells of the loss
        if (run && !run->Ended())
            ended = run->Fail(FailureClass::LineLost, why, Clock::now());
    }
    if (ended)
        EndRun(*ended, true);
}

void Session::FileLoaded(const std::string& path, bool taken) {
    SessionEvent e = Event(SessionEvent::Kind::FileResult);
    e.text = path;
    e.value = taken ? 1 : 0;
    {
        std::lock_guard lock(mutex);
        e.caption = fileProblem;
    }
    mailbox.Push(std::move(e));
    {
        std::lock_guard lock(mutex);
        if (taken)
            ++filesTaken;
        if (--filesPending == 0 && files == OpenedFiles::Loading)
            files = filesTaken > 0 ? OpenedFiles::Taken : OpenedFiles::Refused;
    }
}

void Session::ConsoleCommandDone() {
    {
        std::lock_guard lock(mutex);
        commandDone = Clock::now();
    }
    --commandsPending;
}

void Session::ImageSaved(const std::string& path, bool saved) {
    if (saved) {
        Log(kLogSaveFilesTo);
        Log(path);
    }
}
