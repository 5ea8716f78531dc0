#include "platform/NewFile.h"

#include <windows.h>

#include "platform/WideText.h"

std::string PlaceNewFile(const std::string& temporary, const std::string& path) {
    const std::wstring from = WideText(temporary);
    const std::wstring to = WideText(path);
    const HANDLE file = CreateFileW(from.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        FlushFileBuffers(file);
        CloseHandle(file);
    }
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken: that
    // file stays.
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH))
        return "";
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
        return "";
    return SystemErrorText(error);
}
