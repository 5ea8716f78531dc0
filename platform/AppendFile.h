#pragma once
#include <cstddef>
#include <string>

// A file that records are appended to, one whole record at a time: opened for
// appending (made if missing, never emptied), not handed to programs this one starts.
// A descriptor; -1 with errno set on failure.
int OpenAppendFile(const std::string& path);
// Appends the bytes whole, under a lock that other programs appending to the same file
// respect, and waits until they are on the disk. 0, or the errno of why not: the file
// is then as it was, without part of the record.
int AppendWhole(int fd, const char* bytes, size_t count);
void CloseAppendFile(int fd);
