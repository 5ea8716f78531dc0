#include "serial/LineSettings.h"

#include <cctype>
#include <vector>

namespace {

// The speeds every line driver the tool runs on can set, Linux's termios and Windows'
// comm driver alike.
constexpr unsigned kSpeeds[] = {110,   300,   600,    1200,   2400,   4800,   9600,
                                19200, 38400, 57600, 115200, 230400, 460800, 921600};

std::vector<std::string> SplitFields(const std::string& text) {
    std::vector<std::string> fields(1);
    for (char c : text) {
        if (c == ',')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

std::optional<unsigned> ParseDecimal(const std::string& field) {
    if (field.empty() || field.size() > 9)
        return std::nullopt;
    unsigned value = 0;
    for (char c : field) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

}  // namespace

std::optional<LineSettings> ParseLineSettings(const std::string& text) {
    const auto fields = SplitFields(text);
    if (fields.size() != 4)
        return std::nullopt;

    LineSettings s;
    const auto baud = ParseDecimal(fields[0]);
    if (!baud)
        return std::nullopt;
    bool known = false;
    for (const unsigned speed : kSpeeds) {
        if (speed == *baud) {
            s.baud = speed;
            known = true;
        }
    }
    if (!known)
        return std::nullopt;

    if (fields[1].size() != 1)
        return std::nullopt;
    s.parity = static_cast<char>(std::toupper(static_cast<unsigned char>(fields[1][0])));
    if (s.parity != 'N' && s.parity != 'E' && s.parity != 'O')
        return std::nullopt;

    const auto data = ParseDecimal(fields[2]);
    const auto stop = ParseDecimal(fields[3]);
    if (!data || *data < 5 || *data > 8 || !stop || (*stop != 1 && *stop != 2))
        return std::nullopt;
    s.dataBits = static_cast<int>(*data);
    s.stopBits = static_cast<int>(*stop);
    return s;
}
