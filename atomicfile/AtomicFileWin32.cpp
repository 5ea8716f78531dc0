// Whole files written in one step on Windows: the new content goes to a file beside
// the old one, is flushed to disk and then moved over it with MoveFileExW, which
// replaces the old file in one step (MOVEFILE_REPLACE_EXISTING) and returns only once
// the move itself is on disk (MOVEFILE_WRITE_THROUGH).

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <vector>

#include "atomicfile/AtomicFile.h"
#include "platform/DeviceName.h"
#include "platform/WideText.h"

namespace {

std::string TemporaryNameBeside(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return path + ".part-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
}

std::string LastErrorText() { return SystemErrorText(GetLastError()); }

// The file a save really replaces: a symbolic link is followed to its end.
struct Target {
    std::string path;
    bool exists = false;
};

std::string FinalPath(const std::string& path, std::string& resolved) {
    const HANDLE h = CreateFileW(WideText(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return LastErrorText();
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD n = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
    if (n >= buffer.size()) {
        buffer.resize(n + 1);
        n = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
    }
    CloseHandle(h);
    if (n == 0 || n >= buffer.size())
        return LastErrorText();
    resolved = NarrowText(std::wstring(buffer.data(), n));
    return "";
}

// "" with `target` filled, or why the path cannot be replaced.
std::string ResolveTarget(const std::string& path, Target& target) {
    if (NamesWindowsDevice(path))
        return "it is no regular file (a device, a pipe or a socket) and is left as it is";
    const DWORD attributes = GetFileAttributesW(WideText(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return SystemErrorText(error);
        // A new file; a missing folder shows when the temporary file cannot be made.
        target = {path, false};
        return "";
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        std::string resolved;
        if (std::string problem = FinalPath(path, resolved); !problem.empty())
            return problem;
        if (GetFileAttributesW(WideText(resolved).c_str()) & FILE_ATTRIBUTE_DIRECTORY)
            return "it is a folder";
        target = {resolved, true};
        return "";
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return "it is a folder";
    // The move needs only the folder's permission; a read-only file is what the user
    // marked to keep, and what copy or an editor would respect.
    if (attributes & FILE_ATTRIBUTE_READONLY)
        return SystemErrorText(ERROR_ACCESS_DENIED);
    target = {path, true};
    return "";
}

// New content waiting beside its target, on disk, to be moved over it.
struct Replacement {
    Target target;
    std::string temporary;
};

std::string Prepare(const std::string& path, const uint8_t* data, size_t size, Replacement& r) {
    if (std::string problem = ResolveTarget(path, r.target); !problem.empty())
        return problem;
    r.temporary = TemporaryNameBeside(r.target.path);
    const std::wstring temporary = WideText(r.temporary);
    const HANDLE file =
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return LastErrorText();
    bool written = true;
    DWORD error = 0;
    while (written && size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        DWORD put = 0;
        written = WriteFile(file, data, chunk, &put, nullptr) && put > 0;
        data += put;
        size -= put;
    }
    // The data must be on disk before the move makes it the file of that name, or a
    // crash could leave an empty file where a good one stood.
    written = written && FlushFileBuffers(file);
    if (!written)
        error = GetLastError();
    CloseHandle(file);
    if (written)
        return "";
    DeleteFileW(temporary.c_str());
    return SystemErrorText(error);
}

// "" when the replacement took the target's place; else it is gone again.
std::string Commit(const Replacement& r) {
    const std::wstring temporary = WideText(r.temporary);
    if (MoveFileExW(temporary.c_str(), WideText(r.target.path).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return "";
    const DWORD error = GetLastError();
    DeleteFileW(temporary.c_str());
    return SystemErrorText(error);
}

// The volume and the file's number on it, which every name of one file shares.
bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    const HANDLE h = CreateFileW(WideText(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    return ok;
}

bool SameFile(const Target& a, const Target& b) {
    BY_HANDLE_FILE_INFORMATION x{}, y{};
    if (a.exists && b.exists && FileIdentity(a.path, x) && FileIdentity(b.path, y))
        return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
               x.nFileIndexLow == y.nFileIndexLow;
    // Names on Windows are the same whatever their case and separators.
    auto folded = [](std::string p) {
        std::replace(p.begin(), p.end(), '/', '\\');
        std::transform(p.begin(), p.end(), p.begin(), [](unsigned char c) { return std::tolower(c); });
        return p;
    };
    return folded(a.path) == folded(b.path);
}

void Remove(const std::string& path) { DeleteFileW(WideText(path).c_str()); }

bool Move(const std::string& from, const std::string& to) {
    return MoveFileExW(WideText(from).c_str(), WideText(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

}  // namespace

std::string WriteFileReplacing(const std::string& path, const uint8_t* data, size_t size) {
    Replacement r;
    std::string problem = Prepare(path, data, size, r);
    if (problem.empty())
        problem = Commit(r);
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
        Remove(second.temporary);
        problem = "it is the same file as " + firstPath;
    }
    if (!problem.empty()) {
        Remove(first.temporary);
        return secondPath + ": " + problem;
    }

    // The old first file stays under a name of its own until the second file is in
    // place, so that it can be put back: a second name for it (a hard link) where the
    // file system has them, else it is moved aside for that moment.
    std::string backup;
    bool movedAside = false;
    if (first.target.exists) {
        backup = TemporaryNameBeside(first.target.path);
        if (!CreateHardLinkW(WideText(backup).c_str(), WideText(first.target.path).c_str(), nullptr)) {
            movedAside = Move(first.target.path, backup);
            if (!movedAside) {
                const std::string cause = LastErrorText();
                Remove(first.temporary);
                Remove(second.temporary);
                return firstPath + ": " + cause;
            }
        }
    }
    if (problem = Commit(first); !problem.empty()) {
        if (movedAside)
            Move(backup, first.target.path);
        else if (!backup.empty())
            Remove(backup);
        Remove(second.temporary);
        return firstPath + ": " + problem;
    }
    if (problem = Commit(second); !problem.empty()) {
        if (!backup.empty())
            Move(backup, first.target.path);
        else
            Remove(first.target.path);
        return secondPath + ": " + problem;
    }
    if (!backup.empty())
        Remove(backup);
    return "";
}

std::string ReplacingProblem(const std::string& path) {
    // A trial of the save itself, short of the move: the same target, the same
    // temporary file beside it, with a block of data that must reach the disk.
    static const std::vector<uint8_t> probe(4096, 0);
    Replacement r;
    std::string problem = Prepare(path, probe.data(), probe.size(), r);
    if (problem.empty())
        DeleteFileW(WideText(r.temporary).c_str());
    return problem;
}
