#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The board's crystal choices, in the order of the crystal list (the settings file
// stores the index): the text shown to the operator and used in the loader-1 file
// name, the boot line speed the board's boot code listens at, and how long loader 1
// is given to leave the line at that speed before the line is closed for 115200 baud.
struct CrystalChoice {
    const char* text;
    uint32_t bootBaud;
    uint32_t loader1PauseMs;

    // The boot speed's line settings, e.g. "57600,N,8,1".
    std::string BootSettings() const { return std::to_string(bootBaud) + ",N,8,1"; }
};

// The speeds are not in the crystals' order: 13.5M boots at 57600, 16M at 38400.
inline constexpr CrystalChoice kCrystals[] = {
    {"4M", 9600, 2300},
    {"8M", 19200, 1000},
    {"13.5M", 57600, 1000},
    {"16M", 38400, 1000},
    {"27M", 115200, 300},
};
inline constexpr uint32_t kCrystalCount = sizeof kCrystals / sizeof kCrystals[0];

// The index of a crystal text ("13.5M"), or nothing when it is not one of the list.
inline std::optional<uint32_t> FindCrystalIndex(std::string_view text) {
    for (uint32_t i = 0; i < kCrystalCount; ++i)
        if (text == kCrystals[i].text)
            return i;
    return std::nullopt;
}
