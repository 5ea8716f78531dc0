#pragma once
#include <string>
#include <vector>

#include "settings/ProfileFile.h"
#include "serial/PortInventory.h"

// How the COM numbers an operator picks meet the serial devices present: for the CLI's
// port list and the window's port list tooltips.

// The COM number (1-1024) that the settings map to `device`, the lowest when several
// do; 0 when none. Links such as /dev/serial/by-id/... count as the device they name.
unsigned ComNumberFor(const std::string& device, const OperatorSettings& settings);

// "(ftdi_sio, FTDI FT232R USB UART, serial A1B2C3, 0403:6001) ready", or
// "... cannot open: permission denied (...)".
std::string PortState(const SerialPortInfo& port);

// The tooltip of COM port `n`: the device it means and, when that device is present,
// what it is and whether it can be opened; else that it is not present.
std::string PortTooltip(unsigned n, const OperatorSettings& settings, const std::vector<SerialPortInfo>& present);
