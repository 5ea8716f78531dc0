// Flash address files of any shape, then the largest sections each layout takes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzSupport.h"

namespace {

// Places a section of `n` bytes (clipped to FileBuf) and checks the image after it.
void TryPlace(CFlashImage& image, uint64_t n, uint8_t letter) {
    n = std::min<uint64_t>(n, kFileBufSize);
    image.PlaceSection(static_cast<uint32_t>(n), letter, static_cast<uint8_t>(image.FlashBlocks()));
    RequireSoundImage(image);
}

// Keeps the last box, to check what a refusal says.
class LastBox : public DiscardingReporter {
public:
    void MessageBox(const std::string& text, const std::string&, MessageIcon) override { last = text; }
    std::string last;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static LastBox reporter;
    static CFlashImage image(reporter);
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (!image.ReadFlashAddrAssignText(text, "fuzz.h")) {
        Require(!image.LayoutUsable(), "a refused layout is marked unusable");
        Require(reporter.last.find("lash address file fuzz.h") != std::string::npos, "a refusal names the address file");
        return 0;
    }
    // A file taken holds each key once, as the name of its #define: anywhere else
    // (a comment, a longer name, a second definition) the board's tools and a C
    // compiler could read it apart.
    for (const char* key : {"CodeBufSize", "FontBufSize", "BmpBufSize", "EsLogoPicBufSize"}) {
        const size_t first = text.find(key);
        Require(first != std::string_view::npos && text.find(key, first + 1) == std::string_view::npos,
                "a taken file names each key once");
    }
    Require(uint64_t{image.BufSizes[0]} + image.BufSizes[1] + image.BufSizes[2] + image.BufSizes[3] <= kImageBufSize,
            "a taken layout's regions lie inside the image");
    image.ResetImage();
    RequireSoundImage(image);
    // Each region's limit, and one byte past it: the first may be placed, the
    // second must be refused, and neither may write outside the buffers.
    const uint64_t font = image.BmpStart - image.FontStart;
    const uint64_t bitmap = image.LogoStart - image.BmpStart;
    const uint64_t logo = uint64_t{image.FlashBlocks()} * kFlashBlockSize - image.LogoStart;
    for (uint64_t extra : {0, 1}) {
        TryPlace(image, font - std::min<uint64_t>(font, 1) + extra, 'F');
        TryPlace(image, bitmap - std::min<uint64_t>(bitmap, 1) + extra, 'B');
        TryPlace(image, logo - std::min<uint64_t>(logo, kTrailerSize) + extra, 'E');
    }
    image.CodeLen = std::min<uint32_t>(image.FontStart, kFileBufSize - 1);
    TryPlace(image, 0, 'C');
    return 0;
}
