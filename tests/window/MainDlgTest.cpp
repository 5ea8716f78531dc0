// The main dialog's operator flow, its settings file and console list, offscreen.
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QImage>
#include <QScreen>
#include <QScrollArea>
#include <cmath>
#include <QUrl>

#include "console/DialogUnits.h"
#include "serial/LineFactory.h"
#include "tests/window/WindowHarness.h"

namespace window_test {
namespace {

std::string Joined(const std::vector<std::string>& items, size_t from, size_t count) {
    std::string all;
    for (size_t i = from; i < from + count && i < items.size(); ++i)
        all += items[i];
    return all;
}

TEST_F(WindowTest, OpenFileResetsOnceLoadsEachFileAndUpdateArmsAndCancels) {
    OpenDialog();
    EXPECT_EQ(dlg->windowTitle(), "Kestrel V1.003 Build 08032116");

    // Nothing opened yet, then a cancelled choice: Update only asks for files.
    Button(IDC_UPDATE)->click();
    Button(IDC_OPENFILE)->click();
    Button(IDC_UPDATE)->click();
    ASSERT_EQ(boxes.shown.size(), 2u);
    for (const auto& box : boxes.shown) {
        EXPECT_EQ(box.text, "Please open file first!");
        EXPECT_EQ(box.caption, "Warning");
    }
    EXPECT_TRUE(Posts(WM_START_UPDATE).empty());
    EXPECT_EQ(Posts(WM_RESET_IMAGE).size(), 1u);  // the cancelled choice still reset the image
    EXPECT_FALSE(dlg->FileOpened());
    EXPECT_EQ(files.filters.back(), "s,bin文件 (*.bin;*.s)|*.bin;*.s|所有文件 (*.*)|*.*||");

    // Three files, one with a path longer than a log line.
    const std::string deep = Work("a folder whose name makes the path longer than one log line");
    fs::create_directories(deep);
    fs::copy(Sample("LOGO.bin"), deep + "/LOGO.bin");
    const std::vector<std::string> chosen = {Sample("FONT.bin"), Sample("BITMAP.bin"), deep + "/LOGO.bin"};
    files.openAnswers.push_back(chosen);
    posts.clear();
    const int logBefore = ListBox(IDC_LOG)->count();
    Button(IDC_OPENFILE)->click();
    WaitUntilIdle();
    EXPECT_TRUE(dlg->FileOpened());
    ASSERT_EQ(posts.size(), 4u);
    EXPECT_EQ(posts[0].id, WM_RESET_IMAGE);
    for (size_t i = 0; i < chosen.size(); ++i) {
        EXPECT_EQ(posts[i + 1].id, WM_LOAD_FILE);
        EXPECT_EQ(posts[i + 1].text, chosen[i]);
    }
    const auto log = Items(IDC_LOG);
    const size_t first = static_cast<size_t>(logBefore);
    ASSERT_EQ(log.size(), first + 1 + 1 + 1 + chosen[2].size() / 54 + 1);
    EXPECT_EQ(log[first], "----Include Files:");
    EXPECT_EQ(log[first + 1], chosen[0]);
    EXPECT_EQ(log[first + 2], chosen[1]);
    EXPECT_EQ(log[first + 3].size(), 54u);
    EXPECT_EQ(Joined(log, first + 3, chosen[2].size() / 54 + 1), chosen[2]);
    EXPECT_TRUE(boxes.shown.size() == 2u) << boxes.shown.back().text;  // every file was taken

    // Update arms with the crystal's index; a second click disarms and reopens the line.
    Choose(IDC_XTLO, 4);
    posts.clear();
    Button(IDC_UPDATE)->click();
    EXPECT_EQ(Button(IDC_UPDATE)->text(), "&Cancel");
    EXPECT_EQ(shared.UpdateArmed, 1);
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].id, WM_START_UPDATE);
    EXPECT_EQ(posts[0].wParam, 4u);
    EXPECT_EQ(Items(IDC_LOG).back(), "Ready to update program......");

