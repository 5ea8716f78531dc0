#include "cli/FlashSession.h"

#include <istream>
#include <ostream>
#include <thread>

#include "cli/ExecutableFolder.h"
#include "engine/UIThread.h"
#include "serial/SerialLine.h"

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
    shared.LibFolder = options.libFolder.empty() ? shared.AppFolder + "/Lib" : options.libFolder;
    shared.ReserveProgram = options.reserve ? 1 : 0;
    settings = OperatorSettings::Load(shared.LibFolder);

    auto line = std::make_unique<CSerialLine>();
    if (!options.device.empty()) {
        const std::string device = options.device;
        line->SetDeviceResolver([device](uint32_t) { return device; });
    } else {
        line->SetDeviceResolver([this](uint32_t n) { return settings.DeviceForPort(n); });
    }
    line->SetTrace(options.trace);
    worker = std::make_unique<CUIThread>(shared, owner, owner, sleeper, std::move(line));
    worker->Start();
}

FlashSession::~FlashSession() {
    worker->Quit();
    Pump(0ms);
    progress.Break();
}

int FlashSession::CrystalIndex() const { return options.crystal.value_or(settings.crystalIndex); }

bool FlashSession::OpenLine() {
    const unsigned port = !options.device.empty() ? 1 : (options.port ? options.port : settings.portNumber);
    const std::string line = options.lineSettings.empty() ? settings.lineSettings : options.lineSettings;
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
    lastActivity = Clock::now();
    const int problemsBefore = problems;
    while (!updateDone) {
        if (interrupts != 0)
            return Cancel(kCancelled);
        if (problems != problemsBefore) {
            // The window would show the box and wait for the operator to cancel; a
            // script is better told at once.
            return Cancel(kFailed);
        }
        if (options.timeoutSeconds > 0 && Clock::now() - lastActivity > std::chrono::seconds(options.timeoutSeconds)) {
            progress.Break();
            err << "Error: no reply from the board for " << options.timeoutSeconds << " s\n";
            worker->Line().Note("gave up: no reply from the board for " + std::to_string(options.timeoutSeconds) + " s");
            return Cancel(kFailed);
        }
        Pump(kPumpWait);
    }
    progress.Break();
    return kOk;
}

int FlashSession::Cancel(int status) {
    // Disarm, as the Cancel button does. On Ctrl-C the line is also reopened at the
    // operator's settings like the window does, once a download under way has
    // finished (a second Ctrl-C quits at once); after a failure the run just ends.
    shared.UpdateArmed = 0;
    progress.Break();
    out << "Stop updating!!!\n" << std::flush;
    worker->Line().Note(status == kCancelled ? "log: Stop updating!!! (cancelled by the operator)" : "log: Stop updating!!!");
    if (status == kCancelled) {
        err << "Cancelling: the request the board is being answered finishes first (Ctrl-C again to quit at once)\n";
        portState.reset();
        OpenLine();
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
    lastActivity = Clock::now();
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

int FlashSession::Console(std::istream& commands, const std::string& saveFile) {
    // Typed lines come from a thread of their own, which may outlive this call while
    // it waits on a terminal; what it shares is kept alive by the thread itself.
    struct Typed {
        CMessageQueue lines;
        std::atomic<bool> ended{false};
    };
    auto typed = std::make_shared<Typed>();
    std::thread([typed, &commands] {
        std::string line;
        while (std::getline(commands, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            typed->lines.Post(ThreadMessage{WM_CONSOLE_COMMAND, 0, 0, line});
        }
        typed->ended = true;
    }).detach();

    auto endAt = Clock::time_point::max();
    while (interrupts == 0 && Clock::now() < endAt) {
        while (auto command = typed->lines.TakeFor(0ms))
            worker->PostThreadMessage(WM_CONSOLE_COMMAND, 0, CrystalIndex(), command->text);
        if (typed->ended && endAt == Clock::time_point::max())
            endAt = Clock::now() + kConsoleAnswerTime;
        Pump(kPumpWait);
    }
    if (!console.PendingLine().empty())
        out << console.PendingLine() << "\n" << std::flush;
    if (!saveFile.empty()) {
        std::FILE* f = std::fopen(saveFile.c_str(), "wb");
        const std::string text = console.SavedText();
        if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) {
            err << "Error: cannot write " << saveFile << "\n";
            return kFailed;
        }
    }
    return interrupts != 0 ? kCancelled : kOk;
}
