#include "cli/CliLibrary.h"

#include "cli/ExecutableFolder.h"

LibraryPaths CliLibraryPaths(const std::string& libOption) {
    return LibraryPaths::Resolve(ExecutableFolder(), libOption, LibraryEnvironment::FromProcess());
}

std::string LibraryHelpLine(const std::string& libOption) {
    return "In use: " + CliLibraryPaths(libOption).Describe() + ".\n";
}
