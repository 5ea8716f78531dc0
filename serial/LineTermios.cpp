#include "serial/LineTermios.h"

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

}  // namespace

std::optional<speed_t> TermiosSpeed(unsigned baud) {
    for (const auto& e : kSpeeds)
        if (e.baud == baud)
            return e.speed;
    return std::nullopt;
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
    if (const auto speed = TermiosSpeed(s.baud)) {
        cfsetispeed(&tio, *speed);
        cfsetospeed(&tio, *speed);
    }
}
