// Reading the board's flash address assignment file and the layout it gives.

#include <gtest/gtest.h>

#include "ImageTestSupport.h"

namespace {

struct AddrCase {
    const char* name;
    std::string text;
    std::array<uint32_t, 4> sizes;
};

std::string WithOthers(const std::string& codeLine) {
    return codeLine + "\n#define FontBufSize 0x40000\n#define BmpBufSize 0x20000\n#define EsLogoPicBufSize 0x10000\n";
}

class AddrAssignValues : public testing::TestWithParam<AddrCase> {};

TEST_P(AddrAssignValues, ReadAsTheBoardToolsWriteThem) {
    RecordingReporter reporter;
    CFlashImage image(reporter);
    image.ReadFlashAddrAssignText(GetParam().text, "FlashAddrAssign.h");
    EXPECT_EQ(image.BufSizes, GetParam().sizes);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, AddrAssignValues,
    testing::Values(
        AddrCase{"LeadingZeros", WithOthers("#define CodeBufSize 0x00060000"), {0x60000, 0x40000, 0x20000, 0x10000}},
        AddrCase{"TrailingComment", WithOthers("#define CodeBufSize   0x60000  /* code */"),
                 {0x60000, 0x40000, 0x20000, 0x10000}},
        // The two skipped characters are taken to be "0x", whatever they are.
        AddrCase{"DecimalLosesTwoDigits", WithOthers("#define CodeBufSize 393216"), {0x3216, 0x40000, 0x20000, 0x10000}},
        AddrCase{"Parenthesised", WithOthers("#define CodeBufSize (0x60000)"), {0, 0x40000, 0x20000, 0x10000}},
        AddrCase{"EqualsSign", WithOthers("CodeBufSize=0x60000"), {0, 0x40000, 0x20000, 0x10000}},
        AddrCase{"LongerNameCounts", WithOthers("#define MaxCodeBufSize 0x1234\n#define CodeBufSize 0x60000"),
                 {0x1234, 0x40000, 0x20000, 0x10000}},
        AddrCase{"CrLfLineEnds",
                 "#define CodeBufSize 0x60000\r\n#define FontBufSize 0x40000\r\n#define BmpBufSize 0x20000\r\n"
                 "#define EsLogoPicBufSize 0x10000\r\n",
                 {0x60000, 0x40000, 0x20000, 0x10000}},
        AddrCase{"OneKeyPerLine", "CodeBufSize 0x1 FontBufSize 0x2\nFontBufSize 0x3\nBmpBufSize 0x4\nEsLogoPicBufSize 0x5",
                 {0x1, 0x3, 0x4, 0x5}},
        // Keys are taken in order: a bitmap line above the font line is passed over.
        AddrCase{"OutOfOrderLinePassedOver",
                 "#define CodeBufSize 0x60000\n#define BmpBufSize 0x20000\n#define FontBufSize 0x40000\n"
                 "#define BmpBufSize 0x10000\n#define EsLogoPicBufSize 0x8000\n",
                 {0x60000, 0x40000, 0x10000, 0x8000}},
        AddrCase{"KeyAtColumn254", WithOthers(std::string(254, ' ') + "CodeBufSize 0x50000"),
                 {0x50000, 0x40000, 0x20000, 0x10000}},
        // The key's column is held in one byte, with 255 meaning "not found".
        AddrCase{"KeyAtColumn255Unseen",
                 std::string(255, ' ') + "CodeBufSize 0x50000\n" + WithOthers("#define CodeBufSize 0x60000"),
                 {0x60000, 0x40000, 0x20000, 0x10000}},
        AddrCase{"TooManyDigitsStayAtTheTop", WithOthers("#define CodeBufSize 0x123456789"),
                 {0xFFFFFFFF, 0x40000, 0x20000, 0x10000}}),
    [](const testing::TestParamInfo<AddrCase>& info) { return info.param.name; });

TEST(FlashLayout, StartsAreRunningSumsAndFlashEndsAtTheNextBlock) {
    LoadedImage t(0x60000, 0x40000, 0x20000, 0x20000);
    EXPECT_EQ(t.image.CodeStart, 0u);
    EXPECT_EQ(t.image.FontStart, 0x60000u);
    EXPECT_EQ(t.image.BmpStart, 0xA0000u);
    EXPECT_EQ(t.image.LogoStart, 0xC0000u);
    EXPECT_EQ(t.image.FlashBlocks(), 13u);
    EXPECT_TRUE(t.reporter.Silent());
}

TEST(FlashLayout, ReadFromTheFileOnDisk) {
    ScratchDir dir;
    WriteText(dir / "FlashAddrAssign.h", AddrAssignText(0x80000, 0x20000, 0x40000, 0x20000));
    RecordingReporter reporter;
    CFlashImage image(reporter);
    EXPECT_TRUE(image.ReadFlashAddrAssign(dir / "FlashAddrAssign.h"));
    EXPECT_TRUE(image.LayoutUsable());
    EXPECT_EQ(image.LogoStart, 0xE0000u);
}

struct BadLayout {
    const char* name;
    std::string text;     // empty: the file does not exist
    const char* mention;  // what the message must say
};

class UnusableLayouts : public testing::TestWithParam<BadLayout> {};

// Without a usable layout every image operation would copy or write the trailer
// at offsets outside the buffers; the worker says so once and then refuses.
TEST_P(UnusableLayouts, AreReportedAndStopEveryImageOperation) {
    ScratchDir dir;
    const std::string path = dir / "FlashAddrAssign.h";
    if (!GetParam().text.empty()) WriteText(path, GetParam().text);
    RecordingReporter reporter;
    CFlashImage image(reporter);
    EXPECT_FALSE(image.ReadFlashAddrAssign(path));
    EXPECT_FALSE(image.LayoutUsable());
    ASSERT_EQ(reporter.boxes.size(), 1u);
    EXPECT_EQ(reporter.boxes[0].caption, "Error");
    EXPECT_NE(reporter.boxes[0].text.find(path), std::string::npos) << reporter.boxes[0].text;
    EXPECT_NE(reporter.boxes[0].text.find(GetParam().mention), std::string::npos) << reporter.boxes[0].text;

    image.ResetImage();
    WriteBytes(dir / "font.bin", SectionFile(0x100, 'F'));
    reporter.Clear();
    EXPECT_FALSE(image.OnLoadFile(dir / "font.bin"));
    EXPECT_FALSE(image.PlaceSection(0x100, 'F', 1));
    EXPECT_FALSE(image.OnSaveFlashMap(dir / "out.bin"));
    EXPECT_EQ(reporter.boxes.size(), 3u);
    EXPECT_EQ(image.FontLen, 0u);
    EXPECT_EQ(image.ImageBuf, std::vector<uint8_t>(kImageBufSize, 0xFF));
    EXPECT_FALSE(FileExists(dir / "out.bin"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, UnusableLayouts,
    testing::Values(BadLayout{"Missing", "", "Can't read"},
                    BadLayout{"LacksLogoKey", "#define CodeBufSize 0x60000\n#define FontBufSize 0x40000\n"
                                              "#define BmpBufSize 0x20000\n",
                              "EsLogoPicBufSize"},
                    BadLayout{"FlashEndBeyondImage", AddrAssignText(0x80000, 0x40000, 0x40000, 0x10000), "1 MB"},
                    // The 32-bit sum would wrap to a small, plausible logo start.
                    BadLayout{"SumsWrap", AddrAssignText(0xFFFF0000, 0x20000, 0x10, 0x10), "overflows"}),
    [](const testing::TestParamInfo<BadLayout>& info) { return info.param.name; });

TEST(FlashLayout, LastUsableLogoStartSitsInTheTopBlock) {
    LoadedImage t(0x80000, 0x40000, 0x3FFFF, 0);
    EXPECT_TRUE(t.image.LayoutUsable());
    EXPECT_EQ(t.image.FlashBlocks(), 16u);
}

}  // namespace
