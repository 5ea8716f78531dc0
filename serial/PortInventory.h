#pragma once
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

// The serial devices present on this machine, found through sysfs, with what the kernel
// knows of each and whether this user may open it. Nothing is opened: listing the
// ports never raises a modem line or disturbs a board another program is talking to.
struct SerialPortInfo {
    std::string device;        // /dev/ttyUSB0
    std::string driver;        // ftdi_sio, cp210x, cdc_acm, serial ...
    std::string manufacturer;  // from the USB device, when there is one
    std::string product;
    std::string serialNumber;
    std::string usbId;         // "0403:6001"
    bool mayOpen = false;
    std::string whyNot;        // empty when mayOpen
};

#ifndef _WIN32
// Where to look and who is asking; the defaults are this machine and this process.
// Tests point the roots at a tree of their own and pretend to be an ordinary user.
struct PortInventorySetup {
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
    std::string procRoot = "/proc";
    std::vector<std::string> lockFolders = {"/run/lock", "/var/lock"};
    uid_t uid;
    std::vector<gid_t> groups;  // the primary group and the supplementary groups
    pid_t self;                 // a port this program holds is no other program's
    PortInventorySetup();       // takes uid, groups and pid from this process
};
#else
// Windows lists what its device manager knows of the ports; there is nowhere else to
// look.
struct PortInventorySetup {};
#endif

// ttyUSB*, ttyACM* and the ttyS* ports with a real UART behind them, in name order
// (ttyS2 before ttyS10). On Windows: the COM ports the system lists (device \\.\COMn),
// in number order, with the adapter's name, maker and USB id where they are known;
// whether another program holds one shows only when it is opened.
std::vector<SerialPortInfo> ListSerialPorts(const PortInventorySetup& setup = {});

// What sysfs knows of the device behind `path` (a /dev/serial/by-id/... link, or the
// device itself): its driver and USB vendor, model and serial number. Nothing is
// opened and no other program is looked for; nothing for a device sysfs does not
// list (a pty). On Windows: what the port list knows of that COM port.
std::optional<SerialPortInfo> DescribeSerialDevice(const std::string& path, const PortInventorySetup& setup = {});

// "ftdi_sio, FTDI FT232R USB UART, serial A1B2C3, 0403:6001" - what is known, for a list
// line or a tooltip; "" when nothing is.
std::string DescribePortOrigin(const SerialPortInfo& port);
