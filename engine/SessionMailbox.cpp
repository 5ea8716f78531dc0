#include "engine/SessionMailbox.h"

SessionMailbox::SessionMailbox(std::function<void()> w) : wake(std::move(w)) {}

void SessionMailbox::PushLocked(SessionEvent event) {
    events.push_back(std::move(event));
    changed.notify_all();
}

void SessionMailbox::Push(SessionEvent event) {
    bool first;
    {
        std::lock_guard lock(mutex);
        first = events.empty();
        PushLocked(std::move(event));
    }
    // Outside the lock: the front end may take the events at once.
    if (first && wake)
        wake();
}

void SessionMailbox::PushBox(SessionEvent box, bool wait) {
    std::unique_lock lock(mutex);
    if (closed)
        return;  // nobody is left to read it
    wait = wait && std::this_thread::get_id() != frontEndThread;
    box.box = wait ? ++lastBox : 0;
    const uint64_t id = box.box;
    if (wait)
        open.insert(id);
    const bool first = events.empty();
    PushLocked(std::move(box));
    if (first && wake) {
        lock.unlock();
        wake();
        lock.lock();
    }
    if (!wait)
        return;
    changed.wait(lock, [&] { return closed || !open.count(id); });
    open.erase(id);
}

std::optional<SessionEvent> SessionMailbox::Next() {
    std::lock_guard lock(mutex);
    if (events.empty())
        return std::nullopt;
    SessionEvent event = std::move(events.front());
    events.pop_front();
    return event;
}

bool SessionMailbox::WaitFor(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, limit, [this] { return !events.empty(); });
}

void SessionMailbox::Dismissed(uint64_t box) {
    std::lock_guard lock(mutex);
    open.erase(box);
    changed.notify_all();
}

void SessionMailbox::Close() {
    std::lock_guard lock(mutex);
    closed = true;
    changed.notify_all();
}
