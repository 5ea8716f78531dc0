#include "sim/crystal.h"

#include <array>

namespace kestrel::sim {

namespace {
constexpr std::array<Crystal, 5> kCrystals{{
    {"4M", 9600},
    {"8M", 19200},
    {"13.5M", 57600},
    {"16M", 38400},
    {"27M", 115200},
}};
}  // namespace

std::span<const Crystal> AllCrystals() { return kCrystals; }

std::optional<Crystal> FindCrystal(std::string_view name) {
    for (const Crystal& c : kCrystals) {
        if (c.name == name) return c;
    }
    return std::nullopt;
}

}  // namespace kestrel::sim
