// The Windows pieces below the engine: whole-file replacement with MoveFileExW, the
// update file reader, the executable's folder, the thread id, the trace's file and
// the console's typed lines.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "atomicfile/AtomicFile.h"
#include "image/UpdateFile.h"
#include "platform/ExecutableFolder.h"
#include "platform/FileFacts.h"
#include "platform/NewFile.h"
#include "platform/ThreadId.h"
#include "platform/TypedLines.h"
#include "platform/WriteOnlyFile.h"
#include "tests/support/Waiting.h"
#include "trace/TracePath.h"

namespace fs = std::filesystem;

namespace {

class Scratch : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("kestrel-platform-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ignored;
        for (const auto& e : fs::recursive_directory_iterator(dir, ignored))
            fs::permissions(e.path(), fs::perms::owner_all, ignored);
        fs::remove_all(dir, ignored);
    }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
    static void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }
    size_t FilesInDir() const { return static_cast<size_t>(std::distance(fs::directory_iterator(dir), {})); }

    fs::path dir;
};

using FileReplace = Scratch;
using UpdateFileRead = Scratch;
using Platform = Scratch;

}  // namespace

TEST_F(FileReplace, AnExistingFileIsReplacedWholeAndNothingIsLeftBeside) {
    const std::string path = Path("FlashMap.bin");
    Write(path, "old content that is longer than the new one");
    EXPECT_EQ(WriteFileReplacing(path, Bytes(std::string("new\n")), 4), "");
    EXPECT_EQ(Read(path), "new\n");  // bytes as they are: no CR added
    EXPECT_EQ(FilesInDir(), 1u);
    EXPECT_EQ(WriteFileReplacing(Path("fresh.bin"), Bytes(std::string("x")), 1), "");
    EXPECT_EQ(Read(Path("fresh.bin")), "x");
}

TEST_F(FileReplace, DevicesFoldersAndReadOnlyFilesAreLeftAsTheyAre) {
    // Device names stand in every folder; none is opened, let alone written.
    for (const std::string device : {"NUL", "nul.txt", "COM1", "com3.bin", "CON", "\\\\.\\COM2"}) {
        const std::string path = device.rfind("\\\\", 0) == 0 ? device : Path(device);
        EXPECT_NE(WriteFileReplacing(path, Bytes(std::string("x")), 1).find("no regular file"), std::string::npos)
            << path;
    }
    fs::create_directory(Path("folder"));
    EXPECT_EQ(WriteFileReplacing(Path("folder"), Bytes(std::string("x")), 1), "it is a folder");

    const std::string kept = Path("kept.bin");
    Write(kept, "keep me");
    fs::permissions(kept, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);  // read-only
    EXPECT_NE(WriteFileReplacing(kept, Bytes(std::string("lost")), 4), "");
    EXPECT_EQ(Read(kept), "keep me");
    EXPECT_EQ(FilesInDir(), 2u);  // the folder and the kept file: no temporary left, no device made a file
}

TEST_F(FileReplace, APairIsReplacedTogetherOrNotAtAll) {
    const std::string program = Path("Pgm.bin"), header = Path("RmPgm.h");
    Write(program, "old program");
    Write(header, "old header");
    EXPECT_EQ(WriteFilePairReplacing(program, Bytes(std::string("P2")), 2, header, Bytes(std::string("H2")), 2), "");
    EXPECT_EQ(Read(program), "P2");
    EXPECT_EQ(Read(header), "H2");

    // The second cannot be written: the first keeps its old content.
    fs::create_directory(Path("RmPgm2.h"));
    EXPECT_NE(WriteFilePairReplacing(program, Bytes(std::string("P3")), 2, Path("RmPgm2.h"), Bytes(std::string("H3")), 2),
              "");
    EXPECT_EQ(Read(program), "P2");
    // The same file named twice, in another case: refused, both untouched.
    std::string upper = program;
    upper.replace(upper.size() - 7, 7, "PGM.BIN");
    EXPECT_NE(WriteFilePairReplacing(program, Bytes(std::string("P4")), 2, upper, Bytes(std::string("H4")), 2)
                  .find("same file"),
              std::string::npos);
    EXPECT_EQ(Read(program), "P2");
    EXPECT_EQ(FilesInDir(), 3u);
}

TEST_F(Platform, ANewFileNeverTakesTheNameOfOneMadeMeanwhile) {
    const std::string temporary = Path("M850T.ini.new"), settings = Path("M850T.ini");
    Write(temporary, "defaults");
    EXPECT_EQ(PlaceNewFile(temporary, settings), "");
    EXPECT_EQ(Read(settings), "defaults");
    Write(temporary, "other defaults");
    EXPECT_EQ(PlaceNewFile(temporary, settings), "");
    EXPECT_EQ(Read(settings), "defaults");  // the first one stays
}

