#include "serial/OpenErrors.h"

#include <cerrno>
#include <cstring>

std::string DescribeOpenError(int error) {
    switch (error) {
    case EBUSY:
    case EWOULDBLOCK:
        return "held by another program (close the other serial program or console first)";
    case EACCES:
    case EPERM:
        return "permission denied (join the 'dialout' group: sudo usermod -aG dialout $USER, "
               "then log in again)";
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return "no such device (is the adapter plugged in?)";
    default:
        return std::strerror(error);
    }
}
