#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "serial/ISerialLine.h"
#include "serial/LineErrors.h"
#include "serial/SerialMessages.h"

// One serial device, opened exclusively, in raw mode, with a monitor thread that tells
// a notify target when bytes arrive or a line signal changes. Port numbers 1..1024 map
// to devices through a resolver the owner supplies (default: COM n = /dev/ttyS<n-1>).
class CSerialLine : public ISerialLine {
public:
    using DeviceResolver = std::function<std::string(uint32_t portNumber)>;
    using MessageBoxHook = std::function<void(const std::string& text, const std::string& caption)>;

    static constexpr uint32_t kMaxPortNumber = 1024;
    static constexpr uint32_t kQueueSize = 4096;
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
    bool StopMonitor(uint32_t waitMs);
    void SetNotifyThread(INotifyTarget* target) override;

    void SetDeviceResolver(DeviceResolver resolver);
    void SetMessageBoxHook(MessageBoxHook hook);
    std::string DeviceName() const override;
    std::string LastOpenError() const override;
    uint32_t PortNumber() const { return portNumber; }
    uint32_t OpenCount() const override { return openCount.load(); }
    // The monitor thread's id while it runs (for tests and benchmarks that measure it).
    std::thread::id MonitorThreadId() const;

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

private:
    void Post(uint32_t id, int64_t lParam);
    void WakeMonitor();
    void PurgeOutput();
    void PurgeInput();
    uint32_t TakeLineErrors();

    uint32_t portNumber = 0;
    std::atomic<int> handle{-1};
    std::atomic<uint32_t> openCount{0};
    std::string deviceName;
    std::string lastOpenError;
    bool pseudoTerminal = false;  // a pty has no transmit queue of its own

    int wakeEvent = -1;  // eventfd: stop requests and "input consumed" from the worker
    std::thread monitorThread;
    std::atomic<bool> monitorRunning{false};
    std::atomic<bool> txPending{false};
    std::atomic<int> unreadAfterRead{0};  // bytes the last read left queued
    std::atomic<INotifyTarget*> notifyTarget{nullptr};
    LineErrorCounters lineErrors;

    DeviceResolver resolver;
    MessageBoxHook messageBox;
    mutable std::mutex hookMutex;  // the hooks are set by the owner, read by the monitor
};
