#include "engine/StationPlan.h"

#include <filesystem>
#include <tuple>

#include "engine/BoardNames.h"
#include "engine/OutputPaths.h"
#include "engine/ResultsFile.h"
#include "protocol/Crystals.h"
#include "serial/PortInventory.h"
#include "settings/ProfileFile.h"
#include "trace/TracePath.h"
#include "trace/WireTrace.h"

namespace fs = std::filesystem;

std::vector<std::string> StationInputs(const LibraryPaths& library, const std::vector<std::string>& devices,
                                       const std::vector<std::string>& files) {
    std::vector<std::string> inputs = files;
    for (const std::string& folder : library.SearchFolders()) {
        inputs.push_back(folder + "/FlashAddrAssign.h");
        inputs.push_back(folder + "/Pgm_M850T.bin");
        inputs.push_back(folder + "/" + OperatorSettings::kFileName);
        for (const CrystalChoice& crystal : kCrystals)
            inputs.push_back(folder + "/Pgm_" + crystal.text + ".bin");
    }
    inputs.push_back(library.SettingsFile());
    inputs.push_back(library.SettingsFileToRead());
    inputs.insert(inputs.end(), devices.begin(), devices.end());
    return inputs;
}

std::string StationOutputsProblem(const StationOutputs& o, const std::vector<std::string>& inputs,
                                  const std::vector<std::string>& names) {
    if (!o.results.empty()) {
        if (const std::string why = ResultsFile::PathProblem(o.results, inputs); !why.empty())
            return "the results file " + o.results + " cannot be used: " + why;
    }
    std::vector<std::string> outputsInputs = inputs;
    if (!o.results.empty())
        outputsInputs.push_back(o.results);
    for (const auto& [folder, what, log] : {std::tuple{o.logDir, "log folder", true}, std::tuple{o.traceDir, "trace folder", false}}) {
        if (folder.empty())
            continue;
        if (const std::string why = FolderProblem(folder); !why.empty())
            return std::string("the ") + what + " " + folder + " cannot be used: " + why;
        for (const std::string& name : names) {
            const std::string path = log ? StationLogPath(folder, name) : StationTracePath(folder, name, 1);
            const std::string why = log ? LogPathProblem(path, outputsInputs) : TracePathProblem(path, outputsInputs);
            if (!why.empty())
                return path + " cannot be written: " + why;
        }
    }
    return "";
}

std::string DigestFiles(const std::vector<std::string>& files, std::vector<Sha256::Digest>& digests) {
    digests.clear();
    for (const std::string& file : files) {
        Sha256::Digest d{};
        std::string why;
        if (!Sha256OfFile(file, d, why))
            return file + ": " + why;
        digests.push_back(d);
    }
    return "";
}

std::string DigestsAfterLoading(const std::vector<std::string>& files, const std::vector<Sha256::Digest>& before,
                                std::vector<FileDigest>& digests) {
    digests.clear();
    for (size_t i = 0; i < files.size(); ++i) {
        Sha256::Digest after{};
        std::string why;
        // The records name what was loaded: a file that changed meanwhile names nothing.
        if (i >= before.size() || !Sha256OfFile(files[i], after, why) || after != before[i]) {
            digests.clear();
            return files[i] + " changed while it was loaded";
        }
        digests.push_back({files[i], Sha256::Hex(after)});
    }
    return "";
}

AdapterFacts AdapterOf(const std::string& device) {
    AdapterFacts facts;
    if (const auto info = DescribeSerialDevice(device)) {
        facts.vendor = info->manufacturer;
        facts.model = info->product;
        facts.serial = info->serialNumber;
        facts.usbId = info->usbId;
    }
    return facts;
}

std::function<void(SharedState&)> StationLibrary(const LibraryPaths& library, const std::string& appFolder) {
    return [library, appFolder](SharedState& shared) {
        shared.AppFolder = appFolder;
        shared.LibFolder = library.SearchFolders().back();
        shared.FindLibraryFile = [library](const std::string& name) { return library.Find(name); };
    };
}

std::string StationTracePath(const std::string& folder, const std::string& name, unsigned board) {
    return (fs::path(folder) / BoardFileName(name, "." + std::to_string(board) + ".trace")).string();
}

std::function<std::shared_ptr<WireTrace>(size_t, unsigned, std::string&)> StationTraces(
    const std::string& folder, const std::vector<std::string>& names, const std::vector<std::string>& outputsInputs) {
    return [folder, names, outputsInputs](size_t port, unsigned board, std::string& why) {
        // Boards are numbered from 1 in every run: a trace an earlier run left under
        // this board's name is named by that run's records, and is kept; this board's
        // goes beside it (NAME.K-2.trace, NAME.K-3.trace, ...).
        std::string path = StationTracePath(folder, names.at(port), board);
        std::error_code ec;
        for (unsigned n = 2; fs::exists(fs::symlink_status(path, ec)) && n < 10000; ++n)
            path = (fs::path(folder) /
                    BoardFileName(names.at(port), "." + std::to_string(board) + "-" + std::to_string(n) + ".trace"))
                       .string();
        why = TracePathProblem(path, outputsInputs);
        std::shared_ptr<WireTrace> trace;
        if (why.empty())
            trace = WireTrace::Create(path, why);
        if (!trace)
            why = path + ": " + why;
        return trace;
    };
}

std::string StationLogPath(const std::string& folder, const std::string& name) {
    return (fs::path(folder) / BoardFileName(name, ".log")).string();
}

std::string AppendBoardLog(const std::string& folder, const std::string& name, const std::string& device,
                           const StationEvent& e) {
    const std::string path = StationLogPath(folder, name);
    const std::string text = "Kestrel station, port " + std::to_string(e.port + 1) + " " + device + ", board " +
                             std::to_string(e.result.board) + "\n" + e.log + "\n";
    if (const std::string why = AppendToLog(path, text); !why.empty())
        return "Warning: cannot append to the log " + path + ": " + why;
    return "";
}
