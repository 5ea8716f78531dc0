#include "serial/SerialLine.h"

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

#include "serial/LineSettings.h"
#include "serial/OpenErrors.h"

namespace {

using Clock = std::chrono::steady_clock;

// Line events the monitor watches, in the bit values operators know from other tools:
// every event but the flag character.
constexpr uint32_t kEventMask = 0x1FD;

// While received bytes wait unread, or written bytes wait to leave, the monitor looks
// again this often; a quiet line with nothing pending is waited on without any timer.
constexpr int kPendingPollMs = 10;
// Drivers that count modem-line changes cannot wake poll() for them; such lines are
// looked at a few times a second. Lines without counters (ptys) are never looked at.
constexpr int kModemPollMs = 250;

int BytesWaiting(int fd) {
    int waiting = 0;
    if (ioctl(fd, FIONREAD, &waiting) != 0)
        return 0;
    return waiting;
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
        ::close(handle.exchange(-1));
    }
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
    deviceName = resolver ? resolver(n) : "/dev/ttyS" + std::to_string(n - 1);
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
    return true;
}

bool CSerialLine::IsOpen() const { return handle.load() >= 0; }

bool CSerialLine::OpenDevice() {
    if (IsOpen())
        ClosePort();
    lastOpenError.clear();

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
    ioctl(fd, TIOCEXCL);
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
    const speed_t speed = cfgetospeed(&tio);
    LineSettings keep;
    keep.speed = speed;
    ApplyLineSettings(keep, tio);
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
    const int fd = handle.exchange(-1);
    ioctl(fd, TIOCNXCL);  // a pty's slave keeps the flag past its last close
    ::close(fd);
}

void CSerialLine::PurgeInput() {
    const int fd = handle.load();
    if (fd >= 0)
        tcflush(fd, TCIFLUSH);
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
    if (TakeLineErrors() != 0) {
        // What arrived around a framing, parity or overrun error cannot be trusted.
        PurgeInput();
        unreadAfterRead = 0;
        WakeMonitor();
        return 0;
    }
    const int waiting = BytesWaiting(fd);
    if (waiting <= 0)
        return 0;
    // Only what is already queued is asked for, so the read completes at once.
    const size_t want = std::min<size_t>(maxBytes, static_cast<size_t>(waiting));
    const ssize_t got = ::read(fd, buffer, want);
    // Tell the monitor what is left of the bytes it knew of, so that anything arriving
    // from now on counts as new, even before the monitor wakes up.
    unreadAfterRead = waiting - static_cast<int>(std::max<ssize_t>(got, 0));
    WakeMonitor();
    return got > 0 ? static_cast<uint32_t>(got) : 0;
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
    if (monitorThread.joinable())
        return false;
    if (wakeEvent < 0)
        return false;
    uint64_t stale = 0;
    while (::read(wakeEvent, &stale, sizeof stale) == sizeof stale) {
    }
    monitorRunning = true;
    monitorThread = std::thread([this] { MonitorLoop(); });
    return true;
}

bool CSerialLine::StopMonitor(uint32_t /*waitMs*/) {
    if (!monitorThread.joinable())
        return false;
    monitorRunning = false;
    WakeMonitor();
    // The monitor only ever blocks in poll() on the wake-up descriptor just signalled,
    // so it ends at once; there is no thread to kill.
    monitorThread.join();
    return true;
}

void CSerialLine::WakeMonitor() {
    if (wakeEvent >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeEvent, &one, sizeof one);
    }
}

std::thread::id CSerialLine::MonitorThreadId() const { return monitorThread.get_id(); }

void CSerialLine::SetNotifyThread(INotifyTarget* target) { notifyTarget = target; }

void CSerialLine::SetDeviceResolver(DeviceResolver r) { resolver = std::move(r); }

void CSerialLine::SetMessageBoxHook(MessageBoxHook hook) {
    std::lock_guard lock(hookMutex);
    messageBox = std::move(hook);
}

std::string CSerialLine::DeviceName() const { return deviceName; }

std::string CSerialLine::LastOpenError() const { return lastOpenError; }

uint32_t CSerialLine::MonitorLoop() {
    const int fd = handle.load();
    if (fd < 0 || fcntl(fd, F_GETFD) < 0 || wakeEvent < 0) {
        const int err = errno;
        char text[256];
        std::snprintf(text, sizeof text,
                      "%s(%d) : COM%u Call poll(%d, %x) Fail, thread work invalid! errno = %d;", __FILE__,
                      __LINE__, portNumber, fd, kEventMask, err);
        MessageBoxHook hook;
        {
            std::lock_guard lock(hookMutex);
            hook = messageBox;
        }
        if (hook)
            hook(text, "Class CSerialLine");
        return 1;
    }

    const bool countsModemLines = lineErrors.Supported();
    int seen = BytesWaiting(fd);  // bytes already reported to the worker
    if (seen > 0) {
        NotifyReceive();
    }
    while (monitorRunning) {
        // Wait for input only while nothing unread is pending; otherwise poll() would
        // report the same waiting bytes again and again.
        const bool awaitInput = seen == 0;
        pollfd fds[2] = {{fd, static_cast<short>(awaitInput ? POLLIN : 0), 0}, {wakeEvent, POLLIN, 0}};
        int timeout = countsModemLines ? kModemPollMs : -1;
        if (!awaitInput || txPending)
            timeout = kPendingPollMs;
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
            seen = unreadAfterRead.load();  // the worker has read: only newer bytes are news
            if (!monitorRunning)
                break;
        }
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // The device is gone; poll() would report it forever. Tell the worker once.
            NotifyLineLost();
            break;
        }

        const int waiting = BytesWaiting(fd);
        if (waiting > seen) {
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
            if (const uint32_t errors = lineErrors.TakeErrors(fd))
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
        target->PostThreadMessage(id, portNumber, lParam);
}

void CSerialLine::NotifyReceive() { Post(WM_SERIAL_RECEIVE, 0); }
void CSerialLine::NotifyCts(bool on) { Post(WM_SERIAL_CTS, on ? 1 : 0); }
void CSerialLine::NotifyDsr(bool on) { Post(WM_SERIAL_DSR, on ? 1 : 0); }
void CSerialLine::NotifyRing() { Post(WM_SERIAL_RING, 0); }
void CSerialLine::NotifyRlsd() { Post(WM_SERIAL_RLSD, 0); }
void CSerialLine::NotifyBreak() { Post(WM_SERIAL_BREAK, 0); }
void CSerialLine::NotifyTxEmpty() { Post(WM_SERIAL_TXEMPTY, 0); }
void CSerialLine::NotifyError(uint32_t errorMask) { Post(WM_SERIAL_ERROR, errorMask); }
void CSerialLine::NotifyLineLost() { Post(WM_SERIAL_LINE_LOST, openCount.load()); }
