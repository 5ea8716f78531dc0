#include "app/MainApp.h"

#include <QApplication>

#include "app/AboutDlg.h"
#include "app/VersionText.h"
#include "console/MainDlg.h"
#include "console/UserDlg.h"

CMainApp::CMainApp(const std::string& libFolder)
    : library(LibraryPaths::Resolve(QCoreApplication::applicationDirPath().toStdString(), libFolder,
                                    LibraryEnvironment::FromProcess())) {
    shared.AppFolder = QCoreApplication::applicationDirPath().toStdString();
    // Loaders and the address file: the user's own copies first, then the shipped ones.
    shared.LibFolder = library.SearchFolders().back();
    shared.FindLibraryFile = [paths = library](const std::string& name) { return paths.Find(name); };
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
    services.library = library;
    services.showAbout = [this](QWidget* owner) {
        CAboutDlg about(owner, QString::fromStdString(library.Describe()));
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
