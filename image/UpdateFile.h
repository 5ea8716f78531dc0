#pragma once
// Read access to one update file: opened once, sized once, read by offset, so that
// a file can be judged by its size and last bytes before any buffer is touched.

#include <cstddef>
#include <cstdint>
#include <string>

class UpdateFile {
public:
    UpdateFile() = default;
    ~UpdateFile();
    UpdateFile(const UpdateFile&) = delete;
    UpdateFile& operator=(const UpdateFile&) = delete;

    // 0 on success, else an errno value. Only regular files are taken: a device or
    // a pipe named like an update file would block or never end.
    int Open(const std::string& path);
    uint64_t Size() const { return size; }
    // Reads exactly `count` bytes at `offset`; false on any error or short read.
    bool ReadAt(uint64_t offset, void* dst, size_t count) const;

private:
    int fd = -1;
    uint64_t size = 0;
};

// Writes `size` bytes to `path` so that the path holds either its old content or
// the whole new content, never a part: the bytes go to a temporary file beside it,
// which is then renamed over the path. Returns "" on success, else the cause.
std::string WriteFileReplacing(const std::string& path, const uint8_t* data, size_t size);
