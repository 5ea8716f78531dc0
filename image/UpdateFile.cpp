#include "image/UpdateFile.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

UpdateFile::~UpdateFile() {
    if (fd >= 0) ::close(fd);
}

int UpdateFile::Open(const std::string& path) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat st {};
    if (::fstat(fd, &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    size = static_cast<uint64_t>(st.st_size);
    return 0;
}

bool UpdateFile::ReadAt(uint64_t offset, void* dst, size_t count) const {
    auto* out = static_cast<uint8_t*>(dst);
    while (count > 0) {
        ssize_t got = ::pread(fd, out, count, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;  // an error, or the file shrank under us
        out += got;
        offset += static_cast<uint64_t>(got);
        count -= static_cast<size_t>(got);
    }
    return true;
}

namespace {

std::string ErrnoText(int code) {
    char buffer[128];
    return ::strerror_r(code, buffer, sizeof buffer);  // the GNU form, safe across threads
}

std::string TemporaryNameBeside(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return path + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t put = ::write(fd, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

}  // namespace

std::string WriteFileReplacing(const std::string& path, const uint8_t* data, size_t size) {
    const std::string temporary = TemporaryNameBeside(path);
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return ErrnoText(errno);
    // The data must be on disk before the rename makes it the file of that name,
    // or a crash could leave an empty file where a good one stood.
    bool written = WriteAll(fd, data, size) && ::fsync(fd) == 0;
    int cause = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        cause = errno;
    }
    if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return "";
    if (written) cause = errno;
    ::unlink(temporary.c_str());
    return ErrnoText(cause);
}
