// The worker's answers to the board's replies during an update, as they go out on
// the line: bytes, pauses, closes and reopens, log lines and progress.
#include "tests/engine/WorkerFixture.h"

namespace {

class UpdateHandshake : public WorkerFixture {
protected:
    void SetUp() override {
        OpenPort();
        shared.UpdateArmed = 1;
    }
    void StartUpdate(uint32_t crystal) {
        Send(WM_START_UPDATE, crystal);
        Forget();
    }
};

TEST_F(UpdateHandshake, StartWakesTheBoardThenListensAtTheCrystalsBootSpeed) {
    const struct {
        uint32_t crystal;
        const char* settings;
        uint32_t loader1Pause;
    } cases[] = {{0, "9600,N,8,1", 2300}, {1, "19200,N,8,1", 1000}, {2, "57600,N,8,1", 1000},
                 {3, "38400,N,8,1", 1000}, {4, "115200,N,8,1", 300}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        Forget();
        Send(WM_START_UPDATE, c.crystal);
        // The wake-up must be on the wire before the close for the speed change.
        EXPECT_EQ(Sequence(), "W S D C O");
        EXPECT_EQ(Writes().at(0), Repeat(0xFF, 16));
        EXPECT_EQ(Sleeps(), std::vector<uint32_t>{10});
        EXPECT_EQ(Opens(), std::vector<std::string>{c.settings});

        Forget();
        Reply('W');
        EXPECT_EQ(Sleeps(), std::vector<uint32_t>{c.loader1Pause});
        EXPECT_EQ(Opens(), std::vector<std::string>{"115200,N,8,1"});
    }
}

TEST_F(UpdateHandshake, AWakeUpAgainGoesOutOnlyWhileTheBoardHasNotAnswered) {
    StartUpdate(4);
    // A board powered since: the same wake-up and the same reopen at the boot speed.
    Send(WM_START_UPDATE, 4, kStartUpdateAgain);
    EXPECT_EQ(Sequence(), "W S D C O");
    EXPECT_EQ(Writes().at(0), Repeat(0xFF, 16));
    EXPECT_EQ(Opens(), std::vector<std::string>{"115200,N,8,1"});
    // The board's 'W' is waiting when the next wake-up is due: it is answered instead.
    Forget();
    line->Arrive({'W'});
    Send(WM_START_UPDATE, 4, kStartUpdateAgain);
    ASSERT_FALSE(Writes().empty());
    EXPECT_EQ(Writes().front(), std::vector<uint8_t>{0x18});
    for (const auto& w : Writes())
        EXPECT_NE(w, Repeat(0xFF, 16)) << "a wake-up broke into the board's exchange";
    // Once it has answered, or for another crystal, or once the update has ended: nothing.
    Forget();
    Send(WM_START_UPDATE, 4, kStartUpdateAgain);
    EXPECT_EQ(Sequence(), "");
    StartUpdate(4);
    Send(WM_START_UPDATE, 3, kStartUpdateAgain);
    EXPECT_EQ(Sequence(), "");
    shared.UpdateArmed = 0;
    Send(WM_START_UPDATE, 4, kStartUpdateAgain);
    EXPECT_EQ(Sequence(), "");
}

TEST_F(UpdateHandshake, LoaderOneGoesOutAsOneFramedBlockThenTheLineSwitchesToFullSpeed) {
    StartUpdate(1);
    Reply('W');
    EXPECT_EQ(Sequence(), "W W S D C O");
    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0], std::vector<uint8_t>{0x18});
    const auto file = LoaderFile(1029);
    std::vector<uint8_t> block(file.begin() + 4, file.begin() + 1028);  // header and trailer stay behind
    block.resize(2048, 0x00);
    EXPECT_EQ(writes[1], block);
    EXPECT_EQ(Logs(), std::vector<std::string>{"1.Loading loader 1..."});
    EXPECT_EQ(Progress(), std::vector<int64_t>{1});
}

TEST_F(UpdateHandshake, LoaderTwoGoesOutHeaderFirstThenPacedBlocksWithoutItsTrailer) {
    for (const size_t length : {size_t{2053}, size_t{2054}, size_t{4200}}) {
        SCOPED_TRACE(length);
        const auto file = LoaderFile(length);
        lib.WriteBytes("Lib/Pgm_M850T.bin", file);
        Forget();
        Reply('Z');
        const auto writes = Writes();
        const size_t blocks = (length - 5) / 2048;
        ASSERT_EQ(writes.size(), blocks + 2);
        std::vector<uint8_t> sent;
        for (const auto& w : writes)
            sent.insert(sent.end(), w.begin(), w.end());
        EXPECT_EQ(sent, std::vector<uint8_t>(file.begin(), file.end() - 1));
        EXPECT_EQ(writes[0].size(), 4u);
        for (size_t i = 1; i <= blocks; ++i)
            EXPECT_EQ(writes[i].size(), 2048u);
        std::vector<uint32_t> pauses{30};
        pauses.insert(pauses.end(), blocks + 1, 300);
        EXPECT_EQ(Sleeps(), pauses);
        EXPECT_EQ(Logs(), (std::vector<std::string>{"2.Loading loader 2....", "3.Loading update data...."}));
        EXPECT_EQ(Progress(), std::vector<int64_t>{3});
    }
}

