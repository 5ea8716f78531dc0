// S-record text of any shape into the code image, then placed.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"

namespace {

CFlashImage& Image() {
    static DiscardingReporter reporter;
    static CFlashImage image(reporter);
    // A code region as large as FileBuf, so that every conversion is also placed.
    static const bool ready = image.ReadFlashAddrAssignText(
        "#define CodeBufSize 0x80000\n#define FontBufSize 0x40000\n#define BmpBufSize 0x20000\n#define EsLogoPicBufSize 0x10000\n", "fuzz layout");
    Require(ready, "fuzz layout usable");
    return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CFlashImage& image = Image();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const uint32_t codeLenBefore = image.CodeLen;
    const std::vector<uint8_t> codeBefore(image.FileBuf.begin(), image.FileBuf.begin() + codeLenBefore + 1);
    uint8_t letter = 0;
    if (!image.ConvertSRecordText(text, "fuzz.s", letter)) {
        Require(image.CodeLen == codeLenBefore, "a refused file leaves the code length");
        Require(std::equal(codeBefore.begin(), codeBefore.end(), image.FileBuf.begin()), "a refused file leaves the code");
        return 0;
    }
    const uint32_t length = image.CodeLen;
    Require(length >= 4 && length < kFileBufSize, "code image fits FileBuf with its letter");
    Require(CFlashImage::ReadBigEndian32(image.FileBuf.data()) == length, "header holds the length");
    Require(image.FileBuf[length] == letter, "letter behind the code");
    Require((letter == 'P') == (length < kSmallProgramLimit), "letter matches the size");
    image.PlaceSection(0, letter, static_cast<uint8_t>(image.FlashBlocks()));
    RequireSoundImage(image);
    return 0;
}
