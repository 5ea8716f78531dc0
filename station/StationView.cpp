#include "station/StationView.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <regex>

#include "console/DialogWidgets.h"
#include "console/FileChooser.h"
#include "console/MessageBoxes.h"
#include "console/Resources.h"
#include "engine/BoardLogWriter.h"
#include "widgets/ThreadWake.h"
#include "engine/BoardNames.h"
#include "engine/ResultsFile.h"
#include "engine/Session.h"
#include "engine/StationPlan.h"
#include "engine/StationWords.h"
#include "protocol/Crystals.h"
#include "settings/ProfileFile.h"
#include "settings/ProfileWriter.h"
#include "settings/SettingsChecks.h"
#include "station/StationTile.h"

namespace {

using namespace std::chrono_literals;


// Tiles side by side: one alone, two by two for four, four by four for sixteen.
int ColumnsFor(size_t tiles) {
    if (tiles <= 1)
        return 1;
    return std::min(4, static_cast<int>(std::ceil(std::sqrt(static_cast<double>(tiles)))));
}

std::string Text(const QLineEdit* edit) { return edit->text().trimmed().toStdString(); }

// "traces-20261209-031500": where one Start's wire traces go, beside the port logs.
std::string TraceFolderName() {
    const time_t now = std::time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char text[64];
    std::strftime(text, sizeof text, "traces-%Y%m%d-%H%M%S", &local);
    return text;
}

}  // namespace

CStationView::CStationView(StationViewServices sv, QWidget* parent) : QDialog(parent), services(std::move(sv)) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Kestrel Station"));
    setWindowIcon(ApplicationIcon());
    setObjectName(QStringLiteral("station-view"));
    stationWake = new CThreadWake([this] { TakeStationEvents(); }, this);
    logWarningsWake = new CThreadWake([this] { TakeLogWarnings(); }, this);
    CreateControls();
    LoadSettings();
    BuildTiles();
    OfferFoundPorts();

    SessionSetup setup;
    setup.lines = SerialLineFactory([](uint32_t) { return std::string(); });  // it never opens a line
    setup.sleeper = services.sleeper;
    setup.boxesWait = false;
    loaderWake = new CThreadWake([this] { TakeLoaderEvents(); }, this);
    setup.wake = [wake = loaderWake] { wake->Wake(); };
    loader = std::make_unique<Session>(loaderShared, std::move(setup));
    if (services.library.SearchFolders().size() > 0) {
        StationLibrary(services.library, services.appFolder)(loaderShared);
    }
    loader->Start();
    ShowRunState();
}

CStationView::~CStationView() {
    station.reset();  // its ports' sessions end, and with them their lines
    logWriter.reset();  // the logs handed over are written
    if (loader)
        loader->Quit();
}

