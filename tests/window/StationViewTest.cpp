// The station in the window against the station loop and virtual boards: four ports
// flashing board after board with a record each, the window refusing to close while a
// board is under way and closing at rest, the choices kept in the settings file with
// every other line as it was, and the outputs refused before any port is armed.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <csignal>
#include <sys/resource.h>
#include <set>

#include "station/StationTile.h"
#include "station/StationView.h"
#include "tests/e2e/BoardProcess.h"
#include "tests/support/JsonReader.h"
#include "tests/window/WindowHarness.h"

namespace window_test {
namespace {

class StationViewTest : public WindowTest {
protected:
    // A succession of `boards` virtual boards behind the link Work(name).
    std::unique_ptr<BoardProcess> StartLine(const std::string& name, unsigned boards) {
        auto board = std::make_unique<BoardProcess>(
            BinFolder(),
            std::vector<std::string>{"--crystal", "27M", "--boards", std::to_string(boards), "--off", "0.3", "--swap",
                                     "0.3", "--reply-gap-ms", "40", "--progress-gap-ms", "15", "--flash",
                                     Work(name + ".flash"), "--link", Work(name)},
            Work(name + ".board.log"));
        EXPECT_FALSE(board->Device().empty()) << "the virtual board " << name << " did not start";
        return board;
    }
    CStationView& OpenView() {
        StationViewServices s;
        s.files = &files;
        s.boxes = &boxes;
        s.sleeper = &sleeper;
        s.library = LibraryPaths::Resolve(BinFolder(), Lib(), LibraryEnvironment{});
        s.appFolder = BinFolder();
        s.findPorts = [this] { return found; };
        view = std::make_unique<CStationView>(std::move(s));
        view->show();
        return *view;
    }
    void LoadSamples() {
        view->OpenFiles({QString::fromStdString(Sample("code.s")), QString::fromStdString(Sample("FONT.bin"))});
        ASSERT_TRUE(WaitForUi([&] { return view->FilesReady(); })) << "the update files were not loaded";
        // The files are listed once in the log, as the loading took them.
        const QListWidget* log = view->findChild<QListWidget*>("log");
        int listed = 0;
        for (int i = 0; i < log->count(); ++i)
            listed += log->item(i)->text() == QStringLiteral("----Include Files:");
        EXPECT_EQ(listed, 1);
    }
    QLineEdit* Edit(const char* name) const { return view->findChild<QLineEdit*>(QString::fromLatin1(name)); }
    // The operator types into a box and moves on.
    void Type(const char* name, const std::string& text) {
        QLineEdit* edit = Edit(name);
        edit->setText(QString::fromStdString(text));
        edit->setModified(true);
        emit edit->editingFinished();
    }
    std::vector<JsonValue> Records() const {
        std::vector<JsonValue> records;
        std::ifstream in(Work("results.jsonl"));
        for (std::string line; std::getline(in, line);)
            if (auto json = JsonReader::Read(line))
                records.push_back(*json);
        return records;
    }
    bool AnyTileBusy() const {
        for (size_t i = 0; i < view->TileCount(); ++i)
            if (view->Tile(i)->Busy())
                return true;
        return false;
    }
    ~StationViewTest() override { view.reset(); }

