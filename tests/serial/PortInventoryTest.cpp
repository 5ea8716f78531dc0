// The port list read from a sysfs, /dev and /proc tree built in a temporary folder the
// way the kernel lays them out: a USB adapter, a CDC modem, on-board UARTs with and
// without hardware, and programs holding ports.
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "serial/PortInventory.h"

namespace fs = std::filesystem;

namespace {

class FakeMachine {
public:
    FakeMachine() : root(fs::temp_directory_path() / ("kestrel-ports-" + std::to_string(getpid()))) {
        fs::remove_all(root);
        fs::create_directories(root / "sys/class/tty");
        fs::create_directories(root / "dev");
        fs::create_directories(root / "proc");
        fs::create_directories(root / "lock");
        setup.sysRoot = (root / "sys").string();
        setup.devRoot = (root / "dev").string();
        setup.procRoot = (root / "proc").string();
        setup.lockFolders = {(root / "lock").string()};
        setup.uid = 54321;  // an ordinary user who owns nothing here and is in no group
        setup.groups = {};
    }
    ~FakeMachine() { fs::remove_all(root); }

    void Write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text << "\n";
    }
    // A tty at `deviceDir` (relative to sys/devices), registered in class/tty the way
    // the kernel links it, with a device node of the given mode.
    void Tty(const std::string& name, const std::string& deviceDir, mode_t mode) {
        const fs::path tty = root / "sys/devices" / deviceDir / "tty" / name;
        fs::create_directories(tty);
        fs::create_directory_symlink(fs::relative(root / "sys/devices" / deviceDir, tty), tty / "device");
        fs::create_directory_symlink(fs::relative(tty, root / "sys/class/tty"), root / "sys/class/tty" / name);
        Write(root / "dev" / name, "");
        fs::permissions(root / "dev" / name, static_cast<fs::perms>(mode));
    }
    void Driver(const std::string& deviceDir, const std::string& driver) {
        const fs::path drivers = root / "sys/bus/any/drivers" / driver;
        fs::create_directories(drivers);
        fs::create_directory_symlink(fs::relative(drivers, root / "sys/devices" / deviceDir),
                                     root / "sys/devices" / deviceDir / "driver");
    }
    void Program(const std::string& pid, const std::string& comm, const std::string& openDevice) {
        Write(root / "proc" / pid / "comm", comm);
        fs::create_directories(root / "proc" / pid / "fd");
        if (!openDevice.empty())
            fs::create_symlink(root / "dev" / openDevice, root / "proc" / pid / "fd" / "3");
    }

    fs::path root;
    PortInventorySetup setup;
};

}  // namespace

