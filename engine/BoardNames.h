#pragma once
// What the boards of one factory run are called in its output and log files.
#include <optional>
#include <string>
#include <vector>

// Each device's last path component (/dev/ttyUSB3 is "ttyUSB3"); a pty's bare number
// keeps its folder ("pts/3"), and devices whose names would clash keep the whole path.
std::vector<std::string> BoardNames(const std::vector<std::string>& devices);

// The board's file name in a folder of one file per board (logs, wire traces): its
// name with '/' made '_', then the extension (".log").
std::string BoardFileName(const std::string& boardName, const std::string& extension);

// The first device named twice, by its path or through a link to the same device.
std::optional<std::string> RepeatedDevice(const std::vector<std::string>& devices);
