// The operator's requests and the worker's reports.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <tuple>

#include "console/ConsoleList.h"
#include "console/FileChooser.h"
#include "console/LogPieces.h"
#include "console/MainDlg.h"
#include "console/MessageBoxes.h"
#include "console/Resources.h"
#include "engine/Session.h"
#include "engine/SharedState.h"
#include "atomicfile/AtomicFile.h"

namespace {

constexpr const char* kOpenFilter = kUpdateFilesFilter;
constexpr const char* kSaveMapFilter = "Bin文件(*.bin)|*.bin|所有文件(*.*)|*.*||";
constexpr const char* kSaveInfoFilter = "文本文件(*.txt)|*.txt|所有文件(*.*)|*.*||";

// How soon a request that has to wait for another looks again.
constexpr int kRetryMs = 20;

const QString kUpdateLabel = QStringLiteral("&Update");
const QString kCancelLabel = QStringLiteral("&Cancel");
const QString kClosePortLabel = QStringLiteral("Close&Port");
const QString kOpenPortLabel = QStringLiteral("Open&Port");

// Marks a handler that waits for the worker between its requests: meanwhile the
// other request handlers stand aside and the window cannot be closed.
class RequestScope {
public:
    explicit RequestScope(bool& running) : running(running) { running = true; }
    ~RequestScope() { running = false; }
    RequestScope(const RequestScope&) = delete;
    RequestScope& operator=(const RequestScope&) = delete;

private:
    bool& running;
};

}  // namespace

void CMainDlg::ConnectHandlers() {
    connect(openFileButton, &QPushButton::clicked, this, [this] { OnOpenFile(); });
    connect(updateButton, &QPushButton::clicked, this, [this] { OnUpdate(); });
    connect(portButton, &QPushButton::clicked, this, [this] { OnOpenClosePort(); });
    connect(saveAsBinButton, &QPushButton::clicked, this, [this] { OnSaveAsBin(); });
    connect(commandButton, &QPushButton::clicked, this, [this] { OnCommand(); });
    connect(reserveBox, &QCheckBox::clicked, this, [this] { OnReserveProgram(); });
    connect(clearButton, &QPushButton::clicked, this, [this] { console->OnClear(); });
    connect(saveInfoButton, &QPushButton::clicked, this, [this] { OnSaveInfo(); });
    // A choice in a line list is kept and the port reopened with it; the crystal and
    // the flash style are only kept.
    const std::tuple<QComboBox*, const char*, const char*, bool> choices[] = {
        {portList, "COM", "portno", true},         {baudList, "COM", "baudrate", true},
        {parityList, "COM", "parity", true},       {crystalList, "PLANT", "XTLO", false},
        {flashStyleList, "PLANT", "flashstyle", false},
    };
    for (const auto& [list, section, key, reopen] : choices) {
        connect(list, &QComboBox::activated, this, [this, list = list, section = section, key = key, reopen = reopen] {
            SaveSetting(section, key, list);
            if (reopen)
                ApplyPortSettings();
        });
    }
}

void CMainDlg::AddLogText(const std::string& text) {
    for (const std::string& piece : LogPieces(text))
        log->addItem(QString::fromStdString(piece));
    log->setCurrentRow(log->count() - 1);  // which scrolls it into view
}

void CMainDlg::ResetImage() {
    if (session->ResetImage())
        WaitWhileBusy();
}

bool CMainDlg::FileOpened() const {
    if (!session)
        return false;
    const OpenedFiles files = session->Files();
    return files != OpenedFiles::None && files != OpenedFiles::Erased;
}

void CMainDlg::LoadFiles(const std::vector<std::string>& files) {
    // The session loads one file at a time and logs each; the last may still be
    // loading when this returns.
    session->LoadFiles(files);
    DeliverWorkerReports();
}

