#include "serial/Win32SerialLine.h"

#include "platform/WideText.h"
#include "serial/LineSettings.h"
#include "serial/OpenErrors.h"
#include "serial/SerialMessages.h"

// After the line's own headers: the system's CE_* macros have the values of the
// line's constants, and the names of the two must not meet in a declaration.
#include <windows.h>
#undef PostThreadMessage

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kQueueBytes = 4096;
// While nothing is waiting to be read, the monitor waits for a line event; it also
// looks at the queue this often, for events a driver does not report.
constexpr DWORD kEventLookMs = 50;
// While written bytes wait to leave, the monitor looks at the output queue this often.
constexpr DWORD kOutputLookMs = 10;
// A device that can wait for no line event at all is watched by looking at its queue
// this often.
constexpr DWORD kQueuePollMs = 2;
// A wait for events that fails at once this many times in a row is given up for the
// next smaller mask (a driver that cannot report some events), and finally for
// looking at the queue.
constexpr int kFailedWaitsBeforeNarrowing = 3;
// A driver's event wait ends only with an event or a change of the mask. One whose
// waits end this many times in a row with nothing (Wine's on a pty, every few
// milliseconds, at a cost of a third of a processor while the line is idle) does
// not really wait: its queue is looked at instead, which costs next to nothing.
constexpr int kEmptyEndingsBeforePolling = 20;

std::string ToHex(uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

// Errors of a wait or a status query that mean the device itself has gone (a USB
// adapter pulled out, a port whose far end has closed: Wine answers a status query on
// a pty that has hung up with ERROR_NOT_READY).
bool DeviceGone(DWORD error) {
    switch (error) {
    case ERROR_NOT_READY:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_INVALID_HANDLE:
    case ERROR_ACCESS_DENIED:
    case ERROR_BROKEN_PIPE:
    case ERROR_HANDLE_EOF:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_IO_DEVICE:
        return true;
    default:
        return false;
    }
}

}  // namespace

// The worker's side of the open device.
struct CWin32SerialLine::Device {
    HANDLE handle = INVALID_HANDLE_VALUE;
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
    OVERLAPPED read{};
    OVERLAPPED write{};
    // The bytes of the write under way: the line's own copy, so that a caller may
    // reuse its buffer at once.
    std::vector<uint8_t> writeBytes;
    bool writePending = false;

    Device() {
        dcb.DCBlength = sizeof dcb;
        read.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        write.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~Device() {
        if (read.hEvent)
            CloseHandle(read.hEvent);
        if (write.hEvent)
            CloseHandle(write.hEvent);
    }
};

// What the monitor thread owns: a handle of its own to the same device (so that a
// close by the worker never pulls the handle from under a wait), its own overlapped
// block for the event waits, and the event by which the worker wakes it.
struct CWin32SerialLine::Monitor {
    HANDLE handle = INVALID_HANDLE_VALUE;
    OVERLAPPED wait{};
    HANDLE wake = nullptr;
    uint32_t port = 0;
    uint32_t openCount = 0;

    Monitor() {
        wait.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);  // auto-reset: one look per wake
    }
    ~Monitor() {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        if (wait.hEvent)
            CloseHandle(wait.hEvent);
        if (wake)
            CloseHandle(wake);
    }
};

CWin32SerialLine::CWin32SerialLine() : device(std::make_unique<Device>()) {}

CWin32SerialLine::~CWin32SerialLine() {
    if (IsOpen())
        ClosePort();
    // A monitor that outlived its stop still uses this object: wait for it here.
    monitorRunning = false;
    Wake();
    if (monitorThread.joinable())
        monitorThread.join();
}

std::string CWin32SerialLine::SystemDeviceName(const std::string& name) {
    std::string upper = name;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    const bool comNumber = upper.size() > 3 && upper.compare(0, 3, "COM") == 0 &&
                           std::all_of(upper.begin() + 3, upper.end(), [](unsigned char c) { return std::isdigit(c); });
    return comNumber ? "\\\\.\\" + upper : name;
}

