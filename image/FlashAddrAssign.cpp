// The board's flash address assignment file: a C header whose #define lines give
// the sizes of the code, font, bitmap and logo regions, in that order.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "image/FlashImage.h"
#include "image/HexText.h"
#include "image/ImageTexts.h"
#include "image/UpdateFile.h"

namespace {

constexpr const char* kKeys[4] = {"CodeBufSize", "FontBufSize", "BmpBufSize", "EsLogoPicBufSize"};

// The board's tools keep the key's column in one byte with 255 meaning "absent",
// so a key that starts further right is not seen.
constexpr size_t kKeyColumnLimit = 255;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The text after a key: blanks trimmed, two characters (the "0x") skipped, then
// hexadecimal digits as far as they go. Values too large for 32 bits stay at the
// largest value, which the layout check then refuses.
uint32_t ParseSizeValue(std::string_view rest) {
    while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
    while (!rest.empty() && IsBlank(rest.back())) rest.remove_suffix(1);
    rest.remove_prefix(std::min<size_t>(2, rest.size()));
    uint64_t value = 0;
    for (char c : rest) {
        int digit = HexDigitValue(c);
        if (digit < 0) break;
        value = std::min<uint64_t>((value << 4) | static_cast<uint64_t>(digit), 0xFFFFFFFFu);
    }
    return static_cast<uint32_t>(value);
}

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
    BufSizes = {0, 0, 0, 0};
    size_t found = 0;
    while (found < 4 && !text.empty()) {
        size_t lineEnd = text.find('\n');
        std::string_view line = text.substr(0, lineEnd);
        text.remove_prefix(lineEnd == std::string_view::npos ? text.size() : lineEnd + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = line.substr(0, line.find('\0'));  // the line is C text: a NUL ends it

        const std::string_view key = kKeys[found];
        size_t column = line.find(key);
        if (column == std::string_view::npos || column >= kKeyColumnLimit) continue;
        BufSizes[found++] = ParseSizeValue(line.substr(column + key.size()));
    }

    CodeStart = 0;
    FontStart = BufSizes[0];
    BmpStart = FontStart + BufSizes[1];
    LogoStart = BmpStart + BufSizes[2];

    // The region starts must be plain sums, and the flash end that follows from
    // the logo start must lie inside the image, or every later copy and trailer
    // write would land outside the buffers.
    const uint64_t logoStart = uint64_t{BufSizes[0]} + BufSizes[1] + BufSizes[2];
    layoutProblem.clear();
    if (found < 4) {
        layoutProblem = "Flash address file " + sourceName + " has no " + kKeys[found];
    } else if (logoStart > 0xFFFFFFFFu) {
        layoutProblem = "Flash address file " + sourceName + " gives region sizes whose sum overflows";
    } else if (logoStart >= kImageBufSize) {
        layoutProblem = "Flash address file " + sourceName + " starts the logo region at " + Hex(logoStart) +
                        ", so the flash would end beyond the 1 MB image";
    }
    layoutUsable = layoutProblem.empty();
    if (!layoutUsable) Report(layoutProblem + "!", kCaptionError, MessageIcon::Error);
    return layoutUsable;
}
