#pragma once
// A pseudo-terminal pair for tests: the code under test opens the slave by its path,
// the test plays the far end on the master.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

class TestPty {
public:
    TestPty() {
        int slave = -1;
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        path = name;
        ::close(slave);  // the code under test opens the slave itself
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~TestPty() { CloseMaster(); }
    TestPty(const TestPty&) = delete;
    TestPty& operator=(const TestPty&) = delete;

    const std::string& SlavePath() const { return path; }
    int Master() const { return master; }
    void CloseMaster() {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

    void Send(const std::vector<uint8_t>& bytes) const {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else
                WaitFor(POLLOUT, 50);
        }
    }
    void Send(const std::string& text) const { Send(std::vector<uint8_t>(text.begin(), text.end())); }

    // Reads what the slave side wrote until `count` bytes came or `timeoutMs` passed.
    std::vector<uint8_t> Receive(size_t count, int timeoutMs = 2000) const {
        std::vector<uint8_t> got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
            uint8_t buf[4096];
            const ssize_t n = ::read(master, buf, std::min(sizeof buf, count - got.size()));
            if (n > 0)
                got.insert(got.end(), buf, buf + n);
            else
                WaitFor(POLLIN, 5);
        }
        return got;
    }

    // The slave's line settings, as the far end sees them.
    termios Settings() const {
        termios tio{};
        tcgetattr(master, &tio);
        return tio;
    }

private:
    void WaitFor(short events, int ms) const {
        pollfd p{master, events, 0};
        if (poll(&p, 1, ms) > 0 && (p.revents & POLLHUP))
            usleep(ms * 1000);  // no slave open: poll would return at once
    }

    int master = -1;
    std::string path;
};
