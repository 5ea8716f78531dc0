#include "platform/WriteOnlyFile.h"

#include <fcntl.h>

int OpenWriteOnlyFile(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0644);
}
