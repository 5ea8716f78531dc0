// The section header and the flash data runs the board asks for.
#include "image/FlashImage.h"
#include "tests/engine/WorkerFixture.h"

namespace {

class SectionDownload : public WorkerFixture {
protected:
    void SetUp() override {
        lib.WriteBytes("Lib/Pgm_4M.bin", LoaderFile(100));
        OpenPort();
        Send(WM_RESET_IMAGE);
        shared.UpdateArmed = 1;
    }
    // A section file: payload bytes and the section letter last.
    static std::vector<uint8_t> SectionFile(size_t length, uint8_t letter) {
        std::vector<uint8_t> f(length);
        for (size_t i = 0; i < length; ++i)
            f[i] = static_cast<uint8_t>(i * 31 + 7);
        f.back() = letter;
        return f;
    }
    static std::vector<uint8_t> Joined(const std::vector<std::vector<uint8_t>>& writes) {
        std::vector<uint8_t> all;
        for (const auto& w : writes)
            all.insert(all.end(), w.begin(), w.end());
        return all;
    }
    static std::vector<size_t> Sizes(const std::vector<std::vector<uint8_t>>& writes) {
        std::vector<size_t> sizes;
        for (const auto& w : writes)
            sizes.push_back(w.size());
        return sizes;
    }
};

TEST_F(SectionDownload, HeaderCarriesLayoutLengthsAndReserveFlagLittleEndian) {
    // A saved code image: its own big-endian length, the code, the letter C.
    std::vector<uint8_t> code(0x40001, 0x5A);
    code[0] = 0x00, code[1] = 0x04, code[2] = 0x00, code[3] = 0x00;
    code.back() = 'C';
    LoadFile("code.bin", code);
    ASSERT_TRUE(owner.Boxes().empty());
    shared.ReserveProgram = 1;
    Forget();
    Reply('S');
    const std::vector<uint8_t> expected = {0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
                                           0x04, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x04, 0x00,
                                           0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                           0x01, 0x00, 0x00, 0x00};
    EXPECT_EQ(Writes(), std::vector<std::vector<uint8_t>>{expected});
    EXPECT_EQ(Sleeps(), std::vector<uint32_t>{30});
}

TEST_F(SectionDownload, ARunGoesOutInPacedBlocksEndingWithAShortOrEmptyWrite) {
    const struct {
        size_t length;
        std::vector<size_t> writes;
    } cases[] = {{4096, {2048, 2048, 0}}, {5000, {2048, 2048, 904}}, {100, {100}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        Send(WM_RESET_IMAGE);
        const auto font = SectionFile(c.length, 'F');
        LoadFile("font.bin", font);
        Reply('W');  // a new update counts its bytes from 0
        Forget();
        Reply('F');
        EXPECT_EQ(Sizes(Writes()), c.writes);
        EXPECT_EQ(Joined(Writes()), font);  // exactly the section, letter included
        EXPECT_EQ(Sleeps(), std::vector<uint32_t>(c.writes.size(), 300));
        EXPECT_EQ(Progress().size(), c.writes.size());
        EXPECT_EQ(Progress().back(), 60);  // the only section: all of it has gone
    }
}

TEST_F(SectionDownload, EachSectionComesFromItsRegionAndProgressSharesTheTotal) {
    const auto font = SectionFile(3000, 'F');
    const auto bitmap = SectionFile(1000, 'B');
    LoadFile("font.bin", font);
    LoadFile("bitmap.bin", bitmap);
    ASSERT_TRUE(owner.Boxes().empty());
    Forget();
    Reply('B');
    EXPECT_EQ(Joined(Writes()), bitmap);
    EXPECT_EQ(Progress(), std::vector<int64_t>{1000 * 57 / 4000 + 3});
    Forget();
    Reply('F');
    EXPECT_EQ(Joined(Writes()), font);
    EXPECT_EQ(Progress(), (std::vector<int64_t>{3048 * 57 / 4000 + 3, 60}));
    Forget();
    Reply('E');  // nothing placed: one empty write, one progress post
    EXPECT_EQ(Sizes(Writes()), std::vector<size_t>{0});
    EXPECT_EQ(Progress(), std::vector<int64_t>{60});
}

TEST_F(SectionDownload, ACompleteMapGoesOutWholeFromProgress3To60) {
    std::vector<uint8_t> map(0x80000);
    for (size_t i = 0; i < map.size(); ++i)
        map[i] = static_cast<uint8_t>(i ^ (i >> 9));
    LoadFile("MAP.BIN", map);
    ASSERT_TRUE(owner.Boxes().empty());
    Forget();
    Reply('A');
    EXPECT_EQ(Joined(Writes()), map);
    EXPECT_EQ(Writes().size(), 257u);
    EXPECT_EQ(Progress().front(), 3);
    EXPECT_EQ(Progress().back(), 60);
}

TEST_F(SectionDownload, NoImageAtAllReportsFullProgressInsteadOfDividingByZero) {
    Forget();
    Reply('C');
    EXPECT_EQ(Sizes(Writes()), std::vector<size_t>{0});
    EXPECT_EQ(Progress(), std::vector<int64_t>{60});
}

TEST_F(SectionDownload, AnEraseTellsTheBoardNothingIsLoadedAndNeverReadsPastTheImage) {
    LoadFile("font.bin", SectionFile(3000, 'F'));
    Send(WM_CONSOLE_COMMAND, 0, 4, "initflash");
    EXPECT_EQ(shared.UpdateArmed, 1);
    EXPECT_EQ(Logs().back(), "----Erase Flash:");
    Forget();
    Reply('S');
    ASSERT_EQ(Writes().size(), 1u);
    const auto header = Writes()[0];
    EXPECT_EQ(std::vector<uint8_t>(header.begin() + 16, header.begin() + 32), std::vector<uint8_t>(16, 0));
    EXPECT_EQ(std::vector<uint8_t>(header.begin() + 32, header.begin() + 36), std::vector<uint8_t>(4, 0xFF));

    Forget();
    Reply('A');  // 0xFFFFFFFF bytes asked: the run stops at the end of the image
    EXPECT_EQ(Joined(Writes()).size(), size_t{kImageBufSize});
    EXPECT_EQ(Writes().back().size(), 0u);
}

}  // namespace
