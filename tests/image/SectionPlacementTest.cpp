// Taking section files into the flash image: kinds, region limits, the trailer.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "ImageTestSupport.h"

namespace {

// Code 0x60000, font 0x40000, bitmap 0x20000: the logo starts on a block boundary
// at 0xC0000 and, with no logo, the flash ends at 0xD0000.
class SectionPlacement : public testing::Test {
protected:
    LoadedImage t{0x60000, 0x40000, 0x20000, 0x20000};
    CFlashImage& image = t.image;
    RecordingReporter& reporter = t.reporter;

    uint32_t PointerAt(uint32_t offset) const { return CFlashImage::ReadBigEndian32(&image.ImageBuf[offset]); }
};

TEST_F(SectionPlacement, FontLandsWithItsLetterAndPointer) {
    const auto font = SectionFile(0x1234, 'F');
    EXPECT_TRUE(t.Load("FONT.BIN", font));
    EXPECT_TRUE(reporter.Silent());
    EXPECT_EQ(image.FontLen, 0x1234u);
    EXPECT_TRUE(std::equal(font.begin(), font.end(), image.ImageBuf.begin() + 0x60000));
    EXPECT_EQ(image.ImageBuf[0x60000 + 0x1234 - 1], 'F');
    EXPECT_EQ(image.ImageBuf[0x60000 + 0x1234], 0xFF);
    EXPECT_EQ(PointerAt(0xD0000 - 12), 0x60000u);
    EXPECT_EQ(image.ImageBuf[0xD0000 - 12], 0x00);  // most significant byte first
    EXPECT_EQ(PointerAt(0xD0000 - 8), 0xFFFFFFFFu);  // no bitmap placed: its slot stays erased
}

TEST_F(SectionPlacement, SectionsOfOneBatchAllLandWithTheirPointers) {
    EXPECT_TRUE(t.Load("bitmap.bin", SectionFile(0x800, 'B')));
    EXPECT_TRUE(t.Load("logo.bin", SectionFile(0x400, 'E')));
    EXPECT_TRUE(t.Load("font.bin", SectionFile(0x200, 'F')));
    EXPECT_EQ(image.BmpLen, 0x800u);
    EXPECT_EQ(image.LogoLen, 0x400u);
    EXPECT_EQ(image.FontLen, 0x200u);
    EXPECT_EQ(image.ImageBuf[0xA0000 + 0x7FF], 'B');
    EXPECT_EQ(image.ImageBuf[0xC0000 + 0x3FF], 'E');
    EXPECT_EQ(PointerAt(0xD0000 - 12), 0x60000u);
    EXPECT_EQ(PointerAt(0xD0000 - 8), 0xA0000u);
    EXPECT_EQ(PointerAt(0xD0000 - 4), 0xC0000u);
}

TEST_F(SectionPlacement, NamesAreJudgedByTheirEndAlone) {
    EXPECT_TRUE(t.Load("cabin", SectionFile(0x10, 'F')));  // no dot needed
    EXPECT_EQ(image.FontLen, 0x10u);

    EXPECT_FALSE(t.Load("firmware.hex", SectionFile(0x10, 'B')));
    ASSERT_EQ(reporter.boxes.size(), 1u);
    EXPECT_EQ(reporter.boxes[0].text, "The open file is not the right type!");
    EXPECT_EQ(reporter.boxes[0].caption, "Error");
    EXPECT_EQ(image.BmpLen, 0u);
}

TEST_F(SectionPlacement, UnknownLetterChangesNothing) {
    EXPECT_TRUE(t.Load("font.bin", SectionFile(0x10, 'F')));
    const auto imageBefore = image.ImageBuf;
    const auto fileBefore = image.FileBuf;
    EXPECT_FALSE(t.Load("data.bin", SectionFile(0x20, 'D')));
    EXPECT_EQ(reporter.errorTexts, std::vector<std::string>{"The open file is not the right type!"});
    EXPECT_EQ(image.ImageBuf, imageBefore);
    EXPECT_EQ(image.FileBuf, fileBefore);
    EXPECT_EQ(image.FontLen, 0x10u);
}

struct LimitCase {
    const char* name;
    char letter;
    uint32_t fits;       // the longest file that is placed
    const char* refusal;  // what one byte more gets
};

class RegionLimits : public SectionPlacement, public testing::WithParamInterface<LimitCase> {};

TEST_P(RegionLimits, LongestFittingFileIsPlacedOneMoreIsRefused) {
    const LimitCase& c = GetParam();
    EXPECT_TRUE(t.Load("fits.bin", SectionFile(c.fits, c.letter))) << (reporter.errorTexts.empty() ? "" : reporter.errorTexts[0]);
    EXPECT_TRUE(reporter.Silent());
    const auto imageBefore = image.ImageBuf;
    const std::array<uint32_t, 3> lengthsBefore = {image.FontLen, image.BmpLen, image.LogoLen};

    EXPECT_FALSE(t.Load("over.bin", SectionFile(c.fits + 1, c.letter)));
    EXPECT_EQ(reporter.errorTexts, std::vector<std::string>{c.refusal});
    // The refused file's length is not recorded: it would be announced to the
    // board and sent although none of its bytes were placed.
    EXPECT_EQ((std::array<uint32_t, 3>{image.FontLen, image.BmpLen, image.LogoLen}), lengthsBefore);
    EXPECT_EQ(image.ImageBuf, imageBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Letters, RegionLimits,
    testing::Values(LimitCase{"Bitmap", 'B', 0x20000 - 1, "Bitmap section is too large!"},
                    LimitCase{"Font", 'F', 0x40000 - 1, "Font section is too large!"},
                    // The logo stops right before the 12-byte start-pointer trailer.
                    LimitCase{"Logo", 'E', 0x10000 - 12, "Logo section is too large!"}),
    [](const testing::TestParamInfo<LimitCase>& info) { return info.param.name; });

TEST_F(SectionPlacement, LogoOfAWholeBlockIsRefused) {
    EXPECT_FALSE(t.Load("logo.bin", SectionFile(0x10000, 'E')));
    EXPECT_EQ(reporter.errorTexts, std::vector<std::string>{"Logo section is too large!"});
    EXPECT_EQ(image.LogoLen, 0u);
    EXPECT_EQ(image.FlashBlocks(), 13u);
}

TEST_F(SectionPlacement, LogoEndingAtTheTrailerKeepsTheOtherPointers) {
    EXPECT_TRUE(t.Load("font.bin", SectionFile(0x20, 'F')));
    EXPECT_TRUE(t.Load("logo.bin", SectionFile(0xFFF4, 'E')));
    EXPECT_EQ(image.ImageBuf[0xC0000 + 0xFFF3], 'E');
    EXPECT_EQ(PointerAt(0xD0000 - 12), 0x60000u);
    EXPECT_EQ(PointerAt(0xD0000 - 4), 0xC0000u);
}

TEST_F(SectionPlacement, RefusedReloadKeepsTheSectionPlacedBefore) {
    EXPECT_TRUE(t.Load("font.bin", SectionFile(0x100, 'F')));
    EXPECT_FALSE(t.Load("big.bin", SectionFile(0x40000, 'F')));
    EXPECT_EQ(image.FontLen, 0x100u);
    EXPECT_EQ(image.ImageBuf[0x60000 + 0xFF], 'F');
}

TEST_F(SectionPlacement, ReloadOverwritesAndLeavesOldTailBytes) {
    EXPECT_TRUE(t.Load("font.bin", SectionFile(0x100, 'F')));
    EXPECT_TRUE(t.Load("font2.bin", std::vector<uint8_t>(0x80, 'F')));
    EXPECT_EQ(image.FontLen, 0x80u);
    EXPECT_EQ(image.ImageBuf[0x60000 + 0x7F], 'F');
    EXPECT_EQ(image.ImageBuf[0x60000 + 0xFF], 'F');  // the first file's letter is still there
}

TEST_F(SectionPlacement, SavedCodeImageTakesItsLengthFromItsHeader) {
    // 4-byte big-endian L, the code bytes, the letter: L + 1 bytes in all.
    std::vector<uint8_t> code = {0x00, 0x00, 0x00, 0x08, 0xDE, 0xAD, 0xBE, 0xEF, 'P'};
    EXPECT_TRUE(t.Load("prog.bin", code));
    EXPECT_EQ(image.CodeLen, 8u);
    EXPECT_EQ(image.ImageBuf[0], 0xDE);
    EXPECT_EQ(image.ImageBuf[3], 0xEF);
    EXPECT_EQ(image.ImageBuf[4], 0xFF);  // neither header nor letter lands in the image

    auto wrong = code;
    wrong[3] = 0x09;  // claims one byte more than the file holds
    EXPECT_FALSE(t.Load("other.bin", wrong));
    EXPECT_EQ(reporter.errorTexts, std::vector<std::string>{"The open file is not the right type!"});
    EXPECT_EQ(image.CodeLen, 8u);
    EXPECT_FALSE(t.Load("tiny.bin", {0x00, 0x00, 'C'}));
}

TEST(CodeSectionLimit, CodeImageMustStayBelowTheFontRegion) {
    LoadedImage t(0x20000, 0x40000, 0x20000, 0x20000);
    std::vector<uint8_t> code(0x20000 + 1, 0x11);
    CFlashImage::WriteBigEndian32(code.data(), 0x20000);
    code.back() = 'C';
    EXPECT_FALSE(t.Load("code.bin", code));
    EXPECT_EQ(t.reporter.errorTexts, std::vector<std::string>{"Code section is too large!"});
    EXPECT_EQ(t.image.CodeLen, 0u);
    EXPECT_EQ(t.image.ImageBuf[0], 0xFF);

    code.resize(0x1FFFF + 1);
    CFlashImage::WriteBigEndian32(code.data(), 0x1FFFF);
    code.back() = 'C';
    EXPECT_TRUE(t.Load("code.bin", code));
    EXPECT_EQ(t.image.CodeLen, 0x1FFFFu);
    EXPECT_EQ(t.image.ImageBuf[0x1FFFA], 0x11);
    EXPECT_EQ(t.image.ImageBuf[0x1FFFB], 0xFF);
}

TEST_F(SectionPlacement, UnreadableEmptyAndOversizedFilesAreNamedAndChangeNothing) {
    const auto imageBefore = image.ImageBuf;
    EXPECT_FALSE(image.OnLoadFile(t.dir / "absent.bin"));
    EXPECT_FALSE(t.Load("empty.bin", {}));
    EXPECT_FALSE(t.Load("huge.bin", SectionFile(kFileBufSize + 1, 'F')));
    ::mkdir((t.dir / "folder.bin").c_str(), 0755);
    EXPECT_FALSE(image.OnLoadFile(t.dir / "folder.bin"));
    // The oversized file is also a map candidate of no known size, and says so first.
    ASSERT_EQ(reporter.boxes.size(), 5u);
    EXPECT_EQ(reporter.boxes[2].text, "The flashmap is not the right type!");
    const char* names[] = {"absent.bin", "empty.bin", "", "huge.bin", "folder.bin"};
    for (size_t i = 0; i < 5; ++i)
        EXPECT_NE(reporter.boxes[i].text.find(names[i]), std::string::npos) << reporter.boxes[i].text;
    EXPECT_EQ(image.ImageBuf, imageBefore);
    EXPECT_EQ(image.FontLen, 0u);
}

TEST_F(SectionPlacement, ResetErasesTheImageAndKeepsTheLayout) {
    EXPECT_TRUE(t.Load("font.bin", SectionFile(0x100, 'F')));
    image.ResetImage();
    EXPECT_EQ(image.FontLen, 0u);
    EXPECT_EQ(image.ImageBuf, std::vector<uint8_t>(kImageBufSize, 0xFF));
    EXPECT_EQ(image.FileBuf, std::vector<uint8_t>(kFileBufSize, 0x00));
    EXPECT_EQ(image.FontStart, 0x60000u);
    EXPECT_EQ(image.BufSizes[3], 0x20000u);
}

TEST_F(SectionPlacement, FlashSizesOutsideTheImageAreRefused) {
    std::fill(image.FileBuf.begin(), image.FileBuf.begin() + 0x10, 'F');
    EXPECT_FALSE(image.PlaceSection(0x10, 'F', 0));
    EXPECT_FALSE(image.PlaceSection(0x10, 'F', 17));
    EXPECT_EQ(image.FontLen, 0u);
    EXPECT_TRUE(image.PlaceSection(0x10, 'F', 16));
    EXPECT_EQ(PointerAt(kImageBufSize - 12), 0x60000u);
}

}  // namespace
