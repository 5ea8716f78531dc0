#include "platform/TypedLines.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Interrupts.h"

struct TypedLines::Reader {
    int stopEvent = -1;
    std::thread thread;
};

namespace {

void Read(int fd, int stopEvent, TypedLines::Lines& shared) {
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
        shared.Take(partial, buffer, static_cast<size_t>(got));
    }
    shared.End(partial);
}

}  // namespace

TypedLines::TypedLines(int fd) : shared(std::make_shared<Lines>()), reader(std::make_shared<Reader>()) {
    reader->stopEvent = eventfd(0, EFD_CLOEXEC);
    const InterruptsHeldBack quiet;  // Ctrl-C is the main thread's business
    reader->thread = std::thread([fd, stop = reader->stopEvent, lines = shared] { Read(fd, stop, *lines); });
}

TypedLines::~TypedLines() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(reader->stopEvent, &one, sizeof one);
    reader->thread.join();
    ::close(reader->stopEvent);
}
