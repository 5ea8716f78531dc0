#include "serial/LineSettings.h"

#include <cctype>
#include <vector>

namespace {

struct SpeedEntry {
    unsigned baud;
    speed_t speed;
};

constexpr SpeedEntry kSpeeds[] = {
    {110, B110},       {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
    {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

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
    for (const auto& e : kSpeeds) {
        if (e.baud == *baud) {
            s.baud = e.baud;
            s.speed = e.speed;
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

void ApplyLineSettings(const LineSettings& s, termios& tio) {
    cfmakeraw(&tio);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | ISTRIP);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    switch (s.dataBits) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    default: tio.c_cflag |= CS8; break;
    }
    if (s.parity != 'N') {
        tio.c_cflag |= PARENB;
        tio.c_iflag |= INPCK;
        if (s.parity == 'O')
            tio.c_cflag |= PARODD;
    }
    if (s.stopBits == 2)
        tio.c_cflag |= CSTOPB;
    // Reads take what is waiting and never block; the monitor thread does the waiting.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, s.speed);
    cfsetospeed(&tio, s.speed);
}
