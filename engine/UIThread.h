#pragma once
// The worker and the files that make it:
//   UIThread.cpp        start, end, the message loop, port open/close, image requests
//   ReceiveStep.cpp     the board's bytes: console text, or one-character replies
//   LoaderDownload.cpp  loader 1 and loader 2, and the check of both before waking
//   SectionDownload.cpp the section header and the section data
//   ConsoleCommands.cpp the wake-up at the boot speed and the console commands
//   MessageQueue.*      its FIFO queue; Messages.h the message set
//   WorkerFacts.h       what it tells its session as it acts (Session.* is above it)
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/Messages.h"
#include "engine/MessageQueue.h"
#include "engine/NotedBoxes.h"
#include "engine/OwnerInterfaces.h"
#include "engine/SharedState.h"
#include "engine/WorkerFacts.h"
#include "engine/Sleeper.h"
#include "image/FlashImage.h"
#include "serial/ISerialLine.h"
#include "serial/LineFactory.h"

// The worker: one thread with its own message queue that owns the serial line and the
// flash image, handles the owner's requests one at a time in order, answers the
// board's one-character replies during an update, and reports back by window messages.
class CUIThread : private IImageReporter {
public:
    static constexpr const char* kFullSpeedSettings = "115200,N,8,1";

    // makeLine: where the worker's serial line comes from; without it, the platform's
    // line with each port number's default device.
    CUIThread(SharedState& shared, IWindowPoster& owner, IMessageBoxOwner& boxes, ISleeper& sleeper,
              const LineFactory& makeLine = {});
    ~CUIThread() override;
    CUIThread(const CUIThread&) = delete;
    CUIThread& operator=(const CUIThread&) = delete;

    // Starts the thread and returns once it has published WorkerThreadId, so the first
    // request posted after Start() is never dropped.
    void Start();
    // Posts the quit request and waits for the thread to end.
    void Quit();

    // Posts a request; dropped (false) while no worker runs, as the dialog would.
    bool PostThreadMessage(uint32_t id, uint32_t wParam, int64_t lParam, std::string text = {});
    // Who hears what the worker does as it acts (its session); set before Start().
    void SetFacts(IWorkerFacts* listener) { facts = listener; }
    // An image prepared elsewhere, taken over at start-up instead of an empty one; set
    // before Start().
    void SetPreparedImage(std::shared_ptr<const ImageSnapshot> prepared) { preparedImage = std::move(prepared); }
    // Where the serial monitor posts; also lets tests post notifications themselves.
    INotifyTarget& Queue() { return queue; }

    // The start-up steps and one message's handling, on the caller's thread. The worker's
    // own thread runs them; tests of the handlers call them directly.
    void InitInstance();
    void Dispatch(const ThreadMessage& m);

    // Read-only views for the owner's tests and the front ends.
    const CFlashImage& Image() const { return image; }
    ISerialLine& Line() { return *Comm; }
    uint32_t CurrentPortNumber() const { return PortNumber.load(); }

private:
    void Run();
    void ExitInstance();

    // Requests of the owner.
    void OnOpenPort(uint32_t portNumber, const std::string& settings);
    void OnClosePort();
    void OnResetImage();
    void OnLoadFile(const std::string& path);
    void OnSaveFlashMap(const std::string& path);
    void OnConsoleCommand(const std::string& command, uint32_t crystalIndex);
    void OnStartUpdate(uint32_t crystalIndex, const std::string& noCrystalWhy);
    void OnWakeAgain(uint32_t crystalIndex);

    // The board's replies.
    void OnSerialReceive(uint32_t portNumber);
    void ConsoleReceive();
    void UpdateReceive();
    void OnLineLost(uint32_t portNumber, uint32_t openCount);

    // Starting an update: the checks before the board is woken (each refusal shown and
    // told to the session), and the wake-up.
    bool ReadyToWake(uint32_t crystalIndex, const std::string& noCrystalWhy = {});
    void Refuse(StartRefusal cause, const std::string& text);
    void WakeBoard(uint32_t crystalIndex);

    // Downloads. Each answers false when it stopped before its end, at the block after
    // a write failed or the operator cancelled (UpdateArmed cleared); a loader file that
    // cannot be used is reported and counts as sent, since the board still expects the
    // rest of the exchange (loaderRead tells the session it was not).
    bool SendLoader1();
    bool SendLoader2();
    void SendSectionHeader();
    bool SendSection(uint8_t letter, uint32_t length, uint32_t start);
    bool SendSectionBlocks(uint8_t letter, uint32_t length, uint32_t start);
    // One write of a download: false, with nothing sent, once the operator has
    // cancelled, and false when the line did not take the whole write.
    bool SendBlock(const uint8_t* bytes, uint32_t count);

    // Loader files: their paths; a read with every check that tells the operator
    // (message box) and answers false when the file cannot be used; and the check of
    // both before the board is woken.
    std::string Loader1Path(uint32_t crystalIndex) const;
    std::string Loader2Path() const;
    bool LoaderReady(const std::string& path, size_t maxBody, const char* failure, std::vector<uint8_t>& file);
    bool LoaderFilesUsable(uint32_t crystalIndex);
    IWorkerFacts& Facts();

    // Line helpers.
    bool OpenLine(const std::string& settings);  // shows "Can't open port!" on failure
    void ReopenAtFullSpeed();  // drains, closes, opens "115200,N,8,1"
    std::string CantOpenPortText() const;
    void PostStatus(uint32_t code, int64_t value);
    void Log(const char* constantText);

    // How the image code reports.
    void ErrorText(const char* constantText) override;
    void MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override;

    SharedState& shared;
    IWindowPoster& OwnerWnd;
    IWorkerFacts* facts = nullptr;
    std::shared_ptr<const ImageSnapshot> preparedImage;
    NotedBoxes boxes;  // the owner's boxes, noted on the line's trace too
    ISleeper& sleeper;
    // The queue is declared before the line so that it outlives the line's monitor,
    // which posts into it until the line is closed.
    CMessageQueue queue;
    std::unique_ptr<ISerialLine> Comm;
    std::thread thread;

    std::atomic<uint32_t> PortNumber{1};
    CFlashImage image;
    uint32_t SentBytes = 0;
    uint32_t CrystalIndex = 0;       // crystal of the update or erase under way
    bool loaderRead = false;           // the loader file being sent could be used
    bool answeredSinceWake = false;    // a reply of the board was answered after the last wake-up
    bool consoleBytesStalled = false;  // console bytes wait while the dialog holds the slot
    bool lineLostReported = false;     // the operator hears of a lost line once per open
    std::array<uint8_t, SharedTextSlot::kSize> ReplyBuf{};  // the board's replies in an update
};
