#include "cli/TypedLines.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

#include "cli/Interrupts.h"

TypedLines::TypedLines(int input) : fd(input) {
    stopEvent = eventfd(0, EFD_CLOEXEC);
    const InterruptsHeldBack quiet;  // Ctrl-C is the main thread's business
    reader = std::thread([this] { Read(); });
}

TypedLines::~TypedLines() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopEvent, &one, sizeof one);
    reader.join();
    ::close(stopEvent);
}

std::optional<std::string> TypedLines::Next() {
    std::lock_guard lock(mutex);
    if (lines.empty())
        return std::nullopt;
    std::string line = std::move(lines.front());
    lines.pop_front();
    return line;
}

bool TypedLines::Ended() {
    std::lock_guard lock(mutex);
    return ended && lines.empty();
}

void TypedLines::Keep(std::string line) {
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    std::lock_guard lock(mutex);
    lines.push_back(std::move(line));
}

void TypedLines::Read() {
    std::string partial;
    for (;;) {
        pollfd watched[2] = {{fd, POLLIN, 0}, {stopEvent, POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (watched[1].revents != 0)
            return;  // the console has ended; nothing more is wanted
        char buffer[4096];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            break;
        partial.append(buffer, static_cast<size_t>(got));
        for (size_t end; (end = partial.find('\n')) != std::string::npos;) {
            Keep(partial.substr(0, end));
            partial.erase(0, end + 1);
        }
    }
    // The input has ended: an unfinished last line still counts.
    if (!partial.empty())
        Keep(std::move(partial));
    std::lock_guard lock(mutex);
    ended = true;
}
