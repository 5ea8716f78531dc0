#include "cli/FlashSession.h"

#include <filesystem>

#include "atomicfile/AtomicFile.h"
#include "cli/CliLibrary.h"
#include "cli/ExecutableFolder.h"
#include "cli/Interrupts.h"
#include "cli/RunChecks.h"
#include "cli/TypedLines.h"
#include "cli/VisibleText.h"
#include "engine/Session.h"
#include "serial/LineFactory.h"
#include "trace/WireTrace.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kPumpWait = 50ms;
// After the last console command, how long the board is given to answer.
constexpr auto kConsoleAnswerTime = 700ms;
// The least time between the end of one console command and the next, as the window
// leaves between two requests; typed or piped commands would otherwise meet in one
// read of the board's and the second would be lost.
constexpr auto kCommandGap = 20ms;
// How often a command that waits for its turn looks again.
constexpr auto kCommandWait = 2ms;

}  // namespace

FlashSession::FlashSession(SessionOptions o, ISleeper& sleeper, IRunOutput& out, const std::atomic<int>& ints)
    : options(std::move(o)), output(out), interrupts(ints) {
    shared.AppFolder = ExecutableFolder();
    const LibraryPaths library = CliLibraryPaths(options.libFolder);
    shared.LibFolder = library.SearchFolders().back();  // the shipped folder, or --lib
    shared.FindLibraryFile = [library](const std::string& name) { return library.Find(name); };
    shared.ReserveProgram = options.reserve ? 1 : 0;
    settings = OperatorSettings::Load(std::filesystem::path(library.SettingsFileToRead()).parent_path().string());

    DeviceResolver resolver;
    if (!options.device.empty()) {
        const std::string device = options.device;
        resolver = [device](uint32_t) { return device; };
    } else {
        resolver = [this](uint32_t n) { return settings.DeviceForPort(n); };
    }
    SessionSetup setup;
    setup.lines = SerialLineFactory(resolver);
    setup.sleeper = &sleeper;
    // Nobody is there to dismiss a box: it is printed, and that is its dismissal.
    setup.boxesWait = false;
    // The window would show a box and wait for the operator to cancel; a script is
    // better told at once.
    setup.policy = RunPolicy{std::chrono::seconds(options.timeoutSeconds), true};
    setup.preparedImage = options.preparedImage;
    session = std::make_unique<Session>(shared, std::move(setup));
    session->SetTrace(options.trace);
    // The worker, and the line monitors it starts, leave Ctrl-C to this thread.
    const InterruptsHeldBack quiet;
    session->Start();
}

FlashSession::~FlashSession() {
    session->Quit();
    Pump(0ms);  // the worker's last words
}

int FlashSession::CrystalIndex() const { return options.crystal.value_or(settings.crystalIndex); }

bool FlashSession::OpenLine() {
    if (!settings.problem.empty()) {
        output.Problem("Error: the settings file cannot be used: " + settings.problem +
                       "\n(it must be a settings file, or absent for the defaults)");
        return false;
    }
    const unsigned port = !options.device.empty() ? 1 : (options.port ? options.port : settings.portNumber);
    const std::string line = options.lineSettings.empty() ? settings.lineSettings : options.lineSettings;
    portState.reset();
    session->OpenPort(port, line);
    while (!portState && interrupts == 0)
        Pump(kPumpWait);
    return portState.value_or(0) == 1;
}

bool FlashSession::LoadFiles(const std::vector<std::string>& files) {
    filesRefused = false;
    if (!session->ResetImage() || !session->LoadFiles(files))
        return false;
    while (session->Busy()) {
        if (interrupts != 0)
            return false;
        Pump(5ms);
    }
    Pump(0ms);
    return !filesRefused;
}

ImageSnapshot FlashSession::Image() const { return session->ImageNow(); }

int FlashSession::Update() {
    session->StartUpdate(CrystalIndex());
    return FollowRun();
}

int FlashSession::Erase() {
    session->StartErase(CrystalIndex());
    return FollowRun();
}

int FlashSession::FollowRun() {
    std::optional<RunVerdict> ended;
    bool cancelling = false;
    while (!ended) {
        if (interrupts != 0 && !cancelling) {
            // As the Cancel button does: a download under way stops after its current
            // block, and the line goes back to the operator's settings; a second
            // Ctrl-C quits at once.
            cancelling = true;
            session->Cancel();
            output.Remark("Cancelling: a download under way stops after its current block (Ctrl-C again to quit at once)");
        }
        ended = Pump(kPumpWait);
    }
    Pump(0ms);  // what the worker said up to the end comes with it
    verdict = ended;
    switch (ended->result) {
    case RunResult::Passed: return kOk;
    case RunResult::Cancelled: return kCancelled;
    case RunResult::TimedOut:
    case RunResult::FinishedEarly: output.Problem("Error: " + ended->message); return kFailed;
    case RunResult::Failed: return kFailed;  // the operator has read why
    }
    return kFailed;
}