void CWin32SerialLine::SetPortNumber(uint32_t n) {
    portNumber = n;
    deviceName = SystemDeviceName(resolver ? resolver(n) : DefaultDeviceForPort(n));
}

bool CWin32SerialLine::OpenPort(uint32_t n, const std::string& settings) {
    if (n == 0 || n > kMaxPortNumber)
        return false;
    SetPortNumber(n);
    if (!OpenDevice())
        return false;
    if (!ConfigureDevice()) {
        lastOpenError = "the device refused its configuration (" + SystemErrorText(GetLastError()) + ")";
        return false;
    }
    if (!ApplySettings(settings)) {
        lastOpenError = "the line settings \"" + settings + "\" cannot be set";
        return false;
    }
    hooks.Opened(deviceName, settings);
    return true;
}

bool CWin32SerialLine::IsOpen() const { return device->handle != INVALID_HANDLE_VALUE; }

bool CWin32SerialLine::OpenDevice() {
    if (IsOpen())
        ClosePort();
    lastOpenError.clear();
    if (monitorThread.joinable() && !MonitorEnded()) {
        lastOpenError = "the line's previous monitor has not ended yet (try again)";
        return false;
    }
    // No sharing: a second opener of the port, in this program or another, is refused.
    const HANDLE h = CreateFileA(deviceName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        lastOpenError = DescribeOpenError(static_cast<int>(GetLastError()));
        return false;
    }
    DCB probe{};
    probe.DCBlength = sizeof probe;
    const DWORD type = GetFileType(h);
    if (type == FILE_TYPE_UNKNOWN) {
        // A port the system knows whose device is not there (Wine's COM port on a
        // path that has gone): absent, as an unplugged adapter is.
        lastOpenError = DescribeOpenError(ERROR_FILE_NOT_FOUND);
        CloseHandle(h);
        return false;
    }
    if (type != FILE_TYPE_CHAR || !GetCommState(h, &probe)) {
        lastOpenError = "not a serial device";
        CloseHandle(h);
        return false;
    }
    device->handle = h;
    device->writePending = false;
    ++openCount;
    if (StartMonitor())
        return true;
    lastOpenError = "the line monitor could not be started";
    ClosePort();
    return false;
}

bool CWin32SerialLine::ConfigureDevice() {
    const HANDLE h = device->handle;
    if (h == INVALID_HANDLE_VALUE)
        return false;
    if (!SetupComm(h, kQueueBytes, kQueueBytes))
        return false;
    if (!GetCommTimeouts(h, &device->timeouts))
        return false;
    // A read or write of n bytes takes at most n + 1000 ms; no gap between received
    // bytes ends a read early.
    device->timeouts.ReadIntervalTimeout = 0;
    device->timeouts.ReadTotalTimeoutMultiplier = 1;
    device->timeouts.ReadTotalTimeoutConstant = 1000;
    device->timeouts.WriteTotalTimeoutMultiplier = 1;
    device->timeouts.WriteTotalTimeoutConstant = 1000;
    if (!SetCommTimeouts(h, &device->timeouts))
        return false;
    if (!PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
        return false;
    inputConsumed = true;  // whatever the monitor knew of is gone
    Wake();
    return true;
}

bool CWin32SerialLine::ApplySettings(const std::string& settings) {
    const HANDLE h = device->handle;
    if (h == INVALID_HANDLE_VALUE || !ParseLineSettings(settings))
        return false;
    DCB& dcb = device->dcb;
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb))
        return false;
    // BuildCommDCBA reads more forms than the four fields ("baud=9600 parity=N ..."),
    // and mark and space parity; the parser above lets only the four fields through, so
    // the line takes the same texts on every platform.
    if (!BuildCommDCBA(settings.c_str(), &dcb))
        return false;
    // No flow control of any kind: the board knows no handshake. The modem lines stay
    // raised, as a terminal program leaves them.
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fParity = dcb.Parity != NOPARITY;
    return SetCommState(h, &dcb) != 0;
}

