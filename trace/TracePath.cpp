#include "trace/TracePath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>

namespace {

constexpr const char* kTraceStart = " NOTE trace began ";
// Enough of a file to see its first line.
constexpr size_t kFirstLineBytes = 128;

std::string FirstLine(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return {};
    char buffer[kFirstLineBytes];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (got <= 0)
        return {};
    std::string text(buffer, static_cast<size_t>(got));
    return text.substr(0, text.find('\n'));
}

}  // namespace

bool BeginsLikeATrace(const std::string& line) {
    // Seconds with six decimals, then the note every recording starts with.
    size_t i = 0;
    while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])))
        ++i;
    if (i == 0 || i >= line.size() || line[i] != '.')
        return false;
    const size_t point = i++;
    while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])))
        ++i;
    return i - point == 7 && line.compare(i, std::string(kTraceStart).size(), kTraceStart) == 0;
}

std::string TracePathProblem(const std::string& path, const std::vector<std::string>& inputs) {
    if (path.empty())
        return "no file is named";
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return "";  // a new file (a folder that is missing shows when it is made)
    for (const std::string& input : inputs) {
        struct stat other {};
        if (::stat(input.c_str(), &other) == 0 && other.st_dev == st.st_dev && other.st_ino == st.st_ino)
            return "it is " + input + ", which this run reads; a trace would overwrite it";
    }
    if (S_ISDIR(st.st_mode))
        return "it is a folder";
    if (!S_ISREG(st.st_mode))
        return "it is no regular file (a device, a pipe or a socket)";
    if (st.st_size == 0 || BeginsLikeATrace(FirstLine(path)))
        return "";
    return "it is a file that holds something other than a wire trace, and a trace would replace it; name a new file";
}
