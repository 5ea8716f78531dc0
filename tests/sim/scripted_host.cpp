#include "tests/sim/scripted_host.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace kestrel::sim::test {

namespace {
using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point until) {
    const auto left = std::chrono::duration_cast<Ms>(until - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}
}  // namespace

bool ScriptedHost::Open(speed_t speed, bool raw) {
    Close();
    fd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    // Waiting for the lock: a program that tries the device while this host is
    // between a close and its reopen holds the lock only for a moment.
    if (exclusive_ && flock(fd_, LOCK_EX) != 0) {
        Close();
        return false;
    }
    termios t{};
    tcgetattr(fd_, &t);
    if (raw) {
        cfmakeraw(&t);
    } else {
        // A line left in terminal mode: it edits, echoes and translates.
        t.c_lflag |= ICANON | ECHO | ISIG;
        t.c_iflag |= ICRNL;
        t.c_oflag |= OPOST | ONLCR;
    }
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcsetattr(fd_, TCSANOW, &t);
    // Input only: on a pty, an output purge also drops what the board has not
    // read yet of what this host wrote before its last close.
    tcflush(fd_, TCIFLUSH);
    return true;
}

void ScriptedHost::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool ScriptedHost::Write(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else if (!(n < 0 && errno == EINTR)) {
            return false;
        }
    }
    return true;
}

bool ScriptedHost::Write(const std::string& text) {
    return Write(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

Bytes ScriptedHost::Read(std::size_t count, Ms timeout) {
    Bytes out;
    const auto until = Clock::now() + timeout;
    while (out.size() < count) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, MsLeft(until)) <= 0) break;
        if (!(p.revents & POLLIN)) break;  // hang-up without data
        std::uint8_t buffer[4096];
        const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - out.size()));
        if (n <= 0) break;
        out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}

std::string ScriptedHost::ReadUntil(const std::string& needle, Ms timeout) {
    std::string text;
    const auto until = Clock::now() + timeout;
    while (text.find(needle) == std::string::npos && Clock::now() < until) {
        const Bytes more = Read(4096, Ms{std::min(50, MsLeft(until))});
        text.append(more.begin(), more.end());
    }
    return text;
}

bool ScriptedHost::HungUp() {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR));
}

std::size_t ScriptedHost::Queued() {
    int n = 0;
    return fd_ >= 0 && ioctl(fd_, FIONREAD, &n) == 0 && n > 0 ? static_cast<std::size_t>(n) : 0;
}

Bytes ScriptedHost::Leftover() {
    Close();
    fd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    Bytes out;
    std::uint8_t buffer[4096];
    ssize_t n;
    while (fd_ >= 0 && (n = ::read(fd_, buffer, sizeof buffer)) > 0) out.insert(out.end(), buffer, buffer + n);
    Close();
    return out;
}

namespace {
// 2048-byte writes as the tool makes them, with its pause (shortened) after each.
void WritePaced(ScriptedHost& host, const Bytes& bytes, Ms pause) {
    for (std::size_t at = 0; at < bytes.size(); at += 2048) {
        const std::size_t n = std::min<std::size_t>(2048, bytes.size() - at);
        host.Write(std::span<const std::uint8_t>(bytes.data() + at, n));
        std::this_thread::sleep_for(pause);
    }
}

// The board's next reply, or nothing once the board has hung up or gone quiet.
std::optional<std::uint8_t> NextReply(ScriptedHost& host, const BoardQuiet& quiet, Ms limit) {
    const auto until = Clock::now() + limit;
    while (Clock::now() < until) {
        // Asked before the read: a quiet board wrote its last byte before it
        // said so. The short wait lets that byte through the pty.
        const bool done = quiet && quiet();
        const Bytes r = host.Read(1, done ? Ms{50} : Ms{20});
        if (!r.empty()) return r[0];
        if (done || host.HungUp()) return std::nullopt;
    }
    return std::nullopt;
}
}  // namespace

std::string RunHostUpdate(ScriptedHost& host, const HostPlan& plan, const BoardQuiet& quiet, Ms reply_timeout) {
    std::string replies;
    if (!host.Open(plan.operatorSpeed)) return "open failed";
    host.Write(Bytes(16, 0xFF));
    host.Open(plan.bootSpeed);
    for (;;) {
        const auto next = NextReply(host, quiet, reply_timeout);
        if (!next) return replies;
        const std::uint8_t reply = *next;
        replies.push_back(static_cast<char>(reply));
        switch (reply) {
            case 'W': {
                Bytes block;
                if (plan.loader1Wire) {
                    block = *plan.loader1Wire;
                } else {
                    block.assign(2049, 0x00);
                    block[0] = 0x18;
                    std::copy(plan.loader1File.begin() + 4, plan.loader1File.end() - 1, block.begin() + 1);
                }
                host.Write(block);
                std::this_thread::sleep_for(plan.pause);
                host.Open(B115200);
                break;
            }
            case 'Z': {
                const auto end = plan.loader2WithTrailer ? plan.loader2File.end() : plan.loader2File.end() - 1;
                WritePaced(host, Bytes(plan.loader2File.begin(), end), plan.pause);
                break;
            }
            case 'S': host.Write(plan.header); break;
            case 'D': host.Open(B115200); return replies;
            default: {
                const auto it = plan.data.find(reply);
                if (it != plan.data.end()) WritePaced(host, it->second, plan.pause);
                break;
            }
        }
        if (plan.returnAfter == reply) return replies;
    }
}

Bytes MakeHeader(std::uint32_t code_area, std::uint32_t font_area, std::uint32_t bitmap_area, std::uint32_t logo_area,
                 std::uint32_t code, std::uint32_t font, std::uint32_t bitmap, std::uint32_t logo, std::uint32_t map,
                 std::uint32_t reserve) {
    Bytes out;
    for (std::uint32_t w : {code_area, font_area, bitmap_area, logo_area, code, font, bitmap, logo, map, reserve}) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
    }
    return out;
}

Bytes Pattern(std::size_t n, std::uint8_t seed) {
    Bytes out(n);
    std::uint32_t x = 0x9E3779B9u ^ seed;
    for (auto& b : out) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return out;
}

}  // namespace kestrel::sim::test
