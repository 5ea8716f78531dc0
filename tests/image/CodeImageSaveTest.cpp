// Saving a converted code image, and the C header of a small program.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ImageTestSupport.h"
#include "image/PgmHeader.h"

namespace {

std::vector<uint8_t> Counting(size_t size, uint8_t first = 0) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

// Marks a file immutable for its life: nothing may be renamed over it.
class ImmutableFile {
public:
    explicit ImmutableFile(const std::string& path) : fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        held = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && Set(flags | FS_IMMUTABLE_FL);
    }
    ~ImmutableFile() {
        if (held) Set(flags);
        if (fd >= 0) ::close(fd);
    }
    bool Held() const { return held; }

private:
    bool Set(int value) { return ::ioctl(fd, FS_IOC_SETFLAGS, &value) == 0; }
    int fd;
    int flags = 0;
    bool held = false;
};

class CodeImageSave : public testing::Test {
protected:
    LoadedImage t{0x80000, 0x20000, 0x20000, 0x10000};
    CFlashImage& image = t.image;
    RecordingReporter& reporter = t.reporter;
};

TEST_F(CodeImageSave, SmallProgramIsSavedWithItsHeaderBesideIt) {
    ASSERT_TRUE(t.LoadText("prog.s", S3Record(0, Counting(16, 0xF0)) + S7Record(0)));
    ::mkdir((t.dir / "out").c_str(), 0755);
    EXPECT_TRUE(image.OnSaveFlashMap(t.dir / "out/prog.bin"));
    EXPECT_TRUE(reporter.Silent());

    const auto saved = ReadBytes(t.dir / "out/prog.bin");
    ASSERT_EQ(saved.size(), 21u);
    EXPECT_EQ(std::vector<uint8_t>(saved.begin(), saved.begin() + 4), (std::vector<uint8_t>{0, 0, 0, 0x14}));
    EXPECT_EQ(saved.back(), 0x50);
    EXPECT_EQ(ReadText(t.dir / "out/RmPgm.h"),
              "static u8 const PgmBuffer[20] =\r\n{\r\n"
              "0x00,0x00,0x00,0x14,0xF0,0xF1,0xF2,0xF3,0xF4,0xF5,0xF6,0xF7,0xF8,0xF9,0xFA,0xFB,"
              "0xFC,0xFD,0xFE,0xFF,0x50,\r\n};");
}

TEST(PgmHeaderText, ThirtyThreeValuesOnTheFirstLineThirtyTwoAfter) {
    std::vector<uint8_t> values(65, 0xAB);
    const std::string text = FormatPgmHeader(values.data(), 64);
    std::string thirtyTwo;
    for (int i = 0; i < 32; ++i) thirtyTwo += "0xAB,";
    EXPECT_EQ(text, "static u8 const PgmBuffer[64] =\r\n{\r\n" + thirtyTwo + "0xAB,\r\n" + thirtyTwo +
                        "\r\n\r\n};");  // value 64 ends a line, so an empty line stands before the brace
}

TEST_F(CodeImageSave, FullCodeImageIsSavedWithoutAHeader) {
    std::string text;
    for (uint32_t a = 0; a < 0x5000; a += 32) text += S3Record(a, Counting(32, static_cast<uint8_t>(a >> 5)));
    ASSERT_TRUE(t.LoadText("code.s", text));
    EXPECT_TRUE(image.OnSaveFlashMap(t.dir / "code.bin"));
    const auto saved = ReadBytes(t.dir / "code.bin");
    ASSERT_EQ(saved.size(), 0x5005u);
    EXPECT_TRUE(std::equal(saved.begin(), saved.end(), image.FileBuf.begin()));
    EXPECT_EQ(saved.back(), 'C');
    EXPECT_FALSE(FileExists(t.dir / "RmPgm.h"));

    // The saved code image loads back as the same code.
    LoadedImage again(0x80000, 0x20000, 0x20000, 0x10000);
    EXPECT_TRUE(again.image.OnLoadFile(t.dir / "code.bin"));
    EXPECT_EQ(again.image.CodeLen, 0x5004u);
    EXPECT_TRUE(std::equal(again.image.ImageBuf.begin(), again.image.ImageBuf.begin() + 0x5000, image.ImageBuf.begin()));
}

TEST_F(CodeImageSave, PlacedDataSectionMeansTheFlashImageIsSaved) {
    ASSERT_TRUE(t.LoadText("prog.s", S3Record(0, Counting(16))));
    ASSERT_TRUE(t.Load("logo.bin", SectionFile(0x100, 'E')));
    EXPECT_TRUE(image.OnSaveFlashMap(t.dir / "FlashMap.bin"));
    EXPECT_EQ(ReadBytes(t.dir / "FlashMap.bin").size(), 0xD0000u);
    EXPECT_FALSE(FileExists(t.dir / "RmPgm.h"));
}

