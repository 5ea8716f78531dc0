#include "cli/FlashSession.h"

#include <filesystem>
#include <ostream>

#include "cli/CliLibrary.h"
#include "cli/ExecutableFolder.h"
#include "cli/Interrupts.h"
#include "cli/TypedLines.h"
#include "engine/UIThread.h"
#include "atomicfile/AtomicFile.h"
#include "serial/LineFactory.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kPumpWait = 50ms;
// After the last console command, how long the board is given to answer.
constexpr auto kConsoleAnswerTime = 700ms;

}  // namespace

FlashSession::FlashSession(SessionOptions o, ISleeper& s, std::ostream& outStream, std::ostream& errStream,
                           bool errIsTerminal, const std::atomic<int>& ints)
    : options(std::move(o)), sleeper(s), out(outStream), err(errStream), interrupts(ints),
      progress(errStream, errIsTerminal) {
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
    worker = std::make_unique<CUIThread>(shared, owner, owner, sleeper, SerialLineFactory(resolver));
    worker->Line().SetTrace(options.trace);
    // The worker, and the line monitors it starts, leave Ctrl-C to this thread.
    const InterruptsHeldBack quiet;
    worker->Start();
}

FlashSession::~FlashSession() {
    worker->Quit();
    Pump(0ms);
    progress.Break();
}

int FlashSession::CrystalIndex() const { return options.crystal.value_or(settings.crystalIndex); }

bool FlashSession::OpenLine() {
    if (!settings.problem.empty()) {
        err << "Error: the settings file cannot be used: " << settings.problem
            << "\n(it must be a settings file, or absent for the defaults)\n";
        return false;
    }
    const unsigned port = !options.device.empty() ? 1 : (options.port ? options.port : settings.portNumber);
    const std::string line = options.lineSettings.empty() ? settings.lineSettings : options.lineSettings;
    portState.reset();
    worker->PostThreadMessage(WM_OPEN_PORT, static_cast<uint32_t>(line.size()), port, line);
    while (!portState && interrupts == 0)
        Pump(kPumpWait);
    return portState.value_or(0) == 1;
}

bool FlashSession::WaitWhileBusy() {
    while (shared.BusyFlag != 0) {
        if (interrupts != 0)
            return false;
        Pump(5ms);
    }
    Pump(0ms);
    return true;
}

bool FlashSession::LoadFiles(const std::vector<std::string>& files) {
    shared.BusyFlag = 1;
    worker->PostThreadMessage(WM_RESET_IMAGE, 0, 0);
    if (!WaitWhileBusy())
        return false;
    out << "----Include Files:\n";
    bool allTaken = true;
    for (const auto& file : files) {
        out << file << "\n" << std::flush;
        const int before = problems;
        shared.BusyFlag = 1;
        worker->PostThreadMessage(WM_LOAD_FILE, 0, 0, file);
        if (!WaitWhileBusy())
            return false;
        allTaken = allTaken && problems == before;
    }
    return allTaken;
}

int FlashSession::Update() {
    const int crystal = CrystalIndex();
    shared.UpdateArmed = 1;
    out << "Ready to update program......\n" << std::flush;
    worker->Line().Note("log: Ready to update program......");
    worker->PostThreadMessage(WM_START_UPDATE, static_cast<uint32_t>(crystal), 0);
    return FollowUpdate();
}

int FlashSession::Erase() {
    worker->PostThreadMessage(WM_CONSOLE_COMMAND, 0, CrystalIndex(), "initflash");
    return FollowUpdate();
}

int FlashSession::FollowUpdate() {
    watch.Begin(Clock::now());
    updateDone = false;
    const int problemsBefore = problems;
    for (;;) {
        // The window would show the box and wait for the operator to cancel; a script
        // is better told at once.
        if (problems != problemsBefore)
            return Cancel(kFailed);
        if (updateDone)
            break;
        if (interrupts != 0)
            return Cancel(kCancelled);
        if (options.timeoutSeconds > 0 && watch.SilentFor(std::chrono::seconds(options.timeoutSeconds), Clock::now())) {
            progress.Break();
            err << "Error: no reply from the board for " << options.timeoutSeconds << " s while waiting for "
                << watch.Awaited() << "\n";
            worker->Line().Note("gave up: no reply from the board for " + std::to_string(options.timeoutSeconds) +
                                " s while waiting for " + watch.Awaited());
            return Cancel(kFailed);
        }
        Pump(kPumpWait);
    }
    progress.Break();
    return kOk;
}

