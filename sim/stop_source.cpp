#include "sim/stop_source.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace kestrel::sim {

bool StopSource::Requested() const {
    if (flag_.load()) return true;
    if (signal_fd_ < 0) return false;
    pollfd p{signal_fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

StopSignals::StopSignals() {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    if (sigprocmask(SIG_BLOCK, &stops, nullptr) != 0) {
        error_ = std::string("cannot block the stop signals: ") + std::strerror(errno);
        return;
    }
    fd_ = signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0) error_ = std::string("cannot watch for the stop signals: ") + std::strerror(errno);
}

StopSignals::~StopSignals() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace kestrel::sim
