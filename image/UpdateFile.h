#pragma once
// Files in and out. Reading: one update file (or loader, or settings file) opened
// once, sized once, read by offset, so that a file can be judged by its size and
// last bytes before any buffer is touched. Writing: whole files that replace the
// old ones in one step.

#include <cstddef>
#include <cstdint>
#include <string>

class UpdateFile {
public:
    UpdateFile() = default;
    ~UpdateFile();
    UpdateFile(const UpdateFile&) = delete;
    UpdateFile& operator=(const UpdateFile&) = delete;

    // 0 on success, else an errno value: EISDIR for a folder, EINVAL for anything
    // else that is no regular file. A device or a pipe named like an update file
    // would block or never end, so neither is even opened for reading.
    int Open(const std::string& path);
    uint64_t Size() const { return size; }
    // Reads exactly `count` bytes at `offset`; false on any error or short read.
    bool ReadAt(uint64_t offset, void* dst, size_t count) const;

    // What an error of Open means, for a message: "it is a folder", ...
    static std::string OpenProblem(int error);

private:
    void Close();
    int fd = -1;
    uint64_t size = 0;
};

// Writes `size` bytes to `path` so that the path holds either its old content or
// the whole new content, never a part: the bytes go to a temporary file beside it,
// which is synced and then renamed over the path. A link is followed and its
// target replaced; a device, pipe or folder is refused and left as it is. A new
// file gets the mode any program gives (0666 less the umask), a replaced one
// keeps its own. Returns "" on success, else the cause.
std::string WriteFileReplacing(const std::string& path, const uint8_t* data, size_t size);

// Writes two files that belong together (a program and its header) so that both
// are replaced or neither is: a failure leaves both old files as they were.
// Returns "" on success, else the cause, beginning with the path it concerns.
std::string WriteFilePairReplacing(const std::string& firstPath, const uint8_t* firstData, size_t firstSize,
                                   const std::string& secondPath, const uint8_t* secondData, size_t secondSize);