void CStationView::CreateControls() {
    auto* top = new QVBoxLayout(this);

    // The choices, in the order an operator sets them.
    auto* choices = new QGridLayout;
    int row = 0;
    auto label = [&](const QString& text, QWidget* buddy, int r, int c) {
        auto* l = new QLabel(text, this);
        l->setBuddy(buddy);
        choices->addWidget(l, r, c);
    };
    crystalList = new QComboBox(this);
    crystalList->setObjectName(QStringLiteral("crystal"));
    crystalList->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    for (const CrystalChoice& c : kCrystals)
        crystalList->addItem(QString::fromLatin1(c.text));
    wakeText = new QLineEdit(this);
    wakeText->setObjectName(QStringLiteral("wakeevery"));
    rearmText = new QLineEdit(this);
    rearmText->setObjectName(QStringLiteral("rearmafter"));
    expectText = new QLineEdit(this);
    expectText->setObjectName(QStringLiteral("expect"));
    expectText->setPlaceholderText(QStringLiteral("a line the new firmware must print"));
    failOnText = new QLineEdit(this);
    failOnText->setObjectName(QStringLiteral("failon"));
    failOnText->setPlaceholderText(QStringLiteral("a line that fails the board"));
    withinText = new QLineEdit(this);
    withinText->setObjectName(QStringLiteral("within"));
    resultsText = new QLineEdit(this);
    resultsText->setObjectName(QStringLiteral("results"));
    resultsText->setPlaceholderText(QStringLiteral("none: no records are kept"));
    logDirText = new QLineEdit(this);
    logDirText->setObjectName(QStringLiteral("logdir"));
    logDirText->setPlaceholderText(QStringLiteral("none: no logs or wire traces are kept"));
    resultsBrowse = new QPushButton(QStringLiteral("..."), this);
    logDirBrowse = new QPushButton(QStringLiteral("..."), this);
    for (QPushButton* b : {resultsBrowse, logDirBrowse}) {
        b->setAutoDefault(false);
        b->setFixedWidth(b->fontMetrics().horizontalAdvance(QStringLiteral("...")) * 3);
    }
    for (QLineEdit* e : {wakeText, rearmText, withinText})
        e->setFixedWidth(e->fontMetrics().horizontalAdvance(QStringLiteral("00000.000")) + 16);

    // A label before each row, and the row's own boxes beside it.
    auto addRow = [&](const QString& text, QWidget* buddy, std::initializer_list<QWidget*> items) {
        label(text, buddy, row, 0);
        auto* line = new QHBoxLayout;
        for (QWidget* w : items)
            line->addWidget(w, qobject_cast<QLineEdit*>(w) && w->maximumWidth() == QWIDGETSIZE_MAX ? 1 : 0);
        choices->addLayout(line, row++, 1);
        return line;
    };
    auto buddyLabel = [this](const QString& text, QWidget* buddy) {
        auto* l = new QLabel(text, this);
        l->setBuddy(buddy);
        return l;
    };
    QHBoxLayout* first = addRow(QStringLiteral("&Crystal"), crystalList,
                                {crystalList, buddyLabel(QStringLiteral("&Wake every (s)"), wakeText), wakeText,
                                 buddyLabel(QStringLiteral("Ne&xt board after (s)"), rearmText), rearmText});
    first->addStretch(1);
    first->setSpacing(12);
    addRow(QStringLiteral("&Expect"), expectText,
           {expectText, buddyLabel(QStringLiteral("&Listen for (s)"), withinText), withinText});
    addRow(QStringLiteral("&Fail on"), failOnText, {failOnText});
    addRow(QStringLiteral("&Results file"), resultsText, {resultsText, resultsBrowse});
    addRow(QStringLiteral("Lo&g folder"), logDirText, {logDirText, logDirBrowse});
    choices->setColumnStretch(1, 1);
    top->addLayout(choices);

    // The commands and the files they work on.
    auto* commands = new QHBoxLayout;
    openFileButton = MakeCommandButton(QStringLiteral("&Open File"), this);
    startButton = MakeCommandButton(QStringLiteral("&Start"), this);
    stopButton = MakeCommandButton(QStringLiteral("S&top"), this);
    openFileButton->setObjectName(QStringLiteral("openfile"));
    startButton->setObjectName(QStringLiteral("start"));
    stopButton->setObjectName(QStringLiteral("stop"));
    for (CommandButtonWidget* b : {openFileButton, startButton, stopButton}) {
        b->setMinimumHeight(b->fontMetrics().height() * 2);
        b->setMinimumWidth(b->fontMetrics().horizontalAdvance(QStringLiteral("Open File")) + 32);
        commands->addWidget(b);
    }
    filesLabel = new QLabel(QStringLiteral("No update files opened"), this);
    filesLabel->setWordWrap(true);
    filesLabel->setObjectName(QStringLiteral("files"));
    commands->addStretch(1);
    foundPorts = new QComboBox(this);
    foundPorts->setObjectName(QStringLiteral("foundports"));
    addPortButton = new QPushButton(QStringLiteral("&Add port"), this);
    addPortButton->setAutoDefault(false);
    commands->addWidget(foundPorts);
    commands->addWidget(addPortButton);
    top->addLayout(commands);
    top->addWidget(filesLabel);

    totalLabel = new QLabel(this);
    totalLabel->setObjectName(QStringLiteral("total"));
    QFont bold = totalLabel->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.3);
    totalLabel->setFont(bold);
    totalLabel->setWordWrap(true);
    top->addWidget(totalLabel);

    tileArea = new QWidget;
    tileGrid = new QGridLayout(tileArea);
    tileGrid->setContentsMargins(0, 0, 0, 0);
    scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setWidget(tileArea);
    scroll->setFrameShape(QFrame::NoFrame);
    top->addWidget(scroll, 1);

    logList = new QListWidget(this);
    logList->setObjectName(QStringLiteral("log"));
    logList->setFixedHeight(logList->fontMetrics().lineSpacing() * 4 + 2 * logList->frameWidth() + 4);
    logList->setFocusPolicy(Qt::ClickFocus);
    top->addWidget(logList);

    connect(openFileButton, &QPushButton::clicked, this, [this] { OnOpenFile(); });
    connect(startButton, &QPushButton::clicked, this, [this] { Start(); });
    connect(stopButton, &QPushButton::clicked, this, [this] { Stop(); });
    connect(addPortButton, &QPushButton::clicked, this, [this] {
        if (foundPorts->currentIndex() >= 0)
            AddPort(foundPorts->currentData().toString().toStdString());
    });
    connect(crystalList, &QComboBox::activated, this,
            [this](int index) { KeepSetting(StationSettings::kCrystal, std::to_string(index)); });
    const struct {
        QLineEdit* edit;
        const char* key;
    } kept[] = {{expectText, StationSettings::kExpect},     {failOnText, StationSettings::kFailOn},
                {withinText, StationSettings::kWithin},     {wakeText, StationSettings::kWakeEvery},
                {rearmText, StationSettings::kRearmAfter},  {resultsText, StationSettings::kResults},
                {logDirText, StationSettings::kLogDir}};
    for (const auto& k : kept) {
        QLineEdit* edit = k.edit;
        const char* key = k.key;
        connect(edit, &QLineEdit::editingFinished, this, [this, edit, key] {
            if (edit->isModified()) {
                edit->setModified(false);
                KeepSetting(key, Text(edit));
            }
        });
    }
    connect(resultsBrowse, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Results file"), resultsText->text(),
                                                          QStringLiteral("Results (*.jsonl);;All files (*)"), nullptr,
                                                          QFileDialog::DontConfirmOverwrite);
        if (!path.isEmpty()) {
            resultsText->setText(path);
            KeepSetting(StationSettings::kResults, path.toStdString());
        }
    });
    connect(logDirBrowse, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getExistingDirectory(this, QStringLiteral("Log folder"), logDirText->text());
        if (!path.isEmpty()) {
            logDirText->setText(path);
            KeepSetting(StationSettings::kLogDir, path.toStdString());
        }
    });

    // Tab goes through the choices as they read, then the commands, then the tiles.
    QWidget* order[] = {crystalList, wakeText,      rearmText,      expectText, withinText, failOnText,  resultsText,
                        resultsBrowse, logDirText,  logDirBrowse,   openFileButton, startButton, stopButton, foundPorts,
                        addPortButton};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    clock = new QTimer(this);
    clock->setInterval(1000);
    connect(clock, &QTimer::timeout, this, [this] { Refresh(); });
    loadPoll = new QTimer(this);
    loadPoll->setInterval(20);
    connect(loadPoll, &QTimer::timeout, this, [this] { TakeLoaderEvents(); });
}

