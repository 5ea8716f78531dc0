#pragma once
// The main dialog's display widgets: the percentage progress bar (1017), the shaded
// command buttons (1011, 1013, 1014, 1016, 1019, 1022, 1023) and the port lamp (1027).
// This header and DialogWidgets.cpp are the only places that name their classes; the
// platform's own progress bar and push buttons stand in for the owner-drawn ones, and
// behave the same toward the dialog (positions 0 to 100, clicks, labels, a lamp image).
#include <QProgressBar>
#include <QPushButton>

// The progress bar under the names the dialog uses.
class ProgressStandIn : public QProgressBar {
public:
    explicit ProgressStandIn(QWidget* parent) : QProgressBar(parent) {}
    void SetRange(int lower, int upper) { setRange(lower, upper); }
    void SetStep(int) {}
    void SetPos(int position) { setValue(position); }
    int GetPos() const { return value(); }
};

using ProgressBarWidget = ProgressStandIn;
using CommandButtonWidget = QPushButton;
using LampButtonWidget = QPushButton;

ProgressBarWidget* MakeProgressBar(QWidget* parent);
CommandButtonWidget* MakeCommandButton(const QString& text, QWidget* parent);
LampButtonWidget* MakeLampButton(QWidget* parent);
// Shows bitmap resource `bitmapId` on the lamp, its white surround transparent, in
// full colour although the lamp is disabled.
void ShowLampImage(LampButtonWidget* lamp, int bitmapId);
