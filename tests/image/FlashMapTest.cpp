// Complete flash maps in, and the image out.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>

#include "ImageTestSupport.h"

namespace {

std::vector<uint8_t> MapFile(uint32_t size) {
    std::vector<uint8_t> map(size);
    for (uint32_t i = 0; i < size; ++i) map[i] = static_cast<uint8_t>(i ^ (i >> 9));
    return map;
}

class FlashMaps : public testing::Test {
protected:
    LoadedImage t{0x60000, 0x40000, 0x20000, 0x20000};
    CFlashImage& image = t.image;
    RecordingReporter& reporter = t.reporter;
};

TEST_F(FlashMaps, MapOfAKnownSizeIsLoadedWhole) {
    const auto map = MapFile(0x60000);
    EXPECT_TRUE(t.Load("MAP.BIN", map));
    EXPECT_TRUE(reporter.Silent());
    EXPECT_EQ(image.FlashMapLen, 0x60000u);
    EXPECT_TRUE(std::equal(map.begin(), map.end(), image.ImageBuf.begin()));
    EXPECT_EQ(image.ImageBuf[0x60000], 0xFF);
    EXPECT_EQ(image.FontLen + image.BmpLen + image.LogoLen + image.CodeLen, 0u);
}

TEST_F(FlashMaps, FileJustBelowTheCandidateSizeIsASection) {
    auto file = SectionFile(0x5F000, 'C');
    file.back() = 'B';
    EXPECT_FALSE(t.Load("section.bin", file));  // too large for the bitmap region, but no map message
    EXPECT_EQ(reporter.errorTexts, std::vector<std::string>{"Bitmap section is too large!"});
    EXPECT_TRUE(reporter.boxes.empty());
}

TEST(FlashMapCandidates, WrongSizeIsWarnedThenTakenAsASection) {
    LoadedImage t(0x10000, 0x80000, 0x20000, 0x10000);
    EXPECT_TRUE(t.Load("MAP.BIN", MapFile(0x80000)));
    ASSERT_EQ(t.image.FlashMapLen, 0x80000u);
    EXPECT_FALSE(t.Load("font.bin", SectionFile(0x70000, 'F')));
    ASSERT_EQ(t.reporter.boxes.size(), 1u);
    EXPECT_EQ(t.reporter.boxes[0].text, "The flashmap is not the right type!");
    EXPECT_EQ(t.reporter.boxes[0].caption, "Warning");
    EXPECT_EQ(t.image.FontLen, 0x70000u);
    EXPECT_EQ(t.image.FlashMapLen, 0u);
}

TEST(FlashMapCandidates, WrongSizeAnnouncesNoMapLength) {
    LoadedImage t(0x10000, 0x80000, 0x20000, 0x10000);
    EXPECT_FALSE(t.Load("odd.bin", SectionFile(0x70000, 'D')));
    EXPECT_EQ(t.reporter.boxes.size(), 1u);
    EXPECT_EQ(t.reporter.errorTexts, std::vector<std::string>{"The open file is not the right type!"});
    // The rejected file's length must not reach the section header as a map length.
    EXPECT_EQ(t.image.FlashMapLen, 0u);
}

TEST_F(FlashMaps, SRecordTextIsNeverAMap) {
    std::string text;
    for (uint32_t a = 0; a < 0x30000; a += 16) text += S3Record(a, std::vector<uint8_t>(16, 0x5A));
    ASSERT_GT(text.size(), 0x5F000u);
    EXPECT_TRUE(t.LoadText("big.bin.s", text));
    EXPECT_EQ(image.FlashMapLen, 0u);
    EXPECT_EQ(image.CodeLen, 0x30004u);
}

// Once a file that is no map follows a map, the image is no map any more, and
// the board must not be told a map length; a refusal of that file changes nothing.
TEST_F(FlashMaps, FileThatIsNoMapEndsTheMapEvenWhenRefused) {
    EXPECT_TRUE(t.Load("map.bin", MapFile(0x90000)));
    EXPECT_FALSE(t.Load("data.bin", SectionFile(0x40, 'D')));
    EXPECT_EQ(image.FlashMapLen, 0u);
    EXPECT_TRUE(t.Load("map.bin", MapFile(0x90000)));
    EXPECT_FALSE(t.LoadText("junk.s", "no S-records here\n"));
    EXPECT_EQ(image.FlashMapLen, 0u);
    // A section that is placed turns the image into sections.
    EXPECT_TRUE(t.Load("map.bin", MapFile(0x90000)));
    EXPECT_TRUE(t.Load("font.bin", SectionFile(0x40, 'F')));
    EXPECT_EQ(image.FlashMapLen, 0u);
}

TEST_F(FlashMaps, SavedImageSpansTheFlashWithAWarningForOddSizes) {
    EXPECT_TRUE(t.Load("font.bin", SectionFile(0x100, 'F')));
    EXPECT_TRUE(image.OnSaveFlashMap(t.dir / "FlashMap.bin"));
    ASSERT_EQ(reporter.boxes.size(), 1u);
    EXPECT_EQ(reporter.boxes[0].text, "Unexpected save file size!");
    EXPECT_EQ(reporter.boxes[0].caption, "Warning");
    const auto saved = ReadBytes(t.dir / "FlashMap.bin");
    ASSERT_EQ(saved.size(), 0xD0000u);  // 13 blocks, written all the same
    EXPECT_TRUE(std::equal(saved.begin(), saved.end(), image.ImageBuf.begin()));
}

TEST(FlashMapSizes, KnownSizeSavesQuietlyAndLoadsBackAsAMap) {
    // Logo starts at 0x50000 (6 blocks), 0x70000 (8), 0x80000 (9), 0xD0000 (14).
    for (uint32_t logoStart : {0x50000u, 0x70000u, 0x80000u, 0xD0000u}) {
        SCOPED_TRACE(logoStart);
        LoadedImage t(0x20000, 0x20000, logoStart - 0x40000, 0x10000);
        EXPECT_TRUE(t.Load("logo.bin", SectionFile(0x8000, 'E')));
        EXPECT_TRUE(t.Load("font.bin", SectionFile(0x300, 'F')));
        EXPECT_TRUE(t.image.OnSaveFlashMap(t.dir / "FlashMap.bin"));
        EXPECT_TRUE(t.reporter.Silent());
        const auto saved = ReadBytes(t.dir / "FlashMap.bin");
        EXPECT_EQ(saved.size(), logoStart + 0x10000);

        LoadedImage again(0x20000, 0x20000, logoStart - 0x40000, 0x10000);
        EXPECT_TRUE(again.image.OnLoadFile(t.dir / "FlashMap.bin"));
        EXPECT_EQ(again.image.FlashMapLen, saved.size());
        EXPECT_TRUE(std::equal(saved.begin(), saved.end(), again.image.ImageBuf.begin()));
    }
}

TEST_F(FlashMaps, LoadedMapAloneIsSavedAsThatMap) {
    const auto map = MapFile(0xE0000);
    EXPECT_TRUE(t.Load("map.bin", map));
    EXPECT_TRUE(image.OnSaveFlashMap(t.dir / "copy.bin"));
    EXPECT_EQ(ReadBytes(t.dir / "copy.bin"), map);
}

TEST_F(FlashMaps, NothingLoadedSavesNothing) {
    EXPECT_FALSE(image.OnSaveFlashMap(t.dir / "out.bin"));
    EXPECT_EQ(reporter.boxes.size(), 1u);
    EXPECT_FALSE(FileExists(t.dir / "out.bin"));
    // An armed erase marks the map length with all ones; that is no map to save.
    image.FlashMapLen = 0xFFFFFFFF;
    EXPECT_FALSE(image.OnSaveFlashMap(t.dir / "out.bin"));
    EXPECT_FALSE(FileExists(t.dir / "out.bin"));
}

// Writing stops half way (a file size limit works for every user, root too);
// the file that stood at the path must still be there, whole.
TEST_F(FlashMaps, FailedSaveIsReportedAndLeavesTheOldFileWhole) {
    WriteText(t.dir / "keep.bin", "the good old map");
    EXPECT_TRUE(t.Load("font.bin", SectionFile(0x100, 'F')));
    reporter.Clear();
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    rlimit small = before;
    small.rlim_cur = 0x1000;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = image.OnSaveFlashMap(t.dir / "keep.bin");
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved);
    ASSERT_EQ(reporter.boxes.size(), 2u);  // the size warning, then the failure
    EXPECT_EQ(reporter.boxes[1].caption, "Error");
    EXPECT_NE(reporter.boxes[1].text.find("keep.bin"), std::string::npos);
    EXPECT_EQ(ReadText(t.dir / "keep.bin"), "the good old map");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t.dir.Path()), {}), 2);  // no leftovers
}

TEST_F(FlashMaps, SaveIntoAMissingFolderIsReported) {
    EXPECT_TRUE(t.Load("font.bin", SectionFile(0x100, 'F')));
    reporter.Clear();
    EXPECT_FALSE(image.OnSaveFlashMap(t.dir / "no/such/folder/FlashMap.bin"));
    ASSERT_EQ(reporter.boxes.size(), 2u);  // the size warning, then the failure
    EXPECT_NE(reporter.boxes[1].text.find("no/such/folder/FlashMap.bin"), std::string::npos);
}

TEST_F(FlashMaps, SaveReplacesAnExistingFile) {
    WriteText(t.dir / "out.bin", std::string(0x200000, 'x'));  // longer than any image
    EXPECT_TRUE(t.Load("map.bin", MapFile(0x60000)));
    EXPECT_TRUE(image.OnSaveFlashMap(t.dir / "out.bin"));
    EXPECT_EQ(ReadBytes(t.dir / "out.bin").size(), 0x60000u);
}

}  // namespace
