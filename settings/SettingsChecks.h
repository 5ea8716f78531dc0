#pragma once
// The operator's choices the settings file holds, looked at before a run takes them:
// a value read as 0 is warned of, a value beyond its list stops the run, with the file,
// the key and the value named.
#include <string>
#include <vector>

#include "settings/ProfileFile.h"

// Which of the settings file's choices a run takes: the line's settings (unless given
// on the command line), its COM number (unless --device or --port) and the crystal
// (unless --crystal).
struct SettingsUse {
    bool line = true, port = true, crystal = true;
    // The error's closing line: what the operator may do about it.
    std::string remedy = "Mend the file, or give the choice on the command line; the line was not opened.";
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