void CWin32SerialLine::ClosePort() {
    if (!IsOpen())
        return;
    FinishPendingWrite(0);
    PurgeOutput();
    StopMonitor(kStopWaitMs);
    CloseDevice();
}

void CWin32SerialLine::CloseDevice() {
    const HANDLE h = device->handle;
    if (h == INVALID_HANDLE_VALUE)
        return;
    if (device->writePending) {
        // Nothing may still write from the line's buffer once the handle is gone.
        CancelIoEx(h, &device->write);
        DWORD n = 0;
        GetOverlappedResult(h, &device->write, &n, TRUE);
        device->writePending = false;
    }
    device->handle = INVALID_HANDLE_VALUE;
    CloseHandle(h);
    hooks.Closed();
}

void CWin32SerialLine::PurgeInput() {
    if (IsOpen())
        PurgeComm(device->handle, PURGE_RXABORT | PURGE_RXCLEAR);
    // Bytes the monitor knew of are gone: it must wait for input again.
    inputConsumed = true;
    Wake();
}

void CWin32SerialLine::PurgeOutput() {
    if (IsOpen())
        PurgeComm(device->handle, PURGE_TXABORT | PURGE_TXCLEAR);
}

uint32_t CWin32SerialLine::ReadAvailable(uint8_t* buffer, uint32_t maxBytes, uint32_t waitMs) {
    const HANDLE h = device->handle;
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    DWORD errors = 0;
    COMSTAT status{};
    // A status that cannot be had counts as nothing waiting.
    if (!ClearCommError(h, &errors, &status))
        return 0;
    if (errors != 0) {
        // What arrived around a framing, parity or overrun error cannot be trusted.
        PurgeInput();
        if (auto t = Trace()) t->Note("line error 0x" + ToHex(errors) + ": the bytes waiting were discarded");
        return 0;
    }
    if (status.cbInQue == 0)
        return 0;
    // Only what is already queued is asked for, so the read normally completes at once.
    const DWORD want = std::min<DWORD>(maxBytes, status.cbInQue);
    OVERLAPPED& ov = device->read;
    ResetEvent(ov.hEvent);
    DWORD got = 0;
    if (!ReadFile(h, buffer, want, &got, &ov)) {
        if (GetLastError() != ERROR_IO_PENDING)
            return 0;
        // The read finishes within the line's read timeout (1 ms a byte and a second)
        // at the latest. It is never left outstanding: a read completing later into a
        // buffer its caller has moved on from would write over whatever is there now.
        if (WaitForSingleObject(ov.hEvent, waitMs) != WAIT_OBJECT_0 &&
            WaitForSingleObject(ov.hEvent, want + 1000 + 500) != WAIT_OBJECT_0)
            CancelIoEx(h, &ov);
        got = 0;
        if (!GetOverlappedResult(h, &ov, &got, TRUE)) {
            const DWORD error = GetLastError();
            // A read that ran out of time (or was broken off) still hands over what it got.
            if (error != ERROR_TIMEOUT && error != ERROR_OPERATION_ABORTED)
                got = 0;
        }
    }
    if (got == 0)
        return 0;
    if (auto t = Trace()) t->Rx(buffer, got);
    // Whatever this read left queued, the rest of a longer burst or bytes that came
    // meanwhile, gets a notice of its own from the monitor.
    inputConsumed = true;
    Wake();
    return got;
}

bool CWin32SerialLine::FinishPendingWrite(uint32_t timeoutMs) {
    if (!device->writePending)
        return true;
    OVERLAPPED& ov = device->write;
    if (WaitForSingleObject(ov.hEvent, timeoutMs) != WAIT_OBJECT_0)
        return false;
    DWORD n = 0;
    GetOverlappedResult(device->handle, &ov, &n, FALSE);
    device->writePending = false;
    return true;
}

