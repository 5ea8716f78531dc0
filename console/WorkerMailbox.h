#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "engine/MessageQueue.h"
#include "engine/OwnerInterfaces.h"

// How the worker (and the serial monitor) reach the window's thread. Window messages
// and message boxes wait here in the order they were raised; an eventfd, which the
// window's event loop watches, says that something waits. A thread that asks for a
// message box waits until the window has shown it and the operator has dismissed it.
// Nothing passes between the threads except under the mailbox's own lock.
class WorkerMailbox : public IWindowPoster, public IMessageBoxOwner {
public:
    struct Item {
        bool isBox = false;
        ThreadMessage message;  // a window message: id, wParam, lParam
        std::string text, caption;
        BoxIcon icon = BoxIcon::Information;
        uint64_t box = 0;  // which box, for Dismissed()
    };

    WorkerMailbox();
    ~WorkerMailbox() override;
    WorkerMailbox(const WorkerMailbox&) = delete;
    WorkerMailbox& operator=(const WorkerMailbox&) = delete;

    // Readable while something waits.
    int WakeFd() const { return wakeFd; }

    void PostWindowMessage(uint32_t id, uint32_t wParam, int64_t lParam) override;
    void ShowMessageBox(const std::string& text, const std::string& caption, BoxIcon icon) override;

    // The window's thread: the next item that waits, if any.
    std::optional<Item> Next();
    // The window's thread, once a box is dismissed: the thread that asked goes on.
    void Dismissed(uint64_t box);
    // The window is going: threads waiting for a box go on, and later boxes are
    // not shown.
    void Close();

private:
    void Push(Item item);  // with the lock held

    std::mutex mutex;
    std::condition_variable dismissed;
    std::deque<Item> items;
    std::set<uint64_t> open;  // boxes asked for and not yet dismissed
    uint64_t lastBox = 0;
    bool closed = false;
    int wakeFd = -1;
    const std::thread::id windowThread = std::this_thread::get_id();
};