TEST_F(UpdateHandshake, LoaderFilesThatCannotBeFramedAreRefusedAndNothingIsSent) {
    StartUpdate(0);
    lib.WriteBytes("Lib/Pgm_4M.bin", LoaderFile(2054));  // a body of 2049 bytes
    Reply('W');
    ASSERT_EQ(owner.Boxes().size(), 1u);
    EXPECT_EQ(owner.Boxes()[0].caption, "Error");
    EXPECT_EQ(owner.Boxes()[0].text.rfind("Open pgm1 failed!", 0), 0u);
    EXPECT_TRUE(Writes().empty());
    // The step still switches the line and reports, as the board expects.
    EXPECT_EQ(Opens(), std::vector<std::string>{"115200,N,8,1"});
    EXPECT_EQ(Progress(), std::vector<int64_t>{1});

    Forget();
    lib.WriteBytes("Lib/Pgm_M850T.bin", LoaderFile(4));
    Reply('Z');
    ASSERT_EQ(owner.Boxes().size(), 1u);
    EXPECT_EQ(owner.Boxes()[0].text.rfind("Open pgm2 failed!", 0), 0u);
    EXPECT_TRUE(Writes().empty());

    Forget();
    std::filesystem::remove(lib.Path("Lib/Pgm_4M.bin"));
    Reply('W');
    ASSERT_EQ(owner.Boxes().size(), 1u);
    EXPECT_NE(owner.Boxes()[0].text.find("Pgm_4M.bin"), std::string::npos);
    EXPECT_TRUE(Writes().empty());
}

TEST_F(UpdateHandshake, OnlyALoneKnownByteIsAnswered) {
    StartUpdate(4);
    Arrive({'W', 'W'});  // two replies read together: both lost
    Arrive({'W', 'Z'});
    Arrive({'x'});
    Arrive({0x11});
    Arrive({0x00});
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(owner.Posts().empty());
    EXPECT_TRUE(shared.SharedText.IsEmpty());  // the console slot is never touched

    Arrive({'W'}, 2);  // another port's notice reads nothing
    EXPECT_EQ(line->reads, 4 + 1);
    EXPECT_TRUE(log.empty());
}

TEST_F(UpdateHandshake, ProgrammingProgressRunsFrom62To100AndDEndsTheUpdate) {
    StartUpdate(4);
    for (uint8_t r = 1; r <= 16; ++r)
        Reply(r);
    EXPECT_EQ(Progress(), (std::vector<int64_t>{62, 65, 67, 70, 72, 75, 77, 80, 82, 85, 87, 90, 92, 95, 97, 100}));
    EXPECT_EQ(Logs(), std::vector<std::string>{"4.Programing flash...."});
    EXPECT_EQ(owner.Posts().at(0).wParam, STATUS_LOG_TEXT);  // the log line comes before 62
    EXPECT_TRUE(log.empty());

    Forget();
    Reply('D');
    EXPECT_EQ(Logs(), std::vector<std::string>{"5.Update finished!!!"});
    EXPECT_EQ(Opens(), std::vector<std::string>{"115200,N,8,1"});
    EXPECT_EQ(shared.UpdateArmed, 0);
    EXPECT_EQ(owner.Posts().back().wParam, STATUS_UPDATE_DONE);

    // Disarmed, the board's bytes are console text again, 'W' included.
    Forget();
    Reply('W');
    ASSERT_EQ(owner.Posts().size(), 1u);
    EXPECT_EQ(owner.Posts()[0].id, WM_RX_TEXT);
    EXPECT_EQ(owner.Posts()[0].wParam, 1u);
    EXPECT_EQ(shared.SharedText.FirstByte(), 'W');
}

TEST_F(UpdateHandshake, StartIsRefusedForACrystalThatIsNotInTheList) {
    Forget();
    Send(WM_START_UPDATE, 5);
    ASSERT_EQ(owner.Boxes().size(), 1u);
    EXPECT_EQ(owner.Boxes()[0].caption, "Error");
    EXPECT_TRUE(log.empty());
}

TEST_F(UpdateHandshake, StartOnAClosedLineSendsNothingButOpensAtBootSpeed) {
    Send(WM_CLOSE_PORT);
    Forget();
    Send(WM_START_UPDATE, 2);
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(Opens(), std::vector<std::string>{"57600,N,8,1"});
}

