// Whole files written in one step: every save of the tool ends here, so that a
// failed save never leaves a part of a file, nor replaces what is no file at all.

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "atomicfile/AtomicFile.h"

namespace {

// Links followed before the path is taken as a loop, as the kernel counts them.
constexpr int kMaxLinkHops = 40;

// What the system said, in words that can follow a path and a colon.
std::string ErrnoText(int code) {
    char buffer[128];
    return ::strerror_r(code, buffer, sizeof buffer);  // the GNU form, safe across threads
}

// The folder part of a path with its slash, "" for a bare name.
std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string TemporaryNameBeside(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return path + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

bool ReadLink(const std::string& path, std::string& target) {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t got = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (got < 0) return false;
        if (static_cast<size_t>(got) < buffer.size()) {
            target.assign(buffer.data(), static_cast<size_t>(got));
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

// The file a save really replaces: links followed to their end.
struct Target {
    std::string path;
    bool exists = false;
    struct stat status {};
};

// "" with `target` filled, or why the path cannot be replaced.
std::string ResolveTarget(const std::string& path, Target& target) {
    std::string current = path;
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0) {
            if (errno != ENOENT) return ErrnoText(errno);
            // A new file (perhaps named by a link); a missing folder shows when
            // the temporary file cannot be made there.
            target = {current, false, {}};
            return "";
        }
        if (S_ISLNK(st.st_mode)) {
            std::string link;
            if (hops == kMaxLinkHops) return ErrnoText(ELOOP);
            if (!ReadLink(current, link)) return ErrnoText(errno);
            current = !link.empty() && link[0] == '/' ? link : FolderOf(current) + link;
            continue;
        }
        if (S_ISDIR(st.st_mode)) return "it is a folder";
        // A device, a pipe or a socket keeps what it is: a save as root once
        // turned /dev/null into a regular file.
        if (!S_ISREG(st.st_mode)) return "it is no regular file (a device, a pipe or a socket) and is left as it is";
        // The rename needs only the folder's permission; the file's own is what the
        // user set to keep it, and what cp or an editor would respect.
        if (::faccessat(AT_FDCWD, current.c_str(), W_OK, AT_EACCESS) != 0) return ErrnoText(errno);
        target = {current, true, st};
        return "";
    }
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t put = ::write(fd, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = EIO;
            return false;
        }
        data += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

// New content waiting beside its target, on disk, to be renamed over it.
struct Replacement {
    Target target;
    std::string temporary;
};

std::string Prepare(const std::string& path, const uint8_t* data, size_t size, Replacement& r) {
    if (std::string problem = ResolveTarget(path, r.target); !problem.empty()) return problem;
    r.temporary = TemporaryNameBeside(r.target.path);
    // 0666 as any program creates a file: the umask takes off what the user wants off.
    const int fd = ::open(r.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return ErrnoText(errno);
    bool written = true;
    if (r.target.exists) {
        // The replaced file keeps its owner where that is allowed (a save as root
        // must not take a user's file away) and its mode in any case.
        const struct stat& old = r.target.status;
        if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) && ::fchown(fd, old.st_uid, old.st_gid) != 0) {
            // Only root may give a file away; anyone else keeps the mode alone.
        }
        written = ::fchmod(fd, old.st_mode & 07777) == 0;
    }
    // The data must be on disk before the rename makes it the file of that name,
    // or a crash could leave an empty file where a good one stood.
    written = written && WriteAll(fd, data, size) && ::fsync(fd) == 0;
    int cause = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        cause = errno;
    }
    if (written) return "";
    ::unlink(r.temporary.c_str());
    return ErrnoText(cause);
}

// The rename itself is on disk only once the folder is.
void SyncFolderOf(const std::string& path) {
    const std::string folder = FolderOf(path);
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);  // a file system that cannot sync a folder has nothing more to do
    ::close(fd);
}

// "" when the replacement took the target's place; else it is gone again.
std::string Commit(const Replacement& r) {
    if (::rename(r.temporary.c_str(), r.target.path.c_str()) == 0) return "";
    const int cause = errno;
    ::unlink(r.temporary.c_str());
    return ErrnoText(cause);
}

bool SameFile(const Target& a, const Target& b) {
    if (a.exists && b.exists) return a.status.st_dev == b.status.st_dev && a.status.st_ino == b.status.st_ino;
    return a.path == b.path;
}

}  // namespace

std::string WriteFileReplacing(const std::string& path, const uint8_t* data, size_t size) {
    Replacement r;
    std::string problem = Prepare(path, data, size, r);
    if (problem.empty()) problem = Commit(r);
    if (problem.empty()) SyncFolderOf(r.target.path);
    return problem;
}

std::string WriteFilePairReplacing(const std::string& firstPath, const uint8_t* firstData, size_t firstSize,
                                   const std::string& secondPath, const uint8_t* secondData, size_t secondSize) {
    Replacement first;
    Replacement second;
    if (std::string problem = Prepare(firstPath, firstData, firstSize, first); !problem.empty())
        return firstPath + ": " + problem;
    std::string problem = Prepare(secondPath, secondData, secondSize, second);
    if (problem.empty() && SameFile(first.target, second.target)) {
        ::unlink(second.temporary.c_str());
        problem = "it is the same file as " + firstPath;
    }
    if (!problem.empty()) {
        ::unlink(first.temporary.c_str());
        return secondPath + ": " + problem;
    }

    // The old first file stays under a name of its own until the second file is
    // in place, so that it can be put back. A second link to it is best; where
    // the file system has none, it is moved aside for that moment.
    std::string backup;
    bool movedAside = false;
    if (first.target.exists) {
        backup = TemporaryNameBeside(first.target.path);
        if (::link(first.target.path.c_str(), backup.c_str()) != 0) {
            movedAside = ::rename(first.target.path.c_str(), backup.c_str()) == 0;
            if (!movedAside) {
                const int cause = errno;
                ::unlink(first.temporary.c_str());
                ::unlink(second.temporary.c_str());
                return firstPath + ": " + ErrnoText(cause);
            }
        }
    }
    if (problem = Commit(first); !problem.empty()) {
        if (movedAside) ::rename(backup.c_str(), first.target.path.c_str());
        else if (!backup.empty()) ::unlink(backup.c_str());
        ::unlink(second.temporary.c_str());
        return firstPath + ": " + problem;
    }
    if (problem = Commit(second); !problem.empty()) {
        if (!backup.empty()) ::rename(backup.c_str(), first.target.path.c_str());
        else ::unlink(first.target.path.c_str());
        return secondPath + ": " + problem;
    }
    if (!backup.empty()) ::unlink(backup.c_str());
    SyncFolderOf(first.target.path);
    SyncFolderOf(second.target.path);
    return "";
}

std::string ReplacingProblem(const std::string& path) {
    // A trial of the save itself, short of the rename: the same target, the same
    // temporary file beside it, with a block of data that must reach the disk.
    static const std::vector<uint8_t> probe(4096, 0);
    Replacement r;
    std::string problem = Prepare(path, probe.data(), probe.size(), r);
    if (problem.empty()) ::unlink(r.temporary.c_str());
    return problem;
}
