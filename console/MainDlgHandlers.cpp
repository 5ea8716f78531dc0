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

constexpr const char* kOpenFilter = "s,bin文件 (*.bin;*.s)|*.bin;*.s|所有文件 (*.*)|*.*||";
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

void CMainDlg::LoadFiles(const std::vector<std::string>& files) {
    fileOpened = true;
    // The session loads one file at a time and logs each; the last may still be
    // loading when this returns.
    session->LoadFiles(files);
    DeliverWorkerReports();
}

void CMainDlg::OnOpenFile() {
    if (requestRunning)
        return;
    RequestScope scope(requestRunning);
    ResetImage();  // even a cancelled choice leaves the image empty
    const std::vector<std::string> files = services.files->ChooseFilesToOpen(this, kOpenFilter);
    if (files.empty()) {
        fileOpened = false;
        return;
    }
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
    if (!fileOpened) {
        ShowBox("Please open file first!", "Warning", BoxIcon::Warning);
        return;
    }
    if (updateButton->text() == kUpdateLabel) {
        updateButton->setText(kCancelLabel);
        session->StartUpdate(crystalList->currentIndex());
    } else {
        // Disarmed, the worker no longer answers the board; the reopen at the
        // operator's settings ends whatever speed the update had set.
        updateButton->setText(kUpdateLabel);
        session->Cancel();
    }
    DeliverWorkerReports();
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
    if (requestRunning)
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
    if (requestRunning)
        return;
    RequestScope scope(requestRunning);
    commandButton->setEnabled(false);
    WaitWhileBusy();
    session->ConsoleCommand(commandText->text().toStdString(), crystalList->currentIndex());  // as typed, blanks included
    commandButton->setEnabled(true);
    commandButton->setFocus();
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
    case SessionEvent::Kind::PortState: ShowLampImage(lamp, e.value != 0 ? IDB_LAMP_OPEN : IDB_LAMP_CLOSED); break;
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
    case SessionEvent::Kind::Stage:
    case SessionEvent::Kind::FileResult: break;
    }
}

void CMainDlg::OnRunEnded(const RunVerdict& verdict) {
    progress->SetPos(0);
    updateButton->setText(kUpdateLabel);
    // The board said it was done, but it never got all it had to get: the operator
    // must not take the log's last line for a flashed board.
    if (verdict.result == RunResult::FinishedEarly)
        ShowBox(verdict.message, "Warning", BoxIcon::Warning);
}
