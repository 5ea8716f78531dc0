#include "sim/pty_line.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace kestrel::sim {

namespace {
// While the slave is closed the master reports a hang-up at once on every poll;
// this is how long the line then sleeps instead of spinning.
constexpr std::chrono::milliseconds kHangUpNap{3};
}  // namespace

PtyLine::~PtyLine() { Close(); }

bool PtyLine::Open(std::string& error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) {
        error = std::string("cannot open a pty: ") + std::strerror(errno);
        return false;
    }
    char name[128];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0) {
        error = std::string("cannot set up the pty: ") + std::strerror(errno);
        Close();
        return false;
    }
    slave_path_ = name;
    inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ >= 0) {
        // IN_ACCESS: the tool has read what the board sent, so a reply that gets
        // no answer can be followed by the next without the two meeting in one read.
        watching_ = inotify_add_watch(inotify_, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE | IN_ACCESS) >= 0;
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

bool PtyLine::SlaveOpen() const {
    if (watching_) return open_files_ > 0;
    return !hung_up_;
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
                // Counts are lost; from here on only the hang-up state is trusted.
                watching_ = false;
                return;
            }
            if (ev->mask & IN_OPEN) {
                ++open_files_;
                ++opens_;
            }
            if (ev->mask & IN_ACCESS) ++tool_reads_;
            if (ev->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                open_files_ = std::max<std::int64_t>(0, open_files_ - 1);
                ++closes_;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
    }
}

void PtyLine::ReadAll(std::vector<std::uint8_t>& out) {
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            out.insert(out.end(), buffer, buffer + n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // EAGAIN: nothing more now. EIO: the slave is closed and what it wrote
        // before closing has all been read.
        return;
    }
}

void PtyLine::Pump(std::chrono::milliseconds wait, std::vector<std::uint8_t>& out) {
    if (master_ < 0) {
        std::this_thread::sleep_for(std::min(wait, std::chrono::milliseconds(kHangUpNap)));
        return;
    }
    TakeLineEvents();
    pollfd fds[2] = {{master_, POLLIN, 0}, {inotify_, POLLIN, 0}};
    const nfds_t count = inotify_ >= 0 ? 2 : 1;
    int r = ::poll(fds, count, hung_up_ ? 0 : static_cast<int>(wait.count()));
    bool hup = r > 0 && (fds[0].revents & (POLLHUP | POLLERR));
    if (hup && !(fds[0].revents & POLLIN)) {
        // Hung up and nothing to read: wait on the watch alone, briefly.
        const auto nap = std::min(wait, std::chrono::milliseconds(kHangUpNap));
        if (inotify_ >= 0) {
            pollfd watch{inotify_, POLLIN, 0};
            ::poll(&watch, 1, static_cast<int>(nap.count()));
        } else {
            std::this_thread::sleep_for(nap);
        }
    }
    if (!watching_ && hup != hung_up_) ++(hup ? closes_ : opens_);
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
