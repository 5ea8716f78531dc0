#pragma once
// What a path names, found without opening it for reading or writing: a device is
// never opened, so looking at one raises no modem line.
#include <cstddef>
#include <cstdint>
#include <string>

struct FileFacts {
    bool exists = false;
    bool folder = false;
    bool regular = false;  // a plain file: neither a folder nor a device, pipe or socket
    uint64_t size = 0;
    // The file itself, whatever name reaches it: device and inode, or volume and index.
    uint64_t volume = 0;
    uint64_t index = 0;
};

FileFacts LookAtFile(const std::string& path);
// Both name one existing file (by any names: links, other spellings).
bool SameFile(const FileFacts& a, const FileFacts& b);
// The first `count` bytes of a regular file (fewer when it is shorter); "" when it
// cannot be read.
std::string FileStart(const std::string& path, size_t count);
