#pragma once
#include <chrono>
#include <optional>
#include <string>

#include "engine/MessageQueue.h"
#include "engine/OwnerInterfaces.h"

// The worker's owner in a terminal: window messages and message boxes are queued for
// the front end's main thread, which prints them in the order they were raised.
class CliOwner : public IWindowPoster, public IMessageBoxOwner {
public:
    // Message boxes arrive in the queue with this id and "Caption: text" as their text.
    static constexpr uint32_t kMessageBox = 0xB0C5;

    void PostWindowMessage(uint32_t id, uint32_t wParam, int64_t lParam) override;
    // Nobody is there to dismiss a box: it is printed, and that is its dismissal.
    void ShowMessageBox(const std::string& text, const std::string& caption, BoxIcon icon) override;

    std::optional<ThreadMessage> Next(std::chrono::milliseconds timeout) { return queue.TakeFor(timeout); }

private:
    CMessageQueue queue;
};
