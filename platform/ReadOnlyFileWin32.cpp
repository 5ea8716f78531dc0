#include "platform/ReadOnlyFile.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>

#include "platform/DeviceName.h"

int OpenReadOnlyFile(const std::string& path) {
    if (NamesWindowsDevice(path)) {
        errno = EINVAL;
        return -1;
    }
    return ::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}