TEST_F(UpdateFileRead, OnlyRegularFilesAreOpenedAndReadByOffset) {
    UpdateFile file;
    EXPECT_EQ(file.Open(Path("missing.bin")), ENOENT);
    fs::create_directory(Path("sub"));
    EXPECT_EQ(file.Open(Path("sub")), EISDIR);
    EXPECT_EQ(UpdateFile::OpenProblem(EISDIR), "it is a folder");
    EXPECT_EQ(file.Open("NUL"), EINVAL);  // a device: never read as a file

    std::string content(70000, 'a');
    content[65536] = 'B';
    content.back() = 'F';
    Write(Path("FONT.bin"), content);
    ASSERT_EQ(file.Open(Path("FONT.bin")), 0);
    EXPECT_EQ(file.Size(), content.size());
    char bytes[2] = {};
    ASSERT_TRUE(file.ReadAt(65536, bytes, 1));
    ASSERT_TRUE(file.ReadAt(content.size() - 1, bytes + 1, 1));
    EXPECT_EQ(std::string(bytes, 2), "BF");
    EXPECT_FALSE(file.ReadAt(content.size() - 1, bytes, 2));  // past the end
}

TEST_F(Platform, TheExecutablesFolderThreadIdsAndTheTracesFile) {
    const std::string folder = ExecutableFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '\\');
    EXPECT_TRUE(fs::exists(fs::path(folder) / "win32_line_tests.exe")) << folder;

    uint32_t other = 0;
    std::thread([&] { other = CurrentThreadId(); }).join();
    EXPECT_NE(CurrentThreadId(), 0u);
    EXPECT_NE(other, 0u);
    EXPECT_NE(other, CurrentThreadId());

    const std::string trace = Path("line.trace");
    Write(trace, "something longer that must go");
    const int fd = OpenWriteOnlyFile(trace);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "1.0 TX 0a\n", 10), 10);
    ::close(fd);
    EXPECT_EQ(Read(trace), "1.0 TX 0a\n");
}

TEST_F(Platform, TypedLinesComeWholeWithoutTheirLineEnds) {
    const std::string commands = Path("commands.txt");
    Write(commands, "reset\r\npcdemo\ninitflash");
    const int fd = ::_open(commands.c_str(), _O_RDONLY | _O_BINARY);
    ASSERT_GE(fd, 0);
    std::vector<std::string> lines;
    {
        TypedLines typed(fd);
        ASSERT_TRUE(WaitUntil([&] {
            while (auto line = typed.Next())
                lines.push_back(*line);
            return typed.Ended();
        }));
    }
    ::_close(fd);
    EXPECT_EQ(lines, (std::vector<std::string>{"reset", "pcdemo", "initflash"}));
}

TEST_F(Platform, WhatAPathNamesIsToldWithoutOpeningDevicesAndAFileIsOneByAnySpelling) {
    const std::string trace = Path("run.trace");
    Write(trace, "0.000001 NOTE trace began 2026-01-01 00:00:00 UTC\n");
    std::string upper = trace;
    upper.replace(upper.size() - 9, 9, "RUN.TRACE");
    const FileFacts facts = LookAtFile(trace);
    EXPECT_TRUE(facts.exists && facts.regular && !facts.folder);
    EXPECT_TRUE(SameFile(facts, LookAtFile(upper)));
    Write(Path("other.trace"), "");
    EXPECT_FALSE(SameFile(facts, LookAtFile(Path("other.trace"))));
    EXPECT_EQ(FileStart(trace, 8), "0.000001");

    const FileFacts device = LookAtFile("COM1");
    EXPECT_TRUE(device.exists);
    EXPECT_FALSE(device.regular || device.folder);
    EXPECT_FALSE(SameFile(device, LookAtFile("\\\\.\\COM2")));  // devices have no file identity
    EXPECT_TRUE(LookAtFile(dir.string()).folder);
    EXPECT_FALSE(LookAtFile(Path("missing")).exists);

    // A trace never overwrites a file of the run, whatever its spelling, nor a device.
    EXPECT_EQ(TracePathProblem(trace, {}), "");
    EXPECT_NE(TracePathProblem(upper, {trace}).find("which this run reads"), std::string::npos);
    EXPECT_NE(TracePathProblem("COM1", {"COM1"}).find("no regular file"), std::string::npos);
    EXPECT_EQ(TracePathProblem(Path("missing"), {}), "");  // a new file
    EXPECT_EQ(TracePathProblem("", {}), "no file is named");
}