uint32_t CWin32SerialLine::WriteBytes(const uint8_t* buffer, uint32_t length) {
    const HANDLE h = device->handle;
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    DWORD errors = 0;
    if (ClearCommError(h, &errors, nullptr) && errors != 0)
        PurgeOutput();
    // One write at a time: the one before must have left for the driver, which takes
    // its bytes within the line's write timeout (1 ms a byte and a second).
    if (!FinishPendingWrite(static_cast<uint32_t>(device->writeBytes.size()) + 1000 + 500)) {
        CancelIoEx(h, &device->write);
        FinishPendingWrite(INFINITE);
    }
    if (length == 0)
        return 0;
    device->writeBytes.assign(buffer, buffer + length);
    OVERLAPPED& ov = device->write;
    ResetEvent(ov.hEvent);
    DWORD written = 0;
    if (WriteFile(h, device->writeBytes.data(), length, &written, &ov)) {
        if (written == 0)
            return 0;
    } else if (GetLastError() == ERROR_IO_PENDING) {
        // Handed to the driver, which sends it while the caller goes on, as the queue
        // of a Linux line would.
        device->writePending = true;
        written = length;
    } else {
        return 0;
    }
    if (auto t = Trace()) t->Tx(buffer, written);
    txPending = true;
    Wake();
    return written;
}

bool CWin32SerialLine::DrainOutput(uint32_t timeoutMs) {
    const HANDLE h = device->handle;
    if (h == INVALID_HANDLE_VALUE)
        return true;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!FinishPendingWrite(timeoutMs))
        return false;
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(h, &errors, &status) || status.cbOutQue == 0)
            return true;
        if (Clock::now() >= deadline)
            return false;
        Sleep(2);
    }
}

void CWin32SerialLine::Wake() {
    if (const auto m = monitor)
        SetEvent(m->wake);
}

bool CWin32SerialLine::StartMonitor() {
    CollectMonitor();
    if (monitorThread.joinable())
        return false;
    auto m = std::make_shared<Monitor>();
    if (!m->wait.hEvent || !m->wake ||
        !DuplicateHandle(GetCurrentProcess(), device->handle, GetCurrentProcess(), &m->handle, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return false;
    m->port = portNumber;
    m->openCount = openCount.load();
    monitor = m;
    inputConsumed = false;
    txPending = false;
    monitoredEvents = 0;
    {
        std::lock_guard lock(endMutex);
        monitorEnded = false;
    }
    monitorRunning = true;
    monitorThread = std::thread([this, m] {
        MonitorLoop(*m);
        // The device is closed once the worker's handle is closed too: the monitor's
        // own handle must not keep it from the next opener.
        CloseHandle(m->handle);
        m->handle = INVALID_HANDLE_VALUE;
        std::lock_guard lock(endMutex);
        monitorEnded = true;
        endSignal.notify_all();
    });
    return true;
}

void CWin32SerialLine::CollectMonitor() {
    if (monitorThread.joinable() && MonitorEnded())
        monitorThread.join();  // one that outlived its stop has ended since
}

bool CWin32SerialLine::StopMonitor(uint32_t waitMs) {
    if (!monitorThread.joinable())
        return false;
    monitorRunning = false;
    const auto m = monitor;
    // An empty mask ends a pending event wait at once; the wake event ends any other.
    if (IsOpen())
        SetCommMask(device->handle, 0);
    SetEvent(m->wake);
    {
        std::unique_lock lock(endMutex);
        if (!endSignal.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return monitorEnded; }))
            return false;
    }
    monitorThread.join();
    return true;
}

bool CWin32SerialLine::MonitorEnded() {
    std::lock_guard lock(endMutex);
    return monitorEnded;
}

void CWin32SerialLine::SetNotifyThread(INotifyTarget* target) { notifyTarget = target; }

