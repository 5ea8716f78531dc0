#include "cli/PortsCommand.h"

#include <getopt.h>

#include <algorithm>
#include <filesystem>
#include <iomanip>
#include <ostream>

#include "cli/CliLibrary.h"

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
const char* const kPortsHelp =
    "usage: kestrel-cli ports [--lib DIR]\n"
    "Lists the COM ports Windows knows (\\\\.\\COMn): the COM number each has in the settings\n"
    "file ([PORTS] comN=, else COM n is \\\\.\\COMn), and what the system knows of it (driver,\n"
    "maker, adapter name, USB id). Whether another program holds a port shows only when\n"
    "it is opened.\n"
    "  --lib DIR   library folder whose settings file maps the COM numbers\n"
    "Nothing is opened, so a board being flashed by another program is not disturbed.\n";
const char* const kNoPorts = "No COM ports found. A USB serial adapter shows up as a COM port once plugged in.\n";
#else
const char* const kPortsHelp =
    "usage: kestrel-cli ports [--lib DIR]\n"
    "Lists the serial devices present (/dev/ttyUSB*, /dev/ttyACM* and the /dev/ttyS* ports\n"
    "with a UART behind them): the COM number each has in the settings file ([PORTS] comN=,\n"
    "else COM n is /dev/ttyS<n-1>), what the system knows of it (driver, maker, model, serial\n"
    "number, USB id), and whether you may open it - and if not, why.\n"
    "  --lib DIR   library folder whose settings file maps the COM numbers\n"
    "Nothing is opened, so a board being flashed by another program is not disturbed.\n";
const char* const kNoPorts =
    "No serial devices found. A USB serial adapter shows up as /dev/ttyUSB<n> or "
    "/dev/ttyACM<n> once plugged in.\n";
#endif

}  // namespace

void PrintPorts(const std::vector<SerialPortInfo>& ports, const OperatorSettings& settings,
                const std::string& settingsFile, std::ostream& out) {
    if (ports.empty()) {
        out << kNoPorts;
        return;
    }
    size_t deviceWidth = 0;
    for (const auto& p : ports)
        deviceWidth = std::max(deviceWidth, p.device.size());
    std::string unnumbered;
    for (const auto& p : ports) {
        const unsigned com = ComNumberFor(p.device, settings);
        if (com == 0 && unnumbered.empty())
            unnumbered = p.device;
        out << std::left << std::setw(8) << (com ? "COM" + std::to_string(com) : std::string("-"))
            << std::setw(static_cast<int>(deviceWidth + 2)) << p.device << std::setw(0) << PortState(p) << "\n";
    }
    if (unnumbered.empty())
        return;
    // Suggest a number that takes no device away: no entry of its own, and its default
    // /dev/ttyS<n-1> not present.
    unsigned free = 1;
    while (settings.profile.GetString("PORTS", "com" + std::to_string(free)) ||
           std::any_of(ports.begin(), ports.end(),
                       [&](const SerialPortInfo& p) { return p.device == settings.DeviceForPort(free); }))
        ++free;
    out << "A device marked '-' has no COM number: use it with --device, or give it one in the\n"
           "[PORTS] section of "
        << settingsFile << " (for example com" << free << "=" << unnumbered << ").\n";
}

int RunPortsCommand(int argc, char** argv, std::ostream& out, std::ostream& err) {
    static const option kOptions[] = {
        {"lib", required_argument, nullptr, 'l'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    std::string lib;
    bool help = false;
    optind = 0;
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, "+l:h", kOptions, nullptr)) != -1;) {
        switch (c) {
        case 'l': lib = optarg; break;
        case 'h': help = true; break;
        default:
            err << argv[0] << ": unknown or incomplete option '" << argv[optind - 1] << "'\n" << kPortsHelp;
            return 2;
        }
    }
    if (help) {
        out << kPortsHelp << LibraryHelpLine(lib);
        return 0;
    }
    if (optind < argc) {
        err << argv[0] << ": takes no arguments\n" << kPortsHelp;
        return 2;
    }
    const LibraryPaths library = CliLibraryPaths(lib);
    const OperatorSettings settings =
        OperatorSettings::Load(fs::path(library.SettingsFileToRead()).parent_path().string());
    PrintPorts(ListSerialPorts(), settings, library.SettingsFile(), out);
    return 0;
}
