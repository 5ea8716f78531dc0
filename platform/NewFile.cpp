#include "platform/NewFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/ErrorText.h"

std::string PlaceNewFile(const std::string& temporary, const std::string& path) {
    const int fd = ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        ::close(fd);
    }
    // link() fails when the name is taken meanwhile: that file stays.
    if (::link(temporary.c_str(), path.c_str()) != 0 && errno != EEXIST)
        return ErrorText(errno);
    return "";
}