TEST_F(CodeImageSave, RefusedSectionFileDoesNotSpoilTheCodeImage) {
    ASSERT_TRUE(t.LoadText("prog.s", S3Record(0, Counting(16))));
    EXPECT_FALSE(t.Load("huge.bin", SectionFile(0x20000, 'B')));  // too large: never read in
    EXPECT_TRUE(image.OnSaveFlashMap(t.dir / "prog.bin"));
    const auto saved = ReadBytes(t.dir / "prog.bin");
    ASSERT_EQ(saved.size(), 21u);
    EXPECT_EQ(saved[4], 0x00);
    EXPECT_EQ(saved[19], 0x0F);
    EXPECT_EQ(saved[20], 'P');
}

TEST_F(CodeImageSave, SavePathWithoutAFolderPutsTheHeaderInTheWorkingFolder) {
    ASSERT_TRUE(t.LoadText("prog.s", S3Record(0, Counting(4))));
    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(::chdir(t.dir.Path().c_str()), 0);
    const bool saved = image.OnSaveFlashMap("prog.bin");
    EXPECT_EQ(::chdir(previous), 0);
    EXPECT_TRUE(saved);
    EXPECT_TRUE(FileExists(t.dir / "RmPgm.h"));
    EXPECT_EQ(ReadBytes(t.dir / "prog.bin").size(), 9u);
}

// The header and the image are one program: a save that cannot write one of them
// writes neither, says which, and leaves both old files as they were.
TEST_F(CodeImageSave, SmallProgramAndItsHeaderAreWrittenBothOrNeither) {
    ASSERT_TRUE(t.LoadText("prog.s", S3Record(0, Counting(4))));
    for (const std::string blocked : {"RmPgm.h", "prog.bin"}) {
        SCOPED_TRACE(blocked);
        ScratchDir out;
        const std::string other = blocked == "RmPgm.h" ? "prog.bin" : "RmPgm.h";
        ::mkdir((out / blocked).c_str(), 0755);  // a folder stands where this one goes
        WriteText(out / other, "the old file");
        reporter.Clear();
        EXPECT_FALSE(image.OnSaveFlashMap(out / "prog.bin"));
        ASSERT_EQ(reporter.boxes.size(), 1u);
        EXPECT_EQ(reporter.boxes[0].text.rfind("Can't write file " + out / blocked, 0), 0u) << reporter.boxes[0].text;
        EXPECT_EQ(ReadText(out / other), "the old file");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out.Path()), {}), 2);  // no temporary file left
    }
}

// A file that cannot be replaced only shows when it is renamed over, after the
// other file of the pair may already be in place: that one must be put back.
// (Only root may mark a file immutable; others skip.)
TEST_F(CodeImageSave, PairThatFailsAtTheLastStepPutsTheFirstFileBack) {
    ASSERT_TRUE(t.LoadText("prog.s", S3Record(0, Counting(4))));
    for (const std::string blocked : {"RmPgm.h", "prog.bin"}) {
        SCOPED_TRACE(blocked);
        ScratchDir out;
        WriteText(out / "prog.bin", "the old program");
        WriteText(out / "RmPgm.h", "the old header");
        ImmutableFile lock(out / blocked);
        if (!lock.Held()) GTEST_SKIP() << "files cannot be made immutable here";
        reporter.Clear();
        EXPECT_FALSE(image.OnSaveFlashMap(out / "prog.bin"));
        EXPECT_EQ(reporter.boxes.size(), 1u);
        EXPECT_EQ(ReadText(out / "prog.bin"), "the old program");
        EXPECT_EQ(ReadText(out / "RmPgm.h"), "the old header");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out.Path()), {}), 2);  // no temporary file left
    }
}

// The operator who loaded a code file and saves must learn that the file was
// refused, not that nothing was loaded.
TEST_F(CodeImageSave, SaveAfterARefusedCodeFileNamesIt) {
    EXPECT_FALSE(t.LoadText("prog.s", S3Record(0, Counting(4)) + S3Record(0x7FFF0, Counting(12))));
    reporter.Clear();
    EXPECT_FALSE(image.OnSaveFlashMap(t.dir / "prog.bin"));
    ASSERT_EQ(reporter.boxes.size(), 1u);
    EXPECT_EQ(reporter.boxes[0].text, "There is nothing to save: " + t.dir / "prog.s" + " was refused!");
    EXPECT_FALSE(FileExists(t.dir / "prog.bin"));
}

}  // namespace
