#include "cli/RunChecks.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

#include "cli/CliLibrary.h"
#include "engine/StationPlan.h"
#include "platform/FileFacts.h"
#include "protocol/Crystals.h"

std::vector<std::string> RunInputs(const SessionOptions& options, const std::vector<std::string>& devices,
                                   const std::vector<std::string>& files) {
    return StationInputs(CliLibraryPaths(options.libFolder), devices, files);
}

std::string LineDevice(const SessionOptions& options, const OperatorSettings& settings) {
    if (!options.device.empty())
        return options.device;
    return settings.DeviceForPort(options.port ? options.port : settings.portNumber);
}

std::string OwnTerminalProblem(const std::string& device) {
#ifdef _WIN32
    (void)device;  // a console window is no device a line can be opened on
    return "";
#else
    // /dev/tty: the terminal of whoever opens it.
    constexpr unsigned kTtyMajor = 5, kTtyMinor = 0;
    struct stat line {};
    if (::stat(device.c_str(), &line) != 0 || !S_ISCHR(line.st_mode))
        return "";  // whatever it is, it is no terminal of ours; opening it tells the rest
    const std::string problem = device + " is the terminal Kestrel runs in, not a line to a board";
    if (major(line.st_rdev) == kTtyMajor && minor(line.st_rdev) == kTtyMinor)
        return problem;
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        struct stat own {};
        if (::isatty(fd) == 1 && ::fstat(fd, &own) == 0 && S_ISCHR(own.st_mode) && own.st_rdev == line.st_rdev)
            return problem;
    }
    return "";
#endif
}

bool SayCheckedSettingsChoices(const OperatorSettings& settings, const SettingsUse& use, std::ostream& err) {
    const SettingsWords words = CheckSettingsChoices(settings, use);
    for (const std::string& warning : words.warnings)
        err << warning << "\n";
    if (!words.error.empty())
        err << words.error << "\n";
    return words.error.empty();
}
