#pragma once
#include <QColor>
#include <QPushButton>

// The main window's command buttons: a rounded black outline, a vertical shading from
// near-white to a soft blue-grey (lavender while emphasised), an orange rim while the
// pointer is on the button, a blue rim and the dotted focus rectangle while it has the
// keyboard focus, and the caption centred on top with its mnemonic underlined. Clicks,
// labels, enabling and the default state are the push button's own; the class only
// draws.
class CShadedPushButton : public QPushButton {
    Q_OBJECT
public:
    explicit CShadedPushButton(QWidget* parent = nullptr);
    explicit CShadedPushButton(const QString& text, QWidget* parent = nullptr);

    // The pointer rests on the button.
    bool IsHovering() const { return hovering; }
    // At the last paint: the button had the focus; it had the focus, was pressed or
    // was the default button.
    bool WasFocused() const { return focused; }
    bool WasEmphasised() const { return emphasised; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void SetHovering(bool on);

    bool hovering = false;
    bool focused = false;
    bool emphasised = false;
};
