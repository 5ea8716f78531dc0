#include "platform/ReadOnlyFile.h"

#include <fcntl.h>

int OpenReadOnlyFile(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY); }
