// The two loader programs the board asks for before any update data.
#include <algorithm>
#include <vector>

#include "protocol/Crystals.h"
#include "settings/LibraryFile.h"
#include "protocol/Pacing.h"
#include "engine/UIThread.h"
#include "protocol/WireProtocol.h"

namespace {

// A loader runs from the board's memory; a file larger than the whole flash image is
// no loader, and would hold the line for minutes.
constexpr uint64_t kLoaderMaxBytes = 0x100000;
// Loader 1 goes out as one block: its body must fit it.
constexpr size_t kLoader1MaxBody = kDownloadBlockSize;
constexpr size_t kNoBodyLimit = kLoaderMaxBytes;
constexpr const char* kLoader1Failure = "Open pgm1 failed!";
constexpr const char* kLoader2Failure = "Open pgm2 failed!";

// A whole read of a loader file with every check: "" or what is wrong with it.
std::string ReadLoaderFile(const std::string& path, size_t maxBody, std::vector<uint8_t>& file) {
    std::string problem = ReadLibraryFile(path, kLoaderMaxBytes, file).problem;
    if (problem.empty() && file.size() < kLoaderHeaderBytes + kLoaderTrailerBytes)
        problem = std::to_string(file.size()) + " bytes is too short for a loader (4-byte header, body, 1 trailer byte)";
    else if (problem.empty() && file.size() - kLoaderHeaderBytes - kLoaderTrailerBytes > maxBody)
        problem = "its body of " + std::to_string(file.size() - kLoaderHeaderBytes - kLoaderTrailerBytes) +
                  " bytes does not fit the 2048-byte block of loader 1";
    return problem.empty() ? problem : path + ": " + problem;
}

}  // namespace

std::string CUIThread::Loader1Path(uint32_t crystalIndex) const {
    return shared.LibraryFile("Pgm_" + std::string(kCrystals[crystalIndex].text) + ".bin");
}

std::string CUIThread::Loader2Path() const { return shared.LibraryFile("Pgm_M850T.bin"); }

bool CUIThread::LoaderFilesUsable(uint32_t crystalIndex) {
    std::vector<uint8_t> file;
    std::string problem = ReadLoaderFile(Loader1Path(crystalIndex), kLoader1MaxBody, file);
    const char* failure = kLoader1Failure;
    if (problem.empty()) {
        problem = ReadLoaderFile(Loader2Path(), kNoBodyLimit, file);
        failure = kLoader2Failure;
    }
    if (problem.empty())
        return true;
    Refuse(StartRefusal::LoaderFiles, std::string(failure) + "\n" + problem + "\nThe board was not woken; nothing was sent.");
    return false;
}

bool CUIThread::LoaderReady(const std::string& path, size_t maxBody, const char* failure, std::vector<uint8_t>& file) {
    const std::string problem = ReadLoaderFile(path, maxBody, file);
    if (problem.empty())
        return true;
    boxes.ShowMessageBox(std::string(failure) + "\n" + problem, "Error", BoxIcon::Warning);
    return false;
}

bool CUIThread::SendBlock(const uint8_t* bytes, uint32_t count) {
    // A cleared UpdateArmed means the operator cancelled, and a write the line did not
    // take whole means the line is gone or stuck: either way the rest of the download
    // would only hold the worker (and a Cancel or a lost line would wait for minutes).
    if (shared.UpdateArmed == 0)
        return false;
    const uint32_t written = Comm->WriteBytes(bytes, count);
    Facts().Sent(bytes, written);
    return written == count;
}

bool CUIThread::SendLoader1() {
    const CrystalChoice& crystal = kCrystals[CrystalIndex];
    std::vector<uint8_t> file;
    loaderRead = LoaderReady(Loader1Path(CrystalIndex), kLoader1MaxBody, kLoader1Failure, file);
    if (!loaderRead)
        return true;  // nothing sent; the exchange goes on as the board expects
    const size_t body = file.size() - kLoaderHeaderBytes - kLoaderTrailerBytes;

    const uint8_t start = kLoader1StartByte;
    if (!SendBlock(&start, 1))
        return false;
    std::vector<uint8_t> block(kDownloadBlockSize, 0x00);
    std::copy_n(file.begin() + kLoaderHeaderBytes, body, block.begin());
    if (!SendBlock(block.data(), kDownloadBlockSize))
        return false;
    // Loader 1 must leave the line at the boot speed before the line is closed for
    // the switch to 115200 baud.
    sleeper.SleepMs(crystal.loader1PauseMs);
    return true;
}

bool CUIThread::SendLoader2() {
    std::vector<uint8_t> file;
    loaderRead = LoaderReady(Loader2Path(), kNoBodyLimit, kLoader2Failure, file);
    if (!loaderRead)
        return true;
    const size_t length = file.size();

    std::vector<uint8_t> block(kDownloadBlockSize, 0x00);
    std::copy_n(file.begin(), kLoaderHeaderBytes, block.begin());
    if (!SendBlock(block.data(), kLoaderHeaderBytes))
        return false;
    sleeper.SleepMs(kHeaderPauseMs);

    // The body in whole blocks, then the rest; the trailer byte stays behind.
    size_t position = kLoaderHeaderBytes;
    const size_t blocks = (length - kLoaderHeaderBytes - kLoaderTrailerBytes) / kDownloadBlockSize;
    for (size_t i = 0; i < blocks; ++i) {
        std::copy_n(file.begin() + position, kDownloadBlockSize, block.begin());
        if (!SendBlock(block.data(), kDownloadBlockSize))
            return false;
        position += kDownloadBlockSize;
        sleeper.SleepMs(kBlockPauseMs);
    }
    const auto rest = static_cast<uint32_t>(length - position - kLoaderTrailerBytes);
    std::fill(block.begin(), block.end(), 0x00);
    std::copy_n(file.begin() + position, rest, block.begin());
    if (!SendBlock(block.data(), rest))
        return false;
    sleeper.SleepMs(kBlockPauseMs);
    return true;
}
