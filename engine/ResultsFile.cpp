#include "engine/ResultsFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

bool FirstLineIsARecord(int fd) {
    char first = 0;
    const ssize_t got = ::pread(fd, &first, 1, 0);
    return got == 1 && first == '{';
}

}  // namespace

std::string ResultsFile::PathProblem(const std::string& path, const std::vector<std::string>& inputs) {
    if (path.empty())
        return "no file is named";
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT ? "" : std::strerror(errno);
    for (const std::string& input : inputs) {
        struct stat other {};
        if (::stat(input.c_str(), &other) == 0 && other.st_dev == st.st_dev && other.st_ino == st.st_ino)
            return "it is " + input + ", which this run uses; the results must go to a file of their own";
    }
    if (S_ISDIR(st.st_mode))
        return "it is a folder";
    if (!S_ISREG(st.st_mode))
        return "it is no regular file (a device, a pipe or a socket)";
    if (st.st_size == 0)
        return "";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return std::strerror(errno);
    const bool records = FirstLineIsARecord(fd);
    ::close(fd);
    return records ? "" : "it holds something other than results (its first line is no JSON record); name a new file";
}

std::unique_ptr<ResultsFile> ResultsFile::Open(const std::string& path, std::string& error) {
    // No O_TRUNC, ever: the records of earlier runs stay.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = "it is no regular file";
        return nullptr;
    }
    return std::unique_ptr<ResultsFile>(new ResultsFile(fd, path));
}

ResultsFile::~ResultsFile() { ::close(fd); }

bool ResultsFile::Append(const std::string& line, std::string& error) {
    // Several stations may append to one file: each record goes in whole, alone.
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    struct stat before {};
    const bool sized = ::fstat(fd, &before) == 0;
    size_t written = 0;
    int failure = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(fd, line.data() + written, line.size() - written);
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
    if (failure == 0)
        return true;
    error = std::strerror(failure);
    return false;
}
