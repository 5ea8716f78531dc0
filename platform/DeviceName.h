#pragma once
// Windows only: whether a path names a device rather than a file. CON, NUL, COM1,
// LPT2.txt … stand in every folder, and \\.\ paths reach the device namespace;
// opening one as a file would read from or write to the device.
#include <string>

bool NamesWindowsDevice(const std::string& path);
