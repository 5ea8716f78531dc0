// kestrel-null-modem: pairs of pseudo-terminals joined as by a null-modem cable, for
// the Windows line's tests under Wine. Each pair's two ptys are mapped to two COM
// ports; what one port sends, the other receives.
//
//   kestrel-null-modem KIND...      KIND is "cable" or "hangup"
//
// Prints the two device paths of each pair on a line of its own, then relays until
// its standard input ends. A "hangup" pair has no far end that answers: the first byte
// sent on its second port hangs up its first port for good, as a pulled adapter does.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct End {
    int master = -1;
    int slave = -1;  // held open, so that the line does not hang up before it is opened
    std::string path;
};

bool Make(End& end) {
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    cfsetispeed(&raw, B115200);
    cfsetospeed(&raw, B115200);
    if (openpty(&end.master, &end.slave, name, &raw, nullptr) != 0)
        return false;
    end.path = name;
    fcntl(end.master, F_SETFL, fcntl(end.master, F_GETFL) | O_NONBLOCK);
    return true;
}

void Hangup(End& end) {
    if (end.master >= 0)
        ::close(end.master);
    if (end.slave >= 0)
        ::close(end.slave);
    end.master = end.slave = -1;
}

// Everything, or as much as the far end takes before it stops reading.
void Relay(int from, int to) {
    char buffer[4096];
    const ssize_t got = ::read(from, buffer, sizeof buffer);
    for (ssize_t done = 0; got > 0 && done < got;) {
        const ssize_t n = ::write(to, buffer + done, static_cast<size_t>(got - done));
        if (n > 0) {
            done += n;
            continue;
        }
        pollfd out{to, POLLOUT, 0};
        if (poll(&out, 1, 1000) <= 0)
            break;
    }
}

}  // namespace

int main(int argc, char** argv) {
    struct Pair {
        bool hangup;
        End a, b;
    };
    std::vector<Pair> pairs;
    for (int i = 1; i < argc; ++i) {
        const std::string kind = argv[i];
        if (kind != "cable" && kind != "hangup") {
            std::fprintf(stderr, "usage: kestrel-null-modem (cable|hangup)...\n");
            return 2;
        }
        Pair p{kind == "hangup", {}, {}};
        if (!Make(p.a) || !Make(p.b)) {
            std::perror("openpty");
            return 1;
        }
        std::printf("%s %s\n", p.a.path.c_str(), p.b.path.c_str());
        pairs.push_back(p);
    }
    std::fflush(stdout);

    for (;;) {
        std::vector<pollfd> watched{{STDIN_FILENO, POLLIN, 0}};
        for (const auto& p : pairs) {
            watched.push_back({p.a.master, static_cast<short>(p.a.master >= 0 ? POLLIN : 0), 0});
            watched.push_back({p.b.master, static_cast<short>(p.b.master >= 0 ? POLLIN : 0), 0});
        }
        if (poll(watched.data(), watched.size(), -1) < 0)
            continue;
        if (watched[0].revents) {
            char c;
            if (::read(STDIN_FILENO, &c, 1) <= 0)
                return 0;
        }
        for (size_t i = 0; i < pairs.size(); ++i) {
            Pair& p = pairs[i];
            const short fromA = watched[1 + 2 * i].revents;
            const short fromB = watched[2 + 2 * i].revents;
            if (p.hangup) {
                if (fromB & POLLIN) {
                    char drop[4096];
                    [[maybe_unused]] const ssize_t n = ::read(p.b.master, drop, sizeof drop);
                    Hangup(p.a);
                }
                if (fromA & POLLIN) {
                    char drop[4096];
                    [[maybe_unused]] const ssize_t n = ::read(p.a.master, drop, sizeof drop);
                }
                continue;
            }
            if (fromA & POLLIN)
                Relay(p.a.master, p.b.master);
            if (fromB & POLLIN)
                Relay(p.b.master, p.a.master);
        }
    }
}
