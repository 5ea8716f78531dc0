// The COM ports Windows lists: the device manager's "Ports (COM & LPT)" class, with
// each adapter's name, maker and USB id, and the ports the system has mapped in its
// SERIALCOMM table that the device manager does not show (virtual ports, Wine's).
// Nothing is opened.
#include "serial/PortInventory.h"

#include "platform/WideText.h"
#include "serial/LineFactory.h"

// After the line's headers, whose names the system's macros would take.
#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <map>

namespace {

// The device setup class of serial and parallel ports.
const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// 3 for "COM3", 0 for anything else ("LPT1").
unsigned ComNumber(const std::string& name) {
    if (name.size() < 4 || (name.compare(0, 3, "COM") != 0 && name.compare(0, 3, "com") != 0))
        return 0;
    if (!std::all_of(name.begin() + 3, name.end(), [](unsigned char c) { return std::isdigit(c); }))
        return 0;
    const unsigned long n = std::stoul(name.substr(3));
    return n >= 1 && n <= 1024 ? static_cast<unsigned>(n) : 0;
}

std::string Property(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD property) {
    wchar_t buffer[512] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &info, property, &type, reinterpret_cast<BYTE*>(buffer),
                                           sizeof buffer - sizeof(wchar_t), nullptr))
        return {};
    return NarrowText(buffer);  // the first string of a list is the one wanted
}

std::string PortName(HDEVINFO set, SP_DEVINFO_DATA& info) {
    const HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return {};
    wchar_t buffer[64] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    DWORD type = 0;
    const LONG status = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_SZ ? NarrowText(buffer) : std::string();
}

// "USB\VID_0403&PID_6001&REV_0600" -> "0403:6001"; "" for other buses.
std::string UsbId(const std::string& hardwareId) {
    std::string upper = hardwareId;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    const auto vid = upper.find("VID_");
    const auto pid = upper.find("PID_");
    if (vid == std::string::npos || pid == std::string::npos || vid + 8 > upper.size() || pid + 8 > upper.size())
        return {};
    std::string id = upper.substr(vid + 4, 4) + ":" + upper.substr(pid + 4, 4);
    std::transform(id.begin(), id.end(), id.begin(), [](unsigned char c) { return std::tolower(c); });
    return id;
}

void FromDeviceManager(std::map<unsigned, SerialPortInfo>& ports) {
    const HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        const unsigned n = ComNumber(PortName(set, info));
        if (n == 0)
            continue;
        SerialPortInfo port;
        port.device = DefaultDeviceForPort(n);
        port.driver = Property(set, info, SPDRP_SERVICE);
        port.manufacturer = Property(set, info, SPDRP_MFG);
        port.product = Property(set, info, SPDRP_FRIENDLYNAME);
        if (port.product.empty())
            port.product = Property(set, info, SPDRP_DEVICEDESC);
        port.usbId = UsbId(Property(set, info, SPDRP_HARDWAREID));
        port.mayOpen = true;
        ports[n] = port;
    }
    SetupDiDestroyDeviceInfoList(set);
}

void FromSerialCommTable(std::map<unsigned, SerialPortInfo>& ports) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256] = {};
        wchar_t value[64] = {};
        DWORD nameSize = 255;
        DWORD valueSize = sizeof value - sizeof(wchar_t);
        DWORD type = 0;
        const LONG status =
            RegEnumValueW(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(value), &valueSize);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS || type != REG_SZ)
            continue;
        const unsigned n = ComNumber(NarrowText(value));
        if (n == 0 || ports.count(n))
            continue;
        SerialPortInfo port;
        port.device = DefaultDeviceForPort(n);
        // "\Device\Serial0", "\Device\VCP0": the kernel driver's own name of the port.
        const std::string kernelName = NarrowText(name);
        port.driver = kernelName.substr(kernelName.find_last_of('\\') + 1);
        port.mayOpen = true;
        ports[n] = port;
    }
    RegCloseKey(key);
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts(const PortInventorySetup&) {
    std::map<unsigned, SerialPortInfo> ports;
    FromDeviceManager(ports);
    FromSerialCommTable(ports);
    std::vector<SerialPortInfo> list;
    for (auto& [n, port] : ports)
        list.push_back(std::move(port));
    return list;
}

std::optional<SerialPortInfo> DescribeSerialDevice(const std::string& path, const PortInventorySetup& setup) {
    // "COM3", "\\.\COM3": the port the device manager lists under that number.
    const unsigned n = ComNumber(path.substr(path.find_last_of('\\') + 1));
    for (SerialPortInfo& port : ListSerialPorts(setup))
        if (n != 0 && ComNumber(port.device.substr(port.device.find_last_of('\\') + 1)) == n)
            return std::move(port);
    return std::nullopt;
}