TEST_F(UpdateHandshake, AFailedReopenIsReportedWithTheDeviceAndItsCause) {
    StartUpdate(1);
    line->failOpens = true;
    Reply('W');
    ASSERT_EQ(owner.Boxes().size(), 1u);
    EXPECT_EQ(owner.Boxes()[0].text, "Can't open port!\n/dev/ttyFAKE0: no such device (is the adapter plugged in?)");
    EXPECT_EQ(owner.Boxes()[0].caption, "Error");
    EXPECT_EQ(Progress(), std::vector<int64_t>{1});
}

TEST_F(UpdateHandshake, ADownloadStopsAtTheNextBlockWhenCancelledOrWhenTheLineTakesNothing) {
    // Loader 2 of ten blocks and a complete map of 256: each stopped after its third
    // write, by the operator's Cancel or by a line that takes no more.
    lib.WriteBytes("Lib/Pgm_M850T.bin", LoaderFile(4 + 10 * 2048 + 1));
    LoadFile("MAP.BIN", std::vector<uint8_t>(0x80000, 0x5A));
    ASSERT_TRUE(owner.Boxes().empty());
    for (const uint8_t reply : {uint8_t{'Z'}, uint8_t{'A'}}) {
        for (const bool cancel : {true, false}) {
            SCOPED_TRACE(std::string(1, static_cast<char>(reply)) + (cancel ? " cancelled" : " line failing"));
            shared.UpdateArmed = 1;
            line->writesBeforeFailure = cancel ? -1 : 3;
            size_t pauses = 0;
            sleeper.afterPause = [&] {
                if (++pauses == 3 && cancel)
                    shared.UpdateArmed = 0;
            };
            Forget();
            Reply(reply);
            sleeper.afterPause = nullptr;
            EXPECT_EQ(Writes().size(), 3u);
            EXPECT_EQ(Sleeps().size(), 3u);
            // The rest of the row belongs to a download that did not end: nothing
            // tells the owner that loader 2 went out.
            if (reply == 'Z') {
                EXPECT_EQ(Logs(), std::vector<std::string>{"2.Loading loader 2...."});
                EXPECT_TRUE(Progress().empty());
            } else {
                EXPECT_EQ(Progress().size(), 3u);
            }
        }
    }
}

TEST_F(UpdateHandshake, NothingIsSentWhenTheLibraryCannotCarryTheUpdate) {
    namespace fs = std::filesystem;
    const auto restore = [&] {
        fs::remove_all(lib.Path("Lib/Pgm_M850T.bin"));
        lib.WriteBytes("Lib/Pgm_M850T.bin", LoaderFile(2054));
        lib.WriteBytes("Lib/Pgm_27M.bin", LoaderFile(1029));
    };
    const struct {
        const char* what;
        std::function<void()> spoil;
        const char* told;
    } cases[] = {
        {"loader 2 is a folder", [&] { fs::remove(lib.Path("Lib/Pgm_M850T.bin")), fs::create_directory(lib.Path("Lib/Pgm_M850T.bin")); },
         "Pgm_M850T.bin: is a folder, not a file"},
        {"loader 2 is an endless device",
         [&] { fs::remove(lib.Path("Lib/Pgm_M850T.bin")), fs::create_symlink("/dev/zero", lib.Path("Lib/Pgm_M850T.bin")); },
         "Pgm_M850T.bin: is not a regular file"},
        {"loader 2 is larger than the flash", [&] { fs::resize_file(lib.Path("Lib/Pgm_M850T.bin"), 0x100001); },
         "Pgm_M850T.bin: is 1048577 bytes long"},
        {"loader 1 is missing", [&] { fs::remove(lib.Path("Lib/Pgm_27M.bin")); }, "Pgm_27M.bin: no such file"},
        {"loader 1 does not fit its block", [&] { lib.WriteBytes("Lib/Pgm_27M.bin", LoaderFile(2054)); },
         "does not fit the 2048-byte block"},
        {"the address file lacks CodeBufSize",
         [&] {
             lib.WriteText("Lib/FlashAddrAssign.h", "#define FontBufSize 0x20000\n");
             worker->InitInstance();  // the layout is read when the worker starts
         },
         "FlashAddrAssign.h could not be used"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        restore();
        c.spoil();
        for (const bool erase : {false, true}) {
            SCOPED_TRACE(erase ? "initflash" : "update");
            Forget();
            shared.UpdateArmed = erase ? 0 : 1;
            if (erase)
                Send(WM_CONSOLE_COMMAND, 0, 4, "initflash");
            else
                Send(WM_START_UPDATE, 4);
            ASSERT_EQ(owner.Boxes().size(), 1u);
            EXPECT_NE(owner.Boxes()[0].text.find(c.told), std::string::npos) << owner.Boxes()[0].text;
            EXPECT_EQ(owner.Boxes()[0].caption, "Error");
            EXPECT_TRUE(log.empty());  // not woken: no byte, no reopen
            EXPECT_EQ(shared.UpdateArmed, 0);
            EXPECT_TRUE(Logs().empty());
            EXPECT_NE(worker->Image().FlashMapLen, 0xFFFFFFFFu);
        }
    }
}

}  // namespace
