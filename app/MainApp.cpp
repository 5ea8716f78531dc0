#include "app/MainApp.h"

#include <QApplication>

#include "app/AboutDlg.h"
#include "app/VersionText.h"
#include "console/MainDlg.h"
#include "console/UserDlg.h"

CMainApp::CMainApp(const std::string& libFolder) {
    shared.AppFolder = QCoreApplication::applicationDirPath().toStdString();
    shared.LibFolder = libFolder;
}

CMainApp::~CMainApp() {
    MainDialog.reset();  // tells the worker to quit and waits for it
    UserDialog.reset();
}

int CMainApp::InitInstance(const QStringList& files) {
    MainDlgServices services;
    services.files = &fileChooser;
    services.boxes = &messageBoxes;
    services.sleeper = &sleeper;
    services.versionText = QString::fromStdString(GetVersionText());
    services.showAbout = [](QWidget* owner) {
        CAboutDlg about(owner);
        about.exec();
    };
    MainDialog = std::make_unique<CMainDlg>(shared, std::move(services));
    UserDialog = std::make_unique<CUserDlg>([this] {
        MainDialog->show();
        MainDialog->activateWindow();
    });

    // The application ends when the main dialog does, not when its last window hides.
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(MainDialog.get(), &QDialog::finished, qApp, [] { QCoreApplication::exit(0); });
    MainDialog->show();
    MainDialog->OpenFiles(files);  // from the event loop, with the window up
    return QApplication::exec();
}
