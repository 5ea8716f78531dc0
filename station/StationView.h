#pragma once
// The station in the window: one tile per port of the settings file's [PORTS], the
// station's choices (kept in its [STATION] section), its own Open File, Start and Stop,
// and the total line. It drives the engine's station loop and shows its typed events;
// the events are taken on this window's thread once the station has posted that one
// waits, and nothing here ever waits for a board.
#include <QDialog>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "digest/Sha256.h"
#include "engine/BoardResult.h"
#include "engine/SharedState.h"
#include "engine/Station.h"
#include "image/FlashImage.h"
#include "serial/LineFactory.h"
#include "serial/PortInventory.h"
#include "settings/LibraryPaths.h"
#include "settings/StationSettings.h"

class BoardLogWriter;
class IFileChooser;
class IMessageBoxes;
class ISleeper;
class ResultsFile;
class Session;
class StationTile;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QScrollArea;
class QTimer;
class CShadedPushButton;

struct StationViewServices {
    IFileChooser* files = nullptr;
    IMessageBoxes* boxes = nullptr;
    ISleeper* sleeper = nullptr;  // the protocol's pauses; real time when not set
    LibraryPaths library;
    std::string appFolder;
    // The line of a device (tests); the platform's serial line when not set.
    std::function<LineFactory(const std::string& device)> lines;
    // The serial devices present, offered as ports to add; the system's list when not set.
    std::function<std::vector<SerialPortInfo>()> findPorts;
};

class CThreadWake;
class CStationView : public QDialog {
public:
    explicit CStationView(StationViewServices services, QWidget* parent = nullptr);
    ~CStationView() override;

    // Opens these files as Open File does, from the event loop.
    void OpenFiles(const QStringList& paths);
    // Update files are loaded and Start may arm the ports.
    bool FilesReady() const { return image != nullptr; }
    bool Loading() const { return loading; }
    // Arms every ticked port; false (after saying why) when nothing was started.
    bool Start();
    // No new board is woken; the boards under way finish.
    void Stop();
    // A station runs (it may be stopping).
    bool Running() const { return station != nullptr; }
    // A board is under way on some port.
    bool BoardsUnderWay() const;

    size_t TileCount() const { return tiles.size(); }
    StationTile* Tile(size_t i) const { return tiles.at(i); }
    QString TotalText() const;
    // Adds a device found on this computer as the next free COM port of [PORTS].
    bool AddPort(const std::string& device);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;

private:
    void CreateControls();
    void LoadSettings();
    void BuildTiles();
    void LayOutTiles();
    void FitToScreen();
    void OfferFoundPorts();
    void KeepSetting(const char* key, const std::string& value);
    void KeepLeftOut();
    void ShowRunState();
    void OnOpenFile();
    void OpenFilesNow(const QStringList& paths);
    void TakeLoaderEvents();
    void FinishLoading();
    void TakeStationEvents();
    void OnStationEnded();
    void Refresh();
    void Say(const std::string& text, const std::string& caption = "Warning");
    void AddLog(const std::string& text);
    std::string SettingsPathForWrite(std::string* why) const;
    bool ReadChoices(CheckRule& rule, std::chrono::milliseconds& wakeEvery, std::chrono::milliseconds& rearmAfter);

    StationViewServices services;
    StationSettings settings;
    std::vector<StationTile*> tiles;
    std::vector<size_t> stationTiles;  // the tile of each of the station's ports

    // Loading the update files: a session of its own, with no line.
    SharedState loaderShared;
    std::unique_ptr<Session> loader;
    CThreadWake* loaderWake = nullptr;
    bool loading = false;
    bool loadRefused = false;
    std::vector<std::string> loadingFiles;
    std::vector<Sha256::Digest> digestsBefore;
    std::vector<std::string> files;  // the loaded files
    std::vector<FileDigest> digests;
    std::shared_ptr<const ImageSnapshot> image;
    QTimer* loadPoll = nullptr;

    std::unique_ptr<ResultsFile> results;
    std::unique_ptr<Station> station;
    std::vector<std::string> stationNames;
    std::unique_ptr<BoardLogWriter> logWriter;  // the ports' logs, when there is a log folder
    bool traced = false;
    CThreadWake* stationWake = nullptr;
    // What the log writer's thread could not write, for the log here.
    std::mutex logWarningsMutex;
    std::vector<std::string> logWarnings;
    CThreadWake* logWarningsWake = nullptr;
    void TakeLogWarnings();
    bool closeWhenEnded = false;
    bool fitted = false;
    bool choiceNotKeptSaid = false;

    QComboBox* crystalList = nullptr;
    QLineEdit* expectText = nullptr;
    QLineEdit* failOnText = nullptr;
    QLineEdit* withinText = nullptr;
    QLineEdit* wakeText = nullptr;
    QLineEdit* rearmText = nullptr;
    QLineEdit* resultsText = nullptr;
    QLineEdit* logDirText = nullptr;
    QPushButton* resultsBrowse = nullptr;
    QPushButton* logDirBrowse = nullptr;
    CShadedPushButton* openFileButton = nullptr;
    CShadedPushButton* startButton = nullptr;
    CShadedPushButton* stopButton = nullptr;
    QComboBox* foundPorts = nullptr;
    QPushButton* addPortButton = nullptr;
    QLabel* filesLabel = nullptr;
    QLabel* totalLabel = nullptr;
    QListWidget* logList = nullptr;
    QWidget* tileArea = nullptr;
    QGridLayout* tileGrid = nullptr;
    QScrollArea* scroll = nullptr;
    QTimer* clock = nullptr;
};
