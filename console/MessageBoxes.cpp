#include "console/MessageBoxes.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

namespace {

constexpr int kDetailColumns = 50;

}  // namespace

void QtMessageBoxes::Show(QWidget* owner, const std::string& text, const std::string& caption, BoxIcon icon) {
    const QMessageBox::Icon shown = icon == BoxIcon::Error     ? QMessageBox::Critical
                                    : icon == BoxIcon::Warning ? QMessageBox::Warning
                                                               : QMessageBox::Information;
    const QString all = QString::fromStdString(text);
    const qsizetype lineEnd = all.indexOf(QLatin1Char('\n'));
    QMessageBox box(shown, QString::fromStdString(caption), lineEnd < 0 ? all : all.left(lineEnd), QMessageBox::Ok,
                    owner);
    if (lineEnd >= 0) {
        box.setInformativeText(all.mid(lineEnd + 1));
        // Wide enough that a device path and its cause read as one or two lines.
        if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
            const int width = box.fontMetrics().averageCharWidth() * kDetailColumns;
            grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), grid->rowCount(), 0,
                          1, grid->columnCount());
        }
    }
    box.exec();
}

bool QtMessageBoxes::Ask(QWidget* owner, const std::string& text, const std::string& caption) {
    QMessageBox box(QMessageBox::Question, QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::Yes | QMessageBox::No, owner);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
