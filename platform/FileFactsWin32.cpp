#include "platform/FileFacts.h"

#include <windows.h>

#include <vector>

#include "platform/DeviceName.h"
#include "platform/WideText.h"

FileFacts LookAtFile(const std::string& path) {
    FileFacts facts;
    if (NamesWindowsDevice(path)) {
        facts.exists = true;  // a device: known by its name alone, never opened here
        return facts;
    }
    const std::wstring wide = WideText(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return facts;
    facts.exists = true;
    facts.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // Opened for no access at all: enough to learn the file's identity and size.
    const HANDLE h = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return facts;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(h, &info)) {
        facts.volume = info.dwVolumeSerialNumber;
        facts.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        facts.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
        facts.regular = !facts.folder && GetFileType(h) == FILE_TYPE_DISK;
    }
    CloseHandle(h);
    return facts;
}

bool SameFile(const FileFacts& a, const FileFacts& b) {
    return a.exists && b.exists && (a.volume != 0 || a.index != 0) && a.volume == b.volume && a.index == b.index;
}

std::string FileStart(const std::string& path, size_t count) {
    if (NamesWindowsDevice(path))
        return {};
    const HANDLE h = CreateFileW(WideText(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return {};
    std::vector<char> buffer(count);
    DWORD got = 0;
    const bool read = GetFileType(h) == FILE_TYPE_DISK && ReadFile(h, buffer.data(), static_cast<DWORD>(count), &got, nullptr);
    CloseHandle(h);
    return read ? std::string(buffer.data(), got) : std::string();
}