void CStationView::LoadSettings() {
    std::string problem;
    const ProfileFile profile = ProfileFile::Load(services.library.SettingsFileToRead(), problem);
    if (!problem.empty())
        AddLog("The settings file cannot be used: " + problem);
    settings = StationSettings::Read(profile);
    for (const std::string& unread : settings.unread)
        AddLog("The settings file holds " + unread + ", which is no number of seconds: the default is used.");
    crystalList->setCurrentIndex(settings.crystalIndex < crystalList->count() ? settings.crystalIndex : -1);
    expectText->setText(QString::fromStdString(settings.expect));
    failOnText->setText(QString::fromStdString(settings.failOn));
    withinText->setText(QString::fromStdString(SecondsText(settings.within)));
    wakeText->setText(QString::fromStdString(SecondsText(settings.wakeEvery)));
    rearmText->setText(QString::fromStdString(SecondsText(settings.rearmAfter)));
    resultsText->setText(QString::fromStdString(settings.results));
    logDirText->setText(QString::fromStdString(settings.logDir));
}

void CStationView::BuildTiles() {
    for (StationTile* t : tiles)
        delete t;
    tiles.clear();
    for (const StationPortEntry& port : settings.ports) {
        auto* tile = new StationTile(port, tileArea);
        connect(tile->Tick(), &QCheckBox::toggled, this, [this] { KeepLeftOut(); });
        tiles.push_back(tile);
    }
    LayOutTiles();
}

