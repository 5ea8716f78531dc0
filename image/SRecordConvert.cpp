// Motorola S-record text (S3 data records, S7 start record) into the code image:
// a 4-byte big-endian length L, the code bytes by address, and the section letter
// at offset L ('P' for a small program below 0x4000 bytes, else 'C').

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include "image/ConflictMap.h"
#include "image/FlashImage.h"
#include "image/HexText.h"
#include "image/ImageTexts.h"
#include "image/UpdateFile.h"

namespace {

// S-record text for a 1 MB address space stays far below this; anything larger
// is not S-record text and is refused before it is read into memory.
constexpr uint64_t kMaxSRecordFileSize = 64u << 20;

// The code image keeps its header in front and its letter behind the code, so
// the highest record end it can hold is this.
constexpr uint32_t kMaxRecordEnd = kFileBufSize - 5;

// Program images linked above this offset lose the space below it when they are
// small programs: the board loads them there.
constexpr uint32_t kSmallProgramBase = 0x1000;

// The board's loader reads these from a full code image: a cleared flag byte and
// the image length.
constexpr uint32_t kFullImageFlagOffset = 0x180;
constexpr uint32_t kFullImageLengthOffset = 0x198;

struct RecordFields {
    uint32_t count;
    uint32_t address;  // the lower 20 bits only: the flash is addressed with them
};

bool IsCodeRecord(std::string_view line) {
    return line.size() >= 2 && line[0] == 'S' && (line[1] == '3' || line[1] == '7');
}

RecordFields ReadRecordFields(std::string_view line) {
    return {ReadHexField(line, 2, 2), ReadHexField(line, 7, 5)};
}

// Why a record cannot be taken into the code image, or "" when it can.
std::string RecordLimitProblem(const RecordFields& r) {
    if (r.count < 5) return "S-record byte count " + std::to_string(r.count) + " is below 5";
    uint32_t end = r.address + r.count - 5;
    if (end > kMaxRecordEnd) {
        char text[96];
        std::snprintf(text, sizeof text, "S-record data ends at 0x%X, beyond the 0x%X bytes a code image can hold",
                      end, kMaxRecordEnd);
        return text;
    }
    return "";
}

// Cuts a line end off: LF, or CR LF.
std::string_view WithoutLineEnd(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

bool ForEachTextLine(std::string_view text, const std::function<bool(std::string_view, size_t)>& visit) {
    for (size_t number = 1; !text.empty(); ++number) {
        size_t lineEnd = text.find('\n');
        std::string_view line = text.substr(0, lineEnd);
        text.remove_prefix(lineEnd == std::string_view::npos ? text.size() : lineEnd + 1);
        if (!visit(WithoutLineEnd(line), number)) break;
    }
    return true;
}

// The file is read through one small buffer that is used again for each piece:
// reading a file of megabytes whole would cost more in fresh memory than the
// conversion itself costs.
bool ForEachFileLine(const UpdateFile& file, const std::function<bool(std::string_view, size_t)>& visit) {
    std::vector<char> buffer(64 * 1024);
    uint64_t offset = 0;
    size_t kept = 0;  // the start of a line whose end is not read yet
    size_t number = 1;
    for (;;) {
        if (kept == buffer.size()) buffer.resize(buffer.size() * 2);  // a line longer than the buffer
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size() - kept, file.Size() - offset));
        if (want > 0 && !file.ReadAt(offset, buffer.data() + kept, want)) return false;
        offset += want;
        const std::string_view piece(buffer.data(), kept + want);
        size_t start = 0;
        for (size_t lineEnd; (lineEnd = piece.find('\n', start)) != std::string_view::npos; start = lineEnd + 1)
            if (!visit(WithoutLineEnd(piece.substr(start, lineEnd - start)), number++)) return true;
        if (offset == file.Size()) {
            if (start < piece.size()) visit(WithoutLineEnd(piece.substr(start)), number);
            return true;
        }
        kept = piece.size() - start;
        std::memmove(buffer.data(), buffer.data() + start, kept);
    }
}

}  // namespace

bool CFlashImage::ConvertSRecordFile(const std::string& path, uint8_t& letter) {
    UpdateFile file;
    if (file.Open(path) != 0) {
        Report("Can't open file " + path + "!", kCaptionError, MessageIcon::Error);
        return false;
    }
    if (file.Size() > kMaxSRecordFileSize) {
        Report("The file " + path + " is too large to be S-record code!", kCaptionWarning, MessageIcon::Warning);
        return false;
    }
    return ConvertSRecordLines([&](const LineVisitor& visit) { return ForEachFileLine(file, visit); }, path, letter);
}

