// The causes of a failed open on Windows, from the system's error code.
#include "serial/OpenErrors.h"

#include <windows.h>

#include "platform/WideText.h"

std::string DescribeOpenError(int error) {
    switch (static_cast<DWORD>(error)) {
    case ERROR_ACCESS_DENIED:
        // Windows lets one program at a time have a COM port and refuses everyone else
        // with "access denied": nearly always another program holds it.
        return "held by another program, or access denied (close the other serial program or "
               "terminal first; Windows gives a port to one program at a time)";
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return "held by another program (close the other serial program or terminal first)";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_NAME:
    case ERROR_DEV_NOT_EXIST:
        return "no such device (is the adapter plugged in? 'kestrel-cli ports' lists the COM ports)";
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_NOT_READY:
        return "the device does not answer (unplug the adapter and plug it in again)";
    default:
        return SystemErrorText(static_cast<DWORD>(error));
    }
}
