#include "engine/Session.h"

#include "engine/LogTexts.h"
#include "engine/Messages.h"
#include "engine/UIThread.h"
#include "trace/WireTrace.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kInitflash = "initflash";

SessionEvent Event(SessionEvent::Kind kind) {
    SessionEvent e;
    e.kind = kind;
    return e;
}

}  // namespace

Session::Session(SharedState& s, SessionSetup su) : shared(s), setup(std::move(su)), mailbox(setup.wake) {
    static RealSleeper realTime;
    IWindowPoster& poster = *this;
    IMessageBoxOwner& boxes = *this;
    worker = std::make_unique<CUIThread>(shared, poster, boxes, setup.sleeper ? *setup.sleeper : realTime, setup.lines);
    worker->SetFacts(this);
    worker->SetPreparedImage(setup.preparedImage);
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

bool Session::OpenPort(uint32_t n, const std::string& settings) {
    {
        std::lock_guard lock(mutex);
        operatorPort = n;
        operatorSettings = settings;
    }
    return Post(WM_OPEN_PORT, static_cast<uint32_t>(settings.size()), n, settings);
}

void Session::ClosePort() {
    if (Post(WM_CLOSE_PORT, 0, 0))
        portOpen = false;
}

bool Session::ResetImage() { return PostImageRequest(WM_RESET_IMAGE); }

bool Session::LoadFiles(const std::vector<std::string>& files) {
    if (!WorkerRuns())
        return false;
    Log(kLogIncludeFiles);
    {
        std::lock_guard lock(mutex);
        filesToLoad.assign(files.begin(), files.end());
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
    if (text == kInitflash)
        BeginRun(ExchangeProgress::Kind::Erase, true);
    ++commandsPending;
    if (!Post(WM_CONSOLE_COMMAND, 0, crystalIndex, text))
        --commandsPending;
}

std::chrono::steady_clock::time_point Session::LastConsoleCommandDone() const {
    std::lock_guard lock(mutex);
    return commandDone;
}

void Session::StartUpdate(int crystalIndex) {
    shared.UpdateArmed = 1;
    Log(kLogReady);
    BeginRun(ExchangeProgress::Kind::Update, true);
    if (!portOpen && WorkerRuns()) {
        // A closed line would swallow the wake-up, and the board would never answer:
        // the line opens at the operator's settings first, and the update follows
        // once it is open.
        std::unique_lock lock(mutex);
        waitingForPort = true;
        waitingCrystal = crystalIndex;
        const uint32_t n = operatorPort;
        const std::string settings = operatorSettings;
        lock.unlock();
        Post(WM_OPEN_PORT, static_cast<uint32_t>(settings.size()), n, settings);
        return;
    }
    Post(WM_START_UPDATE, static_cast<uint32_t>(crystalIndex), 0);
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
    uint32_t n;
    std::string settings;
    {
        std::lock_guard lock(mutex);
        n = operatorPort;
        settings = operatorSettings;
    }
    if (worker)
        worker->Line().Note(std::string("log: ") + kLogStopped + " (cancelled by the operator)");
    SessionEvent e = Event(SessionEvent::Kind::Log);
    e.text = kLogStopped;
    mailbox.Push(std::move(e));
    if (ended)
        EndRun(*ended, false);
    // The reopen at the operator's settings ends whatever speed the update had set;
    // what it reports comes after the run's end.
    Post(WM_OPEN_PORT, static_cast<uint32_t>(settings.size()), n, settings);
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
    if (e && e->kind == SessionEvent::Kind::PortState)
        PortAnswered(e->value != 0);
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
    bool startNow = false, failed = false;
    int crystal = 0;
    {
        std::lock_guard lock(mutex);
        if (!waitingForPort)
            return;
        waitingForPort = false;
        (open ? startNow : failed) = true;
        crystal = waitingCrystal;
    }
    if (startNow) {
        Post(WM_START_UPDATE, static_cast<uint32_t>(crystal), 0);
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
    {
        std::lock_guard lock(mutex);
        lastVerdict = verdict;
    }
    if (stopped) {
        shared.UpdateArmed = 0;
        Log(kLogStopped);
    }
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
        SessionEvent e = Event(SessionEvent::Kind::PortState);
        e.value = lParam != 0 ? 1 : 0;
        mailbox.Push(std::move(e));
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
            std::lock_guard lock(mutex);
            if (run && !run->Ended())
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
    --filesPending;
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
