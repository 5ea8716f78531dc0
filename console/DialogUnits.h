#pragma once
#include <QFont>
#include <QRect>

// Dialog layouts are given in dialog units, which follow the dialog's font: across, a
// quarter of the font's average character width (the width of the 52 letters A-Z and
// a-z over 52, rounded); down, an eighth of its height. A dialog laid out in them keeps
// its proportions at any font size and screen scale.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int X(int units) const { return Scale(units, baseX, 4); }
    int Y(int units) const { return Scale(units, baseY, 8); }
    QRect Rect(int x, int y, int width, int height) const { return QRect(X(x), Y(y), X(width), Y(height)); }
    QSize Size(int width, int height) const { return QSize(X(width), Y(height)); }

    int BaseX() const { return baseX; }
    int BaseY() const { return baseY; }

private:
    static int Scale(int units, int base, int divisor) { return (units * base + divisor / 2) / divisor; }

    int baseX = 0;
    int baseY = 0;
};
