#include "console/MainDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QSocketNotifier>
#include <QTimer>

#include "console/ConsoleList.h"
#include "console/FileChooser.h"
#include "console/MessageBoxes.h"
#include "settings/ProfileWriter.h"
#include "console/Resources.h"
#include "settings/ProfileFile.h"
#include "engine/SharedState.h"
#include "engine/UIThread.h"
#include "serial/LineFactory.h"
#include "trace/WireTrace.h"

namespace {

// Where the choice to show the engineering controls is kept.
constexpr const char* kViewSection = "VIEW";
constexpr const char* kEngineeringKey = "engineering";

// Lines whose port numbers mean the devices the settings file names. The file is read
// at each open, so an edited [PORTS] line counts from the next open on.
LineFactory MappedLines(std::function<std::string()> settingsFolder) {
    return SerialLineFactory(
        [settingsFolder](uint32_t n) { return OperatorSettings::Load(settingsFolder()).DeviceForPort(n); });
}

}  // namespace

CMainDlg::CMainDlg(SharedState& s, MainDlgServices sv, QWidget* parent)
    : QDialog(parent), shared(s), services(std::move(sv)) {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setAcceptDrops(true);
    auto* reports = new QSocketNotifier(mailbox.WakeFd(), QSocketNotifier::Read, this);
    connect(reports, &QSocketNotifier::activated, this, [this] { DeliverWorkerReports(); });
    CreateControls();
    console = std::make_unique<ConsoleList>(*consoleList, shared);
    ConnectHandlers();
    qApp->installEventFilter(this);
    OnInitDialog();
}

CMainDlg::~CMainDlg() {
    qApp->removeEventFilter(this);
    FinishWorker();
}

void CMainDlg::OnInitDialog() {
    setWindowIcon(ApplicationIcon());
    // The template's caption, one space, the version text.
    setWindowTitle(QStringLiteral("Kestrel ") + services.versionText);
    progress->SetRange(0, 100);
    progress->SetStep(1);
    progress->SetPos(0);
    progress->SetStartColor(QColor(128, 213, 136));
    progress->SetEndColor(QColor(80, 160, 190));
    progress->SetTextColor(QColor(75, 43, 189));
    progress->SetShowText(true);

    const LineFactory lines = services.makeLine ? services.makeLine : MappedLines([this] { return SettingsFolder(SettingsPath()); });
    worker = std::make_unique<CUIThread>(shared, mailbox, mailbox, *services.sleeper, lines);
    worker->Start();  // returns once WorkerThreadId is published, so the first open is never dropped

    LoadPortSettings();
    ApplyPortSettings();
    lamp->setEnabled(false);  // it only shows the port's state
    ShowLampImage(lamp, IDB_LAMP_CLOSED);
    LoadBoardSettings();
    commandText->setText(QStringLiteral("reset"));
    fileOpened = false;

    engineeringShown = ReadSettings().GetInt(kViewSection, kEngineeringKey) != 0;
    for (QWidget* w : engineering)
        w->setVisible(engineeringShown);
    LayOutControls();
}

QWidget* CMainDlg::GetDlgItem(int id) const {
    const auto found = controls.find(id);
    return found == controls.end() ? nullptr : found->second;
}

const std::string& CMainDlg::PendingLine() const { return console->PendingLine(); }

void CMainDlg::ShowEngineeringControls(bool shown) {
    engineeringShown = shown;
    for (QWidget* w : engineering)
        w->setVisible(shown);
    LayOutControls();
    if (const std::string path = SettingsPathForWrite(); !path.empty())
        WriteProfileString(path, kViewSection, kEngineeringKey, shown ? "1" : "0");
}

void CMainDlg::OnSysCommand(unsigned id) {
    if ((id & 0xFFF0) == IDM_ABOUTBOX && services.showAbout)
        services.showAbout(this);
}

// ---- The worker's side.

bool CMainDlg::WorkerRuns() const { return worker && shared.WorkerThreadId != 0; }

bool CMainDlg::Post(uint32_t id, uint32_t wParam, int64_t lParam, std::string text) {
    if (!WorkerRuns())
        return false;
    if (services.onPost)
        services.onPost(ThreadMessage{id, wParam, lParam, text});
    return worker->PostThreadMessage(id, wParam, lParam, std::move(text));
}

bool CMainDlg::PostImageRequest(uint32_t id, std::string text) {
    if (!WorkerRuns())
        return false;
    shared.BusyFlag = 1;
    if (Post(id, 0, 0, std::move(text)))
        return true;
    shared.BusyFlag = 0;
    return false;
}

