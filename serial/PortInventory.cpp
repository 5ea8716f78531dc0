#include "serial/PortInventory.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <tuple>

namespace fs = std::filesystem;

namespace {

// Serial-core's own devices sit between a UART's tty and the driver that found it.
bool IsSerialCoreDriver(const std::string& name) { return name == "port" || name == "ctrl"; }

std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// "ttyUSB12" -> ("ttyUSB", 12); nothing for names that are not a serial port's.
std::optional<std::pair<std::string, unsigned long>> SplitPortName(const std::string& name) {
    for (const char* prefix : {"ttyUSB", "ttyACM", "ttyS"}) {
        const std::string p = prefix;
        if (name.size() > p.size() && name.compare(0, p.size(), p) == 0 &&
            std::all_of(name.begin() + static_cast<long>(p.size()), name.end(), ::isdigit))
            return std::make_pair(p, std::stoul(name.substr(p.size())));
    }
    return std::nullopt;
}

// The folders from the tty's device up to the sysfs root.
std::vector<fs::path> DeviceAncestry(const fs::path& ttyClassEntry, const fs::path& sysRoot) {
    std::error_code ec;
    fs::path dir = fs::canonical(ttyClassEntry / "device", ec);
    const fs::path root = fs::canonical(sysRoot, ec);
    std::vector<fs::path> chain;
    if (dir.empty())
        return chain;
    while (!dir.empty() && dir != root && dir != dir.root_path()) {
        chain.push_back(dir);
        dir = dir.parent_path();
    }
    return chain;
}

std::string GroupName(gid_t gid) {
    const group* g = getgrgid(gid);
    return g ? g->gr_name : std::to_string(gid);
}

// True when the user's account is listed in the group, though this login does not
// carry it yet.
bool ListedInGroup(uid_t uid, gid_t gid) {
    const passwd* user = getpwuid(uid);
    const group* g = getgrgid(gid);
    if (!user || !g)
        return false;
    for (char** member = g->gr_mem; *member; ++member)
        if (user->pw_name == std::string(*member))
            return true;
    return false;
}

std::string PermissionProblem(const struct stat& st, const PortInventorySetup& who) {
    if (who.uid == 0)
        return {};
    mode_t needed;
    if (st.st_uid == who.uid)
        needed = S_IRUSR | S_IWUSR;
    else if (std::find(who.groups.begin(), who.groups.end(), st.st_gid) != who.groups.end())
        needed = S_IRGRP | S_IWGRP;
    else
        needed = S_IROTH | S_IWOTH;
    if ((st.st_mode & needed) == needed)
        return {};
    const std::string group = GroupName(st.st_gid);
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
        if (ListedInGroup(who.uid, st.st_gid))
            return "permission denied (you were added to the '" + group +
                   "' group after logging in: log out and in again)";
        return "permission denied (join the '" + group + "' group: sudo usermod -aG " + group +
               " $USER, then log in again)";
    }
    return "permission denied (the device lets only its owner open it)";
}

// A program that has the device open, found through its open files (only this user's
// programs, unless root) or the lock file serial programs leave in the lock folder.
std::string Holder(const std::string& device, const std::string& name, const PortInventorySetup& setup) {
    std::error_code ec;
    const auto programAt = [&](const std::string& pid) {
        std::string comm = ReadAttribute(fs::path(setup.procRoot) / pid / "comm");
        return (comm.empty() ? std::string("a program") : comm) + " (pid " + pid + ")";
    };
    for (fs::directory_iterator p(setup.procRoot, ec), end; !ec && p != end; p.increment(ec)) {
        const std::string pid = p->path().filename();
        if (pid.empty() || !std::all_of(pid.begin(), pid.end(), ::isdigit) || pid == std::to_string(setup.self))
            continue;
        std::error_code fdError;
        for (fs::directory_iterator fd(p->path() / "fd", fdError), fdEnd; !fdError && fd != fdEnd;
             fd.increment(fdError)) {
            std::error_code linkError;
            if (fs::read_symlink(fd->path(), linkError) == device)
                return programAt(pid);
        }
    }
    for (const auto& folder : setup.lockFolders) {
        const std::string pid = ReadAttribute(fs::path(folder) / ("LCK.." + name));
        const auto digits = pid.find_first_not_of(' ');
        if (digits == std::string::npos)
            continue;
        const std::string number = pid.substr(digits);
        if (std::all_of(number.begin(), number.end(), ::isdigit) && fs::exists(fs::path(setup.procRoot) / number, ec))
            return programAt(number);
    }
    return {};
}

