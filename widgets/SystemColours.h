#pragma once
#include <QColor>
#include <QPalette>

// The desktop's 3D colours the owner-drawn widgets paint with, taken from the widget's
// palette by the same pairing Qt uses for the Windows system colours.
struct SystemColours {
    QColor buttonFace;  // the face of buttons and dialogs
    QColor buttonText;
    QColor highlight;   // the lit outer edge of a raised border
    QColor light;       // the lit inner edge
    QColor shadow;      // the shaded inner edge, and disabled text
    QColor darkShadow;  // the shaded outer edge

    static SystemColours From(const QPalette& palette) {
        return SystemColours{
            palette.color(QPalette::Button),   palette.color(QPalette::ButtonText),
            palette.color(QPalette::Light),    palette.color(QPalette::Midlight),
            palette.color(QPalette::Dark),     palette.color(QPalette::Shadow),
        };
    }
};
