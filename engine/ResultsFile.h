#pragma once
// A results file: one JSON object per line, appended as each board ends and on the
// disk before the next board is woken, so that a crash or a power cut loses no
// finished record. A record that cannot be written whole (a full disk) is taken back
// out, so the file never holds half a line, and the writer says so at once.
#include <memory>
#include <string>
#include <vector>

class ResultsFile {
public:
    // "" when `path` may take results: a new file, an empty one, or one whose first
    // line is a record; never one of `inputs` (the update files, loaders, library
    // files, devices, traces and logs of the run), by any name.
    static std::string PathProblem(const std::string& path, const std::vector<std::string>& inputs);
    // Opens (or creates) the file for appending; null with the reason in `error`.
    static std::unique_ptr<ResultsFile> Open(const std::string& path, std::string& error);
    ~ResultsFile();
    ResultsFile(const ResultsFile&) = delete;
    ResultsFile& operator=(const ResultsFile&) = delete;

    // Appends one whole line and waits until it is on the disk. False with the reason
    // in `error` when it is not; the file is then as it was before.
    bool Append(const std::string& line, std::string& error);
    const std::string& Path() const { return path; }

private:
    ResultsFile(int fd, std::string path) : fd(fd), path(std::move(path)) {}
    const int fd;
    const std::string path;
};
