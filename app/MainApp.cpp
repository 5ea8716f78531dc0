#include "app/MainApp.h"

#include <QApplication>

#include "app/AboutDlg.h"
#include "app/VersionText.h"
#include "console/MainDlg.h"
#include "console/UserDlg.h"
#include "app/StartUp.h"
#include "settings/ProfileWriter.h"
#include "settings/StationSettings.h"
#include "station/StationView.h"

CMainApp::CMainApp(const std::string& libFolder)
    : library(LibraryPaths::Resolve(QCoreApplication::applicationDirPath().toStdString(), libFolder,
                                    LibraryEnvironment::FromProcess())) {
    shared.AppFolder = QCoreApplication::applicationDirPath().toStdString();
    // Loaders and the address file: the user's own copies first, then the shipped ones.
    shared.LibFolder = library.SearchFolders().back();
    shared.FindLibraryFile = [paths = library](const std::string& name) { return paths.Find(name); };
}

CMainApp::~CMainApp() {
    StationView.reset();  // its station's sessions end first
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
    services.showStation = [this](QWidget* owner) { ShowStation(owner); };
    services.stationKeepsOpen = [this]() -> std::string {
        if (StationView && StationView->Running())
            return "The station is running: stop it and close its view first.";
        return "";
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

namespace {

StationViewServices StationServices(const LibraryPaths& library, IFileChooser& files, IMessageBoxes& boxes,
                                    ISleeper& sleeper) {
    StationViewServices services;
    services.files = &files;
    services.boxes = &boxes;
    services.sleeper = &sleeper;
    services.library = library;
    services.appFolder = QCoreApplication::applicationDirPath().toStdString();
    return services;
}

}  // namespace

void CMainApp::ShowStation(QWidget* owner) {
    if (!StationView)
        StationView = std::make_unique<CStationView>(StationServices(library, fileChooser, messageBoxes, sleeper), owner);
    StationView->show();
    StationView->raise();
    StationView->activateWindow();
}

int CMainApp::InitStation(const StartUpRequest& request) {
    if (!request.results.empty()) {
        // Named on the command line: the view shows it and keeps it, as if chosen there.
        std::string why;
        if (library.PrepareSettingsForWrite(why))
            why = WriteProfileString(library.SettingsFile(), StationSettings::kSection, StationSettings::kResults,
                                     request.results);
        if (!why.empty())
            messageBoxes.Show(nullptr, "The results file could not be kept in the settings file: " + why, "Warning",
                              BoxIcon::Warning);
    }
    StationView = std::make_unique<CStationView>(StationServices(library, fileChooser, messageBoxes, sleeper));
    QApplication::setQuitOnLastWindowClosed(false);
    // Closed at rest: the program ends with status 0.
    QObject::connect(StationView.get(), &QDialog::finished, qApp, [] { QCoreApplication::exit(0); });
    StationView->show();
    StationView->OpenFiles(request.files);
    return QApplication::exec();
}
