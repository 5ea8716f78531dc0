#include "platform/AppendFile.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

int OpenAppendFile(const std::string& path) {
    return ::_open(path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

int AppendWhole(int fd, const char* bytes, size_t count) {
    const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    OVERLAPPED whole{};
    const bool locked = h != INVALID_HANDLE_VALUE && LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
    const __int64 before = ::_filelengthi64(fd);
    size_t written = 0;
    int failure = 0;
    while (written < count) {
        const int n = ::_write(fd, bytes + written, static_cast<unsigned>(count - written));
        if (n > 0) {
            written += static_cast<size_t>(n);
            continue;
        }
        failure = n < 0 ? errno : ENOSPC;
        break;
    }
    if (failure == 0 && ::_commit(fd) != 0)
        failure = errno;
    if (failure != 0 && written > 0 && before >= 0)
        ::_chsize_s(fd, before);  // never half a record
    if (locked)
        UnlockFileEx(h, 0, MAXDWORD, MAXDWORD, &whole);
    return failure;
}

void CloseAppendFile(int fd) { ::_close(fd); }
