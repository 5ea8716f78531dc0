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

    // What the last paint showed.
    bool IsHovering() const { return hovering; }
    bool WasFocused() const { return focused; }
    bool WasEmphasised() const { return emphasised; }

    // Shading colour number `index` (0 = top, 63 = bottom) for a state.
    static QColor ShadeColour(int index, bool hovering, bool emphasised);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void SetHovering(bool on);
    bool PointerInside() const;

    bool hovering = false;
    bool focused = false;
    bool emphasised = false;
};
