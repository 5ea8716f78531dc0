#pragma once
// The serial line on Windows: one COM device opened for overlapped I/O without
// sharing, with a monitor thread that tells a notify target when bytes arrive or a
// line signal changes. Port numbers 1..1024 name \\.\COM1 … \\.\COM1024 unless a
// resolver names another device ("COM3" and "\\.\COM3" both mean the third port).
// No Windows header is needed to use it: the system's handles and blocks live in the
// source file.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "serial/ISerialLine.h"
#include "serial/LineFactory.h"
#include "serial/LineHooks.h"
#include "trace/WireTrace.h"

class CWin32SerialLine : public ISerialLine {
public:
    static constexpr uint32_t kStopWaitMs = 100;
    // Line events the monitor waits for: every event but the flag character.
    static constexpr uint32_t kEventMask = 0x1FD;
    // The events of the modem lines (CTS, DSR, RLSD, RING), which a device without
    // modem lines cannot wait for.
    static constexpr uint32_t kModemEvents = 0x0008 | 0x0010 | 0x0020 | 0x0100;

    CWin32SerialLine();
    ~CWin32SerialLine() override;
    CWin32SerialLine(const CWin32SerialLine&) = delete;
    CWin32SerialLine& operator=(const CWin32SerialLine&) = delete;

    bool OpenPort(uint32_t portNumber, const std::string& settings) override;
    void ClosePort() override;
    bool IsOpen() const override;
    void SetPortNumber(uint32_t portNumber);
    bool ApplySettings(const std::string& settings);

    uint32_t ReadAvailable(uint8_t* buffer, uint32_t maxBytes, uint32_t waitMs) override;
    uint32_t WriteBytes(const uint8_t* buffer, uint32_t length) override;
    bool DrainOutput(uint32_t timeoutMs) override;

    // Asks the monitor to end and waits at most waitMs for it. False when there is no
    // monitor, or when it has not ended in time (it is stuck in a notify target): it is
    // then left to end by itself, on a handle of its own, and is collected by the next
    // open, stop or the destructor. No thread is ever killed.
    bool StopMonitor(uint32_t waitMs);
    void SetNotifyThread(INotifyTarget* target) override;

    void SetDeviceResolver(DeviceResolver resolver);
    void SetFailureBox(FailureBox box) override { hooks.SetFailureBox(std::move(box)); }
    void SetTrace(std::shared_ptr<WireTrace> trace) override { hooks.SetTrace(std::move(trace)); }
    std::shared_ptr<WireTrace> Trace() const override { return hooks.Trace(); }
    void Note(const std::string& text) override;
    std::string DeviceName() const override;
    std::string LastOpenError() const override;
    uint32_t PortNumber() const { return portNumber; }
    uint32_t OpenCount() const override { return openCount.load(); }
    // The events the monitor of the open line waits for (0 while it polls the queue
    // instead): kEventMask, less what the device cannot report.
    uint32_t MonitoredEvents() const { return monitoredEvents.load(); }

    // The system's device name of a device as an operator names it: "COM7" and "com7"
    // become \\.\COM7 (ports above 9 are reached only so); anything else is kept.
    static std::string SystemDeviceName(const std::string& device);

private:
    struct Device;   // the handle and the overlapped blocks of the worker's side
    struct Monitor;  // what the monitor thread owns while it runs

    bool OpenDevice();
    bool ConfigureDevice();
    bool StartMonitor();
    bool MonitorEnded();
    void CollectMonitor();
    uint32_t MonitorLoop(Monitor& m);
    bool FinishPendingWrite(uint32_t timeoutMs);
    void PurgeOutput();
    void PurgeInput();
    void Wake();
    void CloseDevice();
    void ShowFailure(const std::string& text);

    void Post(const Monitor& m, uint32_t id, int64_t lParam);
    void NotifyReceive(const Monitor& m);
    void NotifyCts(const Monitor& m, bool on);
    void NotifyDsr(const Monitor& m, bool on);
    void NotifyRing(const Monitor& m);
    void NotifyRlsd(const Monitor& m);
    void NotifyBreak(const Monitor& m);
    void NotifyTxEmpty(const Monitor& m);
    void NotifyError(const Monitor& m, uint32_t errorMask);
    void NotifyLineLost(const Monitor& m);

    uint32_t portNumber = 0;
    std::string deviceName;
    std::string lastOpenError;
    std::atomic<uint32_t> openCount{0};
    std::atomic<uint32_t> monitoredEvents{0};
    std::unique_ptr<Device> device;

    std::thread monitorThread;
    std::shared_ptr<Monitor> monitor;
    std::mutex endMutex;
    std::condition_variable endSignal;
    bool monitorEnded = true;
    std::atomic<bool> monitorRunning{false};
    std::atomic<bool> txPending{false};
    // The worker has read since the monitor last looked: whatever is still queued then
    // needs a notice of its own, or it would wait until the board sends again.
    std::atomic<bool> inputConsumed{false};
    std::atomic<INotifyTarget*> notifyTarget{nullptr};

    DeviceResolver resolver;
    LineHooks hooks;
};
