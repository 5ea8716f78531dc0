#include "engine/UIThread.h"

#include <future>

#include "platform/ThreadId.h"


namespace {

constexpr const char* kCantOpenPort = "Can't open port!";

// Facts nobody listens to, for a worker without a session.
class NoFacts : public IWorkerFacts {
public:
    void RunStarted(ExchangeProgress::Kind, uint32_t) override {}
    void RunRefused(StartRefusal, const std::string&) override {}
    void ListeningForBoard(bool) override {}
    void ReplyAnswered(uint8_t) override {}
    void RepliesIgnored(const uint8_t*, uint32_t) override {}
    void Sent(const uint8_t*, uint32_t) override {}
    void LoaderSent(int, bool) override {}
    void HeaderSent(const std::array<uint32_t, 10>&) override {}
    void SectionBlock(uint8_t, uint32_t, uint32_t) override {}
    void SectionSent(uint8_t, bool) override {}
    void ProgrammingReport(uint8_t) override {}
    void FinishReported() override {}
    void PortOpenFailed(const std::string&) override {}
    void LineLost(const std::string&) override {}
    void FileLoaded(const std::string&, bool) override {}
    void ImageSaved(const std::string&, bool) override {}
    void ConsoleCommandDone() override {}
};

// While console bytes wait for the dialog to free the text slot, the worker looks
// again this often instead of waiting for bytes that may never come.
constexpr std::chrono::milliseconds kStalledConsoleRetry{20};

}  // namespace

CUIThread::CUIThread(SharedState& s, IWindowPoster& owner, IMessageBoxOwner& b, ISleeper& sl,
                     const LineFactory& makeLine)
    : shared(s), OwnerWnd(owner), boxes(b), sleeper(sl), Comm(makeLine ? makeLine() : MakeSerialLine()), image(*this) {
    boxes.SetLine(Comm.get());
    // The line's own failure box has no icon.
    Comm->SetFailureBox([this](const std::string& text, const std::string& caption) {
        boxes.ShowMessageBox(text, caption, BoxIcon::None);
    });
}

CUIThread::~CUIThread() {
    if (thread.joinable())
        Quit();
    // A worker driven without its thread never ran ExitInstance: stop the line's
    // monitor before the queue it posts into goes away.
    if (Comm->IsOpen())
        Comm->ClosePort();
    Comm->SetNotifyThread(nullptr);
}

void CUIThread::Start() {
    // The thread keeps its own share of the promise: set_value may still be finishing
    // inside it after Start() has seen the value and returned.
    auto published = std::make_shared<std::promise<void>>();
    auto started = published->get_future();
    thread = std::thread([this, published] {
        shared.WorkerThreadId = CurrentThreadId();
        published->set_value();
        InitInstance();
        Run();
        ExitInstance();
    });
    started.wait();
}

void CUIThread::InitInstance() {
    // Start-up, in order: port 1, the id, notifications to this queue, the flash
    // layout, nothing armed.
    PortNumber = 1;
    if (shared.WorkerThreadId == 0)
        shared.WorkerThreadId = CurrentThreadId();
    Comm->SetNotifyThread(&queue);
    image.ReadFlashAddrAssign(shared.LibraryFile("FlashAddrAssign.h"));
    if (preparedImage && image.LayoutUsable())
        image.Restore(*preparedImage);
    shared.UpdateArmed = 0;
}

void CUIThread::Quit() {
    if (!thread.joinable())
        return;
    queue.Post(ThreadMessage{WM_QUIT, 0, 0, {}});
    thread.join();
}

bool CUIThread::PostThreadMessage(uint32_t id, uint32_t wParam, int64_t lParam, std::string text) {
    if (shared.WorkerThreadId == 0)
        return false;
    return queue.Post(ThreadMessage{id, wParam, lParam, std::move(text)});
}

void CUIThread::Run() {
    for (;;) {
        ThreadMessage m;
        if (consoleBytesStalled) {
            auto next = queue.TakeFor(kStalledConsoleRetry);
            if (!next) {
                OnSerialReceive(PortNumber);
                continue;
            }
            m = std::move(*next);
        } else {
            m = queue.Take();
        }
        if (m.id == WM_QUIT)
            break;
        Dispatch(m);
    }
}

void CUIThread::ExitInstance() {
    // End: nobody may post any more, nothing is busy, the line is released.
    shared.WorkerThreadId = 0;
    shared.BusyFlag = 0;
    queue.Close();
    Comm->SetNotifyThread(nullptr);
    if (Comm->IsOpen())
        Comm->ClosePort();
}

