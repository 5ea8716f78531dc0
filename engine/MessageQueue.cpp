#include "engine/MessageQueue.h"

bool CMessageQueue::Post(ThreadMessage message) {
    {
        std::lock_guard lock(mutex);
        if (closed)
            return false;
        messages.push_back(std::move(message));
    }
    ready.notify_one();
    return true;
}

bool CMessageQueue::PostThreadMessage(uint32_t id, uint32_t wParam, int64_t lParam) {
    return Post(ThreadMessage{id, wParam, lParam, {}});
}

ThreadMessage CMessageQueue::Take() {
    std::unique_lock lock(mutex);
    ready.wait(lock, [this] { return !messages.empty(); });
    ThreadMessage m = std::move(messages.front());
    messages.pop_front();
    return m;
}

std::optional<ThreadMessage> CMessageQueue::TakeFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    if (!ready.wait_for(lock, timeout, [this] { return !messages.empty(); }))
        return std::nullopt;
    ThreadMessage m = std::move(messages.front());
    messages.pop_front();
    return m;
}

void CMessageQueue::Close() {
    std::lock_guard lock(mutex);
    closed = true;
    messages.clear();
}
