#pragma once
#include <string>

#include "engine/OwnerInterfaces.h"

class QWidget;

// Message boxes owned by a window, behind an interface so that tests dismiss them
// instead of an operator.
class IMessageBoxes {
public:
    virtual ~IMessageBoxes() = default;
    // Shows the box and returns once it is dismissed.
    virtual void Show(QWidget* owner, const std::string& text, const std::string& caption, BoxIcon icon) = 0;
    // Asks a question with Yes and No; No unless the operator says Yes.
    virtual bool Ask(QWidget* owner, const std::string& text, const std::string& caption) = 0;
};

// The platform's message box with an OK button. The first line of the text is the
// message; the lines after it (the device and the cause of "Can't open port!", say)
// are shown below it as its detail.
class QtMessageBoxes : public IMessageBoxes {
public:
    void Show(QWidget* owner, const std::string& text, const std::string& caption, BoxIcon icon) override;
    // Escape, and the window's own close button, answer No.
    bool Ask(QWidget* owner, const std::string& text, const std::string& caption) override;
};
