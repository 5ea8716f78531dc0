#include "sim/line_settings.h"

#include <array>
#include <utility>

namespace kestrel::sim {

namespace {

constexpr std::array<std::pair<speed_t, unsigned>, 12> kSpeeds{{
    {B300, 300},
    {B1200, 1200},
    {B2400, 2400},
    {B4800, 4800},
    {B9600, 9600},
    {B19200, 19200},
    {B38400, 38400},
    {B57600, 57600},
    {B115200, 115200},
    {B230400, 230400},
    {B460800, 460800},
    {B921600, 921600},
}};

unsigned BaudOf(speed_t s) {
    for (const auto& [code, baud] : kSpeeds) {
        if (code == s) return baud;
    }
    return 0;
}

unsigned DataBits(const termios& t) {
    switch (t.c_cflag & CSIZE) {
        case CS5: return 5;
        case CS6: return 6;
        case CS7: return 7;
        default: return 8;
    }
}

char Parity(const termios& t) {
    if (!(t.c_cflag & PARENB)) return 'N';
    return (t.c_cflag & PARODD) ? 'O' : 'E';
}

void Add(std::string& out, const std::string& what) {
    if (!out.empty()) out += "; ";
    out += what;
}

}  // namespace

unsigned LineBaud(const termios& t) { return BaudOf(cfgetospeed(&t)); }

std::string DescribeLineSettings(const termios& t) {
    const unsigned baud = LineBaud(t);
    std::string text = baud ? std::to_string(baud) : std::string("unknown speed");
    text += ',';
    text += Parity(t);
    text += ',' + std::to_string(DataBits(t));
    text += (t.c_cflag & CSTOPB) ? ",2" : ",1";
    return text;
}

std::string LineSettingsProblems(const termios& t, unsigned baud) {
    std::string out;
    const unsigned out_baud = LineBaud(t);
    if (out_baud != baud) {
        Add(out, "speed " + (out_baud ? std::to_string(out_baud) : std::string("unknown")) +
                     " instead of " + std::to_string(baud));
    }
    // An input speed of 0 means "same as output" on this platform.
    const speed_t in = cfgetispeed(&t);
    if (in != B0 && BaudOf(in) != baud) Add(out, "input speed differs from output speed");
    if (DataBits(t) != 8) Add(out, std::to_string(DataBits(t)) + " data bits");
    if (t.c_cflag & PARENB) Add(out, "parity on");
    if (t.c_cflag & CSTOPB) Add(out, "2 stop bits");
    if (t.c_cflag & CRTSCTS) Add(out, "hardware flow control on");
    if (t.c_iflag & (IXON | IXOFF)) Add(out, "software flow control on");
    if (t.c_lflag & ICANON) Add(out, "canonical (line-buffered) input");
    if (t.c_lflag & (ECHO | ECHONL)) Add(out, "echo on");
    if (t.c_lflag & ISIG) Add(out, "signal characters on");
    if (t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP)) Add(out, "input translation on");
    if (t.c_oflag & OPOST) Add(out, "output post-processing on");
    return out;
}

}  // namespace kestrel::sim
