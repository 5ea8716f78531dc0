#include "trace/TraceLine.h"

#include <algorithm>
#include <charconv>

namespace {

bool HexDigit(char c, uint8_t& value) {
    if (c >= '0' && c <= '9')
        value = static_cast<uint8_t>(c - '0');
    else if (c >= 'a' && c <= 'f')
        value = static_cast<uint8_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
        value = static_cast<uint8_t>(c - 'A' + 10);
    else
        return false;
    return true;
}

}  // namespace

std::optional<TraceEvent> ParseTraceLine(std::string_view line, std::string& why) {
    const auto space = line.find(' ');
    const std::string_view time = line.substr(0, space);
    const auto point = time.find('.');
    const std::string_view whole = time.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? std::string_view{} : time.substr(point + 1);
    int64_t seconds = 0;
    auto [end, ec] = std::from_chars(whole.data(), whole.data() + whole.size(), seconds);
    if (whole.empty() || ec != std::errc() || end != whole.data() + whole.size() || seconds < 0 ||
        seconds > 100'000'000 || fraction.size() > 6 ||
        !std::all_of(fraction.begin(), fraction.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        why = "no time at its start";
        return std::nullopt;
    }
    TraceEvent e;
    int64_t micros = 0;
    for (size_t i = 0; i < 6; ++i)
        micros = micros * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
    e.micros = seconds * 1'000'000 + micros;
    if (space == std::string_view::npos) {
        why = "a time and nothing after it";
        return std::nullopt;
    }
    const std::string_view rest = line.substr(space + 1);
    const auto wordEnd = rest.find(' ');
    const std::string_view word = rest.substr(0, wordEnd);
    const std::string_view argument = wordEnd == std::string_view::npos ? std::string_view{} : rest.substr(wordEnd + 1);

    if (word == "TX" || word == "RX") {
        e.kind = word == "TX" ? TraceEvent::Kind::Tx : TraceEvent::Kind::Rx;
        if (argument.empty() || argument.size() % 2 != 0) {
            why = argument.empty() ? "no bytes" : "an odd number of hex digits (cut short?)";
            return std::nullopt;
        }
        e.bytes.resize(argument.size() / 2);
        for (size_t i = 0; i < e.bytes.size(); ++i) {
            uint8_t high = 0, low = 0;
            if (!HexDigit(argument[2 * i], high) || !HexDigit(argument[2 * i + 1], low)) {
                why = "a character that is no hex digit among its bytes";
                return std::nullopt;
            }
            e.bytes[i] = static_cast<uint8_t>(high << 4 | low);
        }
        return e;
    }
    if (word == "OPEN") {
        // The settings are the last word; a device name may hold spaces.
        const auto last = argument.rfind(' ');
        if (last == std::string_view::npos || last == 0) {
            why = "an OPEN without a device and settings";
            return std::nullopt;
        }
        e.kind = TraceEvent::Kind::Open;
        e.device = std::string(argument.substr(0, last));
        e.settings = std::string(argument.substr(last + 1));
        return e;
    }
    if (word == "NOTE") {
        e.kind = TraceEvent::Kind::Note;
        e.text = std::string(argument);
        return e;
    }
    if ((word == "CLOSE" || word == "LOST") && argument.empty()) {
        e.kind = word == "CLOSE" ? TraceEvent::Kind::Close : TraceEvent::Kind::Lost;
        return e;
    }
    why = "no known event (OPEN, CLOSE, TX, RX, LOST, NOTE)";
    return std::nullopt;
}