void CMainDlg::OnOpenFile() {
    // Never beside a run: the image would change under the board that is being sent it.
    if (requestRunning || session->RunActive())
        return;
    RequestScope scope(requestRunning);
    ResetImage();  // even a cancelled choice leaves the image empty
    const std::vector<std::string> files = services.files->ChooseFilesToOpen(this, kOpenFilter);
    if (!files.empty())
        LoadFiles(files);
}

void CMainDlg::OpenFiles(const QStringList& paths) {
    if (paths.isEmpty())
        return;
    // Taken up from the event loop, after whatever runs now; an Update pressed in the
    // meantime waits for these files.
    ++openingFiles;
    QTimer::singleShot(0, this, [this, paths] {
        --openingFiles;
        OpenFilesNow(paths);
    });
}

void CMainDlg::OpenFilesNow(const QStringList& paths) {
    if (requestRunning) {
        // Another request is between its steps; these files follow it.
        ++openingFiles;
        QTimer::singleShot(kRetryMs, this, [this, paths] {
            --openingFiles;
            OpenFilesNow(paths);
        });
        return;
    }
    if (session->RunActive()) {
        // Dropped on the window (or named by another program) while a board is being
        // written: the image stays as the board is being sent it.
        AddLogText(std::string("The files were not opened: an ") +
                   (session->RunKind() == ExchangeProgress::Kind::Erase ? "erase" : "update") + " is under way.");
        return;
    }
    RequestScope scope(requestRunning);
    ResetImage();
    std::vector<std::string> files;
    for (const QString& p : paths)
        files.push_back(QFile::encodeName(QFileInfo(p).absoluteFilePath()).toStdString());
    LoadFiles(files);
}

void CMainDlg::OnUpdate() {
    if (requestRunning || openingFiles > 0 || session->Busy()) {
        // Files are being opened (from the command line or a drop): the click counts
        // once they are in.
        QTimer::singleShot(kRetryMs, this, [this] { OnUpdate(); });
        return;
    }
    if (updateButton->text() == kUpdateLabel) {
        switch (session->Files()) {
        case OpenedFiles::None:
        case OpenedFiles::Erased:  // what was opened is no longer in the image
            ShowBox("Please open file first!", "Warning", BoxIcon::Warning);
            return;
        case OpenedFiles::Refused:
            ShowBox("None of the opened files could be used: nothing was sent.\nOpen the update files again.",
                    "Warning", BoxIcon::Warning);
            return;
        case OpenedFiles::Loading:  // not while the session is busy
        case OpenedFiles::Taken: break;
        }
        const std::string noCrystal = UnlistedChoice(crystalList);
        session->StartUpdate(crystalList->currentIndex(),
                             noCrystal.empty() ? "" : noCrystal + ".\nChoose one in the window, or mend the settings file.");
    } else {
        // An update or an erase: disarmed, the worker no longer answers the board; the
        // reopen at the operator's settings ends whatever speed the run had set.
        session->Cancel();
    }
    ShowRunState();
    DeliverWorkerReports();
}

void CMainDlg::ShowRunState() {
    const bool running = session && session->RunActive();
    updateButton->setText(running ? kCancelLabel : kUpdateLabel);
    for (QWidget* w : std::initializer_list<QWidget*>{openFileButton, saveAsBinButton, commandButton, portList, baudList,
                                                      parityList, dataBitsList, stopBitsList, portButton})
        w->setEnabled(!running);
}

void CMainDlg::OnOpenClosePort() {
    // The lamp shows the request at once; the worker's port report then shows the outcome.
    if (portButton->text() == kClosePortLabel) {
        portButton->setText(kOpenPortLabel);
        session->ClosePort();
        ShowLampImage(lamp, IDB_LAMP_CLOSED);
    } else {
        ApplyPortSettings();
        portButton->setText(kClosePortLabel);
        ShowLampImage(lamp, IDB_LAMP_OPEN);
    }
}

