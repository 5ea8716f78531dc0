// The window under an operator's hands while a board is being flashed or erased:
// what may be pressed meanwhile, closing, a line that is lost, refusals at the start,
// refused files, and the progress bar after a cancel. The test plays the board on a
// pty, or runs the virtual board.
#include <sys/stat.h>

#include <QLineEdit>

#include "console/LogPieces.h"
#include "tests/e2e/BoardProcess.h"
#include "tests/window/WindowHarness.h"

namespace window_test {
namespace {

constexpr int kLampOpen = 134;
constexpr int kLampClosed = 133;

class OperatorFlowTest : public WindowTest {
protected:
    int Lamp() const { return dlg->GetDlgItem(IDC_LAMP)->property("bitmapId").toInt(); }
    int Progress() const { return static_cast<CPercentProgressBar*>(dlg->GetDlgItem(IDC_PROGRESS))->GetPos(); }
    std::string UpdateLabel() const { return Button(IDC_UPDATE)->text().toStdString(); }
    void SetCommand(const char* text) { static_cast<QLineEdit*>(dlg->GetDlgItem(IDC_COMMANDTEXT))->setText(text); }

    // Opens these files with Open File and waits until each is taken or refused.
    void OpenWithOpenFile(const std::vector<std::string>& chosen) {
        files.openAnswers.push_back(chosen);
        Button(IDC_OPENFILE)->click();
        WaitUntilIdle();
    }
    // The board's side waits for the wake-up: 16 bytes 0xFF.
    static bool WokenUp(const TestPty& line) {
        std::vector<uint8_t> got;
        const bool all = WaitForUi([&] {
            const auto more = line.Receive(16 - got.size(), 1);
            got.insert(got.end(), more.begin(), more.end());
            return got.size() >= 16;
        });
        return all && got == std::vector<uint8_t>(16, 0xFF);
    }
    // The whole log as one text: a long line is cut into several items, so texts are
    // looked for in all of it.
    std::string LogText() const {
        std::string joined;
        for (const auto& item : Items(IDC_LOG)) {
            joined += item;
            // A piece of a whole 54 characters goes on in the next item.
            if (QString::fromStdString(item).size() != static_cast<qsizetype>(kLogPieceLength))
                joined += '\n';
        }
        return joined;
    }
    size_t LogLinesWith(const std::string& part) const {
        const std::string log = LogText();
        size_t count = 0;
        for (size_t at = log.find(part); at != std::string::npos; at = log.find(part, at + part.size()))
            ++count;
        return count;
    }
    // The log from the first line that begins with `start`, or "".
    std::string LogFrom(const std::string& start) const {
        const std::string log = "\n" + LogText();
        const size_t at = log.find("\n" + start);
        return at == std::string::npos ? std::string() : log.substr(at + 1);
    }
    std::string LastLogLine() const {
        std::string log = LogText();
        while (!log.empty() && log.back() == '\n')
            log.pop_back();
        return log.substr(log.rfind('\n') == std::string::npos ? 0 : log.rfind('\n') + 1);
    }
    std::vector<uint32_t> PostIds() const {
        std::lock_guard lock(postsMutex);
        std::vector<uint32_t> ids;
        for (const auto& m : posts)
            ids.push_back(m.id);
        return ids;
    }
    void ClearPosts() {
        std::lock_guard lock(postsMutex);
        posts.clear();
    }
    // Everything the operator might press beside Update while a run goes on.
    std::vector<int> SideControls() const {
        return {IDC_OPENFILE, IDC_SAVEASBIN, IDC_COMMAND, IDC_PORTNO, IDC_BAUDRATE, IDC_PARITY, IDC_OPENCLOSEPORT};
    }
};

TEST_F(OperatorFlowTest, WhileAnUpdateOrAnEraseRunsNothingElseReachesTheImageOrTheLine) {
    WriteSettings("[PLANT]\r\nXTLO=4\r\n[VIEW]\r\nengineering=1\r\n[PORTS]\r\ncom1=" + pty.SlavePath() + "\r\n");
    OpenDialog();
    dlg->show();
    ASSERT_TRUE(WaitForUi([&] { return Lamp() == kLampOpen; }));
    OpenWithOpenFile({Sample("FONT.bin")});

    Button(IDC_UPDATE)->click();
    ASSERT_TRUE(WokenUp(pty));
    EXPECT_EQ(UpdateLabel(), "&Cancel");
    for (int id : SideControls())
        EXPECT_FALSE(dlg->GetDlgItem(id)->isEnabled()) << id;
    EXPECT_TRUE(Button(IDC_UPDATE)->isEnabled());

    // Files named while it runs (dropped on the window) are refused with a word, and
    // the image the update is sending stays as it is.
    ClearPosts();
    dlg->OpenFiles({QString::fromStdString(Sample("LOGO.bin"))});
    ASSERT_TRUE(WaitForUi([&] { return LogLinesWith("not opened") == 1; })) << LogText();
    EXPECT_TRUE(Posts(WM_RESET_IMAGE).empty());
    EXPECT_TRUE(Posts(WM_LOAD_FILE).empty());
    EXPECT_EQ(shared.UpdateArmed, 1);

    Button(IDC_UPDATE)->click();
    EXPECT_EQ(UpdateLabel(), "&Update");
    for (int id : SideControls())
        EXPECT_TRUE(dlg->GetDlgItem(id)->isEnabled()) << id;

    // An erase started at the console turns Update into Cancel as well: Update cannot
    // start beside it, and Cancel stops it.
    SetCommand("initflash");
    ClearPosts();
    Button(IDC_COMMAND)->click();
    ASSERT_TRUE(WokenUp(pty));
    EXPECT_EQ(UpdateLabel(), "&Cancel");
    for (int id : SideControls())
        EXPECT_FALSE(dlg->GetDlgItem(id)->isEnabled()) << id;
    Button(IDC_UPDATE)->click();
    EXPECT_EQ(UpdateLabel(), "&Update");
    EXPECT_EQ(shared.UpdateArmed, 0);
    EXPECT_TRUE(Posts(WM_START_UPDATE).empty());
    EXPECT_EQ(LogFrom("Stop updating!!!").substr(0, 16), "Stop updating!!!") << LogText();
    EXPECT_TRUE(Button(IDC_COMMAND)->isEnabled());
}

TEST_F(OperatorFlowTest, AnEraseDiscardsTheOpenedFilesAndUpdateThenAsksForFiles) {
    BoardProcess board(BinFolder(), {"--crystal", "27M", "--flash", Work("flash.bin"), "--reply-gap-ms", "40",
                                     "--progress-gap-ms", "5"},
                       Work("board.log"));
    ASSERT_FALSE(board.Device().empty());
    WriteSettings("[PLANT]\r\nXTLO=4\r\n[VIEW]\r\nengineering=1\r\n[PORTS]\r\ncom1=" + board.Device() + "\r\n");
    OpenDialog();
    OpenWithOpenFile({Sample("FONT.bin"), Sample("LOGO.bin")});
    ASSERT_TRUE(dlg->FileOpened());

    SetCommand("initflash");
    Button(IDC_COMMAND)->click();
    EXPECT_EQ(UpdateLabel(), "&Cancel");
    ASSERT_TRUE(WaitForUi([&] { return UpdateLabel() == "&Update"; }, 120s)) << board.Report();
    EXPECT_EQ(LogLinesWith("5.Update finished!!!"), 1u);
    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;  // the erase itself was whole

    // The erase left nothing of the files to send: the log says so once, and Update
    // asks for files as if none had been opened.
    EXPECT_EQ(LogLinesWith("discarded"), 1u);
    EXPECT_FALSE(dlg->FileOpened());
    ClearPosts();
    Button(IDC_UPDATE)->click();
    ASSERT_EQ(boxes.Titles(), std::vector<std::string>{"Please open file first!"});
    EXPECT_TRUE(Posts(WM_START_UPDATE).empty());
    EXPECT_EQ(UpdateLabel(), "&Update");
    EXPECT_EQ(LogLinesWith("discarded"), 1u);
    EXPECT_EQ(board.Stop(), 0) << board.Report();
}

TEST_F(OperatorFlowTest, ClosingDuringAnUpdateAsksFirstAndYesStopsItBeforeTheWindowGoes) {
    WriteSettings("[PLANT]\r\nXTLO=4\r\n[PORTS]\r\ncom1=" + pty.SlavePath() + "\r\n");
    OpenDialog();
    dlg->show();
    OpenWithOpenFile({Sample("FONT.bin")});
    int finished = -1;
    QObject::connect(dlg.get(), &QDialog::finished, [&](int result) { finished = result; });
    Button(IDC_UPDATE)->click();
    ASSERT_TRUE(WokenUp(pty));

    // No: the window stays and the update goes on.
    boxes.answers = {false};
    dlg->close();
    ASSERT_EQ(boxes.asked.size(), 1u);
    EXPECT_EQ(boxes.asked[0].text, "An update is under way: stop it and close?");
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(shared.UpdateArmed, 1);
    EXPECT_EQ(UpdateLabel(), "&Cancel");
    EXPECT_TRUE(Posts(WM_QUIT).empty());

    // Yes: stopped as Cancel stops it (the line back at the operator's settings), then
    // the worker is told to quit.
    ClearPosts();
    boxes.answers = {true};
    dlg->close();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(finished, QDialog::Rejected);
    EXPECT_EQ(shared.UpdateArmed, 0);
    EXPECT_EQ(PostIds(), (std::vector<uint32_t>{WM_OPEN_PORT, WM_QUIT}));
    EXPECT_EQ(Items(IDC_LOG).back(), "Stop updating!!!");
    ASSERT_TRUE(WaitForUi([&] { return shared.WorkerThreadId == 0; }));
}

TEST_F(OperatorFlowTest, UpdateOnALostLineOpensItFirstOrSaysWhyItCannot) {
    // com1 is the adapter's name, a link to the pty it is on now: a pulled adapter's
    // name goes with it (a pty's own name may soon be another test's).
    const std::string adapter = Work("ttyUSB0");
    auto plugIn = [&](const TestPty& line) {
        fs::remove(adapter);
        fs::create_symlink(line.SlavePath(), adapter);
    };
    auto pull = [&](TestPty& line) {
        fs::remove(adapter);
        line.CloseMaster();
    };
    plugIn(pty);
    WriteSettings("[PLANT]\r\nXTLO=4\r\n[VIEW]\r\nengineering=1\r\n[PORTS]\r\ncom1=" + adapter + "\r\n");
    OpenDialog();
    ASSERT_TRUE(WaitForUi([&] { return Lamp() == kLampOpen; }));
    OpenWithOpenFile({Sample("FONT.bin")});

    // The adapter is pulled while nothing runs: the lamp and the port button both say
    // the port is closed.
    pull(pty);
    ASSERT_TRUE(WaitForUi([&] { return Lamp() == kLampClosed && !boxes.shown.empty(); }));
    EXPECT_EQ(boxes.Titles(), std::vector<std::string>{"The serial line was lost!"});
    EXPECT_EQ(Button(IDC_OPENCLOSEPORT)->text(), "Open&Port");

    // Update while it is still gone: the open is tried, fails with its cause, and the
    // window is ready for the next Update.
    ClearPosts();
    Button(IDC_UPDATE)->click();
    ASSERT_TRUE(WaitForUi([&] { return UpdateLabel() == "&Update"; }));
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.Titles()[1], "Can't open port!");
    EXPECT_NE(boxes.shown[1].text.find(adapter + ": "), std::string::npos) << boxes.shown[1].text;
    EXPECT_EQ(PostIds(), std::vector<uint32_t>{WM_OPEN_PORT});
    EXPECT_NE(LogFrom("The update did not start:").find("Can't open port!"), std::string::npos)
        << LogText();
    EXPECT_EQ(Progress(), 0);
    EXPECT_EQ(shared.UpdateArmed, 0);

