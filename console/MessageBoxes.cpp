#include "console/MessageBoxes.h"

#include <QMessageBox>

void QtMessageBoxes::Show(QWidget* owner, const std::string& text, const std::string& caption, BoxIcon icon) {
    const QMessageBox::Icon shown = icon == BoxIcon::Error     ? QMessageBox::Critical
                                    : icon == BoxIcon::Warning ? QMessageBox::Warning
                                                               : QMessageBox::Information;
    const QString all = QString::fromStdString(text);
    const qsizetype lineEnd = all.indexOf(QLatin1Char('\n'));
    QMessageBox box(shown, QString::fromStdString(caption), lineEnd < 0 ? all : all.left(lineEnd), QMessageBox::Ok,
                    owner);
    if (lineEnd >= 0)
        box.setInformativeText(all.mid(lineEnd + 1));
    box.exec();
}
