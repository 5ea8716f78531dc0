#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace kestrel::sim {

// A crystal choice of the board and the line speed its boot code listens at.
// The speeds do not rise with the crystal: 13.5M boots at 57600, 16M at 38400.
struct Crystal {
    std::string_view name;
    unsigned bootBaud;
};

std::span<const Crystal> AllCrystals();
std::optional<Crystal> FindCrystal(std::string_view name);

}  // namespace kestrel::sim
