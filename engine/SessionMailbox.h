#pragma once
// How a session's events reach its front end's thread from the worker and the line's
// monitor: they wait here in the order they were raised. A thread that raises a
// message box that blocks waits until the front end has dismissed it; the front end's
// own thread never waits for itself. A wake callback tells an event loop that
// something waits; a front end without one waits here for the next event.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "engine/SessionEvents.h"

class SessionMailbox {
public:
    explicit SessionMailbox(std::function<void()> wake = {});
    SessionMailbox(const SessionMailbox&) = delete;
    SessionMailbox& operator=(const SessionMailbox&) = delete;

    void Push(SessionEvent event);
    // Pushes a message box event; when `wait`, returns only once it is dismissed (or
    // the mailbox is closed).
    void PushBox(SessionEvent box, bool wait);

    // The front end's thread: the next event, if one waits.
    std::optional<SessionEvent> Next();
    // Blocks until an event waits or `limit` passes; true when one waits.
    bool WaitFor(std::chrono::milliseconds limit);
    void Dismissed(uint64_t box);
    // Nobody will read any more: threads waiting for a box go on, later boxes are
    // not waited for.
    void Close();

private:
    void PushLocked(SessionEvent event);

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<SessionEvent> events;
    std::set<uint64_t> open;  // boxes raised and not yet dismissed
    uint64_t lastBox = 0;
    bool closed = false;
    std::function<void()> wake;
    const std::thread::id frontEndThread = std::this_thread::get_id();
};
