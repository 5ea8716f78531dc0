// Outputs are replaced whole and only where a regular file stands; update files
// are read only when they are regular files.

#include <gtest/gtest.h>

#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "ImageTestSupport.h"
#include "atomicfile/AtomicFile.h"
#include "image/UpdateFile.h"

namespace {

size_t OpenDescriptors() {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

size_t EntriesIn(const std::string& folder) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

struct stat LinkStatus(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

std::string Write(const std::string& path, const std::string& text) {
    return WriteFileReplacing(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// A device node, a pipe or a folder at the output path must stay what it is: a
// save as root once turned /dev/null into a regular file.
TEST(FileReplace, OnlyRegularFilesAreReplaced) {
    ScratchDir dir;
    std::vector<std::string> outputs = {dir / "pipe", dir / "folder"};
    ASSERT_EQ(::mkfifo(outputs[0].c_str(), 0644), 0);
    ASSERT_EQ(::mkdir(outputs[1].c_str(), 0755), 0);
    // A node like /dev/null of our own (only root may make one).
    if (::mknod((dir / "null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0) outputs.push_back(dir / "null");
    const size_t entries = EntriesIn(dir.Path());
    const size_t descriptors = OpenDescriptors();

    for (const std::string& output : outputs) {
        SCOPED_TRACE(output);
        const struct stat before = LinkStatus(output);
        EXPECT_NE(Write(output, "data"), "");
        const struct stat after = LinkStatus(output);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_rdev, before.st_rdev);
    }
    EXPECT_EQ(EntriesIn(dir.Path()), entries);  // no temporary file left behind
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

// A link is the operator's way of naming the real file: the target gets the new
// bytes and keeps its mode, the link stays a link.
TEST(FileReplace, LinksAreFollowedToTheFileTheyName) {
    ScratchDir dir;
    ASSERT_EQ(::mkdir((dir / "real").c_str(), 0755), 0);
    WriteText(dir / "real/out.bin", "old");
    ASSERT_EQ(::chmod((dir / "real/out.bin").c_str(), 0640), 0);
    ASSERT_EQ(::symlink("real/out.bin", (dir / "link.bin").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "link.bin").c_str(), (dir / "chain.bin").c_str()), 0);  // a link to the link
    ASSERT_EQ(::symlink("real/fresh.bin", (dir / "dangling.bin").c_str()), 0);

    EXPECT_EQ(Write(dir / "chain.bin", "new"), "");
    EXPECT_EQ(Write(dir / "dangling.bin", "fresh"), "");

    EXPECT_TRUE(S_ISLNK(LinkStatus(dir / "link.bin").st_mode));
    EXPECT_TRUE(S_ISLNK(LinkStatus(dir / "chain.bin").st_mode));
    EXPECT_TRUE(S_ISLNK(LinkStatus(dir / "dangling.bin").st_mode));
    EXPECT_EQ(ReadText(dir / "real/out.bin"), "new");
    EXPECT_EQ(LinkStatus(dir / "real/out.bin").st_mode & 07777, 0640u);
    EXPECT_EQ(ReadText(dir / "real/fresh.bin"), "fresh");
    EXPECT_EQ(EntriesIn(dir / "real"), 2u);
}

// A new file is made as any program makes one; a replaced file keeps the mode its
// owner gave it, and its owner.
TEST(FileReplace, NewFilesFollowTheUmaskReplacedFilesKeepTheirMode) {
    ScratchDir dir;
    const mode_t oldMask = ::umask(027);
    const std::string created = Write(dir / "new.bin", "new");
    ::umask(oldMask);
    EXPECT_EQ(created, "");
    EXPECT_EQ(LinkStatus(dir / "new.bin").st_mode & 07777, 0640u);

    WriteText(dir / "kept.bin", "old");
    ASSERT_EQ(::chmod((dir / "kept.bin").c_str(), 0604), 0);
    EXPECT_EQ(Write(dir / "kept.bin", "replaced"), "");
    EXPECT_EQ(ReadText(dir / "kept.bin"), "replaced");
    EXPECT_EQ(LinkStatus(dir / "kept.bin").st_mode & 07777, 0604u);

    // Saved over by root, a user's file stays the user's.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown((dir / "kept.bin").c_str(), 65534, 65534), 0);
        EXPECT_EQ(Write(dir / "kept.bin", "by root"), "");
        EXPECT_EQ(LinkStatus(dir / "kept.bin").st_uid, 65534u);
        EXPECT_EQ(LinkStatus(dir / "kept.bin").st_gid, 65534u);
    }
}

// A file its user may not write is not replaced, as cp would not replace it,
// although the folder would let a rename put a new file in its place; the pair
// of a program and its header is then left whole.
TEST(FileReplace, AFileTheUserMayNotWriteIsRefusedWithTheReason) {
    ScratchDir dir;
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);  // the folder lets anyone rename
    WriteText(dir / "ro.bin", "mine");
    ASSERT_EQ(::chmod((dir / "ro.bin").c_str(), 0444), 0);
    WriteText(dir / "RmPgm.h", "header");
    ASSERT_EQ(::chmod((dir / "RmPgm.h").c_str(), 0444), 0);
    WriteText(dir / "prog.bin", "program");
    ASSERT_EQ(::chmod((dir / "prog.bin").c_str(), 0666), 0);
    const std::string failure = RunAsOrdinaryUser([&]() -> std::string {
        std::string wrong;
        const std::string cause = Write(dir / "ro.bin", "replaced");
        if (cause != "Permission denied") wrong += "ro.bin: \"" + cause + "\"; ";
        const std::string pair = WriteFilePairReplacing(dir / "prog.bin", reinterpret_cast<const uint8_t*>("new"), 3,
                                                        dir / "RmPgm.h", reinterpret_cast<const uint8_t*>("new"), 3);
        if (pair != dir / "RmPgm.h: Permission denied") wrong += "pair: \"" + pair + "\"; ";
        if (Write(dir / "fresh.bin", "new") != "") wrong += "a new file in the folder was refused; ";
        return wrong;
    });
    EXPECT_EQ(failure, "");
    EXPECT_EQ(ReadText(dir / "ro.bin"), "mine");
    EXPECT_EQ(LinkStatus(dir / "ro.bin").st_mode & 07777, 0444u);
    EXPECT_EQ(ReadText(dir / "prog.bin"), "program");
    EXPECT_EQ(ReadText(dir / "RmPgm.h"), "header");
    EXPECT_EQ(ReadText(dir / "fresh.bin"), "new");
    EXPECT_EQ(EntriesIn(dir.Path()), 4u);  // no temporary file left behind
}

// Opening a pipe for reading waits for a writer that never comes: the worker
// would hang on an update file, a loader or the settings file named like that.
TEST(UpdateFileOpen, PipesAndFoldersAreRefusedAtOnce) {
    ScratchDir dir;
    ASSERT_EQ(::mkfifo((dir / "Pgm_M850T.bin").c_str(), 0644), 0);
    auto opened = std::async(std::launch::async, [&] {
        UpdateFile file;
        return file.Open(dir / "Pgm_M850T.bin");
    });
    if (opened.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "Open waited for a writer of the pipe";
        const int writer = ::open((dir / "Pgm_M850T.bin").c_str(), O_WRONLY | O_NONBLOCK);  // lets it go
        opened.wait();
        ::close(writer);
    } else {
        EXPECT_NE(opened.get(), 0);
    }
    UpdateFile folder;
    EXPECT_EQ(folder.Open(dir.Path()), EISDIR);
}

}  // namespace