    posts.clear();
    Button(IDC_UPDATE)->click();
    EXPECT_EQ(Button(IDC_UPDATE)->text(), "&Update");
    EXPECT_EQ(shared.UpdateArmed, 0);
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].id, WM_OPEN_PORT);
    EXPECT_EQ(posts[0].lParam, 1);
    EXPECT_EQ(posts[0].text, "115200,N,8,1");
    EXPECT_EQ(posts[0].wParam, posts[0].text.size());
    EXPECT_EQ(Items(IDC_LOG).back(), "Stop updating!!!");
}

TEST_F(WindowTest, FilesDroppedOnTheWindowOpenAsIfChosen) {
    OpenDialog();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(Sample("FONT.bin"))),
                  QUrl::fromLocalFile(QString::fromStdString(Sample("code.s")))});
    const QPointF inside(dlg->width() / 2.0, dlg->height() / 2.0);
    QDragEnterEvent enter(inside.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dlg.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(inside, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dlg.get(), &drop);
    ASSERT_TRUE(WaitForUi([&] { return Posts(WM_LOAD_FILE).size() == 2 && !dlg->Busy(); }));
    WaitUntilIdle();
    EXPECT_EQ(Posts(WM_RESET_IMAGE).size(), 1u);
    EXPECT_TRUE(dlg->FileOpened());
    const auto log = Items(IDC_LOG);
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(log.end() - 3, log.end()),
              (std::vector<std::string>{"----Include Files:", Sample("FONT.bin"), Sample("code.s")}));
}

TEST_F(WindowTest, ButtonsAnswerToTheirMnemonicsAndTheMenuCommandShowsTheAboutBox) {
    // The keys themselves are pressed in the real-window test; here, which key each
    // button answers to, armed and not.
    OpenDialog();
    EXPECT_EQ(Button(IDC_OPENFILE)->shortcut(), QKeySequence("Alt+O"));
    EXPECT_EQ(Button(IDC_UPDATE)->shortcut(), QKeySequence("Alt+U"));
    dlg->OpenFiles({QString::fromStdString(Sample("FONT.bin"))});
    ASSERT_TRUE(WaitForUi([&] { return dlg->FileOpened() && !dlg->Busy(); }));
    Button(IDC_UPDATE)->click();
    EXPECT_EQ(Button(IDC_UPDATE)->shortcut(), QKeySequence("Alt+C"));

    dlg->OnSysCommand(0xF060);  // a close from the window menu is not the about box
    EXPECT_EQ(aboutBoxes, 0);
    dlg->OnSysCommand(IDM_ABOUTBOX | 0x3);  // the low four bits are the platform's
    EXPECT_EQ(aboutBoxes, 1);
}

TEST_F(WindowTest, ChoicesAreWrittenInPlaceAndTheLineReopensWithThem) {
    const std::string handEdited =
        "; Kestrel settings, edited by hand\r\n"
        "[com]\r\n"
        "PortNo = 0\r\n"
        "baudrate=0\r\n"
        "\r\n"
        "[Factory]\r\n"
        "station=7 ; line 3\r\n"
        "[PORTS]\r\n"
        "com1=" + pty.SlavePath() + "\r\n";
    WriteSettings(handEdited);
    OpenDialog();
    EXPECT_EQ(DropDown(IDC_PORTNO)->currentText(), "com1");
    EXPECT_EQ(DropDown(IDC_XTLO)->currentText(), "4M");

    posts.clear();
    Choose(IDC_PORTNO, 2);  // com3
    Choose(IDC_BAUDRATE, 4);  // 9600
    Choose(IDC_XTLO, 4);  // 27M: kept, nothing posted
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(posts[0].id, WM_OPEN_PORT);
    EXPECT_EQ(posts[0].lParam, 3);
    EXPECT_EQ(posts[0].text, "115200,N,8,1");
    EXPECT_EQ(posts[1].lParam, 3);
    EXPECT_EQ(posts[1].text, "9600,N,8,1");
    EXPECT_EQ(ReadText(SettingsPath()),
              "; Kestrel settings, edited by hand\r\n"
              "[com]\r\n"
              "PortNo=2\r\n"
              "baudrate=4\r\n"
              "\r\n"
              "[Factory]\r\n"
              "station=7 ; line 3\r\n"
              "[PORTS]\r\n"
              "com1=" + pty.SlavePath() + "\r\n"
              "\r\n"
              "[PLANT]\r\n"
              "XTLO=4\r\n");

    // Without a library folder the choice holds in the window and nobody is bothered.
    dlg.reset();
    shared.LibFolder = Work("no such folder");
    OpenDialog(SerialLineFactory([this](uint32_t) { return pty.SlavePath(); }));
    posts.clear();
    Choose(IDC_PORTNO, 1);
    ASSERT_EQ(Posts(WM_OPEN_PORT).size(), 1u);
    EXPECT_EQ(Posts(WM_OPEN_PORT)[0].lParam, 2);
    EXPECT_FALSE(fs::exists(Work("no such folder")));
    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
}

