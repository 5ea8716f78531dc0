#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "serial/SerialMessages.h"

class WireTrace;

// What the update engine needs of a serial line. The platform's own line comes from
// MakeSerialLine (serial/LineFactory.h); tests of the engine stand a scripted line in
// its place.
class ISerialLine {
public:
    // Port numbers run from 1 to this.
    static constexpr uint32_t kMaxPortNumber = 1024;
    using FailureBox = std::function<void(const std::string& text, const std::string& caption)>;

    virtual ~ISerialLine() = default;
    // Closes the line if open, then opens port n with a settings text such as
    // "115200,N,8,1". False when n is outside 1..1024 (nothing touched) or any step fails.
    virtual bool OpenPort(uint32_t portNumber, const std::string& settings) = 0;
    virtual void ClosePort() = 0;
    virtual bool IsOpen() const = 0;
    // Takes at most maxBytes of what has already arrived; never waits for more.
    virtual uint32_t ReadAvailable(uint8_t* buffer, uint32_t maxBytes, uint32_t waitMs) = 0;
    // Queues the bytes for sending and returns without waiting for the wire.
    virtual uint32_t WriteBytes(const uint8_t* buffer, uint32_t length) = 0;
    // Waits, at most timeoutMs, until everything written has left the device, so that
    // a close for a speed change does not cut it off. True when the queue emptied.
    virtual bool DrainOutput(uint32_t timeoutMs) = 0;
    // The device the port number resolved to, and the cause of the last failed open in
    // plain words (empty when the last open succeeded).
    virtual std::string DeviceName() const = 0;
    virtual std::string LastOpenError() const = 0;
    // Where the line's notifications (WM_SERIAL_RECEIVE …) are posted.
    virtual void SetNotifyThread(INotifyTarget* target) = 0;
    // Counts the opens of the device; WM_SERIAL_LINE_LOST carries the count of the
    // open that hung up, so a report about an earlier open can be told apart.
    virtual uint32_t OpenCount() const = 0;
    // Records every open, close, write, read and hang-up from now on (null stops it);
    // may be attached or detached while the line runs. A line that cannot record
    // keeps none.
    virtual void SetTrace(std::shared_ptr<WireTrace> /*trace*/) {}
    virtual std::shared_ptr<WireTrace> Trace() const { return nullptr; }
    // Adds what the operator is told to the line's wire trace, if one is recording.
    virtual void Note(const std::string& /*text*/) {}
    // How the line's own monitor reports a failure of its own (caption "Class
    // CSerialLine"); without it such a failure goes unshown.
    virtual void SetFailureBox(FailureBox /*box*/) {}
};
