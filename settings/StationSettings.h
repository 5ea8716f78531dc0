#pragma once
// A station's choices as the settings file keeps them, in a [STATION] section of their
// own: the crystal, the check after flashing, the wake interval, the pause before the
// next board, the results file, the log folder and which ports are left out. The
// ports themselves are those of [PORTS] (com1=/dev/ttyUSB0 ...). Every value is text
// as an operator would write it; one that cannot be read keeps its default.
#include <chrono>
#include <string>
#include <vector>

#include "settings/ProfileFile.h"

struct StationPortEntry {
    std::string name;  // "com3", as the [PORTS] key is written
    unsigned number = 0;
    std::string device;
    bool armed = true;  // ticked: armed by Start
};

struct StationSettings {
    static constexpr const char* kSection = "STATION";
    // The keys of [STATION].
    static constexpr const char* kCrystal = "crystal";        // list index, as [PLANT] XTLO (its default)
    static constexpr const char* kExpect = "expect";          // a regular expression; empty: none
    static constexpr const char* kFailOn = "failon";
    static constexpr const char* kWithin = "within";          // seconds, "10"
    static constexpr const char* kWakeEvery = "wakeevery";    // seconds, "1"
    static constexpr const char* kRearmAfter = "rearmafter";  // seconds, "3"
    static constexpr const char* kResults = "results";        // a path; empty: none
    static constexpr const char* kLogDir = "logdir";
    static constexpr const char* kLeftOut = "leftout";        // "com2,com5": the ports not ticked

    int crystalIndex = 0;
    std::string expect, failOn;
    std::chrono::milliseconds within{10000}, wakeEvery{1000}, rearmAfter{3000};
    std::string results, logDir;
    std::vector<StationPortEntry> ports;  // by COM number
    // Values that could not be read and kept their default: "[STATION] within=abc".
    std::vector<std::string> unread;

    static StationSettings Read(const ProfileFile& profile);
    // The [STATION] leftout value for these ports.
    static std::string LeftOutText(const std::vector<StationPortEntry>& ports);
};

// Seconds with up to three decimals ("0.25", "3"), within [lowestMs, highestMs].
bool ParseSeconds(const std::string& text, long lowestMs, long highestMs, std::chrono::milliseconds& out);
// "0.25", "3": what ParseSeconds reads back as the same value.
std::string SecondsText(std::chrono::milliseconds ms);
// The lowest COM number [PORTS] does not use yet.
unsigned FreePortNumber(const std::vector<StationPortEntry>& ports);
