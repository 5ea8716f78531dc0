#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::sim {

// What the booted board prints on its console. Lines end in CR LF.

// The start-up banner: the board, its crystal and what the last update left.
std::string BannerText(const std::string& crystal, const std::string& last_update);

// The board's answer to the "pcdemo" pattern.
std::string DemoText();

// What the new firmware of a board of a succession prints when it boots after
// an update, one line per item: its serial number, what it found in its flash,
// and its self test, which `healthy` decides.
std::vector<std::string> FirmwareBanner(const std::string& serial, const std::string& flash_contents, bool healthy);

// Watches the console input for the two 16-byte patterns. A run longer than 16
// counts once per 16 bytes, as the board's boot code reads them in groups.
class ConsolePatterns {
public:
    enum class Seen { Nothing, Reset, Demo };
    Seen Feed(std::uint8_t byte);

private:
    std::uint8_t last_ = 0;
    std::size_t run_ = 0;
};

}  // namespace kestrel::sim
