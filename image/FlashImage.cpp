#include "image/FlashImage.h"

#include <cstring>

#include "image/ImageTexts.h"

CFlashImage::CFlashImage(IImageReporter& r)
    : ImageBuf(kImageBufSize, 0xFF), FileBuf(kFileBufSize, 0x00), reporter(r) {
    layoutProblem = "No flash address file has been read";
}

void CFlashImage::ResetImage() {
    CodeLen = FontLen = BmpLen = LogoLen = FlashMapLen = 0;
    lastRefusedFile.clear();
    // memset rather than a fill loop: sanitizer builds keep such loops byte by byte.
    std::memset(ImageBuf.data(), 0xFF, ImageBuf.size());
    std::memset(FileBuf.data(), 0x00, FileBuf.size());
}

ImageSnapshot CFlashImage::Snapshot() const {
    return ImageSnapshot{ImageBuf, BufSizes, CodeStart, FontStart, BmpStart, LogoStart,
                         CodeLen,  FontLen,  BmpLen,    LogoLen,   FlashMapLen};
}

void CFlashImage::Restore(const ImageSnapshot& s) {
    if (s.imageBuf.size() == ImageBuf.size())
        std::memcpy(ImageBuf.data(), s.imageBuf.data(), ImageBuf.size());
    BufSizes = s.bufSizes;
    CodeStart = s.codeStart, FontStart = s.fontStart, BmpStart = s.bmpStart, LogoStart = s.logoStart;
    CodeLen = s.codeLen, FontLen = s.fontLen, BmpLen = s.bmpLen, LogoLen = s.logoLen, FlashMapLen = s.flashMapLen;
}

uint32_t CFlashImage::FlashBlocks() const {
    // Worked out in 64 bits so that a stray logo length can never wrap it into a
    // small, harmless-looking flash size.
    uint64_t logoEnd = uint64_t{LogoStart} + LogoLen;
    uint64_t blocks = (logoEnd >> 16) + 1;
    return blocks > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(blocks);
}

void CFlashImage::WriteBigEndian32(uint8_t* dst, uint32_t value) {
    dst[0] = static_cast<uint8_t>(value >> 24);
    dst[1] = static_cast<uint8_t>(value >> 16);
    dst[2] = static_cast<uint8_t>(value >> 8);
    dst[3] = static_cast<uint8_t>(value);
}

uint32_t CFlashImage::ReadBigEndian32(const uint8_t* src) {
    return (uint32_t{src[0]} << 24) | (uint32_t{src[1]} << 16) | (uint32_t{src[2]} << 8) | src[3];
}

void CFlashImage::Report(const char* constantText) {
    ++problemCount;
    reporter.ErrorText(constantText);
}

void CFlashImage::Report(const std::string& text, const char* caption, MessageIcon icon) {
    ++problemCount;
    reporter.MessageBox(text, caption, icon);
}

bool CFlashImage::RefuseWithoutLayout() {
    if (layoutUsable) return false;
    Report(layoutProblem + "; the flash image cannot be built or saved!", kCaptionError, MessageIcon::Error);
    return true;
}
