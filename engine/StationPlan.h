#pragma once
// What every station front end makes sure of and sets up before its station starts:
// the outputs it will write (results file, log folder, trace folder) found usable and
// never one of the station's inputs, the update files' digests taken around their one
// loading, and the pieces of the setup that find library files, record wire traces
// and keep each board's log. The command line and the window both build their station
// from these.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "digest/Sha256.h"
#include "engine/BoardResult.h"
#include "engine/SharedState.h"
#include "engine/Station.h"
#include "settings/LibraryPaths.h"

class WireTrace;

// Every path a station reads: the update files, each library file it may load (the
// address file and the loaders of every crystal, in every folder searched), the
// settings file and the line of each board.
std::vector<std::string> StationInputs(const LibraryPaths& library, const std::vector<std::string>& devices,
                                       const std::vector<std::string>& files);

// Where the station writes; an empty path is not written.
struct StationOutputs {
    std::string results, logDir, traceDir;
};

// "" when every output may be used, else the sentence for the operator ("the results
// file r.jsonl cannot be used: it is ..."). The log and trace folders are made when
// missing. `names` are the boards' names (BoardNames of the devices).
std::string StationOutputsProblem(const StationOutputs& outputs, const std::vector<std::string>& inputs,
                                  const std::vector<std::string>& names);

// The digests of the update files before they are loaded; "" or "FILE: why".
std::string DigestFiles(const std::vector<std::string>& files, std::vector<Sha256::Digest>& digests);
// The records' digests once the files are loaded: "" when every file is as it was
// before, else "FILE changed while it was loaded".
std::string DigestsAfterLoading(const std::vector<std::string>& files, const std::vector<Sha256::Digest>& before,
                                std::vector<FileDigest>& digests);

// The USB adapter behind a serial device, where the system knows it (empty otherwise).
AdapterFacts AdapterOf(const std::string& device);

// How each port's session finds the library files.
std::function<void(SharedState&)> StationLibrary(const LibraryPaths& library, const std::string& appFolder);
// A wire trace per board in `folder` (NAME.K.trace), under the rules of any trace; a
// file an earlier run left under that name is never written over (NAME.K-2.trace).
std::function<std::shared_ptr<WireTrace>(size_t, unsigned, std::string&)> StationTraces(
    const std::string& folder, const std::vector<std::string>& names, const std::vector<std::string>& outputsInputs);
// The path of a board's wire trace in `folder`.
std::string StationTracePath(const std::string& folder, const std::string& name, unsigned board);

// The log of port `name` in `folder` (NAME.log).
std::string StationLogPath(const std::string& folder, const std::string& name);
// Appends the board's log of a BoardEnded event to its port's log in `folder`; "" or
// the warning for the operator.
std::string AppendBoardLog(const std::string& folder, const std::string& name, const std::string& device,
                           const StationEvent& ended);
