#include "cli/RunResults.h"

#include "digest/Sha256.h"
#include "protocol/Crystals.h"
#include "serial/PortInventory.h"

bool RunResults::NameFiles(const std::vector<std::string>& names, std::ostream& err) {
    files.clear();
    for (const std::string& name : names) {
        Sha256::Digest d{};
        std::string why;
        if (!Sha256OfFile(name, d, why)) {
            err << "Error: " << name << ": " << why << "; no board was touched\n";
            return false;
        }
        files.push_back({name, Sha256::Hex(d)});
    }
    return true;
}

bool RunResults::FilesUnchanged(std::ostream& err) const {
    for (const FileDigest& f : files) {
        Sha256::Digest d{};
        std::string why;
        if (!Sha256OfFile(f.path, d, why) || Sha256::Hex(d) != f.sha256) {
            err << "Error: " << f.path << " changed while it was loaded; no board was touched\n";
            return false;
        }
    }
    return true;
}

bool RunResults::Record(const RunVerdict& verdict, ExchangeProgress::Kind kind, unsigned port, const std::string& device,
                        int crystalIndex, std::ostream& err) {
    BoardResult r = ResultOfRun(verdict);
    r.kind = kind;
    if (verdict.started == std::chrono::system_clock::time_point{}) {
        // A board whose line never opened had no run: its record is of this moment.
        r.started = r.ended = std::chrono::system_clock::now();
    }
    std::lock_guard lock(mutex);
    r.board = ++boards;
    r.port = port;
    r.device = device;
    r.adapter = AdapterOf(device);
    if (crystalIndex >= 0 && static_cast<size_t>(crystalIndex) < kCrystalCount)
        r.crystal = kCrystals[crystalIndex].text;
    if (kind == ExchangeProgress::Kind::Update)
        r.files = files;
    const std::string line = ResultJsonLine(r);
    std::string why;
    if (!file)
        file = ResultsFile::Open(path, why);
    if (file && file->Append(line, why))
        return true;
    err << "Error: the record of " << device << " could not be written to the results file " << path << ": " << why
        << ". The record:\n"
        << line;
    return false;
}
