// Reading the board's flash address assignment file and the layout it gives.

#include <gtest/gtest.h>

#include <filesystem>

#include "ImageTestSupport.h"
#include "image/AddrAssignReading.h"

namespace {

struct AddrCase {
    const char* name;
    std::string text;
    std::array<uint32_t, 4> sizes;  // as the board's tools read the file
    bool taken;                     // false: a C compiler reads it otherwise, and it is refused
};

std::string WithOthers(const std::string& codeLine) {
    return codeLine + "\n#define FontBufSize 0x40000\n#define BmpBufSize 0x20000\n#define EsLogoPicBufSize 0x10000\n";
}

class AddrAssignValues : public testing::TestWithParam<AddrCase> {};

TEST_P(AddrAssignValues, ReadAsTheBoardToolsReadThemAndTakenOnlyWhereACompilerAgrees) {
    EXPECT_EQ(ReadAsTheBoardTools(GetParam().text).sizes, GetParam().sizes);
    RecordingReporter reporter;
    CFlashImage image(reporter);
    EXPECT_EQ(image.ReadFlashAddrAssignText(GetParam().text, "FlashAddrAssign.h"), GetParam().taken);
    if (GetParam().taken) {
        EXPECT_EQ(image.BufSizes, GetParam().sizes);
        EXPECT_TRUE(reporter.Silent());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, AddrAssignValues,
    testing::Values(
        AddrCase{"LeadingZeros", WithOthers("#define CodeBufSize 0x00060000"), {0x60000, 0x40000, 0x20000, 0x10000}, true},
        AddrCase{"TrailingComment", WithOthers("#define CodeBufSize   0x60000  /* code */"),
                 {0x60000, 0x40000, 0x20000, 0x10000}, true},
        // The two skipped characters are taken to be "0x", whatever they are.
        AddrCase{"DecimalLosesTwoDigits", WithOthers("#define CodeBufSize 393216"), {0x3216, 0x40000, 0x20000, 0x10000},
                 false},
        AddrCase{"Parenthesised", WithOthers("#define CodeBufSize (0x60000)"), {0, 0x40000, 0x20000, 0x10000}, false},
        AddrCase{"EqualsSign", WithOthers("CodeBufSize=0x60000"), {0, 0x40000, 0x20000, 0x10000}, false},
        AddrCase{"LongerNameCounts", WithOthers("#define MaxCodeBufSize 0x1234\n#define CodeBufSize 0x60000"),
                 {0x1234, 0x40000, 0x20000, 0x10000}, false},
        AddrCase{"CrLfLineEnds",
                 "#define CodeBufSize 0x60000\r\n#define FontBufSize 0x40000\r\n#define BmpBufSize 0x20000\r\n"
                 "#define EsLogoPicBufSize 0x10000\r\n",
                 {0x60000, 0x40000, 0x20000, 0x10000}, true},
        AddrCase{"OneKeyPerLine", "CodeBufSize 0x1 FontBufSize 0x2\nFontBufSize 0x3\nBmpBufSize 0x4\nEsLogoPicBufSize 0x5",
                 {0x1, 0x3, 0x4, 0x5}, false},
        // Keys are taken in order: a bitmap line above the font line is passed over.
        AddrCase{"OutOfOrderLinePassedOver",
                 "#define CodeBufSize 0x60000\n#define BmpBufSize 0x20000\n#define FontBufSize 0x40000\n"
                 "#define BmpBufSize 0x10000\n#define EsLogoPicBufSize 0x8000\n",
                 {0x60000, 0x40000, 0x10000, 0x8000}, false},
        AddrCase{"KeyAtColumn254", WithOthers("#define" + std::string(247, ' ') + "CodeBufSize 0x50000"),
                 {0x50000, 0x40000, 0x20000, 0x10000}, true},
        // The key's column is held in one byte, with 255 meaning "not found".
        AddrCase{"KeyAtColumn255Unseen",
                 "#define" + std::string(248, ' ') + "CodeBufSize 0x50000\n" + WithOthers("#define CodeBufSize 0x60000"),
                 {0x60000, 0x40000, 0x20000, 0x10000}, false},
        AddrCase{"TooManyDigitsStayAtTheTop", WithOthers("#define CodeBufSize 0x123456789"),
                 {0xFFFFFFFF, 0x40000, 0x20000, 0x10000}, false}),
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

// The shipped layout with the font line (or lines) given: line 1 a comment, line 2
// the code size, line 3 on the font.
std::string FontLine(const std::string& font) {
    return "/* region sizes */\n#define CodeBufSize 0x80000\n" + font +
           "\n#define BmpBufSize 0x30000\n#define EsLogoPicBufSize 0x10000\n";
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
                    // The logo region itself would end past the image.
                    BadLayout{"RegionsPassTheImage", AddrAssignText(0x80000, 0x40000, 0x30000, 0x20000),
                              "regions that end at 0x110000 (the logo region of EsLogoPicBufSize 0x20000, line 5"},
                    // The 32-bit sum would wrap to a small, plausible logo start.
                    BadLayout{"SumsWrap", AddrAssignText(0xFFFF0000, 0x20000, 0x10, 0x10), "overflows"},
                    // Where a C compiler reads the file otherwise than the board's tools, the
                    // firmware was built for another layout than the one that would be flashed.
                    BadLayout{"Decimal", FontLine("#define FontBufSize 131072"),
                              ", line 3: FontBufSize is 131072, a decimal number: a C compiler reads it as 0x20000, "
                              "the board's reader as 0x1072; write it as 0x20000"},
                    BadLayout{"Octal", FontLine("#define FontBufSize 0400000"),
                              ", line 3: FontBufSize is 0400000, an octal number: a C compiler reads it as 0x20000"},
                    BadLayout{"Parenthesised", FontLine("#define FontBufSize (0x10000*2)"),
                              ", line 3: FontBufSize is (0x10000*2), an expression in parentheses, which the board's "
                              "reader takes as 0x0"},
                    BadLayout{"Negative", FontLine("#define FontBufSize -0x20000"),
                              ", line 3: FontBufSize is -0x20000, an expression,"},
                    BadLayout{"Sum", FontLine("#define FontBufSize 0x10000 + 0x10000"),
                              ", line 3: FontBufSize is 0x10000 + 0x10000, an expression,"},
                    BadLayout{"EqualsSign", FontLine("FontBufSize=0x20000"),
                              ", line 3: FontBufSize stands here outside a #define of it"},
                    BadLayout{"LineCommentAbove", FontLine("// #define FontBufSize 0x99999\n#define FontBufSize 0x20000"),
                              ", line 3: FontBufSize stands in a comment"},
                    BadLayout{"BlockCommentAcrossLines",
                              FontLine("/* the old value:\n#define FontBufSize 0x99999\n*/\n#define FontBufSize 0x20000"),
                              ", line 4: FontBufSize stands in a comment"},
                    BadLayout{"KeyInATrailingComment", FontLine("#define FontBufSize 0x20000 // after CodeBufSize"),
                              ", line 3: CodeBufSize stands in a comment"},
                    BadLayout{"Repeated", FontLine("#define FontBufSize 0x20000\n#define FontBufSize 0x30000"),
                              ", line 4: FontBufSize is defined a second time (first on line 3)"},
                    BadLayout{"LongerName", FontLine("#define MaxFontBufSize 0x1234\n#define FontBufSize 0x20000"),
                              ", line 3: MaxFontBufSize is a longer name containing FontBufSize"},
                    BadLayout{"OutOfOrder",
                              "#define CodeBufSize 0x80000\n#define BmpBufSize 0x30000\n#define FontBufSize 0x20000\n"
                              "#define EsLogoPicBufSize 0x10000\n",
                              ", line 2: BmpBufSize comes before FontBufSize (line 3)"},
                    BadLayout{"IfZero", FontLine("#if 0\n#define FontBufSize 0x99999\n#else\n#define FontBufSize 0x20000\n#endif"),
                              ", line 4: FontBufSize is defined inside the condition on line 3"},
                    BadLayout{"Continued", FontLine("#define FontBufSize \\\n    0x20000"),
                              ", line 3: FontBufSize is on a line continued with a backslash"},
                    BadLayout{"ContinuedBehindBlanks", FontLine("#define FontBufSize 0x20000 \\ \n    + 0x10000"),
                              ", line 3: FontBufSize is on a line continued with a backslash"},
                    BadLayout{"CommentBeforeTheValue", FontLine("#define FontBufSize /* font */ 0x20000"),
                              ", line 3: the board's reader takes FontBufSize as 0x0 from this line, a C compiler as 0x20000"},
                    BadLayout{"NoValue", FontLine("#define FontBufSize"), ", line 3: FontBufSize is defined without a value"},
                    BadLayout{"TooLarge", FontLine("#define FontBufSize 0x123456789"), "more than 32 bits hold"},
                    BadLayout{"BeyondColumn255", FontLine("#define" + std::string(248, ' ') + "FontBufSize 0x20000"),
                              ", line 3: FontBufSize begins after the first 255 characters"}),
    [](const testing::TestParamInfo<BadLayout>& info) { return info.param.name; });

// Every file written as the shipped one, "#define Key 0xHEX" with or without a
// comment, still gives exactly the layout it always gave.
TEST(FlashLayout, FilesWrittenAsTheShippedOneKeepTheirLayout) {
    const std::string shipped = ReadText(std::string(KESTREL_SOURCE_DIR) + "/res/Lib/FlashAddrAssign.h");
    ASSERT_NE(shipped.find("#define CodeBufSize"), std::string::npos);
    auto replaced = [](std::string text, const std::string& from, const std::string& to) {
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
        return text;
    };
    std::string bare;  // the defines alone, without comments or guard
    for (const char* key : {"CodeBufSize", "FontBufSize", "BmpBufSize", "EsLogoPicBufSize"}) {
        const size_t at = shipped.find(std::string("#define ") + key);
        ASSERT_NE(at, std::string::npos) << key;
        const std::string line = shipped.substr(at, shipped.find('\n', at) - at);
        bare += line.substr(0, line.find("/*")) + "\n";
    }
    const struct {
        const char* what;
        std::string text;
    } files[] = {
        {"shipped", shipped},
        {"defines alone", bare},
        {"CR LF line ends", replaced(shipped, "\n", "\r\n")},
        {"tabs", replaced(bare, " ", "\t")},
        {"line comments", replaced(replaced(shipped, "/*", "//"), "*/", "")},
        {"capital hex and suffixes", replaced(replaced(bare, "0x", "0X000"), "0000\n", "0000UL\n")},
        {"other defines between", replaced(bare, "\n", "\n#define FlashSize 0x100000\n\n")},
        {"a byte-order mark in front", "\xEF\xBB\xBF" + bare},
        // What else a header holds does not disturb the keys: conditions around other
        // names, a comment mark inside a string, a continued line.
        {"other conditions and literals",
         "#ifndef GUARD\n#define GUARD\n#define NAME \"a /* b\"\n#if 0\n#define OLD 1\n#endif\n#define LONG \\\n  (1)\n" +
             bare + "#endif\n"},
    };
    RecordingReporter reporter;
    CFlashImage reference(reporter);
    ASSERT_TRUE(reference.ReadFlashAddrAssignText(shipped, "shipped"));
    EXPECT_EQ(reference.BufSizes, (std::array<uint32_t, 4>{0x80000, 0x20000, 0x30000, 0x10000}));
    for (const auto& f : files) {
        SCOPED_TRACE(f.what);
        CFlashImage image(reporter);
        EXPECT_TRUE(image.ReadFlashAddrAssignText(f.text, f.what)) << f.text;
        EXPECT_EQ(image.BufSizes, reference.BufSizes);
        EXPECT_EQ(image.LogoStart, reference.LogoStart);
        EXPECT_EQ(ReadAsTheBoardTools(f.text).sizes, reference.BufSizes);
    }
    EXPECT_TRUE(reporter.Silent()) << (reporter.boxes.empty() ? "" : reporter.boxes[0].text);
}

// A region of size 0 has no room for its section, whatever the file's size: the
// address file is to blame, not the update file, and nothing is placed.
TEST(FlashLayout, ASectionForARegionOfSizeZeroIsRefusedBlamingTheAddressFile) {
    const struct {
        std::array<uint32_t, 4> sizes;
        const char* file;
        char letter;  // 0: S-record code text
        const char* told;
    } cases[] = {
        {{0x60000, 0, 0x20000, 0x10000}, "font.bin", 'F', "gives the font region no room (FontBufSize 0, line 3), so "},
        {{0x60000, 0x20000, 0, 0x10000}, "bitmap.bin", 'B', "gives the bitmap region no room (BmpBufSize 0, line 4), so "},
        {{0x60000, 0x20000, 0x20000, 0}, "logo.bin", 'E', "gives the logo region no room (EsLogoPicBufSize 0, line 5), so "},
        {{0, 0x20000, 0x20000, 0x10000}, "code.s", 0, "gives the code region no room (CodeBufSize 0, line 2), so "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        LoadedImage t(c.sizes[0], c.sizes[1], c.sizes[2], c.sizes[3]);
        const std::string name = c.file;
        const bool taken = c.letter ? t.Load(name, SectionFile(2501, c.letter))
                                    : t.LoadText(name, S3Record(0, {1, 2, 3, 4}) + S7Record(0));
        EXPECT_FALSE(taken);
        EXPECT_TRUE(t.reporter.errorTexts.empty()) << t.reporter.errorTexts[0];
        ASSERT_EQ(t.reporter.boxes.size(), 1u);
        EXPECT_EQ(t.reporter.boxes[0].caption, "Error");
        EXPECT_EQ(t.reporter.boxes[0].text,
                  "The flash address file test layout " + std::string(c.told) + t.dir / name + " cannot be placed!");
        EXPECT_EQ(t.image.CodeLen + t.image.FontLen + t.image.BmpLen + t.image.LogoLen, 0u);
        EXPECT_EQ(t.image.ImageBuf, std::vector<uint8_t>(kImageBufSize, 0xFF));
    }
}

TEST(FlashLayout, LastUsableLogoStartSitsInTheTopBlock) {
    LoadedImage t(0x80000, 0x40000, 0x3FFFF, 0);
    EXPECT_TRUE(t.image.LayoutUsable());
    EXPECT_EQ(t.image.FlashBlocks(), 16u);
}

}  // namespace
