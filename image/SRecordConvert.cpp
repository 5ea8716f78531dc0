// Motorola S-record text into the code image: a 4-byte big-endian length L, the
// code bytes by address, and the section letter at offset L ('P' for a small
// program below 0x4000 bytes, else 'C'). The board's tool chain writes S3 data
// and an S7 start record; S1 and S2 data, as other tools write them for low
// addresses, are code at their address just the same.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include "image/ConflictMap.h"
#include "image/FlashImage.h"
#include "image/ImageTexts.h"
#include "image/SRecordLine.h"
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

// Only the lower 20 bits of an address count: the flash is addressed with them.
constexpr uint32_t kCodeAddressMask = 0xFFFFF;

// The code addresses a data or end record covers, [from, to). An end record
// covers none, but its address still stretches the image to reach it.
struct CodeSpan {
    uint32_t from;
    uint32_t to;
};

bool CarriesCode(const SRecordLine& r) {
    return r.kind == SRecordLine::Kind::Data || r.kind == SRecordLine::Kind::End;
}

CodeSpan SpanOf(const SRecordLine& r) {
    const uint32_t from = r.address & kCodeAddressMask;
    return {from, from + r.dataSize};
}

// Why a record cannot be taken into the code image, or "" when it can.
std::string SpanProblem(const CodeSpan& span) {
    if (span.to <= kMaxRecordEnd) return "";
    char text[96];
    std::snprintf(text, sizeof text, "S-record data ends at 0x%X, beyond the 0x%X bytes a code image can hold", span.to,
                  kMaxRecordEnd);
    return text;
}

// Puts a record's bytes into `code`, laid out like FileBuf (the 4-byte header
// first), and claims their addresses. False, with nothing changed, when any of
// them was claimed before.
bool TakeRecord(const SRecordLine& r, const CodeSpan& span, uint8_t* code, ConflictMap& claimed,
                uint32_t& runningEnd) {
    if (claimed.AnyClaimed(span.from, span.to)) return false;
    claimed.Claim(span.from, span.to);
    std::memcpy(code + 4 + span.from, r.Data(), r.dataSize);
    runningEnd = std::max(runningEnd, span.to);
    return true;
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
    if (int error = file.Open(path); error != 0) {
        Report("Can't open file " + path + ": " + UpdateFile::OpenProblem(error) + "!", kCaptionError,
               MessageIcon::Error);
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
    // The code is built aside and taken only once every line has been read sound,
    // so a file refused at its last line leaves the code loaded before whole.
    std::vector<uint8_t> code(kFileBufSize, 0x00);
    ConflictMap claimed(kFileBufSize);
    uint32_t runningEnd = 0;  // each file's length comes from its own records alone
    uint64_t codeBytes = 0;
    bool conflicted = false;  // from the first overlap on, no record is taken; the lines are still checked
    std::string problem;
    SRecordLine record;
    const bool readable = lines([&](std::string_view line, size_t number) {
        problem = ReadSRecordLine(line, record);
        if (problem.empty() && CarriesCode(record)) {
            const CodeSpan span = SpanOf(record);
            problem = SpanProblem(span);
            if (problem.empty() && !conflicted) {
                conflicted = !TakeRecord(record, span, code.data(), claimed, runningEnd);
                if (!conflicted) codeBytes += record.dataSize;
            }
        }
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
    if (codeBytes == 0) {
        // Headers, counts and start addresses alone would make an empty program
        // that an update sends in place of the board's code.
        Report(sourceName + " holds no code: no S1, S2 or S3 record with data; nothing of the file was loaded!",
               kCaptionWarning, MessageIcon::Warning);
        return false;
    }
    // An overlap stops the conversion at that line; what came before it stands.
    if (conflicted) Report(kTextSectionConflicted, kCaptionWarning, MessageIcon::Warning);
    std::memcpy(FileBuf.data(), code.data(), kFileBufSize);

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
    SRecordLine record;
    std::string problem = ReadSRecordLine(line, record);
    if (problem.empty() && !CarriesCode(record)) return true;  // blank lines, headers and counts carry no code
    const CodeSpan span = SpanOf(record);
    if (problem.empty()) problem = SpanProblem(span);
    if (problem.empty() && span.to > conflictMap.Addresses()) problem = "S-record beyond the conflict map";
    if (!problem.empty()) {
        Report(problem + "!", kCaptionWarning, MessageIcon::Warning);
        return false;
    }
    if (!TakeRecord(record, span, FileBuf.data(), conflictMap, runningEnd)) {
        Report(kTextSectionConflicted, kCaptionWarning, MessageIcon::Warning);
        return false;
    }
    return true;
}