    std::vector<SerialPortInfo> found;
    std::unique_ptr<CStationView> view;
};

TEST_F(StationViewTest, FourPortsFlashBoardAfterBoardAndTheWindowClosesOnlyAtRest) {
    std::vector<std::unique_ptr<BoardProcess>> lines;
    std::string ports = "[PORTS]\r\n";
    for (int n = 1; n <= 4; ++n) {
        lines.push_back(StartLine("line" + std::to_string(n), 2));
        ports += "com" + std::to_string(n) + "=" + Work("line" + std::to_string(n)) + "\r\n";
    }
    WriteSettings(ports + "[STATION]\r\ncrystal=4\r\nwakeevery=0.2\r\nrearmafter=0.3\r\nexpect=firmware OK\r\nwithin=2\r\n"
                          "results=" + Work("results.jsonl") + "\r\nlogdir=" + Work("logs") + "\r\n");
    OpenView();
    ASSERT_EQ(view->TileCount(), 4u);
    LoadSamples();
    ASSERT_TRUE(view->Start()) << (boxes.shown.empty() ? "" : boxes.shown.back().text);

    // Closing while a board is being flashed is refused, with a word.
    ASSERT_TRUE(WaitForUi([&] { return AnyTileBusy(); }, 60s));
    const size_t boxesBefore = boxes.shown.size();
    view->close();
    EXPECT_TRUE(view->isVisible()) << "the window stays while a board is under way";
    ASSERT_EQ(boxes.shown.size(), boxesBefore + 1);
    EXPECT_NE(boxes.shown.back().text.find("being flashed"), std::string::npos) << boxes.shown.back().text;
    EXPECT_TRUE(view->Running()) << "the refusal leaves the station running";

    // Every port flashes its two boards, each with its record, and the window stays
    // for the next boards.
    ASSERT_TRUE(WaitForUi([&] { return Records().size() >= 8; }, 120s)) << Records().size() << " records";
    ASSERT_TRUE(WaitForUi([&] {
        for (size_t i = 0; i < 4; ++i)
            if (view->Tile(i)->CountersText() != "2 boards: 2 passed, 0 failed")
                return false;
        return true;
    })) << view->Tile(0)->CountersText().toStdString();
    std::map<double, int> perPort;
    for (const JsonValue& r : Records()) {
        EXPECT_EQ(r["result"].text, "passed") << r["message"].text;
        EXPECT_EQ(r["crystal"].text, "27M");
        ++perPort[r["port"].number];
    }
    EXPECT_EQ(perPort, (std::map<double, int>{{1, 2}, {2, 2}, {3, 2}, {4, 2}}));
    // Each board's wire trace is where its record says, none written over another.
    std::set<std::string> traces;
    for (const JsonValue& r : Records()) {
        EXPECT_TRUE(fs::is_regular_file(r["trace"].text)) << r["trace"].text;
        traces.insert(r["trace"].text);
    }
    EXPECT_EQ(traces.size(), 8u);
    // And each port's log holds both its boards.
    for (int n = 1; n <= 4; ++n) {
        const std::string log = Work("logs/line" + std::to_string(n) + ".log");
        EXPECT_TRUE(WaitForUi([&] {
            const std::string text = ReadText(log);
            return text.find(", board ") != text.rfind(", board ");
        })) << ReadText(log);
    }
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(view->Tile(i)->VerdictText().toStdString(), "PASSED");
        EXPECT_NE(view->Tile(i)->Log().find("board 2 passed"), std::string::npos);
    }
    EXPECT_TRUE(view->TotalText().startsWith(QStringLiteral("Passed 8   Failed 0   Yield 100.0 %"))) << view->TotalText().toStdString();
    EXPECT_TRUE(view->isVisible());
    EXPECT_TRUE(view->Running());

