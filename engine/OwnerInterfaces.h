#pragma once
#include <cstdint>
#include <string>

// The worker's two ways of reaching whatever owns it: the window, the command-line
// front end, or a test.

class IWindowPoster {
public:
    virtual ~IWindowPoster() = default;
    // Queues a window message for the owner's thread; never waits for it.
    virtual void PostWindowMessage(uint32_t id, uint32_t wParam, int64_t lParam) = 0;
};

// None: a plain box without an icon, as the serial line's own failure box is shown.
enum class BoxIcon { Error, Warning, Information, None };

class IMessageBoxOwner {
public:
    virtual ~IMessageBoxOwner() = default;
    // Shows a message box owned by the main window and returns once it is dismissed.
    virtual void ShowMessageBox(const std::string& text, const std::string& caption, BoxIcon icon) = 0;
};
