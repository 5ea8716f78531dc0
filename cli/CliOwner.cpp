#include "cli/CliOwner.h"

void CliOwner::PostWindowMessage(uint32_t id, uint32_t wParam, int64_t lParam) {
    queue.Post(ThreadMessage{id, wParam, lParam, {}});
}

void CliOwner::ShowMessageBox(const std::string& text, const std::string& caption, BoxIcon) {
    queue.Post(ThreadMessage{kMessageBox, 0, 0, caption + ": " + text});
}
