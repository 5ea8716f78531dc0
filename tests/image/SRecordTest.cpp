// Motorola S-record text into the code image.

#include <gtest/gtest.h>

#include "ImageTestSupport.h"
#include "image/ConflictMap.h"

namespace {

std::vector<uint8_t> Counting(size_t size, uint8_t first = 0) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

// Records of 16 bytes covering [from, to), each byte holding its address' low bits.
std::string Span(uint32_t from, uint32_t to) {
    std::string text;
    for (uint32_t a = from; a < to; a += 16) text += S3Record(a, Counting(std::min<uint32_t>(16, to - a), static_cast<uint8_t>(a)));
    return text;
}

class SRecords : public testing::Test {
protected:
    // A large code region, so every conversion below is also placed.
    LoadedImage t{0x80000, 0x20000, 0x20000, 0x10000};
    CFlashImage& image = t.image;
    RecordingReporter& reporter = t.reporter;

    uint8_t Convert(const std::string& text) {
        uint8_t letter = 0;
        EXPECT_TRUE(image.ConvertSRecordText(text, "code.s", letter));
        return letter;
    }
    uint32_t HeaderLength() const { return CFlashImage::ReadBigEndian32(image.FileBuf.data()); }
};

TEST_F(SRecords, SmallProgramOfSixteenBytes) {
    const auto code = Counting(16, 0xA0);
    EXPECT_EQ(Convert("S00600004844521B\n" + S3Record(0, code) + S7Record(0)), 'P');
    EXPECT_EQ(image.CodeLen, 20u);
    EXPECT_EQ(HeaderLength(), 20u);
    EXPECT_TRUE(std::equal(code.begin(), code.end(), image.FileBuf.begin() + 4));
    EXPECT_EQ(image.FileBuf[20], 'P');
    EXPECT_TRUE(reporter.Silent());
}

TEST_F(SRecords, OnlyTheLowTwentyAddressBitsCount) {
    Convert(S3Record(0x80001000, {0x42}) + S3Record(0x0, {0x24}));
    // 0x1005 is at least 0x1000, so the small program moves down by 0x1000.
    EXPECT_EQ(image.CodeLen, 0x5u);
    EXPECT_EQ(image.FileBuf[4], 0x42);
}

TEST_F(SRecords, SmallProgramAboveTheFirstPageMovesDown) {
    EXPECT_EQ(Convert(Span(0x1000, 0x3000)), 'P');
    EXPECT_EQ(image.CodeLen, 0x2004u);
    EXPECT_EQ(HeaderLength(), 0x2004u);
    EXPECT_EQ(image.FileBuf[2], 0x20);
    EXPECT_EQ(image.FileBuf[4], 0x00);      // the byte of address 0x1000
    EXPECT_EQ(image.FileBuf[4 + 0x11], 0x11);  // of address 0x1011
    EXPECT_EQ(image.FileBuf[0x2004], 'P');
}

TEST_F(SRecords, ProgramWhollyBelowTheFirstPageKeepsAtLeastItsHeader) {
    // Ends at 0xFFD: L = 0x1001 and the move would leave a length shorter than the
    // length field itself, which would make the placing copy wrap around.
    EXPECT_EQ(Convert(Span(0xFF0, 0xFFD)), 'P');
    EXPECT_EQ(image.CodeLen, 4u);
    EXPECT_EQ(HeaderLength(), 4u);
    EXPECT_EQ(image.FileBuf[4], 'P');
}

TEST_F(SRecords, FullImageFromTheSmallProgramLimitOnIsPatched) {
    std::string text = Span(0, 0x3FF0) + S3Record(0x3FF0, Counting(12, 0xF0));
    EXPECT_EQ(Convert(text), 'C');
    EXPECT_EQ(image.CodeLen, 0x4000u);
    EXPECT_EQ(image.FileBuf[0x4000], 'C');
    EXPECT_EQ(image.FileBuf[0x180], 0x00);  // code address 0x17C, which held 0x7C
    EXPECT_EQ(CFlashImage::ReadBigEndian32(&image.FileBuf[0x198]), 0x4000u);
    EXPECT_EQ(image.FileBuf[0x19C], 0x98);  // the byte after the patch is the code's own

    // One byte less is still a small program, unpatched and moved down.
    t.image.ResetImage();
    EXPECT_EQ(Convert(Span(0, 0x3FF0) + S3Record(0x3FF0, Counting(11, 0xF0))), 'P');
    EXPECT_EQ(image.CodeLen, 0x3FFFu - 0x1000u);
}

TEST_F(SRecords, StartRecordBeyondTheDataLengthensTheImage) {
    Convert(S3Record(0, {1, 2, 3}) + S7Record(0x20));
    EXPECT_EQ(image.CodeLen, 0x24u);
    EXPECT_EQ(image.FileBuf[0x24], 'P');
}

TEST_F(SRecords, NoCodeRecordsGiveAnEmptySmallProgram) {
    EXPECT_EQ(Convert("S00600004844521B\nS1130000000102030405060708090A0B0C0D0E0F74\n\ns3150000000000\n"), 'P');
    EXPECT_EQ(image.CodeLen, 4u);
    EXPECT_EQ(image.FileBuf[4], 'P');
}

TEST_F(SRecords, EachFileStartsItsLengthAfresh) {
    Convert(Span(0, 0x200));
    EXPECT_EQ(image.CodeLen, 0x204u);
    Convert(S3Record(0, Counting(16)));
    EXPECT_EQ(image.CodeLen, 20u);
    EXPECT_EQ(image.FileBuf[20], 'P');
}

TEST_F(SRecords, OverlapStopsButKeepsWhatCameBefore) {
    const std::string text = S3Record(0x100, Counting(0x10)) + S3Record(0x1F8, Counting(0x10, 0x80)) +
                             S3Record(0x200, Counting(0x10)) + S3Record(0x300, Counting(0x10));
    uint8_t letter = 0;
    EXPECT_TRUE(image.ConvertSRecordText(text, "code.s", letter));
    ASSERT_EQ(reporter.boxes.size(), 1u);
    EXPECT_EQ(reporter.boxes[0].text, "Section conflicted!");
    EXPECT_EQ(reporter.boxes[0].caption, "Warning");
    EXPECT_EQ(image.CodeLen, 0x208u + 4);  // the record at 0x300 was never read
    EXPECT_EQ(image.FileBuf[4 + 0x1FF], 0x87);
}

TEST_F(SRecords, MalformedFieldsReadAsFarAsTheirDigitsGo) {
    // The count says 0x15 (16 data bytes) but the line stops after two of them,
    // and the second byte has a bad digit.
    Convert("S31500000000AB4G\n");
    EXPECT_EQ(image.CodeLen, 20u);
    EXPECT_EQ(image.FileBuf[4], 0xAB);
    EXPECT_EQ(image.FileBuf[5], 0x04);
    EXPECT_EQ(image.FileBuf[6], 0x00);
}

TEST_F(SRecords, CrLfLinesAreRead) {
    std::string text = S3Record(0, {9, 8, 7});
    text.insert(text.size() - 1, "\r");
    Convert(text);
    EXPECT_EQ(image.CodeLen, 7u);
    EXPECT_EQ(image.FileBuf[6], 7);
}

struct OutOfLimits {
    const char* name;
    std::string record;
};

class SRecordLimits : public SRecords, public testing::WithParamInterface<OutOfLimits> {};

// Such a record would write outside FileBuf or the conflict map, or make the
// record end negative; the file is refused before anything of it is taken.
TEST_P(SRecordLimits, RefuseTheWholeFileAndKeepTheCodeBefore) {
    ASSERT_TRUE(t.LoadText("first.s", S3Record(0, Counting(16))));
    const auto fileBufBefore = image.FileBuf;
    const auto imageBefore = image.ImageBuf;

    EXPECT_FALSE(t.LoadText("second.s", S3Record(0x40, Counting(32)) + GetParam().record + S7Record(0)));
    ASSERT_EQ(reporter.boxes.size(), 1u);
    EXPECT_NE(reporter.boxes[0].text.find("second.s, line 2"), std::string::npos) << reporter.boxes[0].text;
    EXPECT_EQ(image.CodeLen, 20u);
    EXPECT_EQ(image.FileBuf, fileBufBefore);
    EXPECT_EQ(image.ImageBuf, imageBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Records, SRecordLimits,
    testing::Values(OutOfLimits{"CountBelowFive", "S30400001000EB\n"},
                    OutOfLimits{"EndPastTheBuffer", S3Record(0x7FFF0, Counting(12))},
                    OutOfLimits{"StartRecordPastTheBuffer", S7Record(0x7FFFC)},
                    OutOfLimits{"TopOfTheAddressSpace", S3Record(0xFFFFF, Counting(8))}),
    [](const testing::TestParamInfo<OutOfLimits>& info) { return info.param.name; });

TEST_F(SRecords, HighestRecordEndIsTaken) {
    EXPECT_EQ(Convert(S3Record(0x7FFF0, Counting(11))), 'C');
    EXPECT_EQ(image.CodeLen, kFileBufSize - 1);
    EXPECT_EQ(image.FileBuf[kFileBufSize - 1], 'C');
}

TEST_F(SRecords, ParseSRecordLineRefusesOutOfLimitRecordsOnItsOwn) {
    ConflictMap conflictMap(kFileBufSize);
    uint32_t end = 0;
    EXPECT_FALSE(image.ParseSRecordLine("S30400001000EB", end, conflictMap));
    EXPECT_FALSE(image.ParseSRecordLine(S3Record(0xFFFFF, Counting(8)), end, conflictMap));
    ConflictMap shortMap(0x10);
    EXPECT_FALSE(image.ParseSRecordLine(S3Record(0x38, Counting(16)), end, shortMap));  // the map holds 64
    EXPECT_EQ(end, 0u);
    EXPECT_EQ(reporter.boxes.size(), 3u);
}

// Records that meet without sharing an address must pass, wherever they meet
// relative to the map's 64-address words; any shared address must not.
TEST_F(SRecords, ConflictsAreExactAtEveryBoundary) {
    for (uint32_t meet : {0x3Fu, 0x40u, 0x41u, 0x80u, 0xFFu}) {
        SCOPED_TRACE(meet);
        reporter.Clear();
        Convert(S3Record(meet - 0x3F, Counting(0x3F)) + S3Record(meet, Counting(0x90)));
        EXPECT_TRUE(reporter.Silent());
        EXPECT_EQ(image.CodeLen, meet + 0x90 + 4);
        Convert(S3Record(meet - 0x3F, Counting(0x40)) + S3Record(meet, Counting(0x90)));
        EXPECT_EQ(reporter.boxes.size(), 1u);
    }
    reporter.Clear();
    Convert(S3Record(0x100, Counting(200)) + S3Record(0x180, {1}));  // inside a long record
    EXPECT_EQ(reporter.boxes.size(), 1u);
}

TEST_F(SRecords, LoadedCodeIsPlacedWithoutItsHeader) {
    EXPECT_TRUE(t.LoadText("code.S", S3Record(0, {0x11, 0x22, 0x33})));
    EXPECT_EQ(image.ImageBuf[0], 0x11);
    EXPECT_EQ(image.ImageBuf[2], 0x33);
    EXPECT_EQ(image.ImageBuf[3], 0xFF);  // CodeLen - 4 bytes only: no letter
}

TEST(SRecordPlacement, CodeTooLargeForItsRegionIsNotAnnounced) {
    LoadedImage t(0x2000, 0x20000, 0x20000, 0x10000);
    EXPECT_FALSE(t.LoadText("code.s", Span(0, 0x5000)));
    EXPECT_EQ(t.reporter.errorTexts, std::vector<std::string>{"Code section is too large!"});
    EXPECT_EQ(t.image.CodeLen, 0u);
    EXPECT_EQ(t.image.ImageBuf[0], 0xFF);
}

}  // namespace
