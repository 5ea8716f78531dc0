// Taking one update file into the flash image: recognising its kind, checking it
// against its region, and placing it.

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "image/FlashImage.h"
#include "image/ImageTexts.h"
#include "image/UpdateFile.h"

namespace {

enum class FileKind { Bin, SRecord, Other };

// Only the end of the name counts, without regard to case: "cabin" is a bin file.
FileKind KindOfName(const std::string& path) {
    if (path.size() >= 3 && ::strcasecmp(path.c_str() + path.size() - 3, "bin") == 0) return FileKind::Bin;
    if (!path.empty() && (path.back() == 's' || path.back() == 'S')) return FileKind::SRecord;
    return FileKind::Other;
}

bool IsCodeLetter(uint8_t letter) { return letter == 'C' || letter == 'P'; }

}  // namespace

const char* CFlashImage::SectionRefusal(uint32_t n, uint8_t letter, uint32_t flashBlocks, uint32_t codeLen) const {
    const uint64_t flashEnd = uint64_t{flashBlocks} * kFlashBlockSize;
    switch (letter) {
    case 'B':
        return n < LogoStart - BmpStart && n <= kFileBufSize ? nullptr : kTextBitmapTooLarge;
    case 'F':
        return n < BmpStart - FontStart && n <= kFileBufSize ? nullptr : kTextFontTooLarge;
    case 'E':
        // The logo must stop short of the start-pointer trailer at the flash end,
        // or it would overwrite the pointers and its own pointer would overwrite it.
        return uint64_t{LogoStart} + n + kTrailerSize <= flashEnd && n <= kFileBufSize ? nullptr : kTextLogoTooLarge;
    case 'C':
    case 'P':
        if (codeLen < 4) return kTextWrongFileType;  // not even a length header
        return codeLen < FontStart && codeLen < kFileBufSize ? nullptr : kTextCodeTooLarge;
    default:
        return kTextWrongFileType;
    }
}

bool CFlashImage::PlaceSection(uint32_t n, uint8_t letter, uint8_t flashBlocks) {
    if (RefuseWithoutLayout()) return false;
    if (RefuseEmptyRegion(letter, "the section")) {
        if (IsCodeLetter(letter)) CodeLen = 0;
        return false;
    }
    const uint32_t flashEnd = uint32_t{flashBlocks} * kFlashBlockSize;
    if (flashBlocks == 0 || flashEnd > kImageBufSize) {
        Report("A flash of " + std::to_string(flashBlocks) + " blocks does not fit the 1 MB image!", kCaptionError,
               MessageIcon::Error);
        return false;
    }
    if (const char* refusal = SectionRefusal(n, letter, flashBlocks, CodeLen)) {
        Report(refusal);
        // A refused code image must not be sent as if it had been placed.
        if (IsCodeLetter(letter)) CodeLen = 0;
        return false;
    }
    switch (letter) {
    case 'B':
        std::memcpy(&ImageBuf[BmpStart], FileBuf.data(), n);
        BmpLen = n;
        WriteBigEndian32(&ImageBuf[flashEnd - 8], BmpStart);
        break;
    case 'F':
        std::memcpy(&ImageBuf[FontStart], FileBuf.data(), n);
        FontLen = n;
        WriteBigEndian32(&ImageBuf[flashEnd - 12], FontStart);
        break;
    case 'E':
        std::memcpy(&ImageBuf[LogoStart], FileBuf.data(), n);
        LogoLen = n;
        WriteBigEndian32(&ImageBuf[flashEnd - 4], LogoStart);
        break;
    default:  // 'C' or 'P': the code bytes without their length header or letter
        std::memcpy(&ImageBuf[CodeStart], &FileBuf[4], CodeLen - 4);
        break;
    }
    return true;
}

bool CFlashImage::LoadSectionFile(UpdateFile& file, const std::string& path) {
    const uint64_t size = file.Size();
    if (size > kFileBufSize) {
        Report("The file " + path + " is larger than the " + std::to_string(kFileBufSize) +
                   " bytes a section can have!",
               kCaptionWarning, MessageIcon::Warning);
        return false;
    }
    const uint32_t n = static_cast<uint32_t>(size);
    uint8_t letter = 0;
    uint8_t header[4] = {};
    if (!file.ReadAt(n - 1, &letter, 1) || (n >= 4 && !file.ReadAt(0, header, 4))) {
        Report("Can't read file " + path + "!", kCaptionError, MessageIcon::Error);
        return false;
    }
    // A saved code image carries its own length in front and is one byte longer
    // than that length; anything else ending in C or P is not a code image.
    uint32_t codeLen = CodeLen;
    if (IsCodeLetter(letter)) {
        codeLen = n >= 5 ? ReadBigEndian32(header) : 0;
        if (n < 5 || uint64_t{codeLen} + 1 != n) {
            Report(kTextWrongFileType);
            return false;
        }
    }
    // The file is judged before it is read, so a refused file leaves FileBuf (and
    // with it a converted code image that may still be saved) as it was.
    if (RefuseEmptyRegion(letter, path)) return false;
    const uint8_t flashBlocks = static_cast<uint8_t>(std::min<uint32_t>(FlashBlocks(), 255));
    if (const char* refusal = SectionRefusal(n, letter, flashBlocks, codeLen)) {
        Report(refusal);
        return false;
    }
    if (!file.ReadAt(0, FileBuf.data(), n)) {
        Report("Can't read file " + path + "!", kCaptionError, MessageIcon::Error);
        return false;
    }
    if (IsCodeLetter(letter)) CodeLen = codeLen;
    return PlaceSection(n, letter, flashBlocks);
}

bool CFlashImage::TakeUpdateFile(const std::string& path, bool sRecordText) {
    UpdateFile file;
    if (int error = file.Open(path); error != 0) {
        Report("Can't open file " + path + ": " + UpdateFile::OpenProblem(error) + "!", kCaptionError,
               MessageIcon::Error);
        return false;
    }
    if (file.Size() == 0) {
        Report("The file " + path + " is empty!", kCaptionWarning, MessageIcon::Warning);
        return false;
    }
    if (sRecordText) {
        if (RefuseEmptyRegion('C', path)) return false;
        uint8_t letter = 0;
        if (ConvertSRecordFile(path, letter))
            PlaceSection(0, letter, static_cast<uint8_t>(std::min<uint32_t>(FlashBlocks(), 255)));
        return false;
    }
    switch (LoadFlashMapFrom(file, path)) {
    case MapOutcome::Loaded: return true;
    case MapOutcome::Unreadable: return false;
    case MapOutcome::NoCandidate:
    case MapOutcome::WrongSize: LoadSectionFile(file, path); return false;
    }
    return false;
}

bool CFlashImage::OnLoadFile(const std::string& path) {
    const unsigned problemsBefore = problemCount;
    if (!RefuseWithoutLayout()) {
        const FileKind kind = KindOfName(path);
        if (kind == FileKind::Other) {
            Report(kTextWrongFileType, kCaptionError, MessageIcon::Error);
        } else if (!TakeUpdateFile(path, kind == FileKind::SRecord)) {
            // The image is a complete map only while the last file was one: a section
            // placed over it, or any other file, even one that was refused, ends it,
            // so that no map length is announced for what the image now holds.
            FlashMapLen = 0;
        }
    }
    const bool taken = problemCount == problemsBefore;
    if (!taken) lastRefusedFile = path;
    return taken;
}
