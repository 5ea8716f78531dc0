#pragma once
// The main dialog's display widgets: the percentage progress bar (1017), the shaded
// command buttons (1011, 1013, 1014, 1016, 1019, 1022, 1023) and the port lamp (1027).
// This header and DialogWidgets.cpp are the only places that name their classes.
#include "widgets/FlatImageButton.h"
#include "widgets/PercentProgressBar.h"
#include "widgets/ShadedPushButton.h"

using ProgressBarWidget = CPercentProgressBar;
using CommandButtonWidget = CShadedPushButton;
using LampButtonWidget = CFlatImageButton;

ProgressBarWidget* MakeProgressBar(QWidget* parent);
CommandButtonWidget* MakeCommandButton(const QString& text, QWidget* parent);
LampButtonWidget* MakeLampButton(QWidget* parent);
// Shows bitmap resource `bitmapId` on the lamp, its white surround transparent, in
// full colour although the lamp is disabled.
void ShowLampImage(LampButtonWidget* lamp, int bitmapId);