TEST(PortInventory, ListsRealPortsWithWhatSysfsKnowsAndWhyOneCannotBeOpened) {
    FakeMachine m;
    // An FTDI adapter: the USB strings sit two levels above the usb-serial port.
    const std::string usb = "pci0000:00/0000:00:14.0/usb1/1-2";
    m.Write(m.root / "sys/devices" / usb / "idVendor", "0403");
    m.Write(m.root / "sys/devices" / usb / "idProduct", "6001");
    m.Write(m.root / "sys/devices" / usb / "manufacturer", "FTDI");
    m.Write(m.root / "sys/devices" / usb / "product", "FT232R USB UART");
    m.Write(m.root / "sys/devices" / usb / "serial", "A1B2C3");
    m.Tty("ttyUSB0", usb + "/1-2:1.0/ttyUSB0", 0666);
    m.Driver(usb + "/1-2:1.0/ttyUSB0", "ftdi_sio");
    m.Driver(usb + "/1-2:1.0", "ftdi_sio_interface");  // the nearest driver names the port
    m.Program("4242", "minicom", "ttyUSB0");
    // A CDC modem the user has no group for.
    const std::string acm = "pci0000:00/0000:00:14.0/usb1/1-3";
    m.Write(m.root / "sys/devices" / acm / "idVendor", "2341");
    m.Write(m.root / "sys/devices" / acm / "idProduct", "0043");
    m.Tty("ttyACM0", acm + "/1-3:1.0", 0660);
    m.Driver(acm + "/1-3:1.0", "cdc_acm");
    // On-board ports behind serial-core's own port and ctrl devices: ttyS0 and ttyS10
    // have a UART, ttyS1 is only reserved, ttyS2 has no device node.
    for (const std::string n : {"0", "1", "2", "10"}) {
        const std::string dir = "pnp0/00:0" + n + "/00:0" + n + ":0/00:0" + n + ":0.0";
        m.Tty("ttyS" + n, dir, 0666);
        m.Write(m.root / "sys/class/tty" / ("ttyS" + n) / "type", n == "1" ? "0" : "4");
        m.Driver(dir, "port");
        m.Driver("pnp0/00:0" + n + "/00:0" + n + ":0", "ctrl");
        m.Driver("pnp0/00:0" + n, "serial");
    }
    fs::remove(m.root / "dev/ttyS2");
    m.Write(m.root / "lock/LCK..ttyS10", "       777");
    m.Program("777", "cu", "");
    m.Write(m.root / "lock/LCK..ttyS0", "       778");  // left behind by a program that has ended
    m.Program("100", "bash", "");
    m.Program(std::to_string(m.setup.self), "kestrel", "ttyS0");  // this program's own line
    fs::create_directory_symlink("/dev/pts/0", m.root / "proc/100/fd/0");

    const auto ports = ListSerialPorts(m.setup);
    std::vector<std::string> names;
    for (const auto& p : ports)
        names.push_back(fs::path(p.device).filename());
    ASSERT_EQ(names, (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyS10", "ttyUSB0"}));

    const auto& acm0 = ports[0];
    EXPECT_EQ(acm0.driver, "cdc_acm");
    EXPECT_EQ(DescribePortOrigin(acm0), "cdc_acm, 2341:0043");
    EXPECT_FALSE(acm0.mayOpen);
    struct stat st {};
    ASSERT_EQ(stat(acm0.device.c_str(), &st), 0);
    const std::string group = getgrgid(st.st_gid) ? getgrgid(st.st_gid)->gr_name : std::to_string(st.st_gid);
    EXPECT_NE(acm0.whyNot.find("sudo usermod -aG " + group + " $USER"), std::string::npos) << acm0.whyNot;

    EXPECT_EQ(ports[1].driver, "serial");
    EXPECT_TRUE(ports[1].mayOpen) << ports[1].whyNot;  // a stale lock file holds nothing
    EXPECT_EQ(ports[2].whyNot, "held by another program: cu (pid 777)");

    const auto& usb0 = ports[3];
    EXPECT_EQ(DescribePortOrigin(usb0), "ftdi_sio, FTDI FT232R USB UART, serial A1B2C3, 0403:6001");
    EXPECT_EQ(usb0.whyNot, "held by another program: minicom (pid 4242)");

    // A station names the adapter of a device given by its udev link, as the link's
    // target is found: without opening it or looking for its holder.
    fs::create_directories(m.root / "dev/serial/by-id");
    fs::create_symlink("../../ttyUSB0", m.root / "dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0");
    const auto adapter = DescribeSerialDevice((m.root / "dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0").string(), m.setup);
    ASSERT_TRUE(adapter.has_value());
    EXPECT_EQ(adapter->manufacturer, "FTDI");
    EXPECT_EQ(adapter->product, "FT232R USB UART");
    EXPECT_EQ(adapter->serialNumber, "A1B2C3");
    EXPECT_EQ(adapter->usbId, "0403:6001");
    // A node sysfs does not list, a link that leads nowhere, a file outside the devices.
    m.Write(m.root / "dev/pts/3", "");
    EXPECT_FALSE(DescribeSerialDevice((m.root / "dev/pts/3").string(), m.setup));
    fs::create_symlink("../../ttyUSB9", m.root / "dev/serial/by-id/gone");
    EXPECT_FALSE(DescribeSerialDevice((m.root / "dev/serial/by-id/gone").string(), m.setup));
    m.Write(m.root / "ttyUSB0", "");
    EXPECT_FALSE(DescribeSerialDevice((m.root / "ttyUSB0").string(), m.setup));

    // The same ports for root, who may open anything nobody holds.
    m.setup.uid = 0;
    EXPECT_TRUE(ListSerialPorts(m.setup)[0].mayOpen);
}

TEST(PortInventory, AnOwnerOnlyDeviceAndAMachineWithoutSerialPorts) {
    FakeMachine m;
    m.Tty("ttyUSB3", "usb1/1-1/1-1:1.0/ttyUSB3", 0600);
    auto ports = ListSerialPorts(m.setup);
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].whyNot, "permission denied (the device lets only its owner open it)");
    EXPECT_EQ(DescribePortOrigin(ports[0]), "");

    m.setup.sysRoot = (m.root / "no-sysfs").string();
    EXPECT_TRUE(ListSerialPorts(m.setup).empty());
}
