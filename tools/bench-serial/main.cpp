// Figures for the serial line: what an idle open line costs, and how soon a byte
// from the board reaches the worker's receive step.
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "engine/UIThread.h"
#include "serial/LineFactory.h"
#include "serial/SerialLine.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

struct Pty {
    int master = -1;
    std::string slave;
    Pty() {
        int s = -1;
        char name[256] = {};
        openpty(&master, &s, name, nullptr, nullptr);
        slave = name;
        ::close(s);
    }
    ~Pty() { ::close(master); }
};

class NullTarget : public INotifyTarget {
public:
    bool PostThreadMessage(uint32_t, uint32_t, int64_t) override { return true; }
};

// The owner of the latency run: stamps the moment the receive step hands over text.
class StampingOwner : public IWindowPoster, public IMessageBoxOwner {
public:
    explicit StampingOwner(SharedState& s) : shared(s) {}
    void PostWindowMessage(uint32_t id, uint32_t, int64_t) override {
        if (id == WM_RX_TEXT) {
            arrived = Clock::now().time_since_epoch().count();
            shared.SharedText.Clear();
        }
    }
    void ShowMessageBox(const std::string& text, const std::string& caption, BoxIcon) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }
    std::atomic<int64_t> arrived{0};

private:
    SharedState& shared;
};

class NoPause : public ISleeper {
public:
    void SleepMs(uint32_t) override {}
};

}  // namespace

int main(int argc, char** argv) {
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const int samples = argc > 2 ? std::atoi(argv[2]) : 200;

    {
        Pty pty;
        NullTarget target;
        CSerialLine line;
        line.SetDeviceResolver([&](uint32_t) { return pty.slave; });
        line.SetNotifyThread(&target);
        if (!line.OpenPort(1, "115200,N,8,1")) {
            std::fprintf(stderr, "cannot open %s\n", pty.slave.c_str());
            return 1;
        }
        const double before = CpuMs();
        std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
        const double used = CpuMs() - before;
        std::printf("idle open line: %.3f ms CPU over %d s (goal: under 10 ms)\n", used, idleSeconds);
    }

    Pty pty;
    SharedState shared;
    char exe[4096] = {};
    if (readlink("/proc/self/exe", exe, sizeof exe - 1) > 0)
        shared.AppFolder = std::string(exe).substr(0, std::string(exe).rfind('/'));
    StampingOwner owner(shared);
    NoPause sleeper;
    CUIThread worker(shared, owner, owner, sleeper, SerialLineFactory([&](uint32_t) { return pty.slave; }));
    worker.Start();
    worker.PostThreadMessage(WM_OPEN_PORT, 12, 1, "115200,N,8,1");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    std::vector<double> latencies;
    for (int i = 0; i < samples; ++i) {
        owner.arrived = 0;
        const auto sent = Clock::now();
        const char byte = 'k';
        if (::write(pty.master, &byte, 1) != 1)
            break;
        while (owner.arrived == 0 && Clock::now() - sent < std::chrono::seconds(2))
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        if (owner.arrived != 0)
            latencies.push_back((owner.arrived - sent.time_since_epoch().count()) / 1e6);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    worker.Quit();
    if (latencies.empty()) {
        std::printf("receive latency: no byte arrived\n");
        return 1;
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("byte to receive step: median %.3f ms, worst %.3f ms over %zu bytes (goal: median under 1 ms)\n",
                latencies[latencies.size() / 2], latencies.back(), latencies.size());
    return 0;
}
