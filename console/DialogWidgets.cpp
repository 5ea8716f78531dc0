#include "console/DialogWidgets.h"

#include "console/Resources.h"

ProgressBarWidget* MakeProgressBar(QWidget* parent) { return new ProgressBarWidget(parent); }

CommandButtonWidget* MakeCommandButton(const QString& text, QWidget* parent) {
    auto* button = new CommandButtonWidget(text, parent);
    // Enter never presses a button of this dialog.
    button->setAutoDefault(false);
    return button;
}

LampButtonWidget* MakeLampButton(QWidget* parent) {
    auto* lamp = new LampButtonWidget(parent);
    lamp->setAutoDefault(false);
    return lamp;
}

void ShowLampImage(LampButtonWidget* lamp, int bitmapId) {
    lamp->LoadImageResource(BitmapResource(bitmapId), Qt::white);
    lamp->setProperty("bitmapId", bitmapId);
}
