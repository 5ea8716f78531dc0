#include "engine/ResultsFile.h"

#include <cerrno>
#include <cstring>

#include "platform/AppendFile.h"
#include "platform/FileFacts.h"

std::string ResultsFile::PathProblem(const std::string& path, const std::vector<std::string>& inputs) {
    if (path.empty())
        return "no file is named";
    const FileFacts file = LookAtFile(path);
    if (!file.exists)
        return "";  // a new file (a folder that is missing shows when it is made)
    for (const std::string& input : inputs) {
        if (SameFile(file, LookAtFile(input)))
            return "it is " + input + ", which this run uses; the results must go to a file of their own";
    }
    if (file.folder)
        return "it is a folder";
    if (!file.regular)
        return "it is no regular file (a device, a pipe or a socket)";
    if (file.size == 0 || FileStart(path, 1) == "{")
        return "";
    return "it holds something other than results (its first line is no JSON record); name a new file";
}

std::unique_ptr<ResultsFile> ResultsFile::Open(const std::string& path, std::string& error) {
    // Appended to, never emptied: the records of earlier runs stay.
    const int fd = OpenAppendFile(path);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    if (!LookAtFile(path).regular) {
        CloseAppendFile(fd);
        error = "it is no regular file";
        return nullptr;
    }
    return std::unique_ptr<ResultsFile>(new ResultsFile(fd, path));
}

ResultsFile::~ResultsFile() { CloseAppendFile(fd); }

bool ResultsFile::Append(const std::string& line, std::string& error) {
    const int failure = AppendWhole(fd, line.data(), line.size());
    if (failure == 0)
        return true;
    error = std::strerror(failure);
    return false;
}
