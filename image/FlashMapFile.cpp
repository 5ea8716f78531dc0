// Complete flash maps in and out, and the saving of a converted code image.

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "image/FlashImage.h"
#include "image/ImageTexts.h"
#include "image/PgmHeader.h"
#include "atomicfile/AtomicFile.h"
#include "image/UpdateFile.h"

namespace {

// Smaller bin files are section files; larger ones are meant as whole maps.
constexpr uint64_t kMapCandidateAbove = 0x5F000;

// The flash sizes the board family ships with, in 64 KiB blocks.
bool IsKnownFlashSize(uint64_t blocks) { return blocks == 6 || blocks == 8 || blocks == 9 || blocks == 14; }

bool EndsInBin(const std::string& path) {
    return path.size() >= 3 && ::strcasecmp(path.c_str() + path.size() - 3, "bin") == 0;
}

std::string HeaderPathBeside(const std::string& savePath) {
    size_t slash = savePath.rfind('/');
    return slash == std::string::npos ? kPgmHeaderName : savePath.substr(0, slash + 1) + kPgmHeaderName;
}

}  // namespace

bool CFlashImage::LoadFlashMap(const std::string& path) {
    UpdateFile file;
    if (int error = file.Open(path); error != 0) {
        Report("Can't open file " + path + ": " + UpdateFile::OpenProblem(error) + "!", kCaptionError,
               MessageIcon::Error);
        return false;
    }
    return LoadFlashMapFrom(file, path) == MapOutcome::Loaded;
}

CFlashImage::MapOutcome CFlashImage::LoadFlashMapFrom(UpdateFile& file, const std::string& path) {
    const uint64_t size = file.Size();
    if (!EndsInBin(path) || size <= kMapCandidateAbove) return MapOutcome::NoCandidate;
    if (size % kFlashBlockSize != 0 || !IsKnownFlashSize(size / kFlashBlockSize)) {
        // No map was loaded, so nothing of a map may be announced to the board.
        FlashMapLen = 0;
        Report(kTextWrongFlashMap, kCaptionWarning, MessageIcon::Warning);
        return MapOutcome::WrongSize;
    }
    // Read aside first, so that a file that fails half way leaves the image alone.
    std::vector<uint8_t> map(size);
    if (!file.ReadAt(0, map.data(), map.size())) {
        Report("Can't read file " + path + "!", kCaptionError, MessageIcon::Error);
        return MapOutcome::Unreadable;
    }
    std::copy(map.begin(), map.end(), ImageBuf.begin());
    FlashMapLen = static_cast<uint32_t>(size);
    return MapOutcome::Loaded;
}

bool CFlashImage::WriteReplacing(const std::string& path, const uint8_t* data, size_t size) {
    std::string cause = WriteFileReplacing(path, data, size);
    if (cause.empty()) return true;
    Report("Can't write file " + path + ": " + cause + "!", kCaptionError, MessageIcon::Error);
    return false;
}

bool CFlashImage::OnSaveFlashMap(const std::string& path) {
    if (RefuseWithoutLayout()) return false;
    if (FontLen != 0 || BmpLen != 0 || LogoLen != 0) {
        const uint32_t blocks = FlashBlocks();
        if (uint64_t{blocks} * kFlashBlockSize > kImageBufSize) {
            Report("A flash of " + std::to_string(blocks) + " blocks does not fit the 1 MB image; nothing was saved!",
                   kCaptionError, MessageIcon::Error);
            return false;
        }
        if (!IsKnownFlashSize(blocks)) Report(kTextUnexpectedSaveSize, kCaptionWarning, MessageIcon::Warning);
        return WriteReplacing(path, ImageBuf.data(), blocks * kFlashBlockSize);
    }
    // A complete map loaded on its own is saved as that map. (An armed erase
    // marks the length with all ones; that is no map.)
    if (FlashMapLen != 0 && FlashMapLen <= kImageBufSize) return WriteReplacing(path, ImageBuf.data(), FlashMapLen);
    if (CodeLen != 0) return SaveCodeImage(path);
    if (!lastRefusedFile.empty())
        Report("There is nothing to save: " + lastRefusedFile + " was refused!", kCaptionWarning, MessageIcon::Warning);
    else
        Report("There is nothing to save: no update file has been loaded!", kCaptionWarning, MessageIcon::Warning);
    return false;
}

bool CFlashImage::SaveCodeImage(const std::string& path) {
    const uint32_t length = CodeLen;
    if (length < 4 || length >= kFileBufSize) {
        Report("The code image length " + std::to_string(length) + " is not one that can be saved!", kCaptionError,
               MessageIcon::Error);
        return false;
    }
    if (FileBuf[length] != 'P') return WriteReplacing(path, FileBuf.data(), length + 1);
    // A small program and its header are one program: both are written or neither.
    const std::string header = FormatPgmHeader(FileBuf.data(), length);
    const std::string cause =
        WriteFilePairReplacing(path, FileBuf.data(), length + 1, HeaderPathBeside(path),
                               reinterpret_cast<const uint8_t*>(header.data()), header.size());
    if (cause.empty()) return true;
    Report("Can't write file " + cause + "; neither " + path + " nor its " + kPgmHeaderName + " was changed!",
           kCaptionError, MessageIcon::Error);
    return false;
}
