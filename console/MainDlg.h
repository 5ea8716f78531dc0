#pragma once
#include <QDialog>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/DialogWidgets.h"
#include "engine/MessageQueue.h"
#include "engine/Messages.h"
#include "engine/SessionEvents.h"
#include "settings/LibraryPaths.h"
#include "settings/ProfileFile.h"
#include "serial/LineFactory.h"

class Session;
class ConsoleList;
class IFileChooser;
class IMessageBoxes;
class ISerialLine;
class ISleeper;
class PictureLabel;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QScrollArea;
struct SharedState;

// Control identifiers of the main dialog.
enum MainDlgControl {
    IDC_PORTNO = 1000,
    IDC_BAUDRATE = 1001,
    IDC_PARITY = 1002,
    IDC_XTLO = 1003,
    IDC_LOG = 1009,
    IDC_FLASHSTYLE = 1010,
    IDC_OPENFILE = 1011,
    IDC_SAVEASBIN = 1013,
    IDC_OPENCLOSEPORT = 1014,
    IDC_UPDATE = 1016,
    IDC_PROGRESS = 1017,
    IDC_PICTURE = 1018,
    IDC_COMMAND = 1019,
    IDC_COMMANDTEXT = 1021,
    IDC_CLEAR = 1022,
    IDC_SAVEINFO = 1023,
    IDC_DATABITS = 1025,
    IDC_STOPBITS = 1026,
    IDC_LAMP = 1027,
    IDC_CONSOLE = 1028,
    IDC_RESERVE = 1029,
};

// The system command of the about box.
inline constexpr unsigned IDM_ABOUTBOX = 16;

// The folder of a settings file (what the settings reader takes).
inline std::string SettingsFolder(const std::string& settingsFile) {
    const auto slash = settingsFile.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : settingsFile.substr(0, slash);
}

// What the application object (or a test) gives the main dialog.
struct MainDlgServices {
    IFileChooser* files = nullptr;
    IMessageBoxes* boxes = nullptr;
    ISleeper* sleeper = nullptr;  // the worker's protocol pauses
    QString versionText;          // follows "Kestrel " in the caption
    std::function<void(QWidget* owner)> showAbout;
    // Opens the station view ("Station..." of the window's menu); no entry without it.
    std::function<void(QWidget* owner)> showStation;
    // Why the program may not end now because of the station view ("" when it may):
    // the window then stays, as it does during an update.
    std::function<std::string()> stationKeepsOpen;
    // Where the worker's serial line comes from. Without it the worker gets the platform's line whose port
    // numbers map to devices through the settings file's [PORTS] section.
    LineFactory makeLine;
    // Sees each request as it is posted to the worker (for tests).
    std::function<void(const ThreadMessage&)> onPost;
    // Where the settings file and the library files are (an installed program keeps
    // each user's settings in their own folder). Without it: the library folder.
    std::optional<LibraryPaths> library;
};

// The operator's window. It drives a session (the worker, its line and its image):
// it hands the operator's requests to it and shows what it reports, in order: log
// lines, progress, the port state, message boxes, the board's console text and each
// run's verdict. The session's events are taken up on this dialog's thread; a message
// box the worker raises is shown here while the worker waits for the operator to
// dismiss it. The dialog's thread never waits for the worker.
class WireTrace;

class CThreadWake;
class CMainDlg : public QDialog {
public:
    CMainDlg(SharedState& shared, MainDlgServices services, QWidget* parent = nullptr);
    ~CMainDlg() override;

    QWidget* GetDlgItem(int id) const;
    // Update files were opened and an Update would send what was taken of them (an
    // erase since then has discarded them).
    bool FileOpened() const;
    // Files are being opened or an image request runs: Update waits, the window stays.
    bool Busy() const;
    const std::string& PendingLine() const;

    // Opens these files exactly as if they had been chosen with Open File (the command
    // line, files dropped on the window), from the event loop; an Update pressed
    // before they are in waits for them.
    void OpenFiles(const QStringList& paths);
    // A command of the window's menu: IDM_ABOUTBOX shows the about box.
    void OnSysCommand(unsigned id);
    // Shows or hides the engineering controls and remembers the choice in the
    // settings file.
    void ShowEngineeringControls(bool shown);
    bool EngineeringControlsShown() const { return engineeringShown; }
    // Starts recording every byte on the line into a file the operator chooses, or
    // stops a recording under way. False when nothing could be started.
    bool ToggleWireTrace();
    bool RecordingWireTrace() const { return wireTrace != nullptr; }
    // Tells the worker to quit and waits for it to end. A message box it still asks
    // for is not shown.
    void FinishWorker();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The controls and their places (MainDlgControls.cpp).
    void CreateControls();
    void LayOutControls();
    void ConnectHandlers();

