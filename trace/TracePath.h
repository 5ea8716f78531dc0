#pragma once
// Where a wire trace may be recorded. A trace is written in place as the run goes, so
// a path typed by mistake would lose what it names: only a new file, an empty file or
// an earlier trace is taken. Everything else (a file that is no trace, a file the run
// itself reads, the line's own device, any device, pipe or folder) is refused before
// any line is opened.
#include <string>
#include <vector>

// "" when `path` may take a trace; else why not, in words that follow the path and a
// colon. `inputs` are the files and devices of the run (update files, loaders, the
// library's files, the line): a trace never replaces one of them, by any name.
std::string TracePathProblem(const std::string& path, const std::vector<std::string>& inputs);

// True when the text begins as every trace begins ("0.000000 NOTE trace began ...").
bool BeginsLikeATrace(const std::string& firstLine);
