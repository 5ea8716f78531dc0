// The board's console output on a real pty, through the real line and the real worker,
// up to an owner that takes each chunk from the text slot as the dialog does.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/UIThread.h"
#include "serial/LineFactory.h"
#include "serial/SerialLine.h"
#include "tests/support/Pty.h"
#include "tests/support/Waiting.h"

namespace {

// The dialog's side: its own thread takes each WM_RX_TEXT in turn, copies the bytes
// out of the slot and frees it, after a delay that stands for a busy window.
class ConsoleOwner : public IWindowPoster, public IMessageBoxOwner {
public:
    ConsoleOwner(SharedState& shared, std::chrono::milliseconds delay)
        : shared(shared), delay(delay), thread([this] { Run(); }) {}
    ~ConsoleOwner() override {
        {
            std::lock_guard lock(mutex);
            ending = true;
        }
        changed.notify_all();
        thread.join();
    }

    void PostWindowMessage(uint32_t id, uint32_t wParam, int64_t lParam) override {
        std::lock_guard lock(mutex);
        if (id == WM_WORKER_STATUS && wParam == STATUS_PORT_STATE)
            portState = static_cast<int>(lParam);
        if (id == WM_RX_TEXT)
            pending.push_back(wParam);
        changed.notify_all();
    }
    void ShowMessageBox(const std::string& text, const std::string& caption, BoxIcon) override {
        std::lock_guard lock(mutex);
        boxes += caption + ": " + text + "\n";
    }

    std::string Received() {
        std::lock_guard lock(mutex);
        return received;
    }
    int PortState() {
        std::lock_guard lock(mutex);
        return portState;
    }
    std::string Boxes() {
        std::lock_guard lock(mutex);
        return boxes;
    }

private:
    void Run() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return ending || !pending.empty(); });
            if (ending)
                return;
            const size_t n = pending.front();
            pending.pop_front();
            lock.unlock();
            std::this_thread::sleep_for(delay);  // the slow owner under test, not a wait for a result
            std::string chunk(n, '\0');
            shared.SharedText.CopyOut(reinterpret_cast<uint8_t*>(chunk.data()), n);
            shared.SharedText.Clear();
            lock.lock();
            received += chunk;
        }
    }

    SharedState& shared;
    const std::chrono::milliseconds delay;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<size_t> pending;
    std::string received;
    std::string boxes;
    int portState = -1;
    bool ending = false;
    std::thread thread;
};

// A board's boot log: printable, never NUL, and different at every place, so a lost,
// doubled or swapped piece shows.
std::string BootLog(size_t length, char tag) {
    std::string text;
    for (size_t line = 0; text.size() < length; ++line)
        text += std::string(1, tag) + " boot line " + std::to_string(line) + ": dram ok, flash ok\r\n";
    text.resize(length);
    text.back() = '$';
    return text;
}

class ConsoleBurst : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        lib = std::filesystem::temp_directory_path() / ("kestrel-burst-" + std::to_string(::getpid()));
        std::filesystem::create_directories(lib);
        std::ofstream(lib / "FlashAddrAssign.h") << "#define CodeBufSize 0x80000\n#define FontBufSize 0x20000\n"
                                                     "#define BmpBufSize 0x40000\n#define EsLogoPicBufSize 0x20000\n";
        shared.LibFolder = lib.string();
    }
    void TearDown() override { std::filesystem::remove_all(lib); }

    std::filesystem::path lib;
    SharedState shared;
    RealSleeper sleeper;
    TestPty pty;
};

TEST_P(ConsoleBurst, EveryBurstReachesTheOwnerWholeAndInOrderWithoutFurtherInput) {
    ConsoleOwner owner(shared, std::chrono::milliseconds(GetParam()));
    CUIThread worker(shared, owner, owner, sleeper, SerialLineFactory([this](uint32_t) { return pty.SlavePath(); }));
    worker.Start();
    ASSERT_TRUE(worker.PostThreadMessage(WM_OPEN_PORT, 12, 1, "115200,N,8,1"));
    ASSERT_TRUE(WaitUntil([&] { return owner.PortState() != -1; }));
    ASSERT_EQ(owner.PortState(), 1) << owner.Boxes();

    // Each burst is the last thing the board sends until the owner has all of it.
    std::string expected;
    char tag = 'a';
    for (const size_t size : {999, 1000, 1001, 3000, 10000}) {
        const std::string burst = BootLog(size, tag++);
        pty.Send(burst);
        expected += burst;
        const bool whole = WaitUntil([&] { return owner.Received().size() >= expected.size(); });
        const std::string got = owner.Received();
        ASSERT_TRUE(whole) << "burst of " << size << ": " << expected.size() - got.size() << " bytes never came";
        ASSERT_EQ(got.size(), expected.size()) << "burst of " << size;
        ASSERT_TRUE(got == expected) << "burst of " << size << " arrived out of order or changed";
    }
    worker.Quit();
    EXPECT_EQ(owner.Boxes(), "");
}

// A prompt owner, and one slower to free the slot than the worker's own pause.
INSTANTIATE_TEST_SUITE_P(OwnerDelays, ConsoleBurst, ::testing::Values(0, 45),
                         [](const auto& info) { return info.param == 0 ? "PromptOwner" : "SlowOwner"; });

}  // namespace
