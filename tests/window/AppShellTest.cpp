// The application shell: version texts, the about box, the hidden simplified dialog,
// and the file choosers' filters.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QTimer>
#include <QFileDialog>
#include <QMouseEvent>
#include <QRegularExpression>

#include "app/AboutDlg.h"
#include "app/StartUp.h"
#include "app/VersionText.h"
#include "console/FileChooser.h"
#include "console/UserDlg.h"
#include "tests/window/WindowHarness.h"

namespace {

TEST(VersionText, ProductFieldsPlainAndFileFieldsTwoDigitsEach) {
    EXPECT_EQ(FormatVersionText({1, 0, 0, 3}, {8, 3, 21, 16}), "V1.003 Build 08032116");
    EXPECT_EQ(FormatVersionText({1, 2, 10, 3}, {9, 12, 1, 7}), "V1.2103 Build 09120107");
    // This build's numbers, from the one place that holds them.
    EXPECT_EQ(GetVersionText(), "V1.003 Build 08032116");
    CAboutDlg about;
    EXPECT_EQ(about.Text(), "Kestrel V1.003 Build 08032116");
    EXPECT_EQ(about.windowTitle(), "关于 Kestrel");
}

TEST(SimplifiedDialog, StaysHiddenLeadsBackToTheMainWindowAndEndsTheApplication) {
    int backToMain = 0;
    CUserDlg user([&] { ++backToMain; });
    EXPECT_FALSE(user.isVisible());

    user.show();
    QWidget* picture = user.GetDlgItem(1024);
    ASSERT_NE(picture, nullptr);
    const QPointF middle(picture->width() / 2.0, picture->height() / 2.0);
    QMouseEvent twice(QEvent::MouseButtonDblClick, middle, picture->mapToGlobal(middle), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(picture, &twice);
    EXPECT_FALSE(user.isVisible());
    EXPECT_EQ(backToMain, 1);

    // Closing it ends the application's event loop with status 0.
    user.show();
    QTimer::singleShot(0, &user, [&] { user.close(); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(10000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(user.isVisible());
}

// The patterns Qt's file dialog takes from a filter: those in its last brackets.
QStringList Patterns(const QString& filter) {
    const auto open = filter.lastIndexOf('(');
    return filter.mid(open + 1, filter.size() - open - 2).split(' ', Qt::SkipEmptyParts);
}

bool Offers(const QString& filter, const QString& name) {
    for (const QString& p : Patterns(filter))
        if (QRegularExpression(QRegularExpression::wildcardToRegularExpression(p)).match(name).hasMatch())
            return true;
    return false;
}

TEST(FileChooserFilters, UpperCaseNamesAreOfferedAndAllFilesMeansAll) {
    const QStringList filters = QtNameFilters("s,bin文件 (*.bin;*.s)|*.bin;*.s|所有文件 (*.*)|*.*||");
    ASSERT_EQ(filters.size(), 2);
    for (const char* name : {"FONT.BIN", "font.bin", "Logo.Bin", "code.s", "CODE.S"})
        EXPECT_TRUE(Offers(filters[0], name)) << name;
    for (const char* name : {"notes.txt", "bin", "code.sx"})
        EXPECT_FALSE(Offers(filters[0], name)) << name;
    EXPECT_TRUE(Offers(filters[1], "README"));

    // The operator reads each description as written.
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(QtNameFilters("Bin文件(*.bin)|*.bin|所有文件(*.*)|*.*||"));
    auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(types, nullptr);
    ASSERT_EQ(types->count(), 2);
    EXPECT_EQ(types->itemText(0), "Bin文件(*.bin)");
    EXPECT_EQ(types->itemText(1), "所有文件(*.*)");
}

StartUpRequest Read(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return ReadStartUp(static_cast<int>(args.size()), argv.data());
}

TEST(StartUp, ARefusedStartIsShownInABoxAsWellAsOnStandardError) {
    const StartUpRequest fine = Read({"kestrel", "--lib", "/tmp/..", "code.s", "--", "-odd name"});
    EXPECT_EQ(fine.refusal, "");
    EXPECT_EQ(fine.lib, "/");
    EXPECT_EQ(fine.files, (QStringList{"code.s", "-odd name"}));
    EXPECT_FALSE(fine.station);
    const StartUpRequest station = Read({"kestrel", "code.s", "--station", "--results", "/tmp/../r.jsonl"});
    EXPECT_TRUE(station.station);
    EXPECT_EQ(station.results, "/r.jsonl");
    EXPECT_EQ(station.files, (QStringList{"code.s"}));

    struct Case {
        std::vector<std::string> args;
        const char* named;
    } cases[] = {
        {{"kestrel", "--lib", "/nonexistent"}, "/nonexistent does not exist"},
        {{"kestrel", "--bogus"}, "--bogus"},
        {{"kestrel", "code.s", "--lib"}, "--lib"},
        {{"kestrel", "--results", "r.jsonl", "code.s"}, "--station"},  // a results file only a station writes
    };
    for (const auto& c : cases) {
        const StartUpRequest refused = Read(c.args);
        EXPECT_EQ(refused.status, 2);
        EXPECT_NE(refused.refusal.find(c.named), std::string::npos) << refused.refusal;
        // A window started from a desktop entry has no terminal: the box says it.
        window_test::RecordingBoxes boxes;
        RefuseStartUp(refused, boxes);
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].caption, "Error");
        EXPECT_EQ(boxes.Titles()[0], "Kestrel cannot start!");
        EXPECT_NE(boxes.shown[0].text.find(refused.refusal), std::string::npos);
    }
}

}  // namespace
