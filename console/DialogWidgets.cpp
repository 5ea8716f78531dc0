#include "console/DialogWidgets.h"

#include <QBitmap>

#include "console/Resources.h"

ProgressBarWidget* MakeProgressBar(QWidget* parent) {
    auto* bar = new ProgressBarWidget(parent);
    bar->setTextVisible(true);
    bar->setFormat(QStringLiteral("%p%"));
    bar->setAlignment(Qt::AlignCenter);
    return bar;
}

CommandButtonWidget* MakeCommandButton(const QString& text, QWidget* parent) {
    auto* button = new CommandButtonWidget(text, parent);
    // Enter never presses a button of this dialog.
    button->setAutoDefault(false);
    return button;
}

LampButtonWidget* MakeLampButton(QWidget* parent) {
    auto* lamp = new LampButtonWidget(parent);
    lamp->setAutoDefault(false);
    lamp->setFlat(true);
    lamp->setIconSize(QSize(16, 16));
    return lamp;
}

void ShowLampImage(LampButtonWidget* lamp, int bitmapId) {
    QPixmap image = QPixmap::fromImage(BitmapResource(bitmapId));
    image.setMask(image.createMaskFromColor(Qt::white));
    QIcon icon;
    icon.addPixmap(image, QIcon::Normal);
    icon.addPixmap(image, QIcon::Disabled);
    lamp->setIcon(icon);
    lamp->setProperty("bitmapId", bitmapId);
}