void CUIThread::Dispatch(const ThreadMessage& m) {
    switch (m.id) {
    case WM_OPEN_PORT: OnOpenPort(static_cast<uint32_t>(m.lParam), m.text); break;
    case WM_CLOSE_PORT: OnClosePort(); break;
    case WM_LOAD_FILE: OnLoadFile(m.text); break;
    case WM_SAVE_FLASH_MAP: OnSaveFlashMap(m.text); break;
    case WM_RESET_IMAGE: OnResetImage(); break;
    case WM_CONSOLE_COMMAND:
        OnConsoleCommand(m.text, static_cast<uint32_t>(m.lParam));
        Facts().ConsoleCommandDone();
        break;
    case WM_START_UPDATE:
        if (m.lParam == kStartUpdateAgain)
            OnWakeAgain(m.wParam);
        else
            OnStartUpdate(m.wParam, m.text);
        break;
    case WM_SERIAL_RECEIVE: OnSerialReceive(m.wParam); break;
    case WM_SERIAL_LINE_LOST: OnLineLost(m.wParam, static_cast<uint32_t>(m.lParam)); break;
    default: break;  // the other line notifications have no handler
    }
}

void CUIThread::OnOpenPort(uint32_t n, const std::string& settings) {
    // The settings travel inside the request: the text slot carries only the board's
    // console bytes, so a reopen can never take those bytes for line settings.
    if (Comm->IsOpen())
        Comm->ClosePort();
    PortNumber = n;
    const bool opened = OpenLine(settings);
    PostStatus(STATUS_PORT_STATE, opened ? 1 : 0);
}

void CUIThread::OnClosePort() {
    if (Comm->IsOpen())
        Comm->ClosePort();
}

void CUIThread::OnResetImage() {
    image.ResetImage();
    shared.BusyFlag = 0;
}

void CUIThread::OnLoadFile(const std::string& path) {
    const bool taken = image.OnLoadFile(path);
    Facts().FileLoaded(path, taken);
    shared.BusyFlag = 0;
}

void CUIThread::OnSaveFlashMap(const std::string& path) {
    Facts().ImageSaved(path, image.OnSaveFlashMap(path));
    shared.BusyFlag = 0;
}

bool CUIThread::OpenLine(const std::string& settings) {
    const uint32_t n = PortNumber;
    lineLostReported = false;
    if (n >= 1 && n <= ISerialLine::kMaxPortNumber && Comm->OpenPort(n, settings))
        return true;
    const std::string why = CantOpenPortText();
    boxes.ShowMessageBox(why, "Error", BoxIcon::Warning);
    if (shared.UpdateArmed != 0)
        Facts().PortOpenFailed(why);
    return false;
}

IWorkerFacts& CUIThread::Facts() {
    static NoFacts nobody;
    return facts ? *facts : nobody;
}

std::string CUIThread::CantOpenPortText() const {
    const uint32_t n = PortNumber;
    std::string text = kCantOpenPort;
    if (n == 0 || n > ISerialLine::kMaxPortNumber)
        text += "\nCOM" + std::to_string(n) + ": no such port (ports are numbered 1 to 1024)";
    else if (!Comm->LastOpenError().empty())
        text += "\n" + Comm->DeviceName() + ": " + Comm->LastOpenError();
    return text;
}

void CUIThread::ReopenAtFullSpeed() {
    if (Comm->IsOpen()) {
        // Whatever was written must be on the wire before the close for the speed change.
        Comm->DrainOutput(3000);
        Comm->ClosePort();
    }
    OpenLine(kFullSpeedSettings);
}

void CUIThread::OnLineLost(uint32_t n, uint32_t openCount) {
    if (n != PortNumber || openCount != Comm->OpenCount() || !Comm->IsOpen() || lineLostReported)
        return;
    lineLostReported = true;
    const std::string device = Comm->DeviceName();
    // Release the device so that it can be opened again once it is back.
    if (Comm->IsOpen())
        Comm->ClosePort();
    const std::string text =
        "The serial line was lost!\n" + device + ": the device hung up (unplugged, or closed at its far end).";
    boxes.ShowMessageBox(text, "Error", BoxIcon::Error);
    Facts().LineLost(text);
    // The port is closed now: the owner's lamp (and a console waiting on the line)
    // must not go on showing it open.
    PostStatus(STATUS_PORT_STATE, 0);
}

void CUIThread::PostStatus(uint32_t code, int64_t value) { OwnerWnd.PostWindowMessage(WM_WORKER_STATUS, code, value); }

void CUIThread::Log(const char* constantText) {
    Comm->Note(std::string("log: ") + constantText);
    PostStatus(STATUS_LOG_TEXT, TextParam(constantText));
}

void CUIThread::ErrorText(const char* constantText) {
    Comm->Note(std::string("box Warning: ") + constantText);
    PostStatus(STATUS_ERROR_TEXT, TextParam(constantText));
}

void CUIThread::MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) {
    boxes.ShowMessageBox(text, caption, icon == MessageIcon::Error ? BoxIcon::Error : BoxIcon::Warning);
}
