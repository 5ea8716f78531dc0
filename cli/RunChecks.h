#pragma once
// What a board command makes sure of before any line is opened, any board is woken or
// any file of its own is written: the paths it will write (a wire trace, logs, the
// console's saved text) never name what the run reads, the line is not the terminal
// Kestrel runs in, and the settings it takes from the settings file are ones it can
// use. Each check answers "" when all is well, else what to tell the operator.
#include <string>
#include <vector>

#include "cli/FlashSession.h"
#include "engine/OutputPaths.h"
#include "settings/ProfileFile.h"

// Every path the run reads: the update files, each library file it may load (the
// address file and the loaders of every crystal, in every folder searched), the
// settings file and the line of each board.
std::vector<std::string> RunInputs(const SessionOptions& options, const std::vector<std::string>& devices,
                                   const std::vector<std::string>& files);

// The device of a one-board run: --device, else the COM number (--port, else the
// settings file's) through the settings file's [PORTS].
std::string LineDevice(const SessionOptions& options, const OperatorSettings& settings);

// Why `device` cannot be a line to a board because it is the operator's own terminal
// (/dev/tty, or the terminal of standard input, output or error); "" otherwise.
std::string OwnTerminalProblem(const std::string& device);

// Which of the settings file's choices a run takes: the line's settings (unless given
// on the command line), its COM number (unless --device or --port) and the crystal
// (unless --crystal).
struct SettingsUse {
    bool line = true, port = true, crystal = true;
};

// What the operator is told about the settings the run takes from the file: a warning
// for each value that is there but read as 0 (not a number, or negative), and an error
// for a value beyond its list, which stops the run before the line is opened.
struct SettingsWords {
    std::vector<std::string> warnings;
    std::string error;
};
SettingsWords CheckSettingsChoices(const OperatorSettings& settings, const SettingsUse& use);
// The error of a crystal choice beyond its list, for a console's "initflash".
std::string CrystalChoiceProblem(const OperatorSettings& settings);