void CStationView::LayOutTiles() {
    int columns = ColumnsFor(tiles.size());
    // No more side by side than the screen has room for: the rest scroll down.
    if (const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen(); s && !tiles.empty()) {
        const int room = s->availableGeometry().width() - 64;
        const int tile = tiles.front()->minimumSizeHint().width() + 8;
        columns = std::max(1, std::min(columns, room / std::max(tile, 1)));
    }
    for (size_t i = 0; i < tiles.size(); ++i)
        tileGrid->addWidget(tiles[i], static_cast<int>(i) / columns, static_cast<int>(i) % columns);
    for (int c = 0; c < 4; ++c)
        tileGrid->setColumnStretch(c, c < columns ? 1 : 0);
    // Keyboard order: the choices, the commands, then the tiles row by row.
    QWidget* previous = addPortButton;
    for (StationTile* t : tiles) {
        for (QWidget* w : {static_cast<QWidget*>(t->Tick()), static_cast<QWidget*>(t->LogButton()),
                           static_cast<QWidget*>(t->TraceButton())}) {
            setTabOrder(previous, w);
            previous = w;
        }
    }
    if (tiles.empty()) {
        auto* none = new QLabel(QStringLiteral("No ports: name them in [PORTS] of the settings file "
                                               "(com1=/dev/ttyUSB0), or add a port found on this computer."),
                                tileArea);
        none->setObjectName(QStringLiteral("noports"));
        none->setWordWrap(true);
        tileGrid->addWidget(none, 0, 0);
    } else if (QWidget* none = tileArea->findChild<QWidget*>(QStringLiteral("noports"))) {
        delete none;
    }
    if (isVisible())
        FitToScreen();
}

void CStationView::FitToScreen() {
    // Room for every tile without a scroll bar where the screen has it; where it has
    // not, the tiles scroll and none is cut.
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!s)
        return;
    const QRect room = s->availableGeometry();
    tileArea->layout()->activate();
    const QSize content = tileArea->sizeHint();
    const int bar = scroll->verticalScrollBar()->sizeHint().width();
    const int otherHeight = layout()->sizeHint().height() - scroll->sizeHint().height();
    const int frame = 48;  // the title bar and borders the window manager adds
    const int width = std::min(content.width() + bar, room.width() - 2 * layout()->contentsMargins().left() - 16);
    // Word-wrapped states are as high as the width they get makes them.
    int contentHeight = content.height();
    if (tileArea->layout()->hasHeightForWidth())
        contentHeight = std::max(contentHeight, tileArea->layout()->totalHeightForWidth(width - bar));
    const int height = std::min(contentHeight + 2, room.height() - otherHeight - frame);
    scroll->setMinimumSize(std::max(width, 200), std::max(height, 80));
    adjustSize();
    if (frameGeometry().bottom() > room.bottom() || frameGeometry().right() > room.right())
        move(std::max(room.left(), std::min(x(), room.right() - frameGeometry().width())),
             std::max(room.top(), std::min(y(), room.bottom() - frameGeometry().height())));
}

void CStationView::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!fitted) {
        fitted = true;
        FitToScreen();
        startButton->setFocus();
    }
}

