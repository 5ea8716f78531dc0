#pragma once
// Windows only: narrow texts (paths as the C library and the command line hand them
// over, in the system's code page) to the wide form of the system's own calls, and
// the system's words for an error code.
#include <string>

std::wstring WideText(const std::string& narrow);
std::string NarrowText(const std::wstring& wide);
// "Access is denied." - FormatMessage's text without its line end; the number when
// the system has no text for it.
std::string SystemErrorText(unsigned long error);
