#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "serial/SerialMessages.h"

// One message for the worker: an id, two words, and the request text it carries (a
// copy of its own, so a later request can never change an earlier one's text).
struct ThreadMessage {
    uint32_t id = 0;
    uint32_t wParam = 0;
    int64_t lParam = 0;
    std::string text;
};

// The worker's FIFO queue. Anyone may post; only the worker takes.
class CMessageQueue : public INotifyTarget {
public:
    // False when the queue is closed (the worker has ended); the message is dropped.
    bool Post(ThreadMessage message);
    bool PostThreadMessage(uint32_t id, uint32_t wParam, int64_t lParam) override;

    // Waits for the next message; with a timeout, nothing when it passes first.
    ThreadMessage Take();
    std::optional<ThreadMessage> TakeFor(std::chrono::milliseconds timeout);

    void Close();

private:
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<ThreadMessage> messages;
    bool closed = false;
};
