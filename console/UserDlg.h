#pragma once
#include <QDialog>
#include <functional>

// A reduced operator window, created hidden at start-up and never shown by anything
// in the system. It offers a way back to the full window (a double-click on its
// picture) and ends the whole application when it is closed.
class CUserDlg : public QDialog {
public:
    // backToMain: shows the main dialog once this one has hidden itself.
    explicit CUserDlg(std::function<void()> backToMain);

    QWidget* GetDlgItem(int id) const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::function<void()> backToMain;
};