void CMainDlg::WaitWhileBusy() {
    auto idle = [this] { return shared.BusyFlag == 0 || !WorkerRuns() || closing; };
    if (idle())
        return;
    // The window goes on handling its events, the worker's message boxes among them;
    // the timer wakes the loop to look at the flag again.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QTimer poll;
    poll.start(2);
    while (!idle())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    QApplication::restoreOverrideCursor();
}

void CMainDlg::DeliverWorkerReports() {
    // A box shown here runs its own event loop, in which the reports behind it go on
    // arriving; each report is taken once, so their order holds.
    while (auto item = mailbox.Next()) {
        if (item->isBox) {
            if (!closing)
                ShowBox(item->text, item->caption, item->icon);
            mailbox.Dismissed(item->box);
        } else {
            OnWindowMessage(item->message.id, item->message.wParam, item->message.lParam);
        }
    }
}

void CMainDlg::ShowBox(const std::string& text, const std::string& caption, BoxIcon icon) {
    services.boxes->Show(this, text, caption, icon);
}

void CMainDlg::OnWindowMessage(uint32_t id, uint32_t wParam, int64_t lParam) {
    if (id == WM_WORKER_STATUS)
        OnWorkerStatus(wParam, lParam);
    else if (id == WM_RX_TEXT)
        console->OnRxText(wParam);
}

void CMainDlg::FinishWorker() {
    if (!worker)
        return;
    closing = true;
    // Nobody follows an update once the window is gone: a download under way stops.
    shared.UpdateArmed = 0;
    mailbox.Close();  // a worker waiting for a box goes on
    worker->Quit();
    worker.reset();
}

// ---- Window events.

bool CMainDlg::OnCancel() {
    if (shared.BusyFlag != 0 || requestRunning)
        return false;  // an image request is under way: the window stays
    Post(WM_QUIT, 0, 0);
    return true;
}

void CMainDlg::closeEvent(QCloseEvent* event) {
    // The title bar's close button, Alt+F4 and a window manager's close all come here.
    if (!OnCancel()) {
        event->ignore();
        return;
    }
    event->accept();
    QDialog::done(QDialog::Rejected);
}

void CMainDlg::reject() { close(); }

void CMainDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::FontChange && log)
        LayOutControls();  // dialog units follow the font
}

bool CMainDlg::ToggleWireTrace() {
    ISerialLine* line = worker ? &worker->Line() : nullptr;
    if (!line)
        return false;
    if (wireTrace) {
        line->SetTrace(nullptr);
        wireTrace.reset();
        return true;
    }
    const std::string path =
        services.files->ChooseFileToSave(this, "kestrel.trace", "Wire traces (*.trace)|*.trace|All files (*.*)|*.*||");
    if (path.empty())
        return false;
    std::string why;
    auto trace = WireTrace::Create(path, why);
    if (!trace) {
        services.boxes->Show(this, "Can't record the wire trace!\n" + path + ": " + why, "Error", BoxIcon::Warning);
        return false;
    }
    // The line records from here on, beginning with the port as it is open now.
    line->SetTrace(trace);
    wireTrace = std::move(trace);
    return true;
}

void CMainDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* engineeringEntry = menu.addAction(QStringLiteral("&Engineering controls"));
    engineeringEntry->setCheckable(true);
    engineeringEntry->setChecked(engineeringShown);
    QAction* traceEntry = menu.addAction(QStringLiteral("Record wire &trace..."));
    traceEntry->setCheckable(true);
    traceEntry->setChecked(RecordingWireTrace());
    traceEntry->setEnabled(worker != nullptr);
    QAction* about = nullptr;
    if (const QString text = StringResource(IDS_ABOUTBOX); !text.isEmpty()) {
        menu.addSeparator();
        about = menu.addAction(text);
    }
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen == engineeringEntry)
        ShowEngineeringControls(!engineeringShown);
    else if (chosen == traceEntry)
        ToggleWireTrace();
    else if (chosen && chosen == about)
        OnSysCommand(IDM_ABOUTBOX);
}

namespace {

QStringList LocalFiles(const QMimeData* data) {
    QStringList files;
    if (data && data->hasUrls())
        for (const QUrl& url : data->urls())
            if (url.isLocalFile())
                files << url.toLocalFile();
    return files;
}

}  // namespace

void CMainDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (!LocalFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void CMainDlg::dropEvent(QDropEvent* event) {
    const QStringList files = LocalFiles(event->mimeData());
    if (files.isEmpty())
        return;
    event->acceptProposedAction();
    OpenFiles(files);  // once the drop has finished, so the dragging program is not kept waiting
}

bool CMainDlg::eventFilter(QObject* watched, QEvent* event) {
    // Enter and Escape never reach this window's controls: they neither press a
    // button nor close the window.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape)
            return true;
    }
    return QDialog::eventFilter(watched, event);
}
