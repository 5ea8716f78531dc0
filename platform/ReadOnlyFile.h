#pragma once
#include <string>

// Opens a file for reading its bytes as they are, without waiting (a FIFO without a
// writer would hold the open for ever), without making a terminal the program's own,
// and not handed to programs this one starts. A descriptor for read(), fstat() and
// close(); -1 with errno set on failure. On Windows a device name (COM1, NUL, \\.\COM2)
// is refused unopened, with EINVAL: opening a serial port raises its modem lines.
int OpenReadOnlyFile(const std::string& path);
