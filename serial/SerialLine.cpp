#include "serial/SerialLine.h"

#include "serial/LineFactory.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "serial/LineTermios.h"
#include "serial/OpenErrors.h"

namespace {

using Clock = std::chrono::steady_clock;

// Line events the monitor watches, in the bit values operators know from other tools:
// every event but the flag character.
constexpr uint32_t kEventMask = 0x1FD;

// While written bytes wait to leave, the monitor looks again this often; otherwise it
// waits without any timer (bytes that wait unread are the worker's to read, and each
// read wakes the monitor).
constexpr int kOutputPollMs = 10;
// Drivers that count modem-line changes cannot wake poll() for them; such lines are
// looked at a few times a second. Lines without counters (ptys) are never looked at.
constexpr int kModemPollMs = 250;

int BytesWaiting(int fd) {
    int waiting = 0;
    if (ioctl(fd, FIONREAD, &waiting) != 0)
        return 0;
    return waiting;
}

std::string ToHex(uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

bool IsPseudoTerminalSlave(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned maj = major(st.st_rdev);
    return maj >= 136 && maj <= 143;  // Unix98 pty slaves
}

}  // namespace

CSerialLine::CSerialLine() { Initialize(); }

CSerialLine::~CSerialLine() {
    if (IsOpen()) {
        PurgeOutput();
        StopMonitor(kStopWaitMs);
        CloseDevice();
    }
    // A monitor that outlived its stop still uses this object: wait for it here.
    monitorRunning = false;
    WakeMonitor();
    if (monitorThread.joinable())
        monitorThread.join();
    ReleaseEvents();
}

void CSerialLine::Initialize() {
    deviceName.clear();
    handle = -1;
    notifyTarget = nullptr;
    wakeEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

void CSerialLine::ReleaseEvents() {
    if (wakeEvent >= 0)
        ::close(wakeEvent);
    wakeEvent = -1;
}

void CSerialLine::SetPortNumber(uint32_t n) {
    portNumber = n;
    deviceName = resolver ? resolver(n) : DefaultDeviceForPort(n);
}

bool CSerialLine::OpenPort(uint32_t n, const std::string& settings) {
    if (n == 0 || n > kMaxPortNumber)
        return false;
    SetPortNumber(n);
    if (!OpenDevice())
        return false;
    if (!ConfigureDevice()) {
        lastOpenError = "the device refused its configuration";
        return false;
    }
    if (!ApplySettings(settings)) {
        lastOpenError = "the line settings \"" + settings + "\" cannot be set";
        return false;
    }
    hooks.Opened(deviceName, settings);
    return true;
}

bool CSerialLine::IsOpen() const { return handle.load() >= 0; }

bool CSerialLine::OpenDevice() {
    if (IsOpen())
        ClosePort();
    lastOpenError.clear();
    if (monitorThread.joinable() && !MonitorEnded()) {
        lastOpenError = "the line's previous monitor has not ended yet (try again)";
        return false;
    }

    const int fd = ::open(deviceName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        lastOpenError = DescribeOpenError(errno);
        return false;
    }
    // Nobody else may share the line, in this process or another: a second opener of
    // the same device fails here, as picocom and friends do.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        lastOpenError = DescribeOpenError(EBUSY);
        ::close(fd);
        return false;
    }
    if (!isatty(fd)) {
        lastOpenError = "not a serial device";
        ::close(fd);
        return false;
    }
    // Exclusive mode keeps out openers that do not take the lock. A line that is
    // already exclusive (only root gets this far then) keeps its holder's flag.
    int alreadyExclusive = 0;
    if (ioctl(fd, TIOCGEXCL, &alreadyExclusive) != 0)
        alreadyExclusive = 0;
    exclusiveHere = !alreadyExclusive && ioctl(fd, TIOCEXCL) == 0;
    pseudoTerminal = IsPseudoTerminalSlave(fd);
    lineErrors.Reset(fd);
    ++openCount;
    handle = fd;

    if (StartMonitor())
        return true;
    lastOpenError = "the line monitor could not be started";
    ClosePort();
    return false;
}

bool CSerialLine::ConfigureDevice() {
    const int fd = handle.load();
    if (fd < 0)
        return false;
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    // Raw, whatever the device held before; speed and framing come with the settings.
    ApplyLineSettings(LineSettings{}, tio);
    if (tcsetattr(fd, TCSANOW, &tio) != 0)
        return false;
    PurgeInput();
    PurgeOutput();
    return true;
}

bool CSerialLine::ApplySettings(const std::string& settings) {
    const int fd = handle.load();
    if (fd < 0)
        return false;
    const auto parsed = ParseLineSettings(settings);
    if (!parsed)
        return false;
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    ApplyLineSettings(*parsed, tio);
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

void CSerialLine::ClosePort() {
    if (!IsOpen())
        return;
    PurgeOutput();
    StopMonitor(kStopWaitMs);
    CloseDevice();
}

void CSerialLine::CloseDevice() {
    const int fd = handle.exchange(-1);
    if (fd < 0)
        return;
    if (exclusiveHere)
        ioctl(fd, TIOCNXCL);
    exclusiveHere = false;
    ::close(fd);
    hooks.Closed();
}

void CSerialLine::PurgeInput() {
    const int fd = handle.load();
    if (fd < 0)
        return;
    tcflush(fd, TCIFLUSH);
    // Bytes the monitor knew of are gone: it must wait for input again.
    inputConsumed = true;
    WakeMonitor();
}

void CSerialLine::PurgeOutput() {
    // Flushing a pty's output reaches across into what its far end has not read yet:
    // the bytes have already left as far as this side is concerned, so keep them.
    const int fd = handle.load();
    if (fd >= 0 && !pseudoTerminal)
        tcflush(fd, TCOFLUSH);
}

uint32_t CSerialLine::TakeLineErrors() { return lineErrors.TakeErrors(handle.load()); }

uint32_t CSerialLine::ReadAvailable(uint8_t* buffer, uint32_t maxBytes, uint32_t /*waitMs*/) {
    const int fd = handle.load();
    if (fd < 0)
        return 0;
    if (const uint32_t errors = TakeLineErrors(); errors != 0) {
        // What arrived around a framing, parity or overrun error cannot be trusted.
        PurgeInput();
        if (auto t = Trace()) t->Note("line error 0x" + ToHex(errors) + ": the bytes waiting were discarded");
        return 0;
    }
    const int waiting = BytesWaiting(fd);
    if (waiting <= 0)
        return 0;
    // Only what is already queued is asked for, so the read completes at once.
    const size_t want = std::min<size_t>(maxBytes, static_cast<size_t>(waiting));
    const ssize_t got = ::read(fd, buffer, want);
    if (got <= 0)
        return 0;
    if (auto t = Trace()) t->Rx(buffer, static_cast<size_t>(got));
    // Whatever this read left queued, the rest of a longer burst or bytes that came
    // meanwhile, gets a notice of its own from the monitor.
    inputConsumed = true;
    WakeMonitor();
    return static_cast<uint32_t>(got);
}

uint32_t CSerialLine::WriteBytes(const uint8_t* buffer, uint32_t length) {
    const int fd = handle.load();
    if (fd < 0)
        return 0;
    if (TakeLineErrors() != 0)
        PurgeOutput();

    // The kernel queues the bytes and returns; only a full queue makes this wait, and
    // never longer than the line's write timeout of 1 ms a byte plus one second.
    const auto deadline = Clock::now() + std::chrono::milliseconds(length + 1000);
    uint32_t written = 0;
    while (written < length) {
        const ssize_t n = ::write(fd, buffer + written, length - written);
        if (n > 0) {
            written += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
            break;
    }
    if (written > 0) {
        if (auto t = Trace()) t->Tx(buffer, written);
        txPending = true;
        WakeMonitor();
    }
    return written;
}

bool CSerialLine::DrainOutput(uint32_t timeoutMs) {
    const int fd = handle.load();
    if (fd < 0)
        return true;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0)
            break;
        if (Clock::now() >= deadline)
            return false;
        usleep(2000);
    }
    // The driver's queue is empty; what is left sits in the UART's FIFO and shift
    // register, a few character times at most.
    return tcdrain(fd) == 0 || errno == ENOTTY;
}

bool CSerialLine::StartMonitor() {
    if (monitorThread.joinable()) {
        if (!MonitorEnded())
            return false;
        monitorThread.join();  // one that outlived its stop has ended since
    }
    if (wakeEvent < 0)
        return false;
    uint64_t stale = 0;
    while (::read(wakeEvent, &stale, sizeof stale) == sizeof stale) {
    }
    monitorFd = fcntl(handle.load(), F_DUPFD_CLOEXEC, 0);
    if (monitorFd < 0)
        return false;
    monitorPort = portNumber;
    inputConsumed = false;
    txPending = false;
    {
        std::lock_guard lock(endMutex);
        monitorEnded = false;
    }
    monitorRunning = true;
    monitorThread = std::thread([this] {
        MonitorLoop();
        ::close(monitorFd);
        std::lock_guard lock(endMutex);
        monitorEnded = true;
        endSignal.notify_all();
    });
    return true;
}

bool CSerialLine::StopMonitor(uint32_t waitMs) {
    if (!monitorThread.joinable())
        return false;
    monitorRunning = false;
    WakeMonitor();
    // The monitor blocks only in poll() on the wake-up descriptor just signalled, so it
    // normally ends at once; only a notify target that does not return can hold it.
    {
        std::unique_lock lock(endMutex);
        if (!endSignal.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return monitorEnded; }))
            return false;
    }
    monitorThread.join();
    return true;
}