void CWin32SerialLine::SetDeviceResolver(DeviceResolver r) { resolver = std::move(r); }

void CWin32SerialLine::ShowFailure(const std::string& text) {
    hooks.ShowFailure(text);
}

void CWin32SerialLine::Note(const std::string& text) {
    hooks.Note(text);
}

std::string CWin32SerialLine::DeviceName() const { return deviceName; }

std::string CWin32SerialLine::LastOpenError() const { return lastOpenError; }

uint32_t CWin32SerialLine::MonitorLoop(Monitor& m) {
    const HANDLE h = m.handle;
    // A device without modem lines (a port without them, or one whose driver cannot
    // read them) refuses every wait that includes their events: those are left out.
    DWORD mask = kEventMask;
    DWORD modem = 0;
    if (!GetCommModemStatus(h, &modem))
        mask &= ~kModemEvents;
    if (!SetCommMask(h, mask)) {
        const DWORD error = GetLastError();
        char text[256];
        std::snprintf(text, sizeof text,
                      "%s(%d) : COM%u Call WINAPI SetCommMask(%llx, %lx) Fail, thread work invalid! GetLastError() = %lu;",
                      __FILE__, __LINE__, m.port, static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(h)),
                      static_cast<unsigned long>(mask), static_cast<unsigned long>(error));
        ShowFailure(text);
        return 1;
    }
    monitoredEvents = mask;

    auto queueStatus = [&](DWORD& errors, COMSTAT& status) {
        errors = 0;
        status = COMSTAT{};
        if (ClearCommError(h, &errors, &status))
            return true;
        return !DeviceGone(GetLastError());
    };

    DWORD errors = 0;
    COMSTAT status{};
    if (!queueStatus(errors, status)) {
        NotifyLineLost(m);
        return 0;
    }
    DWORD seen = status.cbInQue;  // bytes already reported to the worker
    if (seen > 0)
        NotifyReceive(m);

    bool armed = false;
    bool polling = false;  // the device can wait for no event: only its queue is looked at
    int failedWaits = 0;
    int emptyEndings = 0;
    DWORD events = 0;
    while (monitorRunning) {
        DWORD happened = 0;
        // Wait for line events only while nothing unread is pending: the driver reports
        // received bytes for as long as they wait (Wine does so on every new wait), so a
        // wait armed before the worker has read would end at once, again and again.
        // Pending bytes are the worker's to read, and its read wakes this monitor.
        if (!armed && !polling && seen == 0) {
            events = 0;
            ResetEvent(m.wait.hEvent);
            if (WaitCommEvent(h, &events, &m.wait)) {
                happened = events;
                failedWaits = 0;
            } else if (const DWORD error = GetLastError(); error == ERROR_IO_PENDING) {
                armed = true;
                failedWaits = 0;
            } else if (DeviceGone(error)) {
                if (monitorRunning)
                    NotifyLineLost(m);
                break;
            } else if (++failedWaits >= kFailedWaitsBeforeNarrowing) {
                // The driver cannot wait for this mask: received bytes alone, and if not
                // even those, the queue is looked at instead.
                failedWaits = 0;
                if (mask != EV_RXCHAR && SetCommMask(h, EV_RXCHAR)) {
                    mask = EV_RXCHAR;
                    monitoredEvents = mask;
                } else {
                    polling = true;
                    monitoredEvents = 0;
                }
                continue;
            }
        }
        if (armed) {
            const HANDLE both[2] = {m.wait.hEvent, m.wake};
            const DWORD bound = txPending ? kOutputLookMs : kEventLookMs;
            const DWORD woke = WaitForMultipleObjects(2, both, FALSE, bound);
            if (!monitorRunning)
                break;
            if (woke == WAIT_OBJECT_0) {
                armed = false;
                DWORD n = 0;
                if (GetOverlappedResult(h, &m.wait, &n, FALSE))
                    happened = events;
                else if (DeviceGone(GetLastError())) {
                    NotifyLineLost(m);
                    break;
                }
                // Any other ending (mask 0, aborted, Wine's short waits) is just a look.
                emptyEndings = happened == 0 ? emptyEndings + 1 : 0;
                if (emptyEndings >= kEmptyEndingsBeforePolling) {
                    polling = true;
                    monitoredEvents = 0;
                }
            }
        } else if (happened == 0) {
            const DWORD bound = polling ? kQueuePollMs : (txPending ? kOutputLookMs : kEventLookMs);
            WaitForSingleObject(m.wake, bound);
        }
        if (!monitorRunning)
            break;

        // Every ending of a wait is a reason to look at the queue. The flag is taken
        // before the count, so a read that comes after the count has its flag still
        // set at the next pass and nothing it leaves behind is missed.
        const bool consumed = inputConsumed.exchange(false);
        if (!queueStatus(errors, status)) {
            NotifyLineLost(m);
            break;
        }
        const DWORD waiting = status.cbInQue;
        if (waiting > seen || (consumed && waiting > 0))
            NotifyReceive(m);  // errors that came with the data were cleared unreported
        seen = waiting;

        if (txPending && status.cbOutQue == 0 && !(happened & EV_TXEMPTY)) {
            txPending = false;
            NotifyTxEmpty(m);
        }
        if (happened & EV_TXEMPTY) {
            txPending = false;
            NotifyTxEmpty(m);
        }
        if (happened & EV_BREAK)
            NotifyBreak(m);
        if ((happened & EV_ERR) && (errors & ~CE_BREAK))
            NotifyError(m, errors);
        if (happened & (EV_CTS | EV_DSR)) {
            DWORD lines = 0;
            if (GetCommModemStatus(h, &lines)) {
                if (happened & EV_CTS) NotifyCts(m, lines & MS_CTS_ON);
                if (happened & EV_DSR) NotifyDsr(m, lines & MS_DSR_ON);
            }
        }
        if (happened & EV_RLSD)
            NotifyRlsd(m);
        if (happened & EV_RING)
            NotifyRing(m);
    }
    if (armed) {
        // The wait must be over before its block goes away with the monitor.
        CancelIoEx(h, &m.wait);
        DWORD n = 0;
        GetOverlappedResult(h, &m.wait, &n, TRUE);
    }
    monitoredEvents = 0;
    return 0;
}

