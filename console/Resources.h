#pragma once
#include <QIcon>
#include <QImage>
#include <QString>

// The window's resources by their numbers: the application icon, the picture, the two
// port lamps and the about entry's text. The art is drawn as SVG (res/art) and
// rendered at the size it is shown at.
enum ResourceId {
    IDS_ABOUTBOX = 101,      // the about entry of the dialog's menu
    IDR_MAINFRAME = 128,     // the application icon
    IDB_PICTURE = 131,       // the picture beside the Update button
    IDB_LAMP_CLOSED = 133,   // grey lamp, 16 x 16 on white
    IDB_LAMP_OPEN = 134,     // green lamp, 16 x 16 on white
};

QIcon ApplicationIcon();
// A bitmap resource drawn at `size` (its own size when empty). The lamps are drawn on
// their white surround, which the lamp button treats as transparent.
QImage BitmapResource(int id, QSize size = {});
QString StringResource(int id);
// The size a bitmap resource is drawn at by default.
QSize BitmapSize(int id);
