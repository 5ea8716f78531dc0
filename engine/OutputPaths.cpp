#include "engine/OutputPaths.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/AppendFile.h"
#include "platform/FileFacts.h"

std::string LogPathProblem(const std::string& path, const std::vector<std::string>& inputs) {
    const FileFacts facts = LookAtFile(path);
    if (!facts.exists)
        return "";  // a new log (a folder that cannot take it shows when it is made)
    for (const std::string& input : inputs) {
        if (SameFile(LookAtFile(input), facts))
            return "it is " + input + ", which this run reads; a log would overwrite it";
    }
    if (facts.folder)
        return "it is a folder";
    if (!facts.regular)
        return "it is no regular file (a device, a pipe or a socket)";
    return "";
}

std::string FolderProblem(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        return error.message();
    if (!std::filesystem::is_directory(folder))
        return "it is not a folder";
    if (access(folder.c_str(), W_OK | X_OK) != 0)
        return "you may not write in it";
    return "";
}

std::string AppendToLog(const std::string& path, const std::string& text) {
    const int fd = OpenAppendFile(path);
    if (fd < 0)
        return std::strerror(errno);
    std::string why;
    if (!LookAtFile(path).regular)
        why = "it is no regular file";
    else if (const int failure = AppendWhole(fd, text.data(), text.size()); failure != 0)
        why = std::strerror(failure);
    CloseAppendFile(fd);
    return why;
}
