#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "serial/ISerialLine.h"
#include "serial/LineErrors.h"
#include "serial/SerialMessages.h"
#include "serial/LineHooks.h"
#include "trace/WireTrace.h"

// One serial device, opened exclusively, in raw mode, with a monitor thread that tells
// a notify target when bytes arrive or a line signal changes. Port numbers 1..1024 map
// to devices through a resolver the owner supplies (default: COM n = /dev/ttyS<n-1>).
class CSerialLine : public ISerialLine {
public:
    using DeviceResolver = std::function<std::string(uint32_t portNumber)>;
    using MessageBoxHook = FailureBox;

    static constexpr uint32_t kStopWaitMs = 100;

    CSerialLine();
    ~CSerialLine() override;
    CSerialLine(const CSerialLine&) = delete;
    CSerialLine& operator=(const CSerialLine&) = delete;

    bool OpenPort(uint32_t portNumber, const std::string& settings) override;
    void ClosePort() override;
    bool IsOpen() const override;
    void SetPortNumber(uint32_t portNumber);
    virtual bool OpenDevice();
    virtual bool ConfigureDevice();
    bool ApplySettings(const std::string& settings);

    uint32_t ReadAvailable(uint8_t* buffer, uint32_t maxBytes, uint32_t waitMs) override;
    uint32_t WriteBytes(const uint8_t* buffer, uint32_t length) override;
    bool DrainOutput(uint32_t timeoutMs) override;

    bool StartMonitor();
    // Asks the monitor to end and waits at most waitMs for it. False when there is no
    // monitor, or when it has not ended in time (it is stuck in a notify target); it is
    // then left to end by itself and is collected by the next open, stop or the
    // destructor. It watches a descriptor of its own, so closing the line meanwhile
    // is safe.
    bool StopMonitor(uint32_t waitMs);
    void SetNotifyThread(INotifyTarget* target) override;

    void SetDeviceResolver(DeviceResolver resolver);
    void SetMessageBoxHook(MessageBoxHook hook) { hooks.SetFailureBox(std::move(hook)); }
    void SetFailureBox(FailureBox box) override { hooks.SetFailureBox(std::move(box)); }
    void SetTrace(std::shared_ptr<WireTrace> trace) override { hooks.SetTrace(std::move(trace)); }
    std::shared_ptr<WireTrace> Trace() const override { return hooks.Trace(); }
    void Note(const std::string& text) override { hooks.Note(text); }
    std::string DeviceName() const override;
    std::string LastOpenError() const override;
    uint32_t PortNumber() const { return portNumber; }
    uint32_t OpenCount() const override { return openCount.load(); }

protected:
    virtual void Initialize();
    virtual void ReleaseEvents();
    virtual void NotifyReceive();
    virtual void NotifyDsr(bool on);
    virtual void NotifyCts(bool on);
    virtual void NotifyBreak();
    virtual void NotifyTxEmpty();
    virtual void NotifyError(uint32_t errorMask);
    virtual void NotifyRing();
    virtual void NotifyRlsd();
    virtual void NotifyLineLost();
    virtual uint32_t MonitorLoop();
    // The driver's line counters (errors, breaks, modem lines); false when it keeps none.
    virtual bool ReadLineCounts(int fd, LineCounts& out) const;

private:
    void Post(uint32_t id, int64_t lParam);
    void WakeMonitor();
    void PurgeOutput();
    void PurgeInput();
    uint32_t TakeLineErrors();
    bool MonitorEnded();
    void CloseDevice();

    uint32_t portNumber = 0;
    std::atomic<int> handle{-1};
    std::atomic<uint32_t> openCount{0};
    std::string deviceName;
    std::string lastOpenError;
    bool pseudoTerminal = false;  // a pty has no transmit queue of its own
    // Exclusive mode was set by this line (not inherited from another holder) and must
    // be cleared before the close: on a tty whose far end stays open (a pty) the flag
    // outlives the close, and anyone but root would be refused the next open.
    bool exclusiveHere = false;

    int wakeEvent = -1;  // eventfd: stop requests, written bytes and reads by the worker
    std::thread monitorThread;
    // Owned by the monitor while it runs: the port it reports and a duplicate of the
    // line's descriptor, which the monitor closes itself when it ends.
    uint32_t monitorPort = 0;
    int monitorFd = -1;
    std::mutex endMutex;
    std::condition_variable endSignal;
    bool monitorEnded = true;
    std::atomic<bool> monitorRunning{false};
    std::atomic<bool> txPending{false};
    // The worker has read since the monitor last looked: whatever is still queued then
    // needs a notice of its own, or it would wait until the board sends again.
    std::atomic<bool> inputConsumed{false};
    std::atomic<INotifyTarget*> notifyTarget{nullptr};
    LineErrorCounters lineErrors{[this](int fd, LineCounts& out) { return ReadLineCounts(fd, out); }};

    DeviceResolver resolver;
    LineHooks hooks;
};
