#include "sim/pty_line.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace kestrel::sim {

namespace {
// While the slave is closed the master reports a hang-up at once on every poll;
// this is how long the line then waits on its other descriptors instead of spinning.
constexpr std::chrono::milliseconds kHangUpNap{3};

// Waits until one of `fds` is readable or `wait` has passed.
void WaitOn(pollfd* fds, nfds_t count, std::chrono::milliseconds wait) {
    if (count == 0) {
        std::this_thread::sleep_for(wait);
        return;
    }
    ::poll(fds, count, static_cast<int>(wait.count()));
}
}  // namespace

PtyLine::~PtyLine() { Close(); }

bool PtyLine::Open(std::string& error) {
    // A line plugged in again is a new pty; its counts go on from the old one's,
    // so that no mark taken before ever sees them go back.
    Close();
    hung_up_ = false;
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) {
        error = std::string("cannot open a pty: ") + std::strerror(errno);
        return false;
    }
    char name[128];
    int packet = 1;
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0 ||
        ioctl(master_, TIOCPKT, &packet) != 0) {
        error = std::string("cannot set up the pty: ") + std::strerror(errno);
        Close();
        return false;
    }
    slave_path_ = name;
    inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ >= 0) {
        // IN_ACCESS: the tool has read what the board sent, so a reply that gets
        // no answer can be followed by the next without the two meeting in one read.
        watching_ = inotify_add_watch(inotify_, name, IN_CLOSE_WRITE | IN_CLOSE_NOWRITE | IN_ACCESS) >= 0;
    }
    return true;
}

void PtyLine::Close() {
    if (inotify_ >= 0) ::close(inotify_);
    if (master_ >= 0) ::close(master_);
    inotify_ = -1;
    master_ = -1;
    watching_ = false;
}

void PtyLine::TakeLineEvents() {
    if (!watching_) return;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(inotify_, buffer, sizeof buffer);
        if (n <= 0) return;
        for (ssize_t at = 0; at < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buffer + at);
            if (ev->mask & IN_Q_OVERFLOW) {
                // Closes are lost; from here on only the hang-up state is trusted.
                watching_ = false;
                return;
            }
            if (ev->mask & IN_ACCESS) ++tool_reads_;
            // Two closes in a row may arrive as one event; a reopen needs only
            // to know that some close came before its purge.
            if (ev->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) ++closes_;
            at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
    }
}

void PtyLine::NotePurge() {
    // The tool's close returned before its reopen and purge began, so the close
    // event is queued by now even if the last look at the watch missed it.
    TakeLineEvents();
    ++purges_;
    closes_at_last_purge_ = closes_;
}

void PtyLine::ReadAll(std::vector<std::uint8_t>& out) {
    // In packet mode every read starts with a status byte: TIOCPKT_DATA before
    // bytes the tool wrote, or a status of its own such as a purge.
    std::uint8_t buffer[4097];
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            if (buffer[0] == TIOCPKT_DATA) {
                out.insert(out.end(), buffer + 1, buffer + n);
            } else if (buffer[0] & TIOCPKT_FLUSHREAD) {
                NotePurge();
            }
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // EAGAIN: nothing more now. EIO: the slave is closed and what it wrote
        // before closing has all been read.
        return;
    }
}

void PtyLine::Pump(std::chrono::milliseconds wait, std::vector<std::uint8_t>& out, int wake_fd) {
    pollfd fds[3];
    nfds_t count = 0;
    if (master_ >= 0) fds[count++] = {master_, POLLIN | POLLPRI, 0};
    if (inotify_ >= 0) fds[count++] = {inotify_, POLLIN, 0};
    if (wake_fd >= 0) fds[count++] = {wake_fd, POLLIN, 0};
    if (master_ < 0) {
        WaitOn(fds, count, std::min(wait, kHangUpNap));
        return;
    }
    TakeLineEvents();
    const int r = ::poll(fds, count, hung_up_ ? 0 : static_cast<int>(wait.count()));
    const bool hup = r > 0 && (fds[0].revents & (POLLHUP | POLLERR));
    // Hung up and nothing to read: wait on the other descriptors alone, briefly.
    if (hup && !(fds[0].revents & (POLLIN | POLLPRI))) WaitOn(fds + 1, count - 1, std::min(wait, kHangUpNap));
    if (!watching_ && hup && !hung_up_) ++closes_;
    hung_up_ = hup;
    ReadAll(out);
}

std::optional<termios> PtyLine::SlaveSettings() const {
    if (master_ < 0) return std::nullopt;
    termios t{};
    if (tcgetattr(master_, &t) != 0) return std::nullopt;
    return t;
}

bool PtyLine::Write(std::span<const std::uint8_t> bytes) {
    if (master_ < 0) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{master_, POLLOUT, 0};
            if (::poll(&p, 1, 100) > 0 && (p.revents & POLLOUT)) continue;
        }
        return false;
    }
    return true;
}

}  // namespace kestrel::sim
