#pragma once
#include <string>

#include "settings/LibraryPaths.h"

// The library and settings file of this kestrel-cli: beside the executable in a build
// tree, per user for an installed one, or the folder named by --lib (empty: none).
LibraryPaths CliLibraryPaths(const std::string& libOption);
// The help texts' closing line: which library folder and settings file are in use.
std::string LibraryHelpLine(const std::string& libOption);
