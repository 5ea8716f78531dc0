#pragma once
#include <QDialog>

class QLabel;

// The about box: the application icon, "Kestrel" with the version text, and OK.
class CAboutDlg : public QDialog {
public:
    // `libraryText` says which library folder and settings file are in use.
    explicit CAboutDlg(QWidget* parent = nullptr, const QString& libraryText = {});
    // The text line (control 1030).
    QString Text() const;

private:
    QLabel* textLine = nullptr;
};
