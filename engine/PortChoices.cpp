#include "engine/PortChoices.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace {

constexpr unsigned kHighestPort = 1024;  // the highest COM number a front end offers

std::string Resolved(const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::weakly_canonical(path, ec);
    return ec ? path : p.string();
}

}  // namespace

unsigned ComNumberFor(const std::string& device, const OperatorSettings& settings) {
    const std::string wanted = Resolved(device);
    for (unsigned n = 1; n <= kHighestPort; ++n) {
        const std::string mapped = settings.DeviceForPort(n);
        if (mapped == device || Resolved(mapped) == wanted)
            return n;
    }
    return 0;
}

std::string PortState(const SerialPortInfo& port) {
    const std::string origin = DescribePortOrigin(port);
    return (origin.empty() ? "" : "(" + origin + ") ") + (port.mayOpen ? "ready" : "cannot open: " + port.whyNot);
}

std::string PortTooltip(unsigned n, const OperatorSettings& settings, const std::vector<SerialPortInfo>& present) {
    const std::string device = settings.DeviceForPort(n);
    const std::string wanted = Resolved(device);
    for (const auto& port : present) {
        if (port.device == device || Resolved(port.device) == wanted)
            return device + " " + PortState(port);
    }
    // A device the list does not cover (a pseudo-terminal such as the virtual board's)
    // is named as it is; only a missing one is called absent.
    std::error_code error;
    return std::filesystem::exists(device, error) ? device : device + " (not present)";
}
