// The two loader programs the board asks for before any update data.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

#include "engine/Crystals.h"
#include "engine/Pacing.h"
#include "engine/UIThread.h"

namespace {

constexpr uint8_t kLoader1Start = 0x18;
constexpr uint32_t kHeaderBytes = 4;
constexpr uint32_t kTrailerBytes = 1;

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

bool CUIThread::ReadLoaderFile(const std::string& path, const char* failure, std::vector<uint8_t>& file) {
    if (!ReadWholeFile(path, file)) {
        boxes.ShowMessageBox(std::string(failure) + "\n" + path, "Error", BoxIcon::Warning);
        return false;
    }
    if (file.size() < kHeaderBytes + kTrailerBytes) {
        boxes.ShowMessageBox(std::string(failure) + "\n" + path + ": " + std::to_string(file.size()) +
                                 " bytes is too short for a loader (4-byte header, body, 1 trailer byte).",
                             "Error", BoxIcon::Warning);
        return false;
    }
    return true;
}

void CUIThread::SendLoader1() {
    const CrystalChoice& crystal = kCrystals[CrystalIndex];
    const std::string path = shared.LibraryFile("Pgm_" + std::string(crystal.text) + ".bin");
    std::vector<uint8_t> file;
    if (!ReadLoaderFile(path, "Open pgm1 failed!", file))
        return;
    const size_t body = file.size() - kHeaderBytes - kTrailerBytes;
    if (body > kDownloadBlockSize) {
        boxes.ShowMessageBox("Open pgm1 failed!\n" + path + ": its body of " + std::to_string(body) +
                                 " bytes does not fit the 2048-byte block of loader 1.",
                             "Error", BoxIcon::Warning);
        return;
    }

    const uint8_t start = kLoader1Start;
    Comm->WriteBytes(&start, 1);
    std::vector<uint8_t> block(kDownloadBlockSize, 0x00);
    std::copy_n(file.begin() + kHeaderBytes, body, block.begin());
    Comm->WriteBytes(block.data(), kDownloadBlockSize);
    // Loader 1 must leave the line at the boot speed before the line is closed for
    // the switch to 115200 baud.
    sleeper.SleepMs(crystal.loader1PauseMs);
}

void CUIThread::SendLoader2() {
    const std::string path = shared.LibraryFile("Pgm_M850T.bin");
    std::vector<uint8_t> file;
    if (!ReadLoaderFile(path, "Open pgm2 failed!", file))
        return;
    const size_t length = file.size();

    std::vector<uint8_t> block(kDownloadBlockSize, 0x00);
    std::copy_n(file.begin(), kHeaderBytes, block.begin());
    Comm->WriteBytes(block.data(), kHeaderBytes);
    sleeper.SleepMs(kHeaderPauseMs);

    // The body in whole blocks, then the rest; the trailer byte stays behind.
    size_t position = kHeaderBytes;
    const size_t blocks = (length - kHeaderBytes - kTrailerBytes) / kDownloadBlockSize;
    for (size_t i = 0; i < blocks; ++i) {
        std::copy_n(file.begin() + position, kDownloadBlockSize, block.begin());
        Comm->WriteBytes(block.data(), kDownloadBlockSize);
        position += kDownloadBlockSize;
        sleeper.SleepMs(kBlockPauseMs);
    }
    const size_t rest = length - position - kTrailerBytes;
    std::fill(block.begin(), block.end(), 0x00);
    std::copy_n(file.begin() + position, rest, block.begin());
    Comm->WriteBytes(block.data(), static_cast<uint32_t>(rest));
    sleeper.SleepMs(kBlockPauseMs);
}
