// The worker on its own thread with a real serial line over a pty.
#include <gtest/gtest.h>

#include "engine/UIThread.h"
#include "serial/SerialLine.h"
#include "tests/engine/EngineFakes.h"
#include "tests/support/Pty.h"
#include "tests/support/Waiting.h"

namespace {

class WorkerThread : public ::testing::Test {
protected:
    WorkerThread() {
        auto real = std::make_unique<CSerialLine>();
        real->SetDeviceResolver([this](uint32_t) { return pty.SlavePath(); });
        shared.AppFolder = lib.Folder();
        worker = std::make_unique<CUIThread>(shared, owner, owner, sleeper, std::move(real));
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
    // The board prints more while the owner still holds the slot, then goes quiet.
    pty.Send("second\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    shared.SharedText.Clear();
    ASSERT_TRUE(WaitUntil([&] { return !shared.SharedText.IsEmpty(); }));
    seen += shared.SharedText.Text();
    shared.SharedText.Clear();
    EXPECT_EQ(seen, "first\r\nsecond\r\n");
    worker->Quit();
}

TEST_F(WorkerThread, ALostLineIsReportedOnceAndReleased) {
    worker->Start();
    OpenPort();
    shared.UpdateArmed = 1;
    pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return owner.Boxes().size() == 1; }));
    EXPECT_EQ(owner.Boxes()[0].caption, "Error");
    EXPECT_EQ(owner.Boxes()[0].text.rfind("The serial line was lost!\n" + pty.SlavePath(), 0), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(owner.Boxes().size(), 1u);
    worker->Quit();
}

}  // namespace