bool CSerialLine::MonitorEnded() {
    std::lock_guard lock(endMutex);
    return monitorEnded;
}

void CSerialLine::WakeMonitor() {
    if (wakeEvent >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeEvent, &one, sizeof one);
    }
}

void CSerialLine::SetNotifyThread(INotifyTarget* target) { notifyTarget = target; }

void CSerialLine::SetDeviceResolver(DeviceResolver r) { resolver = std::move(r); }

std::string CSerialLine::DeviceName() const { return deviceName; }

std::string CSerialLine::LastOpenError() const { return lastOpenError; }

bool CSerialLine::ReadLineCounts(int fd, LineCounts& out) const { return ReadDriverCounts(fd, out); }

uint32_t CSerialLine::MonitorLoop() {
    const int fd = monitorFd;
    if (fd < 0 || fcntl(fd, F_GETFD) < 0 || wakeEvent < 0) {
        const int err = errno;
        char text[256];
        std::snprintf(text, sizeof text,
                      "%s(%d) : COM%u Call poll(%d, %x) Fail, thread work invalid! errno = %d;", __FILE__,
                      __LINE__, monitorPort, fd, kEventMask, err);
        hooks.ShowFailure(text);
        return 1;
    }

    const bool countsModemLines = lineErrors.Supported();
    int seen = BytesWaiting(fd);  // bytes already reported to the worker
    if (seen > 0) {
        NotifyReceive();
    }
    while (monitorRunning) {
        // Wait for input only while nothing unread is pending; otherwise poll() would
        // report the same waiting bytes again and again. Pending bytes are the worker's
        // to read, and its read wakes this wait.
        const bool awaitInput = seen == 0;
        pollfd fds[2] = {{fd, static_cast<short>(awaitInput ? POLLIN : 0), 0}, {wakeEvent, POLLIN, 0}};
        int timeout = countsModemLines ? kModemPollMs : -1;
        if (txPending)
            timeout = kOutputPollMs;
        const int ready = poll(fds, 2, timeout);
        if (!monitorRunning)
            break;
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            NotifyLineLost();
            break;
        }
        if (fds[1].revents & POLLIN) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(wakeEvent, &count, sizeof count);
            if (!monitorRunning)
                break;
        }
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // The device is gone; poll() would report it forever. Tell the worker once.
            NotifyLineLost();
            break;
        }

        // Taken before the count, so a read that comes after the count has its flag
        // still set at the next pass and nothing it leaves behind is missed.
        const bool consumed = inputConsumed.exchange(false);
        const int waiting = BytesWaiting(fd);
        if (waiting > seen || (consumed && waiting > 0)) {
            lineErrors.TakeErrors(fd);  // errors that came with the data go unreported
            NotifyReceive();
        }
        seen = waiting;

        if (txPending) {
            int queued = 0;
            if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) {
                txPending = false;
                NotifyTxEmpty();
            }
        }
        if (countsModemLines) {
            if (lineErrors.TakeBreak(fd))
                NotifyBreak();
            // A break alone is reported as a break; a mask with other errors carries
            // it along, as operators know it from other serial tools.
            if (const uint32_t errors = lineErrors.TakeErrors(fd); errors & ~CE_BREAK)
                NotifyError(errors);
            const auto changes = lineErrors.TakeModemChanges(fd);
            int lines = 0;
            if (changes.cts || changes.dsr)
                ioctl(fd, TIOCMGET, &lines);
            if (changes.cts) NotifyCts(lines & TIOCM_CTS);
            if (changes.dsr) NotifyDsr(lines & TIOCM_DSR);
            if (changes.rlsd) NotifyRlsd();
            if (changes.ring) NotifyRing();
        }
    }
    return 0;
}

void CSerialLine::Post(uint32_t id, int64_t lParam) {
    if (INotifyTarget* target = notifyTarget.load())
        target->PostThreadMessage(id, monitorPort, lParam);
}

void CSerialLine::NotifyReceive() { Post(WM_SERIAL_RECEIVE, 0); }
void CSerialLine::NotifyCts(bool on) { Post(WM_SERIAL_CTS, on ? 1 : 0); }
void CSerialLine::NotifyDsr(bool on) { Post(WM_SERIAL_DSR, on ? 1 : 0); }
void CSerialLine::NotifyRing() { Post(WM_SERIAL_RING, 0); }
void CSerialLine::NotifyRlsd() { Post(WM_SERIAL_RLSD, 0); }
void CSerialLine::NotifyBreak() { Post(WM_SERIAL_BREAK, 0); }
void CSerialLine::NotifyTxEmpty() { Post(WM_SERIAL_TXEMPTY, 0); }
void CSerialLine::NotifyError(uint32_t errorMask) { Post(WM_SERIAL_ERROR, errorMask); }
void CSerialLine::NotifyLineLost() {
    if (auto t = Trace()) t->Lost();
    Post(WM_SERIAL_LINE_LOST, openCount.load());
}
