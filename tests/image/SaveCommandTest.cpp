// `kestrel-cli save`, driven through its entry point.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "ImageTestSupport.h"
#include "cli/SaveCommand.h"

namespace {

struct CommandResult {
    int status;
    std::string out;
    std::string err;
};

CommandResult RunSave(std::vector<std::string> args) {
    args.insert(args.begin(), "save");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int status = RunSaveCommand(static_cast<int>(args.size()), argv.data());
    std::fflush(stdout);
    std::fflush(stderr);
    std::string out = testing::internal::GetCapturedStdout();
    return {status, out, testing::internal::GetCapturedStderr()};
}

class SaveCommand : public testing::Test {
protected:
    void SetUp() override {
        ::mkdir((dir / "Lib").c_str(), 0755);
        // Logo at 0x50000: a six-block flash, saved without a size warning.
        WriteText(dir / "Lib/FlashAddrAssign.h", AddrAssignText(0x20000, 0x20000, 0x10000, 0x10000));
        WriteBytes(dir / "font.bin", SectionFile(0x400, 'F'));
        WriteBytes(dir / "logo.bin", SectionFile(0x200, 'E'));
    }
    ScratchDir dir;
};

TEST_F(SaveCommand, BuildsAndSavesTheFlashMap) {
    auto r = RunSave({"--output", dir / "FlashMap.bin", "--lib", dir / "Lib", dir / "font.bin", dir / "logo.bin"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const auto map = ReadBytes(dir / "FlashMap.bin");
    ASSERT_EQ(map.size(), 0x60000u);
    EXPECT_EQ(map[0x20000 + 0x3FF], 'F');
    EXPECT_EQ(map[0x50000 + 0x1FF], 'E');
    EXPECT_EQ(CFlashImage::ReadBigEndian32(&map[0x60000 - 12]), 0x20000u);
}

TEST_F(SaveCommand, ConvertsSRecordsAndWritesTheHeaderBesideTheOutput) {
    WriteText(dir / "prog.s", S3Record(0, {1, 2, 3, 4}) + S7Record(0));
    auto r = RunSave({"-o", dir / "prog.bin", "-l", dir / "Lib", dir / "prog.s"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir / "prog.bin"), (std::vector<uint8_t>{0, 0, 0, 8, 1, 2, 3, 4, 'P'}));
    EXPECT_TRUE(FileExists(dir / "RmPgm.h"));
}

// A run that refused any of its files must not leave a half-built image where
// the operator's good file stood.
TEST_F(SaveCommand, RefusedFileIsToldWithItsCaptionAndNothingIsWritten) {
    WriteText(dir / "out.bin", "the old map");
    WriteText(dir / "RmPgm.h", "the old header");
    WriteBytes(dir / "bitmap.bin", SectionFile(0x10000, 'B'));
    auto r = RunSave({"--output", dir / "out.bin", "--lib", dir / "Lib", dir / "font.bin", dir / "bitmap.bin"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Warning: Bitmap section is too large!\nError: Nothing was saved to " + dir / "out.bin" + ": " +
                         dir / "bitmap.bin" + " was refused!\n");

    r = RunSave({"--output", dir / "out.bin", "--lib", dir / "Lib", dir / "notes.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error: The open file is not the right type!\n"), std::string::npos) << r.err;

    WriteBytes(dir / "junk.s", SectionFile(0x100, 'C'));  // no S-record text at all
    WriteText(dir / "prog.s", S3Record(0, {1, 2, 3, 4}));
    r = RunSave({"-o", dir / "out.bin", "-l", dir / "Lib", dir / "prog.s", dir / "junk.s"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("junk.s, line 1: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(dir / "junk.s was refused!"), std::string::npos) << r.err;

    EXPECT_EQ(ReadText(dir / "out.bin"), "the old map");
    EXPECT_EQ(ReadText(dir / "RmPgm.h"), "the old header");
}

TEST_F(SaveCommand, OutputThatIsNoRegularFileIsLeftAlone) {
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0644), 0);
    auto r = RunSave({"--output", dir / "pipe", "--lib", dir / "Lib", dir / "font.bin", dir / "logo.bin"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(dir / "pipe"), std::string::npos) << r.err;
    struct stat st {};
    ASSERT_EQ(::lstat((dir / "pipe").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(SaveCommand, MissingAddressFileFailsBeforeAnyFileIsRead) {
    auto r = RunSave({"--output", dir / "out.bin", "--lib", dir / "nowhere", dir / "font.bin"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error: Can't read flash address file " + dir / "nowhere/FlashAddrAssign.h"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(FileExists(dir / "out.bin"));
}

// An address file that the firmware's compiler reads otherwise, or that gives a
// section no room, blames itself, and nothing is written.
TEST_F(SaveCommand, AnAddressFileThatCannotBeTrustedStopsTheSave) {
    const struct {
        std::string layout;
        std::string told;
    } cases[] = {
        {"#define CodeBufSize 0x20000\n#define FontBufSize 131072\n#define BmpBufSize 0x10000\n"
         "#define EsLogoPicBufSize 0x10000\n",
         "Error: Flash address file " + dir / "Lib/FlashAddrAssign.h" + ", line 2: FontBufSize is 131072, a decimal number"},
        {AddrAssignText(0x20000, 0x20000, 0x10000, 0),
         "Error: The flash address file " + dir / "Lib/FlashAddrAssign.h" +
             " gives the logo region no room (EsLogoPicBufSize 0, line 5), so " + dir / "logo.bin" + " cannot be placed!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.told);
        WriteText(dir / "Lib/FlashAddrAssign.h", c.layout);
        auto r = RunSave({"--output", dir / "out.bin", "--lib", dir / "Lib", dir / "font.bin", dir / "logo.bin"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.told), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("too large"), std::string::npos) << r.err;
        EXPECT_FALSE(FileExists(dir / "out.bin"));
    }
}

// As cp would: a file the user made read-only is not replaced behind their back.
TEST_F(SaveCommand, AReadOnlyOutputIsRefusedWithTheReason) {
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
    ASSERT_EQ(::chmod((dir / "Lib").c_str(), 0755), 0);
    WriteText(dir / "ro.bin", "the operator's own map");
    ASSERT_EQ(::chmod((dir / "ro.bin").c_str(), 0444), 0);
    const std::string failure = RunAsOrdinaryUser([&]() -> std::string {
        auto r = RunSave({"--output", dir / "ro.bin", "--lib", dir / "Lib", dir / "font.bin", dir / "logo.bin"});
        const std::string told = "Error: Can't write file " + dir / "ro.bin" + ": Permission denied!\n";
        return r.status == 1 && r.err == told ? "" : "status " + std::to_string(r.status) + ", said: " + r.err;
    });
    EXPECT_EQ(failure, "");
    EXPECT_TRUE(ReadText(dir / "ro.bin") == "the operator's own map") << "the read-only file was replaced";
}

TEST_F(SaveCommand, UsageErrorsAndHelp) {
    EXPECT_EQ(RunSave({dir / "font.bin"}).status, 2);                        // no output
    EXPECT_EQ(RunSave({"--output", dir / "out.bin"}).status, 2);             // no file
    EXPECT_EQ(RunSave({"--frobnicate", "--output", "x", "y"}).status, 2);    // unknown option
    EXPECT_EQ(RunSave({"--output"}).status, 2);                               // option without its value
    auto help = RunSave({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("kestrel-cli save --output PATH [--lib DIR] FILE..."), std::string::npos);
    EXPECT_FALSE(FileExists(dir / "out.bin"));
}

}  // namespace
