#include "console/MainDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QWindow>
#include <algorithm>

#include "console/ConsoleList.h"
#include "console/FileChooser.h"
#include "console/MessageBoxes.h"
#include "settings/ProfileWriter.h"
#include "console/Resources.h"
#include "settings/ProfileFile.h"
#include "engine/SharedState.h"
#include "widgets/ThreadWake.h"
#include "engine/Session.h"
#include "serial/LineFactory.h"
#include "trace/TracePath.h"
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
    CreateControls();
    console = std::make_unique<ConsoleList>(*consoleList);
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

    SessionSetup setup;
    setup.lines = services.makeLine ? services.makeLine : MappedLines([this] { return SettingsFolder(SettingsPath()); });
    setup.sleeper = services.sleeper;
    setup.onPost = services.onPost;
    // The session's events are taken up from this dialog's event loop; the call is
    // queued from whichever thread raised them.
    reportsWake = new CThreadWake([this] { DeliverWorkerReports(); }, this);
    setup.wake = [wake = reportsWake] { wake->Wake(); };
    session = std::make_unique<Session>(shared, std::move(setup));
    session->Start();  // returns once WorkerThreadId is published, so the first open is never dropped

    LoadPortSettings();
    ApplyPortSettings();
    lamp->setEnabled(false);  // it only shows the port's state
    ShowLampImage(lamp, IDB_LAMP_CLOSED);
    LoadBoardSettings();
    commandText->setText(QStringLiteral("reset"));

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
    std::string why;
    if (const std::string path = SettingsPathForWrite(&why); !path.empty())
        why = WriteProfileString(path, kViewSection, kEngineeringKey, shown ? "1" : "0");
    if (!why.empty())
        ChoiceNotKept(why);
}

void CMainDlg::OnSysCommand(unsigned id) {
    if ((id & 0xFFF0) == IDM_ABOUTBOX && services.showAbout)
        services.showAbout(this);
}

// ---- The worker's side.

bool CMainDlg::WorkerRuns() const { return session && session->WorkerRuns(); }

bool CMainDlg::Busy() const { return requestRunning || openingFiles > 0 || (session && session->Busy()); }

void CMainDlg::WaitWhileBusy() {
    auto idle = [this] { return !session || !session->Busy() || !WorkerRuns() || closing; };
    if (idle())
        return;
    // The window goes on handling its events, the worker's message boxes among them;
    // the timer wakes the loop to look again.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QTimer poll;
    poll.start(2);
    while (!idle())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    QApplication::restoreOverrideCursor();
}

void CMainDlg::DeliverWorkerReports() {
    // A box shown here runs its own event loop, in which the events behind it go on
    // arriving; each event is taken once, so their order holds.
    while (session) {
        auto e = session->Next();
        if (!e)
            break;
        OnSessionEvent(*e);
    }
}

void CMainDlg::ShowBox(const std::string& text, const std::string& caption, BoxIcon icon) {
    services.boxes->Show(this, text, caption, icon);
}

void CMainDlg::FinishWorker() {
    if (!session)
        return;
    closing = true;
    session->Quit();  // a download under way stops; a worker waiting for a box goes on
    session.reset();
}

// ---- Window events.

bool CMainDlg::OnCancel() {
    if ((session && session->Busy()) || requestRunning || askingToClose)
        return false;  // an image request is under way: the window stays
    if (services.stationKeepsOpen) {
        // The program ends with this window: boards at the station are not cut off.
        if (const std::string why = services.stationKeepsOpen(); !why.empty()) {
            services.boxes->Show(this, why, "Warning", BoxIcon::Warning);
            return false;
        }
    }
    if (session && session->RunActive()) {
        // A board half-written is worse than a window that stays: the operator says.
        askingToClose = true;
        const bool erase = session->RunKind() == ExchangeProgress::Kind::Erase;
        const bool stop = services.boxes->Ask(
            this, erase ? "An erase is under way: stop it and close?" : "An update is under way: stop it and close?",
            "Warning");
        askingToClose = false;
        if (!stop || !session)
            return false;
        if (session->RunActive())
            session->Cancel();  // as Cancel does: disarmed, the line back at the operator's settings
        ShowRunState();
        DeliverWorkerReports();
    }
    if (session)
        session->RequestQuit();
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

void CMainDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    LayOutControls();  // on its screen now, with its frame
    // Before it is first mapped: the title bar the window manager adds must be on the
    // screen too, or the window could never be moved. Until the window manager has
    // framed the window its frame is unknown here, and a title bar's height is assumed.
    if (const QScreen* shown = screen(); shown && !placedOnScreen) {
        placedOnScreen = true;
        const QRect room = shown->availableGeometry();
        const QMargins known = windowHandle() ? windowHandle()->frameMargins() : QMargins();
        const int title = std::max(known.top(), style()->pixelMetric(QStyle::PM_TitleBarHeight));
        const int bottom = std::max(known.bottom(), style()->pixelMetric(QStyle::PM_DefaultFrameWidth));
        if (height() + title + bottom <= room.height()) {
            const int top = std::clamp(geometry().top(), room.top() + title, room.bottom() + 1 - bottom - height());
            if (top != geometry().top())
                move(x(), y() + top - geometry().top());
        }
    }
}

void CMainDlg::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    // Another screen, or the window manager's frame known at last: the height the
    // window may take can have changed.
    if (engineeringShown && log)
        LayOutControls();
}

void CMainDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::FontChange && log)
        LayOutControls();  // dialog units follow the font
}

bool CMainDlg::ToggleWireTrace() {
    if (!session)
        return false;
    if (wireTrace) {
        session->SetTrace(nullptr);
        wireTrace.reset();
        return true;
    }
    const std::string path =
        services.files->ChooseFileToSave(this, "kestrel.trace", "Wire traces (*.trace)|*.trace|All files (*.*)|*.*||");
    if (path.empty())
        return false;
    // A trace is written over what the path names: never over a file or device the
    // window uses, nor over anything that is not an earlier trace.
    std::vector<std::string> inUse = session->FilesInUse();
    inUse.push_back(SettingsPath());
    inUse.push_back(OperatorSettings::Load(SettingsFolder(SettingsPath()))
                        .DeviceForPort(static_cast<unsigned>(portList->currentIndex() + 1)));
    std::string why = TracePathProblem(path, inUse);
    if (!why.empty()) {
        services.boxes->Show(this, "Can't record the wire trace!\n" + path + ": " + why + ".", "Error", BoxIcon::Warning);
        return false;
    }
    auto trace = WireTrace::Create(path, why);
    if (!trace) {
        services.boxes->Show(this, "Can't record the wire trace!\n" + path + ": " + why, "Error", BoxIcon::Warning);
        return false;
    }
    // The line records from here on, beginning with the port as it is open now.
    session->SetTrace(trace);
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
    traceEntry->setEnabled(session != nullptr);
    QAction* stationEntry = nullptr;
    if (services.showStation)
        stationEntry = menu.addAction(QStringLiteral("&Station..."));
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
    else if (chosen && chosen == stationEntry)
        services.showStation(this);
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