int FlashSession::Cancel(int status) {
    // Disarm, as the Cancel button does: a download under way stops after its current
    // block. On Ctrl-C the line is also reopened at the operator's settings like the
    // window does (a second Ctrl-C quits at once); after a failure the run just ends.
    shared.UpdateArmed = 0;
    Pump(0ms);  // what the worker said before the cancel comes first
    progress.Break();
    out << "Stop updating!!!\n" << std::flush;
    worker->Line().Note(status == kCancelled ? "log: Stop updating!!! (cancelled by the operator)" : "log: Stop updating!!!");
    if (status == kCancelled) {
        err << "Cancelling: a download under way stops after its current block (Ctrl-C again to quit at once)\n";
        const std::string line = options.lineSettings.empty() ? settings.lineSettings : options.lineSettings;
        worker->PostThreadMessage(WM_OPEN_PORT, static_cast<uint32_t>(line.size()), worker->CurrentPortNumber(), line);
    }
    return status;
}

void FlashSession::Pump(std::chrono::milliseconds wait) {
    auto m = owner.Next(wait);
    while (m) {
        Handle(*m);
        m = owner.Next(0ms);
    }
}

void FlashSession::Handle(const ThreadMessage& m) {
    watch.Take(m, Clock::now());
    if (m.id == CliOwner::kMessageBox) {
        progress.Break();
        err << m.text << "\n" << std::flush;
        ++problems;
        return;
    }
    if (m.id == WM_RX_TEXT) {
        PrintConsoleText(m.wParam);
        return;
    }
    if (m.id != WM_WORKER_STATUS)
        return;
    switch (m.wParam) {
    case STATUS_PORT_STATE: portState = static_cast<int>(m.lParam); break;
    case STATUS_LOG_TEXT:
        progress.Break();
        out << ParamText(m.lParam) << "\n" << std::flush;
        break;
    case STATUS_PROGRESS: progress.Show(static_cast<long>(m.lParam)); break;
    case STATUS_UPDATE_DONE: updateDone = true; break;
    case STATUS_ERROR_TEXT:
        progress.Break();
        err << "Warning: " << ParamText(m.lParam) << "\n" << std::flush;
        ++problems;
        break;
    default: break;
    }
}

void FlashSession::PrintConsoleText(uint32_t n) {
    std::vector<uint8_t> bytes(std::min<size_t>(n, SharedTextSlot::kSize));
    shared.SharedText.CopyOut(bytes.data(), bytes.size());
    shared.SharedText.Clear();  // the worker may read the next chunk
    console.Take(bytes.data(), bytes.size());
    const auto& lines = console.Lines();
    while (lines.size() > 1 && consolePrinted < lines.size() - 1)
        out << lines[consolePrinted++] << "\n";
    out << std::flush;
}

int FlashSession::Console(int commandsFd, const std::string& saveFile) {
    TypedLines typed(commandsFd);
    auto endAt = Clock::time_point::max();
    int status = kOk;
    for (bool ending = false; !ending;) {
        if (interrupts != 0) {
            status = kCancelled;
            break;
        }
        if (portState == 0) {
            err << "Error: the line is gone; the console ends\n";
            status = kFailed;
            break;
        }
        while (auto command = typed.Next()) {
            worker->PostThreadMessage(WM_CONSOLE_COMMAND, 0, CrystalIndex(), *command);
            if (*command != "initflash")
                continue;
            // An erase is followed to its end, as the erase command does; what is typed
            // meanwhile waits, and a failed erase ends the console with its status.
            status = FollowUpdate();
            endAt = Clock::time_point::max();
            if (status != kOk) {
                ending = true;
                break;
            }
        }
        if (ending)
            break;
        if (endAt == Clock::time_point::max() && typed.Ended())
            endAt = Clock::now() + kConsoleAnswerTime;
        if (Clock::now() >= endAt)
            break;
        Pump(kPumpWait);
    }
    if (!console.PendingLine().empty())
        out << console.PendingLine() << "\n" << std::flush;
    return SaveConsole(saveFile, status);
}

int FlashSession::SaveConsole(const std::string& saveFile, int status) {
    if (saveFile.empty())
        return status;
    const std::string text = console.SavedText();
    const std::string cause = WriteFileReplacing(saveFile, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    if (cause.empty())
        return status;
    err << "Error: cannot write " << saveFile << ": " << cause << "\n";
    return kFailed;
}
