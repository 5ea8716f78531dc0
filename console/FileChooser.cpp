#include "console/FileChooser.h"

#include <QFileDialog>
#include <QFile>
#include <QFileInfo>

namespace {

// "*.bin" as "*.[bB][iI][nN]": the file dialog compares names with case on Linux.
QString EitherCase(const QString& pattern) {
    if (pattern == QLatin1String("*.*"))
        return QStringLiteral("*");
    QString out;
    for (const QChar c : pattern) {
        if (c.isLetter() && c.toLower() != c.toUpper())
            out += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
        else
            out += c;
    }
    return out;
}

}  // namespace

QStringList QtNameFilters(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        if (description.isEmpty())
            break;  // the "||" that ends the list
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
            patterns << EitherCase(p.trimmed());
        // Qt shows a filter's text without its last bracketed part, which holds the
        // patterns it matches.
        filters << description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return filters;
}

std::vector<std::string> QtFileChooser::ChooseFilesToOpen(QWidget* owner, const std::string& filter) {
    QFileDialog dialog(owner, QString(), folder);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(QtNameFilters(filter));
    std::vector<std::string> chosen;
    if (dialog.exec() != QDialog::Accepted)
        return chosen;
    folder = dialog.directory().absolutePath();
    for (const QString& f : dialog.selectedFiles())
        chosen.push_back(QFile::encodeName(QFileInfo(f).absoluteFilePath()).toStdString());
    return chosen;
}

std::string QtFileChooser::ChooseFileToSave(QWidget* owner, const std::string& initialName, const std::string& filter) {
    QFileDialog dialog(owner, QString(), folder);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(QtNameFilters(filter));
    dialog.selectFile(QString::fromStdString(initialName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    folder = dialog.directory().absolutePath();
    return QFile::encodeName(QFileInfo(dialog.selectedFiles().front()).absoluteFilePath()).toStdString();
}