TEST_F(WindowTest, TheSettingsTextFollowsTheStoredIndexes) {
    struct Case {
        const char* file;  // nullptr: no settings file at all
        const char* settings;
        const char* dataBitsShown;
    } cases[] = {
        {nullptr, "115200,N,8,1", "8"},
        {"[COM]\nbaudrate=7\n", ",N,8,1", "8"},
        {"[COM]\ndatabits=1\nparity=2\n", "115200,O,,1", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file ? c.file : "no file");
        if (c.file)
            WriteSettings(c.file);
        else
            fs::remove(SettingsPath());
        posts.clear();
        OpenDialog(SerialLineFactory([this](uint32_t) { return pty.SlavePath(); }));
        ASSERT_FALSE(posts.empty());
        EXPECT_EQ(posts[0].id, WM_OPEN_PORT);
        EXPECT_EQ(posts[0].lParam, 1);
        EXPECT_EQ(posts[0].text, c.settings);
        EXPECT_EQ(DropDown(IDC_DATABITS)->currentText().toStdString(), c.dataBitsShown);
        EXPECT_EQ(DropDown(IDC_PORTNO)->currentText(), "com1");
        EXPECT_EQ(DropDown(IDC_XTLO)->currentText(), "4M");
        dlg.reset();
    }
}

TEST_F(WindowTest, APortThatCannotOpenSaysWhichDeviceAndWhy) {
    WriteSettings("[PORTS]\ncom1=" + pty.SlavePath() + "\ncom2=/dev/kestrel-no-such-tty\n");
    OpenDialog();
    EXPECT_TRUE(DropDown(IDC_PORTNO)->toolTip().contains("com2: /dev/kestrel-no-such-tty"));
    EXPECT_EQ(DropDown(IDC_PORTNO)->itemData(0, Qt::ToolTipRole).toString().toStdString(), pty.SlavePath());
    ASSERT_TRUE(WaitForUi([&] { return dlg->GetDlgItem(IDC_LAMP)->property("bitmapId").toInt() == 134; }));

    Choose(IDC_PORTNO, 1);
    ASSERT_TRUE(WaitForUi([&] { return !boxes.shown.empty(); }));
    const auto& box = boxes.shown.front();
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.text.substr(0, box.text.find('\n')), "Can't open port!");
    EXPECT_NE(box.text.find("\n/dev/kestrel-no-such-tty: "), std::string::npos) << box.text;
    ASSERT_TRUE(WaitForUi([&] { return dlg->GetDlgItem(IDC_LAMP)->property("bitmapId").toInt() == 133; }));
}