void CMainDlg::OnSaveAsBin() {
    if (requestRunning || session->RunActive())
        return;
    RequestScope scope(requestRunning);
    WaitWhileBusy();  // an earlier image request may still run
    const bool posting = WorkerRuns();
    if (posting)
        shared.BusyFlag = 1;  // the window stays while the operator chooses
    const std::string path = services.files->ChooseFileToSave(this, "FlashMap.bin", kSaveMapFilter);
    if (posting)
        shared.BusyFlag = 0;
    // The session logs the save once it is made.
    if (!path.empty())
        session->SaveImage(path);
}

void CMainDlg::OnCommand() {
    if (requestRunning || session->RunActive())
        return;
    RequestScope scope(requestRunning);
    commandButton->setEnabled(false);
    WaitWhileBusy();
    session->ConsoleCommand(commandText->text().toStdString(), crystalList->currentIndex());  // as typed, blanks included
    // "initflash" has started an erase: Update reads Cancel and the command waits.
    ShowRunState();
    if (commandButton->isEnabled())
        commandButton->setFocus();
    DeliverWorkerReports();
}

void CMainDlg::OnReserveProgram() { shared.ReserveProgram = reserveBox->isChecked() ? 1 : 0; }

void CMainDlg::OnSaveInfo() {
    const std::string path = services.files->ChooseFileToSave(this, "stbinfo.txt", kSaveInfoFilter);
    if (path.empty())
        return;
    const std::string text = console->SavedText();
    const std::string cause = WriteFileReplacing(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    if (!cause.empty())
        ShowBox("Can't save the console text!\n" + path + ": " + cause + ". The file is as it was.", "Error",
                BoxIcon::Warning);
}

void CMainDlg::OnSessionEvent(const SessionEvent& e) {
    switch (e.kind) {
    case SessionEvent::Kind::PortState: OnPortState(e.value != 0); break;
    case SessionEvent::Kind::Log: AddLogText(e.text); break;
    case SessionEvent::Kind::Progress: progress->SetPos(e.value); break;
    case SessionEvent::Kind::ConsoleBytes: console->OnRxBytes(e.bytes.data(), e.bytes.size()); break;
    case SessionEvent::Kind::MessageBox:
        if (!closing)
            ShowBox(e.text, e.caption, e.icon);
        if (e.box != 0 && session)
            session->Dismissed(e.box);
        break;
    case SessionEvent::Kind::RunEnded: OnRunEnded(e.verdict); break;
    case SessionEvent::Kind::Stage: ShowRunState(); break;  // a run began (an erase at the console, say)
    case SessionEvent::Kind::FileResult: OnFileResult(e); break;
    }
}

void CMainDlg::OnPortState(bool open) {
    // The lamp and the port button's label follow the port as the worker reports it:
    // after a line lost while idle, the button offers to open it again.
    ShowLampImage(lamp, open ? IDB_LAMP_OPEN : IDB_LAMP_CLOSED);
    portButton->setText(open ? kClosePortLabel : kOpenPortLabel);
}

void CMainDlg::OnFileResult(const SessionEvent& e) {
    if (e.value != 0)
        return;
    // Marked under its own line, so that the log shows which files an Update sends.
    std::string why = e.caption.substr(e.caption.find(": ") == std::string::npos ? 0 : e.caption.find(": ") + 2);
    for (char& c : why)
        if (c == '\n')
            c = ' ';
    AddLogText("Refused: " + e.text + (why.empty() ? std::string() : " (" + why + ")"));
}

void CMainDlg::OnRunEnded(const RunVerdict& verdict) {
    progress->SetPos(0);
    ShowRunState();
    // A run that did not pass says why in the log, its only record: it did not start,
    // it stopped, or the board's "finished" came too early.
    if (const std::string line = RunEndLogLine(verdict); !line.empty())
        AddLogText(line);
    // The board said it was done, but it never got all it had to get: the operator
    // must not take the log's last line for a flashed board.
    if (verdict.result == RunResult::FinishedEarly)
        ShowBox(verdict.message, "Warning", BoxIcon::Warning);
}