void CStationView::keyPressEvent(QKeyEvent* event) {
    // As in the main dialog, Enter and Escape neither press a button nor close the view.
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CStationView::OfferFoundPorts() {
    foundPorts->clear();
    const std::vector<SerialPortInfo> found = services.findPorts ? services.findPorts() : ListSerialPorts();
    for (const SerialPortInfo& p : found) {
        const bool known = std::any_of(settings.ports.begin(), settings.ports.end(), [&](const StationPortEntry& e) {
            return e.device == p.device;
        });
        if (!known)
            foundPorts->addItem(QString::fromStdString(p.device), QString::fromStdString(p.device));
    }
    const bool any = foundPorts->count() > 0;
    foundPorts->setVisible(any);
    addPortButton->setVisible(any);
}

bool CStationView::AddPort(const std::string& device) {
    if (station) {
        Say("Ports are added while the station is stopped.");
        return false;
    }
    const unsigned n = FreePortNumber(settings.ports);
    const std::string name = "com" + std::to_string(n);
    std::string why;
    if (const std::string path = SettingsPathForWrite(&why); !path.empty())
        why = WriteProfileString(path, "PORTS", name, device);
    if (!why.empty()) {
        Say("The port could not be added to the settings file: " + why);
        return false;
    }
    AddLog("Port " + name + " is " + device + " (kept in [PORTS] of the settings file).");
    LoadSettings();
    BuildTiles();
    OfferFoundPorts();
    ShowRunState();
    return true;
}

std::string CStationView::SettingsPathForWrite(std::string* why) const {
    std::string error;
    if (services.library.PrepareSettingsForWrite(error))
        return services.library.SettingsFile();
    if (why)
        *why = error;
    return {};
}

void CStationView::KeepSetting(const char* key, const std::string& value) {
    std::string why;
    if (const std::string path = SettingsPathForWrite(&why); !path.empty())
        why = WriteProfileString(path, StationSettings::kSection, key, value);
    if (!why.empty() && !choiceNotKeptSaid) {
        choiceNotKeptSaid = true;
        AddLog("Settings could not be saved to " + services.library.SettingsFile() + " (" + why +
               "): the choices hold until the window closes.");
    }
}

void CStationView::KeepLeftOut() {
    for (size_t i = 0; i < tiles.size() && i < settings.ports.size(); ++i) {
        settings.ports[i].armed = tiles[i]->Armed();
        if (!station)
            tiles[i]->Reset();
    }
    KeepSetting(StationSettings::kLeftOut, StationSettings::LeftOutText(settings.ports));
}

void CStationView::ShowRunState() {
    const bool running = station != nullptr;
    // The focus goes to the key the operator will want next before anything under it
    // is greyed: otherwise it would hop from tick to tick and the tiles scroll away.
    QWidget* focused = QApplication::focusWidget();
    const bool wasRunning = !startButton->isEnabled() && stopButton->isEnabled();
    stopButton->setEnabled(running && !closeWhenEnded);
    startButton->setEnabled(!running && !loading);
    if (running != wasRunning && focused && isAncestorOf(focused) && focused != logList) {
        if (running && stopButton->isEnabled())
            stopButton->setFocus();
        else if (!running && startButton->isEnabled())
            startButton->setFocus();
    }
    openFileButton->setEnabled(!running && !loading);
    for (QWidget* w : std::initializer_list<QWidget*>{crystalList, expectText, failOnText, withinText, wakeText, rearmText,
                                                      resultsText, logDirText, resultsBrowse, logDirBrowse, foundPorts,
                                                      addPortButton})
        w->setEnabled(!running);
    for (StationTile* t : tiles)
        t->SetTickable(!running);
    Refresh();
}

void CStationView::Say(const std::string& text, const std::string& caption) {
    AddLog(text);
    services.boxes->Show(this, text, caption, BoxIcon::Warning);
}

void CStationView::AddLog(const std::string& text) {
    size_t at = 0;
    do {
        const size_t end = text.find('\n', at);
        logList->addItem(QString::fromStdString(text.substr(at, end == std::string::npos ? std::string::npos : end - at)));
        at = end == std::string::npos ? text.size() + 1 : end + 1;
    } while (at <= text.size());
    while (logList->count() > 2000)
        delete logList->takeItem(0);
    logList->scrollToBottom();
}

// ---- The update files.

void CStationView::OnOpenFile() {
    const std::vector<std::string> chosen = services.files->ChooseFilesToOpen(this, kUpdateFilesFilter);
    if (chosen.empty())
        return;
    QStringList paths;
    for (const auto& p : chosen)
        paths << QString::fromStdString(p);
    OpenFilesNow(paths);
}

void CStationView::OpenFiles(const QStringList& paths) {
    if (paths.isEmpty())
        return;
    QMetaObject::invokeMethod(this, [this, paths] { OpenFilesNow(paths); }, Qt::QueuedConnection);
}

void CStationView::OpenFilesNow(const QStringList& paths) {
    if (station) {
        Say("Stop the station before opening other update files.");
        return;
    }
    if (loading)
        return;
    std::vector<std::string> chosen;
    for (const QString& p : paths)
        chosen.push_back(p.toStdString());
    image.reset();
    files.clear();
    digests.clear();
    filesLabel->setText(QStringLiteral("No update files opened"));
    if (const std::string why = DigestFiles(chosen, digestsBefore); !why.empty()) {
        Say(why);
        return;
    }
    // The loading session logs the files it is given, as the main window's does.
    loadingFiles = chosen;
    loadRefused = false;
    loading = true;
    loader->ResetImage();
    loader->LoadFiles(chosen);
    loadPoll->start();
    ShowRunState();
}

void CStationView::TakeLogWarnings() {
    std::vector<std::string> taken;
    {
        std::lock_guard lock(logWarningsMutex);
        taken.swap(logWarnings);
    }
    for (const std::string& warning : taken)
        AddLog(warning);
}

void CStationView::TakeLoaderEvents() {
    while (loader) {
        auto e = loader->Next();
        if (!e)
            break;
        switch (e->kind) {
        case SessionEvent::Kind::Log: AddLog(e->text); break;
        case SessionEvent::Kind::MessageBox:
            // Shown after the loading has ended: a box here would hold the events behind it.
            AddLog(e->caption + ": " + e->text);
            if (loading)
                loadRefused = true;
            break;
        case SessionEvent::Kind::FileResult:
            if (e->value == 0)
                loadRefused = true;
            break;
        default: break;
        }
    }
    // The session has raised every event of its requests before it is no longer busy.
    if (loading && !loader->Busy()) {
        while (auto e = loader->Next()) {
            if ((e->kind == SessionEvent::Kind::FileResult && e->value == 0) || e->kind == SessionEvent::Kind::MessageBox)
                loadRefused = true;
            if (e->kind == SessionEvent::Kind::Log || e->kind == SessionEvent::Kind::MessageBox)
                AddLog(e->kind == SessionEvent::Kind::Log ? e->text : e->caption + ": " + e->text);
        }
        FinishLoading();
    }
}

void CStationView::FinishLoading() {
    loading = false;
    loadPoll->stop();
    std::string why;
    if (loadRefused)
        why = "An update file was refused (the log says why); no port will be armed with it.";
    else if (const std::string changed = DigestsAfterLoading(loadingFiles, digestsBefore, digests); !changed.empty())
        why = changed + "; open the files again.";
    if (!why.empty()) {
        ShowRunState();
        Say(why);
        return;
    }
    files = loadingFiles;
    image = std::make_shared<const ImageSnapshot>(loader->ImageNow());
    QStringList names;
    for (const std::string& f : files)
        names << QString::fromStdString(f.substr(f.find_last_of('/') + 1));
    filesLabel->setText(names.join(QStringLiteral(", ")));
    filesLabel->setToolTip(QString::fromStdString([&] {
        std::string all;
        for (const auto& d : digests)
            all += d.path + "  sha256 " + d.sha256 + "\n";
        return all;
    }()));
    ShowRunState();
    startButton->setFocus();  // the files are in: Start is next
}

// ---- The station.

bool CStationView::ReadChoices(CheckRule& rule, std::chrono::milliseconds& wakeEvery,
                               std::chrono::milliseconds& rearmAfter) {
    const struct {
        QLineEdit* edit;
        const char* what;
        long lowest;
        std::chrono::milliseconds* out;
    } times[] = {{wakeText, "Wake every", 100, &wakeEvery},
                 {rearmText, "Next board after", 0, &rearmAfter},
                 {withinText, "Listen for", 100, &rule.within}};
    for (const auto& t : times) {
        if (!ParseSeconds(Text(t.edit), t.lowest, 3600 * 1000, *t.out)) {
            t.edit->setFocus();
            Say(std::string(t.what) + " takes seconds from " + (t.lowest ? "0.1" : "0") + " to 3600 (\"" + Text(t.edit) +
                "\" is not).");
            return false;
        }
    }
    const struct {
        QLineEdit* edit;
        const char* what;
        std::optional<std::regex>* pattern;
        std::string* shown;
    } patterns[] = {{expectText, "Expect", &rule.expect, &rule.expectText},
                    {failOnText, "Fail on", &rule.failOn, &rule.failOnText}};
    for (const auto& p : patterns) {
        const std::string text = p.edit->text().toStdString();
        if (text.empty())
            continue;
        try {
            p.pattern->emplace(text, std::regex::ECMAScript);
        } catch (const std::regex_error& e) {
            p.edit->setFocus();
            Say(std::string(p.what) + " '" + text + "' is no regular expression: " + e.what());
            return false;
        }
        *p.shown = text;
    }
    return true;
}

bool CStationView::Start() {
    if (station || loading)
        return false;
    if (!image) {
        Say("Please open file first!");
        return false;
    }
    std::vector<std::string> devices;
    stationTiles.clear();
    for (size_t i = 0; i < tiles.size(); ++i) {
        if (tiles[i]->Armed()) {
            devices.push_back(tiles[i]->Port().device);
            stationTiles.push_back(i);
        }
    }
    if (devices.empty()) {
        Say("Tick at least one port to arm.");
        return false;
    }
    if (const auto twice = RepeatedDevice(devices)) {
        Say("The device " + *twice + " is named by two ports; each port needs a line of its own.");
        return false;
    }
    if (crystalList->currentIndex() < 0) {
        Say("Choose the boards' crystal.");
        return false;
    }
    const OperatorSettings line = OperatorSettings::Load(std::filesystem::path(services.library.SettingsFileToRead()).parent_path().string());
    if (!line.problem.empty()) {
        Say("The settings file cannot be used: " + line.problem);
        return false;
    }
    SettingsUse use;
    use.port = false;     // every port is named by its device
    use.crystal = false;  // chosen here
    use.remedy = "Mend the file; no port was armed.";
    const SettingsWords words = CheckSettingsChoices(line, use);
    for (const std::string& warning : words.warnings)
        AddLog(warning);
    if (!words.error.empty()) {
        Say(words.error);
        return false;
    }
    StationSetup setup;
    if (!ReadChoices(setup.check, setup.wakeEvery, setup.rearmAfter))
        return false;
    stationNames = BoardNames(devices);
    const std::vector<std::string> inputs = StationInputs(services.library, devices, files);
    // Each Start keeps its boards' wire traces in a folder of its own: the boards are
    // numbered from 1 again, and the records of an earlier Start name their traces.
    std::string traces;
    if (!Text(logDirText).empty()) {
        const std::filesystem::path base = std::filesystem::path(Text(logDirText)) / TraceFolderName();
        std::error_code ec;
        traces = base.string();
        for (int n = 2; std::filesystem::exists(traces, ec); ++n)
            traces = base.string() + "-" + std::to_string(n);
    }
    const StationOutputs outputs{Text(resultsText), Text(logDirText), traces};
    if (const std::string problem = StationOutputsProblem(outputs, inputs, stationNames); !problem.empty()) {
        Say("Cannot start: " + problem + ". No port was armed.");
        return false;
    }
    results.reset();
    if (!outputs.results.empty()) {
        std::string why;
        if (!(results = ResultsFile::Open(outputs.results, why))) {
            Say("Cannot start: the results file " + outputs.results + " cannot be used: " + why + ". No port was armed.");
            return false;
        }
        ResultsFile* file = results.get();
        setup.keep = [file](const std::string& json, std::string& why) { return file->Append(json, why); };
    }
    logWriter.reset();
    if (!outputs.logDir.empty()) {
        // The port logs are written off this thread; what fails is said here.
        logWriter = std::make_unique<BoardLogWriter>(outputs.logDir, [this](const std::string& warning) {
            {
                std::lock_guard lock(logWarningsMutex);
                logWarnings.push_back(warning);
            }
            logWarningsWake->Wake();
        });
    }
    traced = !outputs.traceDir.empty();
    if (traced) {
        std::vector<std::string> outputsInputs = inputs;
        if (!outputs.results.empty())
            outputsInputs.push_back(outputs.results);
        setup.trace = StationTraces(outputs.traceDir, stationNames, outputsInputs);
    }
    setup.devices = devices;
    setup.crystalIndex = crystalList->currentIndex();
    setup.lineSettings = line.lineSettings;
    setup.image = image;
    setup.files = digests;
    setup.rearm = RearmMode::Auto;
    setup.library = StationLibrary(services.library, services.appFolder);
    setup.lines = services.lines;
    setup.sleeper = services.sleeper;
    setup.adapter = AdapterOf;
    // One queued call however many events wait: sixteen ports flashing post no flood.
    setup.wake = [wake = stationWake] { wake->Wake(); };
    for (StationTile* t : tiles)
        t->Reset();
    AddLog("Station started: " + std::to_string(devices.size()) + (devices.size() == 1 ? " port" : " ports") + " armed.");
    station = std::make_unique<Station>(std::move(setup));
    station->Start();
    clock->start();
    ShowRunState();
    return true;
}

void CStationView::Stop() {
    if (!station)
        return;
    station->StopWaking();
    AddLog("Stopping: no new board is woken; the boards under way finish.");
}

bool CStationView::BoardsUnderWay() const {
    return std::any_of(tiles.begin(), tiles.end(), [](const StationTile* t) { return t->Busy(); });
}

void CStationView::TakeStationEvents() {
    bool ended = false;
    constexpr int kEventsAtOnce = 1000;
    int taken = 0;
    for (; station && taken < kEventsAtOnce; ++taken) {
        auto e = station->Next();
        if (!e)
            break;
        const size_t tile = e->port < stationTiles.size() ? stationTiles[e->port] : StationEvent::kStation;
        switch (e->kind) {
        case StationEvent::Kind::Port:
            if (tile != StationEvent::kStation)
                tiles[tile]->Show(e->view);
            break;
        case StationEvent::Kind::BoardEnded: {
            if (tile == StationEvent::kStation)
                break;
            const std::string name = stationNames[e->port];
            tiles[tile]->BoardEnded(*e, traced && !e->result.trace.empty() ? e->result.trace : "");
            if (logWriter)
                logWriter->Append(name, tiles[tile]->Port().device, *e);
            if (!e->kept) {
                // The record stays in the log, to be copied from there.
                std::string json = ResultJsonLine(e->result);
                if (!json.empty() && json.back() == '\n')
                    json.pop_back();
                AddLog("The record that could not be written: " + json);
                Say("The record of board " + std::to_string(e->result.board) +
                        " could not be written to the results file: " + e->text +
                        ". No new board is woken; the boards under way finish. The record is in the log below.",
                    "Error");
            }
            break;
        }
        case StationEvent::Kind::Problem:
            AddLog((tile == StationEvent::kStation ? std::string("station") : tiles[tile]->Port().name) + ": " + e->text);
            break;
        case StationEvent::Kind::Ended: ended = true; break;
        }
    }
    Refresh();
    if (ended) {
        OnStationEnded();
    } else if (taken == kEventsAtOnce) {
        // The rest after the window has had its turn.
        stationWake->Wake();
    }
}

void CStationView::OnStationEnded() {
    const CounterFigures total = station->Total();
    station.reset();  // every port's session has ended already
    results.reset();
    clock->stop();
    AddLog("Station stopped: " + DescribeCounters(total) + ".");
    totalLabel->setText(QString::fromStdString("Stopped. " + DescribeCounters(total)));
    ShowRunState();
    if (closeWhenEnded) {
        closeWhenEnded = false;
        close();
    }
}

QString CStationView::TotalText() const { return totalLabel->text(); }

void CStationView::Refresh() {
    const auto now = std::chrono::system_clock::now();
    size_t underWay = 0;
    for (StationTile* t : tiles) {
        t->Refresh(now);
        underWay += t->Busy() ? 1 : 0;
    }
    // The task bar tells too: how many boards are under way.
    QString title = QStringLiteral("Kestrel Station");
    if (underWay > 0)
        title += QStringLiteral(" - %1 flashing").arg(underWay);
    else if (station && closeWhenEnded)
        title += QStringLiteral(" - closing");
    else if (station)
        title += QStringLiteral(" - armed");
    if (windowTitle() != title)
        setWindowTitle(title);
    if (!station) {
        if (totalLabel->text().isEmpty() || !totalLabel->text().startsWith(QStringLiteral("Stopped")))
            totalLabel->setText(QStringLiteral("Not started"));
        return;
    }
    const CounterFigures f = station->Total();
    char rate[64];
    std::snprintf(rate, sizeof rate, "%.1f %%", f.yield * 100);
    char hour[64];
    std::snprintf(hour, sizeof hour, "%.1f", f.boardsPerHour);
    totalLabel->setText(QStringLiteral("Passed %1   Failed %2   Yield %3   Median %4 a board   %5 boards an hour")
                            .arg(f.passed)
                            .arg(f.failed)
                            .arg(f.boards ? QString::fromLatin1(rate) : QStringLiteral("-"))
                            .arg(f.boards ? QString::fromStdString(ClockTime(f.medianSeconds)) : QStringLiteral("-"))
                            .arg(QString::fromLatin1(hour)));
}

// ---- Closing.

void CStationView::closeEvent(QCloseEvent* event) {
    if (station) {
        TakeStationEvents();  // what the station has said so far
    }
    if (station && BoardsUnderWay()) {
        event->ignore();
        Say("Boards are being flashed: the window stays open. Press Stop, and close it once they are done.");
        return;
    }
    if (station) {
        // At rest: the waiting ports stop, and the window closes once the station has
        // ended (a board that answered meanwhile is finished first).
        event->ignore();
        closeWhenEnded = true;
        station->StopWaking();
        ShowRunState();
        return;
    }
    event->accept();
    QDialog::done(QDialog::Rejected);
}

void CStationView::reject() { close(); }