TEST_F(WindowTest, TheBoardsConsoleTextBecomesLinesThatClearAndSaveInfoKeep) {
    OpenDialog();
    ASSERT_TRUE(WaitForUi([&] { return dlg->GetDlgItem(IDC_LAMP)->property("bitmapId").toInt() == 134; }));
    pty.Send("AB\nDE");
    ASSERT_TRUE(WaitForUi([&] { return Items(IDC_CONSOLE) == std::vector<std::string>{"AB", "DE"}; }))
        << Items(IDC_CONSOLE).size();
    EXPECT_TRUE(shared.SharedText.IsEmpty());  // handed back to the worker

    files.saveAnswers.push_back(Work("stbinfo.txt"));
    Button(IDC_SAVEINFO)->click();
    EXPECT_EQ(files.initialNames.back(), "stbinfo.txt");
    EXPECT_EQ(ReadText(Work("stbinfo.txt")), "AB\r\nDE\r\n");

    Button(IDC_CLEAR)->click();
    EXPECT_EQ(ListBox(IDC_CONSOLE)->count(), 0);
    pty.Send("F");
    ASSERT_TRUE(WaitForUi([&] { return Items(IDC_CONSOLE) == std::vector<std::string>{"DEF"}; }));

    // A file that cannot be written is reported, and the operator log is not touched.
    const int logItems = ListBox(IDC_LOG)->count();
    files.saveAnswers.push_back(Work("missing folder/stbinfo.txt"));
    Button(IDC_SAVEINFO)->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text.substr(0, 28), "Can't save the console text!");
    EXPECT_EQ(ListBox(IDC_LOG)->count(), logItems);
}

TEST_F(WindowTest, EnterEscapeAndCloseWhileBusyLeaveTheWindowOpen) {
    OpenDialog();
    dlg->show();
    Button(IDC_UPDATE)->setFocus();
    for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(Button(IDC_UPDATE), &press);
    }
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(boxes.shown.empty());  // Update was not pressed

    int finished = -1;
    QObject::connect(dlg.get(), &QDialog::finished, [&](int result) { finished = result; });
    shared.BusyFlag = 1;  // an image request under way
    dlg->close();
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(Posts(WM_QUIT).empty());

    shared.BusyFlag = 0;
    dlg->close();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(finished, QDialog::Rejected);
    EXPECT_EQ(Posts(WM_QUIT).size(), 1u);
    ASSERT_TRUE(WaitForUi([&] { return shared.WorkerThreadId == 0; }));
}

TEST_F(WindowTest, EngineeringControlsStayHiddenUntilAskedForAndTheChoiceIsKept) {
    OpenDialog();
    dlg->show();
    const DialogUnits du(dlg->font());
    EXPECT_EQ(dlg->size(), du.Size(242, 144));
    for (int id : {IDC_BAUDRATE, IDC_OPENCLOSEPORT, IDC_LAMP, IDC_SAVEASBIN, IDC_COMMAND, IDC_CONSOLE, IDC_RESERVE})
        EXPECT_FALSE(dlg->GetDlgItem(id)->isVisible()) << id;
    EXPECT_FALSE(dlg->GetDlgItem(IDC_LAMP)->isEnabled());
    EXPECT_EQ(static_cast<QLineEdit*>(dlg->GetDlgItem(IDC_COMMANDTEXT))->text(), "reset");

    dlg->ShowEngineeringControls(true);
    EXPECT_NE(ReadText(SettingsPath()).find("[VIEW]\r\nengineering=1\r\n"), std::string::npos);
    dlg.reset();
    OpenDialog();
    dlg->show();
    EXPECT_TRUE(dlg->EngineeringControlsShown());
    for (int id : {IDC_BAUDRATE, IDC_OPENCLOSEPORT, IDC_LAMP, IDC_SAVEASBIN, IDC_COMMAND, IDC_CONSOLE, IDC_RESERVE})
        EXPECT_TRUE(dlg->GetDlgItem(id)->isVisible()) << id;

    // The port button closes and reopens the line; the command goes with the crystal.
    posts.clear();
    Button(IDC_OPENCLOSEPORT)->click();
    EXPECT_EQ(Button(IDC_OPENCLOSEPORT)->text(), "Open&Port");
    EXPECT_EQ(dlg->GetDlgItem(IDC_LAMP)->property("bitmapId").toInt(), 133);
    Button(IDC_OPENCLOSEPORT)->click();
    EXPECT_EQ(Button(IDC_OPENCLOSEPORT)->text(), "Close&Port");
    Choose(IDC_XTLO, 2);
    Button(IDC_COMMAND)->click();
    ASSERT_EQ(posts.size(), 3u);
    EXPECT_EQ(posts[0].id, WM_CLOSE_PORT);
    EXPECT_EQ(posts[1].id, WM_OPEN_PORT);
    EXPECT_EQ(posts[2].id, WM_CONSOLE_COMMAND);
    EXPECT_EQ(posts[2].text, "reset");
    EXPECT_EQ(posts[2].lParam, 2);
    std::vector<uint8_t> sent;
    ASSERT_TRUE(WaitForUi([&] {
        const auto more = pty.Receive(16 - sent.size(), 1);
        sent.insert(sent.end(), more.begin(), more.end());
        return sent.size() >= 16;
    })) << sent.size();
    EXPECT_EQ(sent, std::vector<uint8_t>(16, 0xFF));  // the board's reset
}

