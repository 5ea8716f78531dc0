// The worker on its own thread: with a real serial line over a pty, and with lines
// of its own kind that show how the worker and its owner share the line and the slot.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "engine/UIThread.h"
#include "serial/SerialLine.h"
#include "tests/engine/EngineFakes.h"
#include "tests/support/Pty.h"
#include "tests/support/Waiting.h"

namespace {

// The real line, with a count of the arrival notices its monitor has posted, and a
// way to run the monitor where it cannot work (its own failure box).
class ObservedLine : public CSerialLine {
public:
    std::atomic<int> notices{0};
    void RunMonitorOnAClosedLine() { MonitorLoop(); }

protected:
    void NotifyReceive() override {
        CSerialLine::NotifyReceive();
        ++notices;  // counted once the notice is in the worker's queue
    }
};

class WorkerThread : public ::testing::Test {
protected:
    WorkerThread() {
        auto real = std::make_unique<ObservedLine>();
        real->SetDeviceResolver([this](uint32_t) { return pty.SlavePath(); });
        line = real.get();
        shared.AppFolder = lib.Folder();
        worker = std::make_unique<CUIThread>(shared, owner, owner, sleeper, HandOver(std::move(real)));
    }
    // Returns once the worker has handled everything posted before: the owner's
    // busy-flag hand-shake, which the queue keeps in order.
    void WaitForTheWorkerToCatchUp() {
        shared.BusyFlag = 1;
        ASSERT_TRUE(worker->PostThreadMessage(WM_RESET_IMAGE, 0, 0));
        ASSERT_TRUE(WaitUntil([&] { return shared.BusyFlag == 0; }));
    }
    bool PortStateArrived(int64_t state) {
        return WaitUntil([&] {
            for (const auto& p : owner.Posts())
                if (p.id == WM_WORKER_STATUS && p.wParam == STATUS_PORT_STATE && p.lParam == state)
                    return true;
            return false;
        });
    }
    void OpenPort() {
        ASSERT_TRUE(worker->PostThreadMessage(WM_OPEN_PORT, 12, 1, "115200,N,8,1"));
        ASSERT_TRUE(PortStateArrived(1));
    }

    TempLibrary lib;
    TestPty pty;
    EventLog log;
    RecordingSleeper sleeper{log};
    RecordingOwner owner;
    SharedState shared;
    ObservedLine* line = nullptr;
    std::unique_ptr<CUIThread> worker;
};

TEST_F(WorkerThread, IsReachableAsSoonAsStartReturnsAndReleasesTheLineWhenItQuits) {
    EXPECT_EQ(shared.WorkerThreadId, 0u);
    EXPECT_FALSE(worker->PostThreadMessage(WM_CLOSE_PORT, 0, 0));  // no worker yet: dropped
    worker->Start();
    EXPECT_NE(shared.WorkerThreadId, 0u);
    OpenPort();  // the first request right after start is never lost

    shared.BusyFlag = 1;
    worker->Quit();
    EXPECT_EQ(shared.WorkerThreadId, 0u);
    EXPECT_EQ(shared.BusyFlag, 0);
    EXPECT_FALSE(worker->PostThreadMessage(WM_CLOSE_PORT, 0, 0));
    // The device is free again: another opener gets it.
    CSerialLine other;
    other.SetDeviceResolver([this](uint32_t) { return pty.SlavePath(); });
    EXPECT_TRUE(other.OpenPort(1, "115200,N,8,1"));
}

TEST_F(WorkerThread, ConsoleTextReachesTheOwnerEvenWhenItArrivesWhileTheSlotIsTaken) {
    worker->Start();
    OpenPort();
    pty.Send("first\r\n");
    ASSERT_TRUE(WaitUntil([&] { return !shared.SharedText.IsEmpty(); }));
    std::string seen = shared.SharedText.Text();
    // The board prints more while the owner still holds the slot, then goes quiet:
    // the worker takes the notice and finds the slot taken.
    const int before = line->notices;
    pty.Send("second\r\n");
    ASSERT_TRUE(WaitUntil([&] { return line->notices > before; }));
    WaitForTheWorkerToCatchUp();
    EXPECT_EQ(shared.SharedText.Text(), "first\r\n");
    shared.SharedText.Clear();
    ASSERT_TRUE(WaitUntil([&] { return !shared.SharedText.IsEmpty(); }));
    seen += shared.SharedText.Text();
    shared.SharedText.Clear();
    EXPECT_EQ(seen, "first\r\nsecond\r\n");
    worker->Quit();
}

TEST_F(WorkerThread, ALostLineIsReportedOnceReleasedAndShownClosed) {
    worker->Start();
    OpenPort();
    shared.UpdateArmed = 1;
    pty.CloseMaster();
    ASSERT_TRUE(PortStateArrived(0));
    ASSERT_EQ(owner.Boxes().size(), 1u);
    EXPECT_EQ(owner.Boxes()[0].caption, "Error");
    EXPECT_EQ(owner.Boxes()[0].text.rfind("The serial line was lost!\n" + pty.SlavePath(), 0), 0u);
    WaitForTheWorkerToCatchUp();
    EXPECT_EQ(owner.Boxes().size(), 1u);
    EXPECT_FALSE(worker->Line().IsOpen());
    worker->Quit();
}

TEST_F(WorkerThread, TheLinesOwnFailureBoxHasNoIcon) {
    line->RunMonitorOnAClosedLine();
    ASSERT_EQ(owner.Boxes().size(), 1u);
    EXPECT_EQ(owner.Boxes()[0].caption, "Class CSerialLine");
    EXPECT_EQ(owner.Boxes()[0].icon, BoxIcon::None);
}

// A line on which the board prints settings-like text without pause. It records the
// settings of every open; the worker and the test may call it at the same time.
class StreamingLine : public ISerialLine {
public:
    static constexpr const char* kBoardText = "57600,E,8,1\r\n";

