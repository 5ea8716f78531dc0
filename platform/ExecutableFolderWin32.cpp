#include "platform/ExecutableFolder.h"

#include <windows.h>

#include <vector>

// The path comes in the system's wide form (any length, any characters) and is handed
// on in the narrow code page the C library opens files with, so that "Lib" beside it
// is found by every file call of the program.
std::string ExecutableFolder() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return ".";
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);  // cut short: try again with more room
    }
    std::wstring exe(path.begin(), path.end());
    const auto separator = exe.find_last_of(L"\\/");
    exe = separator == std::wstring::npos ? std::wstring() : exe.substr(0, separator);
    if (exe.empty())
        return {};
    const int size = WideCharToMultiByte(CP_ACP, 0, exe.data(), static_cast<int>(exe.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, exe.data(), static_cast<int>(exe.size()), narrow.data(), size, nullptr, nullptr);
    return narrow;
}
