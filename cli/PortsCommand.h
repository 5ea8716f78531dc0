#pragma once
#include <iosfwd>
#include <string>
#include <vector>

#include "engine/ProfileFile.h"
#include "serial/PortInventory.h"

// kestrel-cli ports: the serial devices present, the COM number each has in the
// settings file, and whether this user may open it. argv[0] is the command's name.
int RunPortsCommand(int argc, char** argv, std::ostream& out, std::ostream& err);

// The COM number (1-1024) that the settings map to `device`, the lowest when several
// do; 0 when none. Links such as /dev/serial/by-id/... count as the device they name.
unsigned ComNumberFor(const std::string& device, const OperatorSettings& settings);

// One line per port, then a hint for the ports without a COM number.
void PrintPorts(const std::vector<SerialPortInfo>& ports, const OperatorSettings& settings,
                const std::string& settingsFile, std::ostream& out);