// The driver and the USB device's facts, found up the tty's sysfs ancestry.
void DescribeOrigin(SerialPortInfo& port, const fs::path& entry, const PortInventorySetup& setup) {
    for (const auto& dir : DeviceAncestry(entry, setup.sysRoot)) {
        std::error_code ec;
        if (port.driver.empty() && fs::is_symlink(dir / "driver", ec)) {
            const std::string driver = fs::read_symlink(dir / "driver", ec).filename();
            if (!IsSerialCoreDriver(driver))
                port.driver = driver;
        }
        if (port.usbId.empty() && fs::exists(dir / "idVendor", ec)) {
            port.usbId = ReadAttribute(dir / "idVendor") + ":" + ReadAttribute(dir / "idProduct");
            port.manufacturer = ReadAttribute(dir / "manufacturer");
            port.product = ReadAttribute(dir / "product");
            port.serialNumber = ReadAttribute(dir / "serial");
        }
    }
}

SerialPortInfo Describe(const std::string& name, const fs::path& entry, const PortInventorySetup& setup,
                        const struct stat& st) {
    SerialPortInfo port;
    port.device = setup.devRoot + "/" + name;
    DescribeOrigin(port, entry, setup);
    port.whyNot = PermissionProblem(st, setup);
    if (port.whyNot.empty()) {
        if (const std::string holder = Holder(port.device, name, setup); !holder.empty())
            port.whyNot = "held by another program: " + holder;
    }
    port.mayOpen = port.whyNot.empty();
    return port;
}

}  // namespace

PortInventorySetup::PortInventorySetup() : uid(geteuid()), self(getpid()) {
    groups.push_back(getegid());
    const int n = getgroups(0, nullptr);
    if (n > 0) {
        std::vector<gid_t> more(static_cast<size_t>(n));
        if (getgroups(n, more.data()) == n)
            groups.insert(groups.end(), more.begin(), more.end());
    }
}

std::vector<SerialPortInfo> ListSerialPorts(const PortInventorySetup& setup) {
    std::vector<std::tuple<std::string, unsigned long, std::string>> names;
    std::error_code ec;
    const fs::path ttyClass = fs::path(setup.sysRoot) / "class" / "tty";
    for (fs::directory_iterator e(ttyClass, ec), end; !ec && e != end; e.increment(ec)) {
        const std::string name = e->path().filename();
        const auto split = SplitPortName(name);
        if (!split)
            continue;
        // A ttyS exists for every port the kernel reserves; only a known UART type
        // (anything but 0, "unknown") means hardware answered there.
        if (split->first == "ttyS") {
            const std::string type = ReadAttribute(e->path() / "type");
            if (type.empty() || type == "0")
                continue;
        }
        names.emplace_back(split->first, split->second, name);
    }
    std::sort(names.begin(), names.end());

    std::vector<SerialPortInfo> ports;
    for (const auto& [prefix, number, name] : names) {
        struct stat st {};
        if (stat((setup.devRoot + "/" + name).c_str(), &st) != 0)
            continue;  // known to the kernel but no device node (yet)
        ports.push_back(Describe(name, ttyClass / name, setup, st));
    }
    return ports;
}

std::optional<SerialPortInfo> DescribeSerialDevice(const std::string& path, const PortInventorySetup& setup) {
    std::error_code ec;
    const fs::path device = fs::canonical(path, ec);
    if (ec)
        return std::nullopt;
    const std::string name = device.filename();
    const fs::path entry = fs::path(setup.sysRoot) / "class" / "tty" / name;
    if (name.empty() || device.parent_path() != fs::canonical(setup.devRoot, ec) || !fs::exists(entry / "device", ec))
        return std::nullopt;
    SerialPortInfo port;
    port.device = device.string();
    DescribeOrigin(port, entry, setup);
    return port;
}
