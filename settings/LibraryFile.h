#pragma once
// The files of the library folder (loaders, settings) are read with the checks every
// file the tool reads gets: only a regular file is taken, and only up to a size that
// such a file can sensibly have, so that a folder, a device or a runaway file named
// like one gives a clear refusal instead of a blocked or exhausted worker.
#include <cstdint>
#include <string>
#include <vector>

struct LibraryFileRead {
    bool missing = false;  // there is no file of that name
    std::string problem;   // why the file cannot be used, in plain words; empty once read
    bool Ok() const { return problem.empty(); }
};

// Reads the regular file at `path`, at most maxBytes long, whole into `bytes`.
LibraryFileRead ReadLibraryFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& bytes);
