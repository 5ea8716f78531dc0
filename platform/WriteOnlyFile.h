#pragma once
#include <string>

// Opens a file for writing from its start (made if missing, emptied if there), for
// bytes as they are, with no line-end translation, and not handed to programs this
// one starts. A descriptor for write() and close(); -1 with errno set on failure.
int OpenWriteOnlyFile(const std::string& path);
