#include "console/WorkerMailbox.h"

#include <sys/eventfd.h>
#include <unistd.h>

WorkerMailbox::WorkerMailbox() : wakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

WorkerMailbox::~WorkerMailbox() {
    Close();
    if (wakeFd >= 0)
        ::close(wakeFd);
}

void WorkerMailbox::Push(Item item) {
    const bool wasEmpty = items.empty();
    items.push_back(std::move(item));
    if (wasEmpty) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd, &one, sizeof one);
    }
}

void WorkerMailbox::PostWindowMessage(uint32_t id, uint32_t wParam, int64_t lParam) {
    std::lock_guard lock(mutex);
    Item item;
    item.message = ThreadMessage{id, wParam, lParam, {}};
    Push(std::move(item));
}

void WorkerMailbox::ShowMessageBox(const std::string& text, const std::string& caption, BoxIcon icon) {
    std::unique_lock lock(mutex);
    if (closed)
        return;  // nobody is left to read it
    Item item;
    item.isBox = true;
    item.text = text;
    item.caption = caption;
    item.icon = icon;
    item.box = ++lastBox;
    const uint64_t box = item.box;
    open.insert(box);
    Push(std::move(item));
    if (std::this_thread::get_id() == windowThread)
        return;  // the window's own thread cannot wait for itself; the box follows
    dismissed.wait(lock, [&] { return closed || !open.count(box); });
    open.erase(box);
}

std::optional<WorkerMailbox::Item> WorkerMailbox::Next() {
    std::lock_guard lock(mutex);
    if (items.empty()) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(wakeFd, &count, sizeof count);
        return std::nullopt;
    }
    Item item = std::move(items.front());
    items.pop_front();
    return item;
}

void WorkerMailbox::Dismissed(uint64_t box) {
    std::lock_guard lock(mutex);
    open.erase(box);
    dismissed.notify_all();
}

void WorkerMailbox::Close() {
    std::lock_guard lock(mutex);
    closed = true;
    dismissed.notify_all();
}