    bool OpenPort(uint32_t, const std::string& settings) override {
        std::lock_guard lock(mutex);
        opens.push_back(settings);
        open = true;
        return true;
    }
    void ClosePort() override {
        std::lock_guard lock(mutex);
        open = false;
    }
    bool IsOpen() const override {
        std::lock_guard lock(mutex);
        return open;
    }
    uint32_t ReadAvailable(uint8_t* buffer, uint32_t maxBytes, uint32_t) override {
        if (!IsOpen())
            return 0;
        const auto n = std::min<uint32_t>(maxBytes, static_cast<uint32_t>(std::strlen(kBoardText)));
        std::memcpy(buffer, kBoardText, n);
        return n;
    }
    uint32_t WriteBytes(const uint8_t*, uint32_t length) override { return length; }
    bool DrainOutput(uint32_t) override { return true; }
    std::string DeviceName() const override { return "/dev/ttyFAKE0"; }
    std::string LastOpenError() const override { return {}; }
    void SetNotifyThread(INotifyTarget*) override {}
    uint32_t OpenCount() const override { return 0; }
    std::vector<std::string> Opens() const {
        std::lock_guard lock(mutex);
        return opens;
    }

private:
    mutable std::mutex mutex;
    bool open = false;
    std::vector<std::string> opens;
};

// Counts the port-state answers; console notices are taken from the slot directly.
class PortStateCounter : public IWindowPoster, public IMessageBoxOwner {
public:
    void PostWindowMessage(uint32_t id, uint32_t wParam, int64_t) override {
        if (id == WM_WORKER_STATUS && wParam == STATUS_PORT_STATE)
            ++answers;
    }
    void ShowMessageBox(const std::string&, const std::string&, BoxIcon) override { ++boxes; }
    std::atomic<int> answers{0}, boxes{0};
};

TEST(WorkerThreadSharing, EveryReopenUsesTheSettingsItAskedForWhileConsoleBytesStream) {
    TempLibrary lib;
    SharedState shared;
    shared.AppFolder = lib.Folder();
    PortStateCounter owner;
    NoPauseSleeper sleeper;
    auto streaming = std::make_unique<StreamingLine>();
    StreamingLine* line = streaming.get();
    CUIThread worker(shared, owner, owner, sleeper, HandOver(std::move(streaming)));
    worker.Start();

    // The monitor's part: the board's bytes are always there to be read.
    std::atomic<bool> printing{true};
    std::thread board([&] {
        while (printing) {
            worker.Queue().PostThreadMessage(WM_SERIAL_RECEIVE, 1, 0);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    const std::vector<std::string> choices = {"115200,N,8,1", "9600,O,8,1", "19200,E,8,1", "38400,N,8,1"};
    std::vector<std::string> asked;
    std::string taken;
    int chunks = 0;
    for (int i = 0; i < 200; ++i) {
        asked.push_back(choices[static_cast<size_t>(i) % choices.size()]);
        ASSERT_TRUE(worker.PostThreadMessage(WM_OPEN_PORT, static_cast<uint32_t>(asked.back().size()), 1, asked.back()));
        // The owner takes console text while it waits for the answer, as the dialog does.
        ASSERT_TRUE(WaitUntil([&] {
            if (!shared.SharedText.IsEmpty()) {
                taken = shared.SharedText.Text();
                shared.SharedText.Clear();
                EXPECT_EQ(taken, StreamingLine::kBoardText);
                ++chunks;
            }
            return owner.answers == i + 1;
        }));
    }
    printing = false;
    board.join();
    worker.Quit();
    EXPECT_EQ(line->Opens(), asked);
    EXPECT_EQ(owner.boxes, 0);
    EXPECT_GT(chunks, 0) << "no console text streamed while the port was reopened";
}

// A line whose monitor goes on posting until the line is closed.
class PostingLine : public ScriptedLine {
public:
    using ScriptedLine::ScriptedLine;
    ~PostingLine() override {
        if (IsOpen() && target)
            target->PostThreadMessage(WM_SERIAL_RECEIVE, 1, 0);
    }
    void SetNotifyThread(INotifyTarget* t) override { target = t; }

private:
    INotifyTarget* target = nullptr;
};

TEST(WorkerThreadSharing, AWorkerDrivenWithoutItsThreadStopsTheLineBeforeItsQueueGoes) {
    TempLibrary lib;
    SharedState shared;
    shared.AppFolder = lib.Folder();
    RecordingOwner owner;
    EventLog log;
    RecordingSleeper sleeper{log};
    auto worker = std::make_unique<CUIThread>(shared, owner, owner, sleeper, HandOver(std::make_unique<PostingLine>(log)));
    worker->InitInstance();
    worker->Dispatch(ThreadMessage{WM_OPEN_PORT, 12, 1, "115200,N,8,1"});
    ASSERT_TRUE(worker->Line().IsOpen());
    worker.reset();  // under the address sanitizer, a post into a destroyed queue fails here
    EXPECT_EQ(log.back().kind, LineEvent::Close);
}

}  // namespace
