#include "platform/WriteOnlyFile.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

int OpenWriteOnlyFile(const std::string& path) {
    return ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}