    void OnInitDialog();
    void OnSessionEvent(const SessionEvent& e);
    void OnRunEnded(const RunVerdict& verdict);
    void OnFileResult(const SessionEvent& e);
    void OnPortState(bool open);
    // While an update or an erase runs, Update reads Cancel, and nothing that would
    // change the image or the line under it can be pressed.
    void ShowRunState();
    void DeliverWorkerReports();
    CThreadWake* reportsWake = nullptr;  // the session's "events wait", onto this thread

    // The operator's requests (MainDlgHandlers.cpp).
    void OnOpenFile();
    void OnUpdate();
    void OnOpenClosePort();
    void OnSaveAsBin();
    void OnCommand();
    void OnReserveProgram();
    void OnSaveInfo();
    bool OnCancel();
    void AddLogText(const std::string& text);
    void OpenFilesNow(const QStringList& paths);
    void ResetImage();
    void LoadFiles(const std::vector<std::string>& files);
    void ShowBox(const std::string& text, const std::string& caption, BoxIcon icon);

    // The settings file (MainDlgSettings.cpp).
    // The settings file read now, and the one a changed choice is written to (empty
    // when it cannot be made: the choice then holds until the window closes).
    std::string SettingsPath() const;
    std::string SettingsPathForWrite(std::string* why = nullptr) const;
    ProfileFile ReadSettings() const;
    void LoadPortSettings();
    void LoadBoardSettings();
    void SaveSetting(const char* section, const char* key, const QComboBox* list);
    // Selects a stored index in its list; an index beyond the list leaves the list
    // without a selection, and is remembered so that the failure it causes names it.
    void SelectStored(QComboBox* list, const ProfileFile& settings, const char* section, const char* key);
    // Which line settings are missing because the settings file holds a value beyond
    // its list, one per line ("" when none).
    std::string UnlistedLineSettings() const;
    // The same for one list: "[SECTION] key=value in FILE is not in its list (0 to N)",
    // or "" when the list shows a choice or was not left empty by the file.
    std::string UnlistedChoice(const QComboBox* list) const;
    // Said once in the log: a choice could not be written to the settings file.
    void ChoiceNotKept(const std::string& why);
    void ApplyPortSettings();
    void ShowPortDevices();

    bool WorkerRuns() const;
    // Waits, handling events, until the session's image requests are done.
    void WaitWhileBusy();

    SharedState& shared;
    MainDlgServices services;
    std::unique_ptr<Session> session;
    std::unique_ptr<ConsoleList> console;

    QListWidget* log = nullptr;
    QComboBox* portList = nullptr;
    QComboBox* crystalList = nullptr;
    CommandButtonWidget* openFileButton = nullptr;
    CommandButtonWidget* updateButton = nullptr;
    ProgressBarWidget* progress = nullptr;
    PictureLabel* picture = nullptr;
    QLabel* portLabel = nullptr;
    QLabel* crystalLabel = nullptr;
    // Engineering controls, created hidden.
    QComboBox* baudList = nullptr;
    QComboBox* parityList = nullptr;
    QComboBox* dataBitsList = nullptr;
    QComboBox* stopBitsList = nullptr;
    QComboBox* flashStyleList = nullptr;
    CommandButtonWidget* portButton = nullptr;
    LampButtonWidget* lamp = nullptr;
    CommandButtonWidget* saveAsBinButton = nullptr;
    CommandButtonWidget* saveInfoButton = nullptr;
    CommandButtonWidget* clearButton = nullptr;
    CommandButtonWidget* commandButton = nullptr;
    QLineEdit* commandText = nullptr;
    QCheckBox* reserveBox = nullptr;
    QListWidget* consoleList = nullptr;
    QLabel* baudLabel = nullptr;
    QLabel* parityLabel = nullptr;
    QLabel* flashStyleLabel = nullptr;
    QFrame* engineeringRule = nullptr;
    QScrollArea* engineeringArea = nullptr;  // the engineering controls' panel, scrolled where the screen is low
    std::vector<QWidget*> engineering;
    std::map<int, QWidget*> controls;

    bool engineeringShown = false;
    struct StoredValue {
        std::string section, key, value;
    };
    std::map<const QComboBox*, StoredValue> unlisted;  // stored indexes beyond their lists
    bool choiceNotKeptSaid = false;
    std::shared_ptr<WireTrace> wireTrace;  // the recording under way, if any
    bool requestRunning = false;  // a handler waits for the worker between its requests
    int openingFiles = 0;         // OpenFiles() calls not yet taken up
    bool closing = false;         // the window is going
    bool askingToClose = false;   // the question before closing during a run is up
    bool placedOnScreen = false;  // its frame has been brought onto the screen once
};
