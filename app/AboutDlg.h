#pragma once
#include <QDialog>

class QLabel;

// The about box: the application icon, "Kestrel" with the version text, and OK.
class CAboutDlg : public QDialog {
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    // The text line (control 1030).
    QString Text() const;

private:
    QLabel* textLine = nullptr;
};
