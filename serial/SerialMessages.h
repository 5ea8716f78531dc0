#pragma once
#include <cstdint>

// Thread messages the serial monitor posts to its notify target. wParam is always the
// port number the monitor's line was opened with; lParam as noted. Only
// WM_SERIAL_RECEIVE and WM_SERIAL_LINE_LOST have handlers in the worker; the others
// reach its queue and are ignored there.
// Bytes arrived, or a read left some queued; lParam 0.
constexpr uint32_t WM_SERIAL_RECEIVE = 1642;
constexpr uint32_t WM_SERIAL_CTS = 1643;      // lParam 1 when CTS is on
constexpr uint32_t WM_SERIAL_DSR = 1645;      // lParam 1 when DSR is on
constexpr uint32_t WM_SERIAL_RING = 1647;
constexpr uint32_t WM_SERIAL_RLSD = 1648;
constexpr uint32_t WM_SERIAL_BREAK = 1649;    // the driver counted a break; lParam 0
constexpr uint32_t WM_SERIAL_TXEMPTY = 1650;
// Framing, parity or overrun errors (a break alone comes as WM_SERIAL_BREAK);
// lParam: the line error mask (CE_* bits below).
constexpr uint32_t WM_SERIAL_ERROR = 1651;
// The device hung up (USB adapter pulled, far end of a pty closed). Posted once; the
// monitor stops watching a line that can no longer deliver anything. lParam: the
// line's open count at the time, so a report about an earlier open can be ignored.
constexpr uint32_t WM_SERIAL_LINE_LOST = 1652;

// Line error bits carried by WM_SERIAL_ERROR, with the values operators know from
// other serial tools.
constexpr uint32_t CE_RXOVER = 0x0001;
constexpr uint32_t CE_OVERRUN = 0x0002;
constexpr uint32_t CE_RXPARITY = 0x0004;
constexpr uint32_t CE_FRAME = 0x0008;
constexpr uint32_t CE_BREAK = 0x0010;

// Where the monitor's notifications go: the worker's message queue.
class INotifyTarget {
public:
    virtual ~INotifyTarget() = default;
    // Queues the message without waiting for the receiver. Returns false when the
    // receiving thread has ended, in which case the message is dropped.
    virtual bool PostThreadMessage(uint32_t id, uint32_t wParam, int64_t lParam) = 0;
};
