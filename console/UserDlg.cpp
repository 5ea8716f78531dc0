#include "console/UserDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

#include "console/DialogUnits.h"
#include "console/PictureLabel.h"
#include "console/Resources.h"

namespace {

constexpr int kClientWidth = 290;
constexpr int kClientHeight = 166;

enum UserDlgControl { IDOK = 1, IDCANCEL = 2, IDC_USER_LIST = 1007, IDC_USER_OPENFILE = 1015, IDC_USER_UPDATE = 1016,
                      IDC_USER_PROGRESS = 1017, IDC_USER_PICTURE = 1024 };

}  // namespace

CUserDlg::CUserDlg(std::function<void()> back) : QDialog(nullptr), backToMain(std::move(back)) {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Kestrel"));
    setWindowIcon(ApplicationIcon());
    const DialogUnits du(font());

    auto* list = new QListWidget(this);
    list->setSortingEnabled(true);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    list->setGeometry(du.Rect(15, 14, 244, 72));
    auto* openFile = new QPushButton(QStringLiteral("Open File"), this);  // its click does nothing
    openFile->setGeometry(du.Rect(21, 117, 50, 14));
    auto* update = new QPushButton(QStringLiteral("Update"), this);
    update->setGeometry(du.Rect(88, 117, 50, 14));
    auto* portState = new QLabel(QStringLiteral("PortState"), this);
    portState->setGeometry(du.Rect(22, 102, 32, 8));
    auto* progress = new QProgressBar(this);
    progress->setGeometry(du.Rect(19, 138, 186, 14));
    auto* picture = new PictureLabel(IDB_PICTURE, this);
    picture->setGeometry(du.Rect(223, 116, 57, 36));
    picture->onDoubleClick = [this] {
        hide();
        if (backToMain)
            backToMain();
    };
    auto* ok = new QPushButton(QStringLiteral("Button2"), this);
    ok->setGeometry(du.Rect(125, 67, 31, 14));
    ok->hide();
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* cancel = new QPushButton(QStringLiteral("Button1"), this);
    cancel->setGeometry(du.Rect(123, 54, 39, 15));
    cancel->hide();
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    for (QPushButton* b : {openFile, update, ok, cancel})
        b->setAutoDefault(false);

    const std::pair<int, QWidget*> ids[] = {{IDOK, ok},
                                            {IDCANCEL, cancel},
                                            {IDC_USER_LIST, list},
                                            {IDC_USER_OPENFILE, openFile},
                                            {IDC_USER_UPDATE, update},
                                            {IDC_USER_PROGRESS, progress},
                                            {IDC_USER_PICTURE, picture}};
    for (const auto& [id, widget] : ids)
        widget->setObjectName(QString::number(id));
    setFixedSize(du.Size(kClientWidth, kClientHeight));
}

QWidget* CUserDlg::GetDlgItem(int id) const { return findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly); }

void CUserDlg::keyPressEvent(QKeyEvent* event) {
    // Enter and Escape are the dialog's OK and Cancel: either hides it.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CUserDlg::closeEvent(QCloseEvent* event) {
    // Closing it ends the application, whatever the main dialog is doing.
    event->accept();
    done(QDialog::Accepted);
    QCoreApplication::exit(0);
}
