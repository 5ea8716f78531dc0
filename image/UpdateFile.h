#pragma once
// Reading one update file (or loader, or settings file): opened once, sized once,
// read by offset, so that a file can be judged by its size and last bytes before any
// buffer is touched.

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
