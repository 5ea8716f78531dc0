// The port list's COM numbers, lines and tooltips, against settings files that map ports by
// name, through links, by default, or not at all.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/PortsCommand.h"

namespace fs = std::filesystem;

TEST(PortsCommand, ComNumbersAndTooltipsFollowThePortsSectionThroughLinksAndTheDefaults) {
    const fs::path dev = fs::temp_directory_path() / ("kestrel-dev-" + std::to_string(getpid()));
    fs::remove_all(dev);
    fs::create_directories(dev / "serial/by-id");
    std::ofstream(dev / "ttyUSB0").put('\n');
    fs::create_symlink("../../ttyUSB0", dev / "serial/by-id/usb-FTDI_A1B2C3-if00-port0");

    OperatorSettings settings;
    settings.profile = ProfileFile::Parse("[PORTS]\ncom1=/dev/ttyACM0\ncom4=" + (dev / "serial/by-id").string() +
                                          "/usb-FTDI_A1B2C3-if00-port0\ncom9=/dev/ttyS0\n");
    EXPECT_EQ(ComNumberFor((dev / "ttyUSB0").string(), settings), 4u);
    EXPECT_EQ(ComNumberFor("/dev/ttyACM0", settings), 1u);
    EXPECT_EQ(ComNumberFor("/dev/ttyS0", settings), 9u);  // com1 is taken by the modem
    EXPECT_EQ(ComNumberFor("/dev/ttyS2", settings), 3u);  // no entry: COM3 is ttyS2
    EXPECT_EQ(ComNumberFor("/dev/ttyUSB7", settings), 0u);

    SerialPortInfo ready{"/dev/ttyACM0", "cdc_acm", "", "", "", "2341:0043", true, ""};
    SerialPortInfo locked{"/dev/ttyUSB7", "", "", "", "", "", false, "permission denied (join the 'dialout' group)"};
    SerialPortInfo uart{"/dev/ttyS1", "serial", "", "", "", "", true, ""};
    std::ostringstream out;
    PrintPorts({ready, locked, uart}, settings, "/home/op/.config/kestrel/M850T.ini", out);
    EXPECT_EQ(out.str(),
              "COM1    /dev/ttyACM0  (cdc_acm, 2341:0043) ready\n"
              "-       /dev/ttyUSB7  cannot open: permission denied (join the 'dialout' group)\n"
              "COM2    /dev/ttyS1    (serial) ready\n"
              "A device marked '-' has no COM number: use it with --device, or give it one in the\n"
              "[PORTS] section of /home/op/.config/kestrel/M850T.ini (for example com3=/dev/ttyUSB7).\n");

    // The window's tooltips: per COM number, the device and what is known of it.
    const SerialPortInfo byLink{(dev / "ttyUSB0").string(), "ftdi_sio", "FTDI", "", "", "", true, ""};
    EXPECT_EQ(PortTooltip(4, settings, {ready, byLink}),
              (dev / "serial/by-id/usb-FTDI_A1B2C3-if00-port0").string() + " (ftdi_sio, FTDI) ready");
    EXPECT_EQ(PortTooltip(1, settings, {ready, byLink}), "/dev/ttyACM0 (cdc_acm, 2341:0043) ready");
    EXPECT_EQ(PortTooltip(2, settings, {ready, byLink}), "/dev/ttyS1 (not present)");
    fs::remove_all(dev);
}
