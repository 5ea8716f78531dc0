#include "platform/FileFacts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

FileFacts LookAtFile(const std::string& path) {
    FileFacts facts;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return facts;
    facts.exists = true;
    facts.folder = S_ISDIR(st.st_mode);
    facts.regular = S_ISREG(st.st_mode);
    facts.size = static_cast<uint64_t>(st.st_size);
    facts.volume = static_cast<uint64_t>(st.st_dev);
    facts.index = static_cast<uint64_t>(st.st_ino);
    return facts;
}

bool SameFile(const FileFacts& a, const FileFacts& b) {
    return a.exists && b.exists && a.volume == b.volume && a.index == b.index;
}

std::string FileStart(const std::string& path, size_t count) {
    // Non-blocking all the same, in case something else stands there by now.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return {};
    std::vector<char> buffer(count);
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    ::close(fd);
    return got > 0 ? std::string(buffer.data(), static_cast<size_t>(got)) : std::string();
}
