#include "trace/TracePath.h"

#include <cctype>

#include "platform/FileFacts.h"

namespace {

constexpr const char* kTraceStart = " NOTE trace began ";
// Enough of a file to see its first line.
constexpr size_t kFirstLineBytes = 128;

std::string FirstLine(const std::string& path) {
    const std::string text = FileStart(path, kFirstLineBytes);
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
    const FileFacts facts = LookAtFile(path);
    if (!facts.exists)
        return "";  // a new file (a folder that is missing shows when it is made)
    for (const std::string& input : inputs) {
        if (SameFile(LookAtFile(input), facts))
            return "it is " + input + ", which this run reads; a trace would overwrite it";
    }
    if (facts.folder)
        return "it is a folder";
    if (!facts.regular)
        return "it is no regular file (a device, a pipe or a socket)";
    if (facts.size == 0 || BeginsLikeATrace(FirstLine(path)))
        return "";
    return "it is a file that holds something other than a wire trace, and a trace would replace it; name a new file";
}
