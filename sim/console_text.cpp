#include "sim/console_text.h"

#include "sim/board_wire.h"

namespace kestrel::sim {

std::string BannerText(const std::string& crystal, const std::string& last_update) {
    return "\r\n"
           "Kestrel virtual board, crystal " + crystal + "\r\n"
           "Boot code ready, flash " + std::to_string(wire::kFlashSize / 1024) + " KB\r\n"
           "Last update: " + last_update + "\r\n";
}

std::string DemoText() { return "PC demo mode started\r\n"; }

std::vector<std::string> FirmwareBanner(const std::string& serial, const std::string& flash_contents, bool healthy) {
    return {
        "\r\n",
        "Kestrel set-top box firmware starting\r\n",
        "Serial number: " + serial + "\r\n",
        "Flash: " + flash_contents + "\r\n",
        healthy ? "Self test: firmware OK\r\n" : "PANIC: flash checksum error, firmware halted\r\n",
    };
}

ConsolePatterns::Seen ConsolePatterns::Feed(std::uint8_t byte) {
    if (run_ > 0 && byte == last_) {
        ++run_;
    } else {
        last_ = byte;
        run_ = 1;
    }
    if (run_ < wire::kPatternLength) return Seen::Nothing;
    run_ = 0;
    if (byte == wire::kResetByte) return Seen::Reset;
    if (byte == wire::kDemoByte) return Seen::Demo;
    return Seen::Nothing;
}

}  // namespace kestrel::sim
