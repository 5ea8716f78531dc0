#pragma once
#include <QStringList>
#include <memory>
#include <string>

#include "console/FileChooser.h"
#include "console/MessageBoxes.h"
#include "settings/LibraryPaths.h"
#include "engine/SharedState.h"
#include "engine/Sleeper.h"

class CMainDlg;
class CStationView;
struct StartUpRequest;
class CUserDlg;

// The application: the state the operator's window and the worker share, and the two
// operator dialogs. It knows its folder from the executable's path; the library folder
// is <that folder>/Lib unless one is named, or, for an installed program, each user's
// own folder before the shipped one.
class CMainApp {
public:
    explicit CMainApp(const std::string& libFolder = {});
    ~CMainApp();
    CMainApp(const CMainApp&) = delete;
    CMainApp& operator=(const CMainApp&) = delete;

    // Creates both dialogs (the simplified one hidden), shows the main dialog, opens
    // `files` as Open File would, and runs until the main dialog closes or the
    // simplified one is closed. Returns the process's exit status.
    int InitInstance(const QStringList& files);
    // The station view alone (kestrel --station): runs until it is closed at rest.
    int InitStation(const StartUpRequest& request);
    // Shows the station view over `owner` (the main dialog's "Station..."), made once.
    void ShowStation(QWidget* owner);

    // The shared state: SharedText, WorkerThreadId, UpdateArmed, RequestText,
    // BusyFlag, AppFolder, ReserveProgram.
    SharedState shared;

private:
    LibraryPaths library;
    QtFileChooser fileChooser;
    QtMessageBoxes messageBoxes;
    RealSleeper sleeper;

public:
    std::unique_ptr<CMainDlg> MainDialog;
    std::unique_ptr<CUserDlg> UserDialog;
    std::unique_ptr<CStationView> StationView;
};