std::optional<RunVerdict> FlashSession::Pump(std::chrono::milliseconds wait) {
    std::optional<RunVerdict> ended;
    if (wait.count() > 0)
        session->WaitForEvent(wait);
    while (auto e = session->Next()) {
        Handle(*e);
        if (e->kind == SessionEvent::Kind::RunEnded)
            ended = e->verdict;
    }
    return ended;
}

void FlashSession::Handle(const SessionEvent& e) {
    switch (e.kind) {
    case SessionEvent::Kind::MessageBox: {
        const std::string text = e.caption + ": " + e.text;
        shown.push_back(text);
        output.Problem(text);
        break;
    }
    case SessionEvent::Kind::ConsoleBytes:
        console.Take(e.bytes.data(), e.bytes.size());
        PrintConsoleLines();
        break;
    case SessionEvent::Kind::PortState: portState = e.value; break;
    case SessionEvent::Kind::Log: output.Log(e.text); break;
    case SessionEvent::Kind::Progress: output.Progress(e.value); break;
    case SessionEvent::Kind::FileResult: filesRefused = filesRefused || e.value == 0; break;
    case SessionEvent::Kind::Stage:
    case SessionEvent::Kind::RunEnded: break;
    }
}

void FlashSession::PrintConsoleLines() {
    const auto& lines = console.Lines();
    while (lines.size() > 1 && consolePrinted < lines.size() - 1)
        PrintConsoleLine(lines[consolePrinted++]);
}

void FlashSession::PrintConsoleLine(const std::string& line) {
    // On a terminal the board's escape sequences would act on the operator's screen.
    output.Log(options.terminalOutput ? VisibleControls(line) : line);
}

RunVerdict FlashSession::Outcome(int status) const {
    if (verdict)
        return *verdict;
    RunVerdict v;
    if (status == kCancelled) {
        v.result = RunResult::Cancelled;
        v.message = "cancelled by the operator before the board was woken";
        return v;
    }
    v.result = RunResult::Failed;
    v.failure = portState.value_or(1) == 0 ? FailureClass::PortFailed : FailureClass::Problem;
    for (const std::string& text : shown) {
        // "Error: Can't open port!\n/dev/x: no such device" reads as one reason.
        std::string reason = text.rfind("Error: ", 0) == 0 ? text.substr(7) : text;
        for (char& c : reason)
            if (c == '\n')
                c = ' ';
        v.message += (v.message.empty() ? "" : " ") + reason;
    }
    return v;
}

int FlashSession::Console(int commandsFd, const std::string& saveFile) {
    TypedLines typed(commandsFd);
    auto endAt = Clock::time_point::max();
    auto pacedFrom = Clock::time_point::min();  // the end of the last command's run
    std::optional<std::string> waiting;  // read, and not yet sent
    int status = kOk;
    for (bool ending = false; !ending;) {
        if (interrupts != 0) {
            status = kCancelled;
            break;
        }
        if (portState == 0) {
            output.Problem("Error: the line is gone; the console ends");
            status = kFailed;
            break;
        }
        if (!waiting)
            waiting = typed.Next();
        if (waiting && CommandMayGo(pacedFrom)) {
            const std::string command = std::move(*waiting);
            waiting.reset();
            if (command != "initflash") {
                session->ConsoleCommand(command, CrystalIndex());
                continue;
            }
            // An erase is followed to its end, as the erase command does; what is typed
            // meanwhile waits, and a failed erase ends the console with its status.
            if (!options.crystal) {
                if (const std::string problem = CrystalChoiceProblem(settings); !problem.empty()) {
                    output.Problem(problem);
                    status = kFailed;
                    break;
                }
            }
            session->StartErase(CrystalIndex());
            status = FollowRun();
            pacedFrom = Clock::now();
            endAt = Clock::time_point::max();
            if (status != kOk)
                break;
            continue;
        }
        if (endAt == Clock::time_point::max() && !waiting && typed.Ended() && session->ConsoleCommandsPending() == 0)
            endAt = Clock::now() + kConsoleAnswerTime;
        if (Clock::now() >= endAt)
            break;
        Pump(waiting ? std::chrono::duration_cast<std::chrono::milliseconds>(kCommandWait) : kPumpWait);
    }
    if (!console.PendingLine().empty())
        PrintConsoleLine(console.PendingLine());
    return SaveConsole(saveFile, status);
}

bool FlashSession::CommandMayGo(Clock::time_point pacedFrom) const {
    if (session->ConsoleCommandsPending() > 0)
        return false;  // the last one is still being carried out
    return Clock::now() >= std::max(pacedFrom, session->LastConsoleCommandDone()) + kCommandGap;
}

int FlashSession::SaveConsole(const std::string& saveFile, int status) {
    if (saveFile.empty())
        return status;
    const std::string text = console.SavedText();
    const std::string cause = WriteFileReplacing(saveFile, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    if (cause.empty())
        return status;
    output.Problem("Error: cannot write " + saveFile + ": " + cause);
    return kFailed;
}
