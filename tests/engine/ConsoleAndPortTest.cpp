// Console text, console commands and the port requests of the worker.
#include "tests/engine/WorkerFixture.h"

namespace {

class ConsoleAndPort : public WorkerFixture {};

TEST_F(ConsoleAndPort, PortNumbersOutsideTheRangeAreRefusedAndKept) {
    for (const uint32_t port : {0u, 1025u}) {
        Forget();
        OpenPort(port);
        ASSERT_EQ(owner.Boxes().size(), 1u);
        EXPECT_EQ(owner.Boxes()[0].text.rfind("Can't open port!", 0), 0u);
        EXPECT_EQ(owner.Boxes()[0].caption, "Error");
        ASSERT_EQ(owner.Posts().size(), 1u);
        EXPECT_EQ(owner.Posts()[0].wParam, STATUS_PORT_STATE);
        EXPECT_EQ(owner.Posts()[0].lParam, 0);
        EXPECT_EQ(worker->CurrentPortNumber(), port);
        EXPECT_TRUE(log.empty());
        EXPECT_TRUE(shared.SharedText.IsEmpty());
    }
}

TEST_F(ConsoleAndPort, OpeningUsesTheSettingsTextOfTheRequest) {
    OpenPort(3, "9600,E,8,1");
    EXPECT_EQ(Opens(), std::vector<std::string>{"9600,E,8,1"});
    EXPECT_EQ(owner.Posts().back().lParam, 1);
    EXPECT_TRUE(shared.SharedText.IsEmpty());
    OpenPort(3, "115200,N,8,1");  // an open line is closed first
    EXPECT_EQ(Sequence(), "O C O");
    Send(WM_CLOSE_PORT);
    Send(WM_CLOSE_PORT);  // closed: nothing happens, nothing is posted
    EXPECT_EQ(Sequence(), "O C O C");
    EXPECT_EQ(owner.Posts().size(), 2u);
}

TEST_F(ConsoleAndPort, ResetClearsTheBusyFlagAndKeepsTheLayout) {
    shared.BusyFlag = 1;
    Send(WM_RESET_IMAGE);
    EXPECT_EQ(shared.BusyFlag, 0);
    EXPECT_EQ(worker->Image().FontStart, 0x80000u);
    EXPECT_EQ(worker->Image().LogoStart, 0x100000u - 0x20000u);
}

TEST_F(ConsoleAndPort, ConsoleTextWaitsForTheSlotAndSkipsLeadingNuls) {
    OpenPort();
    Forget();
    Arrive({'o', 'k', '\r', '\n'});
    ASSERT_EQ(owner.Posts().size(), 1u);
    EXPECT_EQ(owner.Posts()[0].id, WM_RX_TEXT);
    EXPECT_EQ(owner.Posts()[0].wParam, 4u);
    EXPECT_EQ(shared.SharedText.Text(), "ok\r\n");
    EXPECT_EQ(Sleeps(), std::vector<uint32_t>{20});

    // The dialog has not taken the chunk: the next bytes stay in the driver.
    Arrive({'x'});
    EXPECT_EQ(owner.Posts().size(), 1u);
    EXPECT_EQ(line->reads, 1);
    shared.SharedText.Clear();
    Send(WM_SERIAL_RECEIVE, 1);
    EXPECT_EQ(owner.Posts().size(), 2u);
    EXPECT_EQ(shared.SharedText.Text(), "x");

    shared.SharedText.Clear();
    Arrive({0, 0, 'h', 'i'});
    EXPECT_EQ(owner.Posts().back().wParam, 2u);
    EXPECT_EQ(shared.SharedText.Text(), "hi");
    shared.SharedText.Clear();
    Arrive({0});  // nothing but NUL: read and dropped
    EXPECT_EQ(owner.Posts().size(), 3u);
    EXPECT_TRUE(shared.SharedText.IsEmpty());
}

TEST_F(ConsoleAndPort, CommandsAreMatchedWholeAndCaseSensitively) {
    OpenPort();
    Forget();
    for (const char* ignored : {"Reset", "reset ", "", "RESET", "pcdemo\n"})
        Send(WM_CONSOLE_COMMAND, 0, 0, ignored);
    EXPECT_TRUE(log.empty());
    Send(WM_CONSOLE_COMMAND, 0, 0, "reset");
    Send(WM_CONSOLE_COMMAND, 0, 0, "pcdemo");
    EXPECT_EQ(Writes(), (std::vector<std::vector<uint8_t>>{Repeat(0xFF, 16), Repeat(0xEE, 16)}));
    EXPECT_EQ(shared.UpdateArmed, 0);
}

TEST_F(ConsoleAndPort, InitflashArmsAnEraseAndWakesTheBoardAtItsBootSpeed) {
    OpenPort();
    Forget();
    Send(WM_CONSOLE_COMMAND, 0, 4, "initflash");
    EXPECT_EQ(shared.UpdateArmed, 1);
    EXPECT_EQ(Logs(), std::vector<std::string>{"----Erase Flash:"});
    EXPECT_EQ(Writes(), std::vector<std::vector<uint8_t>>{Repeat(0xFF, 16)});
    EXPECT_EQ(Opens(), std::vector<std::string>{"115200,N,8,1"});
    EXPECT_EQ(worker->Image().FlashMapLen, 0xFFFFFFFFu);
}

}  // namespace
