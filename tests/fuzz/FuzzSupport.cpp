#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>

void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "image rule broken: %s\n", what);
    std::abort();
}

void RequireSoundImage(const CFlashImage& image) {
    Require(image.ImageBuf.size() == kImageBufSize && image.FileBuf.size() == kFileBufSize, "buffers keep their size");
    Require(image.FontStart <= image.BmpStart && image.BmpStart <= image.LogoStart, "regions in order");
    Require(image.LogoStart < kImageBufSize, "logo starts inside the image");
    Require(image.FontLen < image.BmpStart - image.FontStart || image.FontLen == 0, "font inside its region");
    Require(image.BmpLen < image.LogoStart - image.BmpStart || image.BmpLen == 0, "bitmap inside its region");
    Require(uint64_t{image.FlashBlocks()} * kFlashBlockSize <= kImageBufSize, "flash fits the image");
    Require(image.LogoLen == 0 || uint64_t{image.LogoStart} + image.LogoLen + kTrailerSize <=
                                      uint64_t{image.FlashBlocks()} * kFlashBlockSize,
            "logo clear of the trailer");
    Require(image.FlashMapLen == 0 || image.FlashMapLen == 0x60000 || image.FlashMapLen == 0x80000 ||
                image.FlashMapLen == 0x90000 || image.FlashMapLen == 0xE0000,
            "map length is a known flash size");
    if (image.CodeLen != 0) {
        Require(image.CodeLen >= 4 && image.CodeLen < kFileBufSize, "code length inside FileBuf");
        Require(image.CodeLen < image.FontStart, "code inside its region");
    }
}