TEST_F(WindowTest, TheLayoutKeepsItsProportionsAndClipsNothingAtAnyFontSize) {
    for (int points : {7, 9, 15}) {
        for (bool engineering : {false, true}) {
            SCOPED_TRACE(std::to_string(points) + (engineering ? " pt, engineering" : " pt"));
            OpenDialog();
            QFont font = dlg->font();
            font.setPointSize(points);
            dlg->setFont(font);
            dlg->ShowEngineeringControls(engineering);
            dlg->show();
            const DialogUnits du(font);
            // The whole window where the screen has room for it; else as high as the
            // screen lets it be, the engineering controls scrolling below the face.
            const int room = dlg->screen()->availableGeometry().height();
            const QSize whole = du.Size(242, engineering ? 302 : 144);
            const bool fits = whole.height() <= room - 40;
            if (fits || !engineering) {
                EXPECT_EQ(dlg->size(), whole);
            } else if (du.Y(144 + 12) + 40 <= room) {  // (a screen lower than the face itself cannot help it)
                EXPECT_LE(dlg->frameGeometry().height(), room);
            }
            EXPECT_EQ(dlg->GetDlgItem(IDC_LOG)->geometry(), du.Rect(16, 11, 209, 68));
            EXPECT_EQ(dlg->GetDlgItem(IDC_PROGRESS)->geometry(), du.Rect(16, 121, 213, 14));
            // Every shown control lies inside the window (or its scrolled panel), none
            // on another, and every label and button has room for its text.
            std::vector<std::pair<QWidget*, QRect>> shown;
            for (QWidget* w : dlg->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
                if (!w->isVisible())
                    continue;
                if (auto* area = qobject_cast<QScrollArea*>(w)) {
                    QWidget* panel = area->widget();
                    EXPECT_LE(panel->width(), area->viewport()->width()) << area->width();
                    for (QWidget* c : panel->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
                        if (!c->isVisible())
                            continue;
                        EXPECT_TRUE(panel->rect().contains(c->geometry()))
                            << c->objectName().toStdString() << " " << c->metaObject()->className();
                        shown.push_back({c, c->geometry().translated(0, du.Y(144) + 10000)});
                    }
                    continue;
                }
                shown.push_back({w, w->geometry()});
                EXPECT_TRUE(dlg->rect().contains(w->geometry())) << w->objectName().toStdString();
            }
            for (const auto& [a, ra] : shown) {
                for (const auto& [b, rb] : shown) {
                    if (a != b) {
                        EXPECT_FALSE(ra.intersects(rb))
                            << a->objectName().toStdString() << " " << a->metaObject()->className() << " / "
                            << b->objectName().toStdString() << " " << b->metaObject()->className();
                    }
                }
                if (auto* button = qobject_cast<QAbstractButton*>(a)) {
                    const int textWidth = button->fontMetrics().horizontalAdvance(button->text().remove('&'));
                    EXPECT_LE(textWidth, button->width()) << button->text().toStdString();
                }
            }
            dlg.reset();
        }
    }
}

