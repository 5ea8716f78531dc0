// A whole update through the window against the virtual board over a pty.
#include "tests/e2e/BoardProcess.h"
#include "tests/window/WindowHarness.h"

namespace window_test {
namespace {

TEST_F(WindowTest, AFullUpdateThroughTheWindowFlashesTheBoard) {
    BoardProcess board(BinFolder(), {"--crystal", "27M", "--once", "--flash", Work("flash.bin"), "--reply-gap-ms", "40",
                                     "--progress-gap-ms", "15"},
                       Work("board.log"));
    ASSERT_FALSE(board.Device().empty());
    WriteSettings("[COM]\r\nportno=0\r\n[PLANT]\r\nXTLO=4\r\n[PORTS]\r\ncom1=" + board.Device() + "\r\n");
    OpenDialog();
    std::vector<int> progress;
    QObject::connect(static_cast<CPercentProgressBar*>(dlg->GetDlgItem(IDC_PROGRESS)), &CPercentProgressBar::PositionChanged,
                     [&](int value) { progress.push_back(value); });

    files.openAnswers.push_back({Sample("FONT.bin"), Sample("LOGO.bin")});
    Button(IDC_OPENFILE)->click();
    WaitUntilIdle();
    Button(IDC_UPDATE)->click();
    ASSERT_EQ(Button(IDC_UPDATE)->text(), "&Cancel");
    ASSERT_TRUE(WaitForUi([&] { return Button(IDC_UPDATE)->text() == "&Update"; }, 120s)) << board.Report();

    EXPECT_EQ(Items(IDC_LOG).back(), "5.Update finished!!!");
    ASSERT_GE(progress.size(), 2u);
    EXPECT_EQ(progress[progress.size() - 2], 100);
    EXPECT_EQ(progress.back(), 0);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end() - 1)) << "progress went back";
    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
    EXPECT_EQ(board.Wait(), 0) << board.Report();  // every check of the board held

    // The image stays: Update again starts another update with the same files.
    EXPECT_TRUE(dlg->FileOpened());
}

}  // namespace
}  // namespace window_test
