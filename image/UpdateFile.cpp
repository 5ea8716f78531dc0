#include "image/UpdateFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// 0 when the status is of a regular file, else the error Open gives for it.
int RefusalOf(const struct stat& st) {
    if (S_ISREG(st.st_mode)) return 0;
    return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
}

}  // namespace

UpdateFile::~UpdateFile() { Close(); }

void UpdateFile::Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    size = 0;
}

int UpdateFile::Open(const std::string& path) {
    Close();
    // Judged by name first: opening a serial device raises its modem lines, and
    // opening a pipe waits for a writer.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno;
    if (int refusal = RefusalOf(st)) return refusal;
    // Non-blocking all the same, in case something else stands there by now.
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    int refusal = ::fstat(fd, &st) != 0 ? errno : RefusalOf(st);
    if (refusal != 0) {
        Close();
        return refusal;
    }
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

std::string UpdateFile::OpenProblem(int error) {
    switch (error) {
    case EISDIR: return "it is a folder";
    case EINVAL: return "it is no regular file (a device, a pipe or a socket)";
    default: {
        char buffer[128];
        return ::strerror_r(error, buffer, sizeof buffer);  // the GNU form, safe across threads
    }
    }
}