TEST_F(WindowTest, AtAnyScaleTheWindowFitsItsScreenAndTheListsKeepTheirFrames) {
    // Run at the platform's scale here, and at 1.5 and 2 by their own tests.
    WriteSettings("[VIEW]\r\nengineering=1\r\n[PORTS]\r\ncom1=" + pty.SlavePath() + "\r\n");
    OpenDialog();
    dlg->show();
    const QRect screen = dlg->screen()->availableGeometry();
    EXPECT_LE(dlg->frameGeometry().height(), screen.height());
    // Each list's frame is drawn whole: its right and bottom lines are there, darker
    // than the list's white and the window's grey, across the list and its scroll bar.
    const QImage shot = dlg->grab().toImage();
    const qreal ratio = shot.devicePixelRatio();
    for (int id : {IDC_LOG, IDC_CONSOLE}) {
        QWidget* list = dlg->GetDlgItem(id);
        const QRect r(list->mapTo(dlg.get(), QPoint(0, 0)), list->size());
        const int right = static_cast<int>(std::ceil((r.right() + 1) * ratio)) - 1;
        const int bottom = static_cast<int>(std::ceil((r.bottom() + 1) * ratio)) - 1;
        // (The line is the last or the last but one screen pixel.)
        auto darkest = [&](int x0, int y0, int dx, int dy) {
            return std::min(qGray(shot.pixel(x0, y0)), qGray(shot.pixel(x0 - dx, y0 - dy)));
        };
        for (int y : {r.top() + r.height() / 3, r.top() + r.height() / 2})
            EXPECT_LT(darkest(right, static_cast<int>(y * ratio), 1, 0), 230) << id << " right at scale " << ratio;
        for (int x : {r.left() + r.width() / 2, r.right() - 4})
            EXPECT_LT(darkest(static_cast<int>(x * ratio), bottom, 0, 1), 230) << id << " bottom at scale " << ratio;
    }
    // Every engineering control can be scrolled into view.
    auto* area = dlg->findChild<QScrollArea*>();
    ASSERT_NE(area, nullptr);
    for (int id : {IDC_BAUDRATE, IDC_COMMAND, IDC_CONSOLE, IDC_SAVEINFO}) {
        QWidget* control = dlg->GetDlgItem(id);
        area->ensureWidgetVisible(control, 0, 0);
        const QRect inView(control->mapTo(area->viewport(), QPoint(0, 0)), control->size());
        EXPECT_TRUE(area->viewport()->rect().contains(inView)) << id;
    }
}

}  // namespace
}  // namespace window_test

namespace window_test {
namespace {

// The hex of every RX line of a wire trace, run together.
std::string ReceivedHex(const std::string& trace) {
    std::string hex;
    size_t at = 0;
    while ((at = trace.find(" RX ", at)) != std::string::npos) {
        at += 4;
        const size_t end = trace.find('\n', at);
        hex += trace.substr(at, end - at);
    }
    return hex;
}

TEST_F(WindowTest, AWireTraceRecordsTheLineFromWhenItIsTurnedOnUntilItIsTurnedOff) {
    OpenDialog();
    ASSERT_TRUE(WaitForUi([&] { return dlg->GetDlgItem(IDC_LAMP)->property("bitmapId").toInt() == 134; }));

    files.saveAnswers.push_back(Work("no-such-folder/wire.trace"));
    EXPECT_FALSE(dlg->ToggleWireTrace());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text.substr(0, boxes.shown[0].text.find('\n')), "Can't record the wire trace!");
    EXPECT_FALSE(dlg->RecordingWireTrace());

    files.saveAnswers.push_back(Work("wire.trace"));
    ASSERT_TRUE(dlg->ToggleWireTrace());
    EXPECT_TRUE(dlg->RecordingWireTrace());
    pty.Send("AB\n");
    ASSERT_TRUE(WaitForUi([&] { return !Items(IDC_CONSOLE).empty() && Items(IDC_CONSOLE)[0] == "AB"; }));
    ASSERT_TRUE(dlg->ToggleWireTrace());
    EXPECT_FALSE(dlg->RecordingWireTrace());
    pty.Send("CD\n");
    ASSERT_TRUE(WaitForUi([&] { return Items(IDC_CONSOLE).size() >= 2 && Items(IDC_CONSOLE)[1] == "CD"; }));

    const std::string trace = ReadText(Work("wire.trace"));
    EXPECT_NE(trace.find(" OPEN " + pty.SlavePath() + " 115200,N,8,1\n"), std::string::npos) << trace;
    EXPECT_EQ(ReceivedHex(trace), "41420a") << trace;  // only what came while it was on
}

}  // namespace
}  // namespace window_test
