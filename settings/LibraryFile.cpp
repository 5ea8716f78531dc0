#include "settings/LibraryFile.h"

#include <cerrno>
#include <cstring>

#include "image/UpdateFile.h"
#include "platform/ErrorText.h"

namespace {

std::string DescribeOpenFailure(int error) {
    switch (error) {
    case ENOENT: return "no such file";
    case EISDIR: return "is a folder, not a file";
    case EINVAL: return "is not a regular file (a device, a pipe or a socket)";
    case EACCES: return "permission denied";
    default: return ErrorText(error);
    }
}

}  // namespace

LibraryFileRead ReadLibraryFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& bytes) {
    LibraryFileRead result;
    bytes.clear();
    UpdateFile file;
    if (const int error = file.Open(path); error != 0) {
        result.missing = error == ENOENT;
        result.problem = DescribeOpenFailure(error);
        return result;
    }
    if (file.Size() > maxBytes) {
        result.problem = "is " + std::to_string(file.Size()) + " bytes long, more than the " +
                         std::to_string(maxBytes) + " bytes such a file may have";
        return result;
    }
    bytes.resize(static_cast<size_t>(file.Size()));
    if (!file.ReadAt(0, bytes.data(), bytes.size())) {
        bytes.clear();
        result.problem = "could not be read whole (did it change while it was read?)";
    }
    return result;
}