bool CFlashImage::ConvertSRecordText(std::string_view text, const std::string& sourceName, uint8_t& letter) {
    return ConvertSRecordLines([&](const LineVisitor& visit) { return ForEachTextLine(text, visit); }, sourceName,
                               letter);
}

bool CFlashImage::ConvertSRecordLines(const LineSource& lines, const std::string& sourceName, uint8_t& letter) {
    // A record outside the image refuses the whole file before anything changes,
    // so the code loaded before stays whole.
    std::string problem;
    const bool readable = lines([&](std::string_view line, size_t number) {
        if (!IsCodeRecord(line)) return true;
        problem = RecordLimitProblem(ReadRecordFields(line));
        if (problem.empty()) return true;
        problem = sourceName + ", line " + std::to_string(number) + ": " + problem + "; nothing of the file was loaded!";
        return false;
    });
    if (!readable) {
        Report("Can't read file " + sourceName + "!", kCaptionError, MessageIcon::Error);
        return false;
    }
    if (!problem.empty()) {
        Report(problem, kCaptionWarning, MessageIcon::Warning);
        return false;
    }

    std::memset(FileBuf.data(), 0x00, FileBuf.size());
    ConflictMap conflictMap(kFileBufSize);
    // Each file's length comes from its own records alone, whatever came before.
    uint32_t runningEnd = 0;
    if (!lines([&](std::string_view line, size_t) { return ParseSRecordLine(line, runningEnd, conflictMap); })) {
        // The file changed under us between the check and the conversion; what
        // is in FileBuf now is no code image.
        CodeLen = 0;
        Report("Can't read file " + sourceName + "!", kCaptionError, MessageIcon::Error);
        return false;
    }

    uint32_t length = runningEnd + 4;
    if (length < kSmallProgramLimit) {
        letter = 'P';
        FileBuf[length] = letter;
        if (length >= kSmallProgramBase) {
            // Everything from address 0x1000 on moves down to address 0; the bytes
            // below it are dropped. An image with nothing at or above 0x1000 keeps
            // just its header rather than a length shorter than the header itself.
            uint32_t shifted = std::max<uint32_t>(length - kSmallProgramBase, 4);
            std::memmove(&FileBuf[4], &FileBuf[4 + kSmallProgramBase], shifted);
            length = shifted;
            FileBuf[length] = letter;
        }
    } else {
        letter = 'C';
        FileBuf[length] = letter;
        FileBuf[kFullImageFlagOffset] = 0x00;
        WriteBigEndian32(&FileBuf[kFullImageLengthOffset], length);
    }
    WriteBigEndian32(&FileBuf[0], length);
    CodeLen = length;
    return true;
}

bool CFlashImage::ParseSRecordLine(std::string_view line, uint32_t& runningEnd, ConflictMap& conflictMap) {
    if (!IsCodeRecord(line)) return true;  // empty lines and other record types carry no code
    RecordFields r = ReadRecordFields(line);
    std::string problem = RecordLimitProblem(r);
    uint32_t end = r.address + r.count - 5;
    if (problem.empty() && end > conflictMap.Addresses()) problem = "S-record beyond the conflict map";
    if (!problem.empty()) {
        Report(problem + "!", kCaptionWarning, MessageIcon::Warning);
        return false;
    }
    // Any address of the record already claimed stops the conversion; otherwise
    // the record claims them all.
    const size_t span = end > r.address ? end - r.address : 0;
    if (conflictMap.AnyClaimed(r.address, end)) {
        Report(kTextSectionConflicted, kCaptionWarning, MessageIcon::Warning);
        return false;
    }
    conflictMap.Claim(r.address, end);
    uint8_t* out = &FileBuf[4 + r.address];
    const char* digits = line.data() + 12;
    uint32_t k = 0;
    if (line.size() >= 12 + 2 * size_t{span}) {
        // The usual case: every digit is there, so only their values need checking.
        for (; k < span; ++k) {
            const int high = HexDigitValue(digits[2 * k]);
            const int low = HexDigitValue(digits[2 * k + 1]);
            if ((high | low) < 0) break;
            out[k] = static_cast<uint8_t>((high << 4) | low);
        }
    }
    for (; k < span; ++k) out[k] = ReadHexByte(line, 12 + 2 * size_t{k});
    runningEnd = std::max(runningEnd, end);
    return true;
}
