// The board's flash address assignment file: a C header whose #define lines give
// the sizes of the code, font, bitmap and logo regions, in that order.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "image/AddrAssignReading.h"
#include "image/FlashImage.h"
#include "image/ImageTexts.h"
#include "image/UpdateFile.h"

namespace {

// A header of four defines; anything near this size is some other file.
constexpr uint64_t kMaxAddrAssignFileSize = 1u << 20;

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

}  // namespace

bool CFlashImage::ReadFlashAddrAssign(const std::string& path) {
    UpdateFile file;
    std::string text;
    std::string problem;
    if (int error = file.Open(path); error != 0) {
        problem = UpdateFile::OpenProblem(error);
    } else if (file.Size() > kMaxAddrAssignFileSize) {
        problem = "it is too large to be a flash address file";
    } else {
        text.resize(file.Size());
        if (!file.ReadAt(0, text.data(), text.size())) problem = UpdateFile::OpenProblem(EIO);
    }
    if (!problem.empty()) {
        layoutUsable = false;
        layoutProblem = "Can't read flash address file " + path + " (" + problem + ")";
        Report(layoutProblem + "!", kCaptionError, MessageIcon::Error);
        return false;
    }
    return ReadFlashAddrAssignText(text, path);
}

bool CFlashImage::ReadFlashAddrAssignText(std::string_view text, const std::string& sourceName) {
    const AddrAssignReading reading = ReadAsTheBoardTools(text);
    BufSizes = reading.sizes;
    layoutLines = reading.lines;
    layoutSource = sourceName;

    CodeStart = 0;
    FontStart = BufSizes[0];
    BmpStart = FontStart + BufSizes[1];
    LogoStart = BmpStart + BufSizes[2];

    // The firmware was built from the same file by a C compiler: where it reads the
    // file otherwise, the board would be flashed with a layout its firmware does not
    // have. The region starts must be plain sums, and the regions must lie inside
    // the image, or every later copy and trailer write would land outside the buffers.
    const uint64_t logoStart = uint64_t{BufSizes[0]} + BufSizes[1] + BufSizes[2];
    const uint64_t regionsEnd = logoStart + BufSizes[3];
    layoutProblem.clear();
    if (const std::string disagreement = WhereACompilerDisagrees(text, reading); !disagreement.empty()) {
        layoutProblem = "Flash address file " + sourceName + ", " + disagreement;
    } else if (reading.found < 4) {
        layoutProblem = "Flash address file " + sourceName + " has no " + kAddrAssignKeys[reading.found];
    } else if (logoStart > 0xFFFFFFFFu) {
        layoutProblem = "Flash address file " + sourceName + " gives region sizes whose sum overflows";
    } else if (logoStart >= kImageBufSize) {
        layoutProblem = "Flash address file " + sourceName + " starts the logo region at " + Hex(logoStart) +
                        ", so the flash would end beyond the 1 MB image";
    } else if (regionsEnd > kImageBufSize) {
        layoutProblem = "Flash address file " + sourceName + " gives regions that end at " + Hex(regionsEnd) +
                        " (the logo region of EsLogoPicBufSize " + Hex(BufSizes[3]) + ", line " +
                        std::to_string(layoutLines[3]) + ", starts at " + Hex(logoStart) +
                        "), beyond the 1 MB image";
    }
    layoutUsable = layoutProblem.empty();
    if (!layoutUsable) Report(layoutProblem + "!", kCaptionError, MessageIcon::Error);
    return layoutUsable;
}

bool CFlashImage::RefuseEmptyRegion(uint8_t letter, const std::string& what) {
    size_t k = 0;
    const char* region = nullptr;
    switch (letter) {
    case 'C':
    case 'P': k = 0, region = "code"; break;
    case 'F': k = 1, region = "font"; break;
    case 'B': k = 2, region = "bitmap"; break;
    case 'E': k = 3, region = "logo"; break;
    default: return false;
    }
    if (BufSizes[k] != 0) return false;
    // Not the file's fault: the board was given no room for it.
    Report("The flash address file " + layoutSource + " gives the " + region + " region no room (" +
               kAddrAssignKeys[k] + " 0, line " + std::to_string(layoutLines[k]) + "), so " + what +
               " cannot be placed!",
           kCaptionError, MessageIcon::Error);
    return true;
}
