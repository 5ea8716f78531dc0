#pragma once
// What a board command makes sure of before any line is opened, any board is woken or
// any file of its own is written: the paths it will write (a wire trace, logs, the
// console's saved text) never name what the run reads, the line is not the terminal
// Kestrel runs in, and the settings it takes from the settings file are ones it can
// use. Each check answers "" when all is well, else what to tell the operator.
#include <ostream>
#include <string>
#include <vector>

#include "cli/FlashSession.h"
#include "engine/OutputPaths.h"
#include "settings/SettingsChecks.h"
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

// Tells the operator what the settings file's choices the run takes come to (see
// CheckSettingsChoices) on err; false when the run must stop.
bool SayCheckedSettingsChoices(const OperatorSettings& settings, const SettingsUse& use, std::ostream& err);
