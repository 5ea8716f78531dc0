#pragma once
#include <string>

// Gives the finished file `temporary` the name `path`, unless a file of that name
// exists by now: then the other one stays, as if it had been made first, and
// `temporary` is left for the caller to remove. The data is on disk before the file
// takes its name. "" on success and when the name was taken, else the cause.
std::string PlaceNewFile(const std::string& temporary, const std::string& path);
