#pragma once
#include <QLabel>
#include <functional>

// A static picture drawn from a bitmap resource at the control's own size; it tells
// its owner of double-clicks.
class PictureLabel : public QLabel {
public:
    PictureLabel(int bitmapId, QWidget* parent);
    std::function<void()> onDoubleClick;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    int bitmapId;
};
