#include "serial/LineErrors.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <utility>

#include "serial/SerialMessages.h"

bool ReadDriverCounts(int fd, LineCounts& out) {
    serial_icounter_struct ic{};
    if (fd < 0 || ioctl(fd, TIOCGICOUNT, &ic) != 0)
        return false;
    out.cts = ic.cts;
    out.dsr = ic.dsr;
    out.rng = ic.rng;
    out.dcd = ic.dcd;
    out.frame = ic.frame;
    out.overrun = ic.overrun;
    out.parity = ic.parity;
    out.brk = ic.brk;
    out.bufOverrun = ic.buf_overrun;
    return true;
}

LineErrorCounters::LineErrorCounters(Reader reader) : read(std::move(reader)) {}

void LineErrorCounters::Reset(int fd) {
    std::lock_guard lock(mutex);
    LineCounts now;
    supported = read(fd, now);
    last = supported ? now : LineCounts{};
    lastBreaks = last.brk;
}

bool LineErrorCounters::Supported() const {
    std::lock_guard lock(mutex);
    return supported;
}

uint32_t LineErrorCounters::TakeErrors(int fd) {
    std::lock_guard lock(mutex);
    LineCounts now;
    if (!supported || !read(fd, now))
        return 0;
    uint32_t mask = 0;
    if (now.frame != last.frame) mask |= CE_FRAME;
    if (now.overrun != last.overrun) mask |= CE_OVERRUN;
    if (now.parity != last.parity) mask |= CE_RXPARITY;
    if (now.brk != last.brk) mask |= CE_BREAK;
    if (now.bufOverrun != last.bufOverrun) mask |= CE_RXOVER;
    last.frame = now.frame;
    last.overrun = now.overrun;
    last.parity = now.parity;
    last.brk = now.brk;
    last.bufOverrun = now.bufOverrun;
    return mask;
}

bool LineErrorCounters::TakeBreak(int fd) {
    std::lock_guard lock(mutex);
    LineCounts now;
    if (!supported || !read(fd, now))
        return false;
    const bool rose = now.brk != lastBreaks;
    lastBreaks = now.brk;
    return rose;
}

LineErrorCounters::ModemChanges LineErrorCounters::TakeModemChanges(int fd) {
    std::lock_guard lock(mutex);
    ModemChanges changes;
    LineCounts now;
    if (!supported || !read(fd, now))
        return changes;
    changes.cts = now.cts != last.cts;
    changes.dsr = now.dsr != last.dsr;
    changes.ring = now.rng != last.rng;
    changes.rlsd = now.dcd != last.dcd;
    last.cts = now.cts;
    last.dsr = now.dsr;
    last.rng = now.rng;
    last.dcd = now.dcd;
    return changes;
}
