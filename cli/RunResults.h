#pragma once
#include "engine/StationPlan.h"
// The results file of an update or an erase (--results FILE): checked before any board
// is touched, and one record per board appended as its run ends (the file is made
// with the first), in the station's schema. The boards of a run on several lines
// record from their own threads.
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "engine/BoardResult.h"
#include "engine/ResultsFile.h"
#include "engine/RunVerdict.h"

class RunResults {
public:
    // "" when `path` may take the results, given what the run reads; else why not.
    static std::string PathProblem(const std::string& path, const std::vector<std::string>& inputs) {
        return ResultsFile::PathProblem(path, inputs);
    }
    explicit RunResults(std::string path) : path(std::move(path)) {}

    // The update files, hashed before they are loaded; FilesUnchanged() after: a file
    // that changed meanwhile would be named by a hash of something never flashed.
    // Each false after saying why on `err`.
    bool NameFiles(const std::vector<std::string>& files, std::ostream& err);
    bool FilesUnchanged(std::ostream& err) const;
    // Appends the record of one board's run (an update or an erase); false after
    // saying why, and the record itself, on `err`.
    bool Record(const RunVerdict& verdict, ExchangeProgress::Kind kind, unsigned port, const std::string& device,
                int crystalIndex, std::ostream& err);

private:
    std::string path;
    std::mutex mutex;  // the file and the count
    std::unique_ptr<ResultsFile> file;
    std::vector<FileDigest> files;
    unsigned boards = 0;
};