    // Plugged in again: Update opens the line and wakes the board on it.
    TestPty replugged;
    plugIn(replugged);
    ClearPosts();
    Button(IDC_UPDATE)->click();
    ASSERT_TRUE(WokenUp(replugged));
    EXPECT_EQ(PostIds(), (std::vector<uint32_t>{WM_OPEN_PORT, WM_START_UPDATE}));
    EXPECT_EQ(UpdateLabel(), "&Cancel");
    ASSERT_TRUE(WaitForUi([&] { return Lamp() == kLampOpen; }));
    EXPECT_EQ(Button(IDC_OPENCLOSEPORT)->text(), "Close&Port");
    EXPECT_EQ(boxes.shown.size(), 2u);
    Button(IDC_UPDATE)->click();

    // An erase typed at the console on a lost line opens it first, as Update does.
    // (Pulled while the cancel reopens the line, it is lost or cannot be opened.)
    pull(replugged);
    ASSERT_TRUE(WaitForUi([&] { return Lamp() == kLampClosed && boxes.shown.size() >= 3; }));
    TestPty again;
    plugIn(again);
    SetCommand("initflash");
    ClearPosts();
    Button(IDC_COMMAND)->click();
    ASSERT_TRUE(WokenUp(again)) << [&] {
        std::string all;
        for (auto id : PostIds()) all += std::to_string(id) + " ";
        for (auto& b : boxes.shown) all += "| " + b.text;
        return all + " | " + LogText();
    }();
    EXPECT_EQ(PostIds(), (std::vector<uint32_t>{WM_OPEN_PORT, WM_CONSOLE_COMMAND}));
    EXPECT_EQ(UpdateLabel(), "&Cancel");
    Button(IDC_UPDATE)->click();
}

TEST_F(OperatorFlowTest, AnUpdateThatCannotStartOrIsCutOffSaysWhyAndIsReadyAgain) {
    struct Case {
        const char* name;
        std::function<void()> arrange;  // before the window opens
        std::function<void()> board;    // the board's side once woken (none: not woken)
        const char* logStart;
        const char* because;
    };
    const Case cases[] = {
        {"no crystal", [&] { WriteSettings("[PLANT]\r\nXTLO=9\r\n[PORTS]\r\ncom1=" + pty.SlavePath() + "\r\n"); },
         nullptr, "The update did not start:", "No crystal is chosen: [PLANT] XTLO=9 in "},
        {"no loader 1", [&] { fs::remove(Lib() + "/Pgm_27M.bin"); }, nullptr, "The update did not start:", "Pgm_27M.bin"},
        {"line lost after loader 1",
         {},
         [&] {
             // The 'W' again until it is taken (one sent while the line is reopened at
             // the boot speed is lost); once loader 1 is out and the line listens at
             // 115200, the adapter is pulled.
             sleeper.HoldAt(300);
             ASSERT_TRUE(WaitForUi([&] {
                 if (!sleeper.Holding())
                     pty.Send("W");
                 return sleeper.Holding();
             }));
             sleeper.Release();
             ASSERT_TRUE(WaitForUi([&] { return Progress() == 1; }));
             pty.CloseMaster();
         },
         "The update stopped:", "The serial line was lost!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteSettings("[PLANT]\r\nXTLO=4\r\n[PORTS]\r\ncom1=" + pty.SlavePath() + "\r\n");
        if (c.arrange)
            c.arrange();
        boxes.shown.clear();
        OpenDialog();
        ASSERT_TRUE(WaitForUi([&] { return Lamp() == kLampOpen; }));
        OpenWithOpenFile({Sample("FONT.bin")});
        Button(IDC_UPDATE)->click();
        if (c.board) {
            ASSERT_TRUE(WokenUp(pty));
            c.board();
        }
        ASSERT_TRUE(WaitForUi([&] { return UpdateLabel() == "&Update"; }));
        ASSERT_TRUE(WaitForUi([&] { return !LogFrom(c.logStart).empty(); })) << LogText();
        EXPECT_NE(LogFrom(c.logStart).find(c.because), std::string::npos) << LogFrom(c.logStart);
        EXPECT_FALSE(boxes.shown.empty());
        EXPECT_EQ(Progress(), 0);
        EXPECT_EQ(shared.UpdateArmed, 0);
        dlg.reset();
        fs::remove_all(Lib());
        fs::copy(BinFolder() + "/Lib", Lib());
    }
}

TEST_F(OperatorFlowTest, RefusedFilesAreMarkedAndAnUpdateOfNothingSendsNothing) {
    const std::string notes = Work("notes.txt");
    std::ofstream(notes) << "not an update file\n";
    WriteSettings("[PLANT]\r\nXTLO=4\r\n[PORTS]\r\ncom1=" + pty.SlavePath() + "\r\n");
    OpenDialog();

    // One refused beside one taken: the refused one is marked, the update goes ahead.
    OpenWithOpenFile({notes, Sample("FONT.bin")});
    ASSERT_TRUE(WaitForUi([&] { return LogLinesWith(Sample("FONT.bin")) == 1; }));
    EXPECT_NE(LogText().find("----Include Files:\n" + notes + "\nRefused: " + notes), std::string::npos) << LogText();
    EXPECT_NE(LogText().find("\n" + Sample("FONT.bin") + "\n"), std::string::npos) << LogText();
    EXPECT_EQ(LogLinesWith("Refused: "), 1u);
    ClearPosts();
    Button(IDC_UPDATE)->click();
    EXPECT_EQ(Posts(WM_START_UPDATE).size(), 1u);
    Button(IDC_UPDATE)->click();

    // Only refused files: Update says there is nothing to send, and sends nothing.
    boxes.shown.clear();
    OpenWithOpenFile({notes});
    ASSERT_TRUE(WaitForUi([&] { return LogLinesWith("Refused: ") == 2; }));
    ASSERT_TRUE(WaitForUi([&] { return !boxes.shown.empty(); }));  // the refusal's own box
    boxes.shown.clear();
    ClearPosts();
    Button(IDC_UPDATE)->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_NE(boxes.shown[0].text.find("None of the opened files"), std::string::npos) << boxes.shown[0].text;
    EXPECT_TRUE(Posts(WM_START_UPDATE).empty());
    EXPECT_EQ(UpdateLabel(), "&Update");
    EXPECT_EQ(shared.UpdateArmed, 0);

    // A save is logged only once it is made.
    OpenWithOpenFile({Sample("FONT.bin")});
    files.saveAnswers.push_back(Work("missing folder/FlashMap.bin"));
    dlg->ShowEngineeringControls(true);
    Button(IDC_SAVEASBIN)->click();
    ASSERT_TRUE(WaitForUi([&] { return shared.BusyFlag == 0 && boxes.shown.size() == 2; }));
    EXPECT_EQ(LogLinesWith("----Save Files To:"), 0u);
    files.saveAnswers.push_back(Work("FlashMap.bin"));
    Button(IDC_SAVEASBIN)->click();
    ASSERT_TRUE(WaitForUi([&] { return LogLinesWith("----Save Files To:") == 1; }));
    EXPECT_TRUE(fs::exists(Work("FlashMap.bin")));
}

TEST_F(OperatorFlowTest, ACancelTakesTheProgressBarBackToZeroForGood) {
    WriteSettings("[PLANT]\r\nXTLO=4\r\n[PORTS]\r\ncom1=" + pty.SlavePath() + "\r\n");
    OpenDialog();
    OpenWithOpenFile({Sample("FONT.bin")});
    Button(IDC_UPDATE)->click();
    ASSERT_TRUE(WokenUp(pty));

    // Loader 1 is asked for, and the operator cancels while it is going out (the
    // worker is held in the pause that follows its write).
    // The 'W' is sent again until it is taken: one that comes while the line is being
    // reopened at the boot speed is lost, as it would be on a real line.
    sleeper.HoldAt(300);
    ASSERT_TRUE(WaitForUi([&] {
        if (!sleeper.Holding())
            pty.Send("W");
        return sleeper.Holding();
    }));
    Button(IDC_UPDATE)->click();
    EXPECT_EQ(Progress(), 0);
    sleeper.Release();

    // What the worker then reports about the run that was cancelled does not bring the
    // bar back. Console text the board sends afterwards shows that the worker is past it.
    ASSERT_TRUE(WaitForUi([&] {
        pty.Receive(4096, 1);
        pty.Send("ping\n");
        for (const auto& line : Items(IDC_CONSOLE))
            if (line.size() >= 4 && line.compare(line.size() - 4, 4, "ping") == 0)
                return true;
        return false;
    }));
    EXPECT_EQ(Progress(), 0);
    EXPECT_EQ(UpdateLabel(), "&Update");
}

TEST_F(OperatorFlowTest, ABoardThatReportsFinishedEarlyBringsAWarningAfterTheLogLine) {
    for (const char* fault : {"early-d", "skip-sections"}) {
        SCOPED_TRACE(fault);
        BoardProcess board(BinFolder(), {"--crystal", "27M", "--once", "--fault", fault, "--flash", Work("flash.bin"),
                                         "--reply-gap-ms", "40", "--progress-gap-ms", "5"},
                           Work("board.log"));
        ASSERT_FALSE(board.Device().empty());
        WriteSettings("[PLANT]\r\nXTLO=4\r\n[PORTS]\r\ncom1=" + board.Device() + "\r\n");
        boxes.shown.clear();
        OpenDialog();
        std::string logWhenShown;
        boxes.onShow = [&] { logWhenShown = LogText(); };
        OpenWithOpenFile({Sample("code.s"), Sample("FONT.bin"), Sample("LOGO.bin")});
        ASSERT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
        Button(IDC_UPDATE)->click();
        ASSERT_TRUE(WaitForUi([&] { return UpdateLabel() == "&Update"; }, 120s)) << board.Report();
        ASSERT_TRUE(WaitForUi([&] { return !boxes.shown.empty(); }));
        EXPECT_EQ(boxes.shown[0].caption, "Warning");
        EXPECT_NE(boxes.shown[0].text.find("never asked for"), std::string::npos) << boxes.shown[0].text;
        if (std::string(fault) == "skip-sections") {
            EXPECT_NE(boxes.shown[0].text.find("FONT and LOGO"), std::string::npos) << boxes.shown[0].text;
        }
        // The board's own words stay in the log, and the box comes after them.
        EXPECT_EQ(LogLinesWith("5.Update finished!!!"), 1u);
        EXPECT_NE(logWhenShown.find("5.Update finished!!!"), std::string::npos) << logWhenShown;
        EXPECT_EQ(Progress(), 0);
        EXPECT_TRUE(dlg->FileOpened());  // the files are still there for another try
        EXPECT_TRUE(Button(IDC_OPENFILE)->isEnabled());
        dlg.reset();
        boxes.onShow = nullptr;
        board.Wait();
    }
}

TEST_F(OperatorFlowTest, AWireTraceIsNeverRecordedOverAFileOrDeviceTheWindowUses) {
    WriteSettings("[PLANT]\r\nXTLO=4\r\n[PORTS]\r\ncom1=" + pty.SlavePath() + "\r\n");
    const std::string notes = Work("notes.txt");
    std::ofstream(notes) << "the operator's own notes\n";
    const std::string fifo = Work("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string firmware = Work("FONT.bin");
    fs::copy(Sample("FONT.bin"), firmware);
    OpenDialog();
    ASSERT_TRUE(WaitForUi([&] { return Lamp() == kLampOpen; }));
    OpenWithOpenFile({firmware});

    const std::string refused[] = {firmware, Lib() + "/FlashAddrAssign.h", Lib() + "/Pgm_27M.bin",
                                   Lib() + "/Pgm_M850T.bin", SettingsPath(), pty.SlavePath(), "/dev/null", fifo,
                                   notes};
    for (const std::string& path : refused) {
        SCOPED_TRACE(path);
        std::error_code ec;
        const auto before = fs::is_regular_file(path) ? ReadText(path) : std::string();
        const auto changed = fs::is_regular_file(path) ? fs::last_write_time(path, ec) : fs::file_time_type{};
        boxes.shown.clear();
        files.saveAnswers.push_back(path);
        EXPECT_FALSE(dlg->ToggleWireTrace());
        EXPECT_FALSE(dlg->RecordingWireTrace());
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.Titles()[0], "Can't record the wire trace!");
        EXPECT_NE(boxes.shown[0].text.find(path + ": "), std::string::npos) << boxes.shown[0].text;
        if (fs::is_regular_file(path)) {
            EXPECT_EQ(ReadText(path), before);
            EXPECT_EQ(fs::last_write_time(path, ec), changed);
        }
    }
    EXPECT_TRUE(fs::is_fifo(fifo));

    // An earlier trace may be recorded over.
    files.saveAnswers.push_back(Work("wire.trace"));
    ASSERT_TRUE(dlg->ToggleWireTrace());
    ASSERT_TRUE(dlg->ToggleWireTrace());
    boxes.shown.clear();
    files.saveAnswers.push_back(Work("wire.trace"));
    EXPECT_TRUE(dlg->ToggleWireTrace());
    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
}

TEST_F(OperatorFlowTest, ASettingsValueOutsideItsListIsNamedWhenThePortCannotOpen) {
    struct Case {
        const char* settings;
        std::vector<const char*> named;
    } cases[] = {
        {"[COM]\r\nbaudrate=99\r\n", {"baudrate=99"}},
        {"[COM]\r\nportno=9\r\nparity=3\r\n", {"portno=9", "parity=3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        WriteSettings(std::string(c.settings) + "[PORTS]\r\ncom1=" + pty.SlavePath() + "\r\n");
        boxes.shown.clear();
        OpenDialog();
        ASSERT_TRUE(WaitForUi([&] { return !boxes.shown.empty(); }));
        EXPECT_EQ(boxes.Titles()[0], "Can't open port!");
        const std::string detail = boxes.shown[0].text.substr(boxes.shown[0].text.find('\n') + 1);
        for (const char* named : c.named)
            EXPECT_NE(detail.find(named), std::string::npos) << detail;
        EXPECT_NE(detail.find("[COM]"), std::string::npos) << detail;
        EXPECT_NE(detail.find(SettingsPath()), std::string::npos) << detail;
        EXPECT_EQ(Lamp(), kLampClosed);
        dlg.reset();
    }
}

TEST_F(OperatorFlowTest, ChoicesThatCannotBeKeptAreSaidOnceInTheLog) {
    shared.LibFolder = Work("no such folder");
    OpenDialog(SerialLineFactory([this](uint32_t) { return pty.SlavePath(); }));
    Choose(IDC_PORTNO, 1);
    Choose(IDC_XTLO, 3);
    dlg->ShowEngineeringControls(true);
    EXPECT_EQ(LogLinesWith("not be saved"), 1u) << LogText();
    EXPECT_FALSE(fs::exists(Work("no such folder")));
    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
}

}  // namespace
}  // namespace window_test