    // At rest the window closes once the waiting ports have stopped.
    ASSERT_TRUE(WaitForUi([&] { return !AnyTileBusy(); }));
    view->close();
    ASSERT_TRUE(WaitForUi([&] { return !view->Running(); }));
    EXPECT_FALSE(view->isVisible());
    EXPECT_EQ(Records().size(), 8u) << "no record is lost, and no wait is a board";
}

TEST_F(StationViewTest, ARecordTheDiskWillNotTakeIsShownAndNoNewBoardIsWoken) {
    auto line = StartLine("line1", 2);
    WriteSettings("[PORTS]\r\ncom1=" + Work("line1") + "\r\n[STATION]\r\ncrystal=4\r\nwakeevery=0.2\r\n"
                  "rearmafter=0.3\r\nresults=" + Work("results.jsonl") + "\r\n");
    OpenView();
    LoadSamples();
    // The disk is full for anything past the first hundred bytes of a file.
    signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit full = before;
    full.rlim_cur = 100;
    setrlimit(RLIMIT_FSIZE, &full);
    const bool started = view->Start();
    const bool ended = started && WaitForUi([&] { return !view->Running(); }, 60s);
    setrlimit(RLIMIT_FSIZE, &before);
    ASSERT_TRUE(started);
    ASSERT_TRUE(ended) << "the station went on waking boards";
    EXPECT_EQ(ReadText(Work("results.jsonl")), "") << "never half a record";
    ASSERT_FALSE(boxes.shown.empty());
    EXPECT_NE(boxes.shown.back().text.find("could not be written"), std::string::npos) << boxes.shown.back().text;
    const QListWidget* log = view->findChild<QListWidget*>("log");
    bool kept = false;
    for (int i = 0; i < log->count(); ++i)
        kept = kept || log->item(i)->text().contains(QStringLiteral("\"result\":\"passed\""));
    EXPECT_TRUE(kept) << "the record is shown where it can be copied from";
    EXPECT_EQ(view->Tile(0)->CountersText().toStdString(), "1 board: 1 passed, 0 failed") << "its second board was not woken";
}

TEST_F(StationViewTest, TheChoicesAreKeptInTheirOwnSectionAndEveryOtherLineStaysAsItWas) {
    const std::string before = "; the line's own notes\r\n[COM]\r\nportno=2\r\nbaudrate=0\r\n[PORTS]\r\ncom1=" +
                               pty.SlavePath() + "\r\ncom3=" + Work("absent") + "\r\n[PLANT]\r\nXTLO=4\r\n[KEEP]\r\nx = y \r\n";
    WriteSettings(before);
    found = {SerialPortInfo{Work("found0"), "ftdi_sio", "", "", "", "", true, ""}};
    OpenView();
    ASSERT_EQ(view->TileCount(), 2u);
    EXPECT_EQ(view->findChild<QComboBox*>("crystal")->currentText().toStdString(), "27M") << "[PLANT] XTLO until chosen here";

    view->findChild<QComboBox*>("crystal")->setCurrentIndex(2);
    emit view->findChild<QComboBox*>("crystal")->activated(2);
    Type("expect", "Self test: (firmware OK)");
    Type("failon", "PANIC|halted");
    Type("wakeevery", "0.25");
    Type("results", Work("station results.jsonl"));
    view->Tile(1)->Tick()->setChecked(false);
    ASSERT_TRUE(view->AddPort(Work("found0")));
    ASSERT_EQ(view->TileCount(), 3u);
    EXPECT_EQ(view->Tile(1)->Port().device, Work("found0")) << "the found port takes the first free number, com2";

    const std::string after = ReadText(SettingsPath());
    // Every line that was there is there still, in its order and byte for byte.
    size_t at = 0;
    for (size_t from = 0; from < before.size();) {
        const size_t end = before.find("\r\n", from) + 2;
        const std::string line = before.substr(from, end - from);
        const size_t found = after.find(line, at);
        ASSERT_NE(found, std::string::npos) << "lost or moved: " << line << "\n" << after;
        at = found + line.size();
        from = end;
    }

    view.reset();
    OpenView();
    ASSERT_EQ(view->TileCount(), 3u);
    EXPECT_EQ(view->findChild<QComboBox*>("crystal")->currentIndex(), 2);
    EXPECT_EQ(Edit("expect")->text().toStdString(), "Self test: (firmware OK)");
    EXPECT_EQ(Edit("failon")->text().toStdString(), "PANIC|halted");
    EXPECT_EQ(Edit("wakeevery")->text().toStdString(), "0.25");
    EXPECT_EQ(Edit("results")->text().toStdString(), Work("station results.jsonl"));
    EXPECT_TRUE(view->Tile(0)->Armed());
    EXPECT_FALSE(view->Tile(2)->Armed()) << "com3's tick was taken off";
}

TEST_F(StationViewTest, OutputsThatWouldDestroySomethingAreRefusedBeforeAnyPortIsArmed) {
    WriteSettings("[PORTS]\r\ncom1=" + pty.SlavePath() + "\r\n[STATION]\r\nwakeevery=0.2\r\n");
    OpenView();
    EXPECT_FALSE(view->Start());
    EXPECT_EQ(boxes.Titles().back(), "Please open file first!");
    LoadSamples();
    std::ofstream(Work("notes.txt")) << "the shift's notes\n";
    const std::string notes = ReadText(Work("notes.txt"));
    const struct {
        std::string results, logDir, says;
    } refused[] = {
        {Sample("code.s"), "", "cannot be used"},         // an update file
        {pty.SlavePath(), "", "cannot be used"},          // the line itself
        {"/dev/null", "", "cannot be used"},              // a device
        {Work("notes.txt"), "", "cannot be used"},        // a file that holds no records
        {"", Work("notes.txt"), "log folder"},            // a file where the log folder belongs
        {"", "", "no regular expression"},                // an expect pattern that is none
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.results + r.logDir);
        Type("results", r.results);
        Type("logdir", r.logDir);
        Type("expect", r.says == "no regular expression" ? "(unclosed" : "");
        EXPECT_FALSE(view->Start());
        EXPECT_FALSE(view->Running());
        EXPECT_NE(boxes.shown.back().text.find(r.says), std::string::npos) << boxes.shown.back().text;
    }
    EXPECT_EQ(ReadText(Work("notes.txt")), notes);

    // A line setting beyond its list names itself instead of failing every port.
    Type("results", "");
    Type("logdir", "");
    Type("expect", "");
    WriteSettings("[COM]\r\nbaudrate=9\r\n[PORTS]\r\ncom1=" + pty.SlavePath() + "\r\n");
    EXPECT_FALSE(view->Start());
    EXPECT_NE(boxes.shown.back().text.find("[COM] baudrate=9"), std::string::npos) << boxes.shown.back().text;
    EXPECT_TRUE(pty.Receive(1, 50).empty()) << "no wake-up went out";
}

}  // namespace
}  // namespace window_test
