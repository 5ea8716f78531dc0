#pragma once
#include <string>

#include "engine/OwnerInterfaces.h"
#include "serial/ISerialLine.h"

// The worker's message boxes, each also noted on its serial line, so that a wire trace
// of the line tells what the operator was shown, and when, between the bytes.
class NotedBoxes : public IMessageBoxOwner {
public:
    explicit NotedBoxes(IMessageBoxOwner& owner) : owner(owner) {}
    // Set once, before the worker's thread or the line's monitor can show a box.
    void SetLine(ISerialLine* noted) { line = noted; }

    void ShowMessageBox(const std::string& text, const std::string& caption, BoxIcon icon) override {
        if (line)
            line->Note("box " + caption + ": " + text);
        owner.ShowMessageBox(text, caption, icon);
    }

private:
    IMessageBoxOwner& owner;
    ISerialLine* line = nullptr;
};
