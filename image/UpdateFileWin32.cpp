// Reading one update file on Windows: the C library's descriptor for opening and
// sizing, the system's ReadFile at an offset for reading, as pread() does elsewhere.
#include "image/UpdateFile.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/DeviceName.h"
#include "platform/ErrorText.h"

namespace {

// 0 when the status is of a regular file, else the error Open gives for it.
int RefusalOf(const struct _stat64& st) {
    if ((st.st_mode & _S_IFMT) == _S_IFREG) return 0;
    return (st.st_mode & _S_IFMT) == _S_IFDIR ? EISDIR : EINVAL;
}

}  // namespace

UpdateFile::~UpdateFile() { Close(); }

void UpdateFile::Close() {
    if (fd >= 0) ::_close(fd);
    fd = -1;
    size = 0;
}

int UpdateFile::Open(const std::string& path) {
    Close();
    // Judged by name first: opening a serial device (COM1, \\.\COM1) raises its modem
    // lines, and reading NUL or CON never gives a file.
    if (NamesWindowsDevice(path)) return EINVAL;
    struct _stat64 st {};
    if (::_stat64(path.c_str(), &st) != 0) return errno;
    if (int refusal = RefusalOf(st)) return refusal;
    fd = ::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) return errno;
    int refusal = ::_fstat64(fd, &st) != 0 ? errno : RefusalOf(st);
    if (refusal == 0 && GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) != FILE_TYPE_DISK) refusal = EINVAL;
    if (refusal != 0) {
        Close();
        return refusal;
    }
    size = static_cast<uint64_t>(st.st_size);
    return 0;
}

bool UpdateFile::ReadAt(uint64_t offset, void* dst, size_t count) const {
    const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (file == INVALID_HANDLE_VALUE) return false;
    auto* out = static_cast<uint8_t*>(dst);
    while (count > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD want = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
        DWORD got = 0;
        if (!ReadFile(file, out, want, &got, &at) || got == 0) return false;  // an error, or the file shrank
        out += got;
        offset += got;
        count -= got;
    }
    return true;
}

std::string UpdateFile::OpenProblem(int error) {
    switch (error) {
    case EISDIR: return "it is a folder";
    case EINVAL: return "it is no regular file (a device, a pipe or a socket)";
    default: return ErrorText(error);
    }
}
