#pragma once
#include <iosfwd>
#include <string>
#include <vector>

#include "engine/PortChoices.h"
#include "settings/ProfileFile.h"
#include "serial/PortInventory.h"

// kestrel-cli ports: the serial devices present, the COM number each has in the
// settings file, and whether this user may open it. argv[0] is the command's name.
int RunPortsCommand(int argc, char** argv, std::ostream& out, std::ostream& err);

// One line per port, then a hint for the ports without a COM number.
void PrintPorts(const std::vector<SerialPortInfo>& ports, const OperatorSettings& settings,
                const std::string& settingsFile, std::ostream& out);
