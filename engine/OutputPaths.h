#pragma once
// The files a run writes beside the board: its logs and the folders that hold them.
// Each check answers "" when all is well, else what to tell the operator.
#include <string>
#include <vector>

// Why a log may not be written at `path`: it is one of the run's inputs, or something
// other than a file a log replaces (a folder, a device, a pipe); "" otherwise.
std::string LogPathProblem(const std::string& path, const std::vector<std::string>& inputs);

// A folder the run writes in, made when missing; "" or why it cannot be used.
std::string FolderProblem(const std::string& folder);

// Appends `text` to the log at `path` (made when missing); "" or why it could not.
std::string AppendToLog(const std::string& path, const std::string& text);