void CWin32SerialLine::Post(const Monitor& m, uint32_t id, int64_t lParam) {
    if (INotifyTarget* target = notifyTarget.load())
        target->PostThreadMessage(id, m.port, lParam);
}

void CWin32SerialLine::NotifyReceive(const Monitor& m) { Post(m, WM_SERIAL_RECEIVE, 0); }
void CWin32SerialLine::NotifyCts(const Monitor& m, bool on) { Post(m, WM_SERIAL_CTS, on ? 1 : 0); }
void CWin32SerialLine::NotifyDsr(const Monitor& m, bool on) { Post(m, WM_SERIAL_DSR, on ? 1 : 0); }
void CWin32SerialLine::NotifyRing(const Monitor& m) { Post(m, WM_SERIAL_RING, 0); }
void CWin32SerialLine::NotifyRlsd(const Monitor& m) { Post(m, WM_SERIAL_RLSD, 0); }
void CWin32SerialLine::NotifyBreak(const Monitor& m) { Post(m, WM_SERIAL_BREAK, 0); }
void CWin32SerialLine::NotifyTxEmpty(const Monitor& m) { Post(m, WM_SERIAL_TXEMPTY, 0); }
void CWin32SerialLine::NotifyError(const Monitor& m, uint32_t errorMask) { Post(m, WM_SERIAL_ERROR, errorMask); }
void CWin32SerialLine::NotifyLineLost(const Monitor& m) {
    if (auto t = Trace()) t->Lost();
    Post(m, WM_SERIAL_LINE_LOST, m.openCount);
}
