#include "platform/AppendFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

int OpenAppendFile(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
}

int AppendWhole(int fd, const char* bytes, size_t count) {
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    struct stat before {};
    const bool sized = ::fstat(fd, &before) == 0;
    size_t written = 0;
    int failure = 0;
    while (written < count) {
        const ssize_t n = ::write(fd, bytes + written, count - written);
        if (n > 0) {
            written += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        failure = n < 0 ? errno : ENOSPC;
        break;
    }
    if (failure == 0 && ::fsync(fd) != 0)
        failure = errno;
    if (failure != 0 && written > 0 && sized) {
        // Half a record would make the rest of the file unreadable as lines.
        [[maybe_unused]] const int undone = ::ftruncate(fd, before.st_size);
    }
    ::flock(fd, LOCK_UN);
    return failure;
}

void CloseAppendFile(int fd) { ::close(fd); }
