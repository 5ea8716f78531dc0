// Motorola S-record text into the code image.

#include <gtest/gtest.h>

#include <cctype>

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

// A file that gives no code byte must never become a code image that an update
// would send in place of the board's program.
TEST_F(SRecords, FileWithoutCodeDataIsRefused) {
    ASSERT_TRUE(t.LoadText("first.s", S3Record(0, Counting(16))));
    const auto fileBufBefore = image.FileBuf;
    for (const std::string& text : {"S00600004844521B\n" + SRecord('9', 0, {}),
                                   SRecord('0', 0, {'h', 'i'}) + SRecord('5', 1, {}) + S7Record(0x20),
                                   S3Record(0x100, {}) + S3Record(0x200, {}) + "\n\r\n",
                                   std::string("\n\n")}) {
        SCOPED_TRACE(text);
        reporter.Clear();
        EXPECT_FALSE(t.LoadText("empty.s", text));
        ASSERT_EQ(reporter.boxes.size(), 1u);
        EXPECT_EQ(reporter.boxes[0].text.rfind(t.dir / "empty.s" + " holds no code", 0), 0u) << reporter.boxes[0].text;
        EXPECT_EQ(image.CodeLen, 20u);
        EXPECT_EQ(image.FileBuf, fileBufBefore);
    }
}

// Tool chains write S1 and S2 records where the addresses fit in 16 or 24 bits;
// their bytes are code like those of S3 records, by the same low 20 address bits.
TEST_F(SRecords, DataRecordsOfEveryAddressSizeAreCode) {
    Convert(SRecord('0', 0, {'x'}) + SRecord('1', 0x0010, {1, 2}) + SRecord('2', 0x100020, {3}) +
            S3Record(0x30, {4}) + SRecord('5', 3, {}) + SRecord('9', 0, {}));
    EXPECT_TRUE(reporter.Silent());
    EXPECT_EQ(image.CodeLen, 0x31u + 4);
    EXPECT_EQ(image.FileBuf[4 + 0x10], 1);
    EXPECT_EQ(image.FileBuf[4 + 0x11], 2);
    EXPECT_EQ(image.FileBuf[4 + 0x20], 3);
    EXPECT_EQ(image.FileBuf[4 + 0x30], 4);
}

// What real tool chains and editors leave in a file besides the data records.
TEST_F(SRecords, HeadersCountsEndsAndLayoutAreAccepted) {
    // A record with another line end than its own.
    auto ending = [](std::string record, const char* end) { return record.substr(0, record.size() - 1) + end; };
    std::string lowerCaseDigits = S3Record(0x40, {0xAB, 0xCD});
    for (char& c : lowerCaseDigits) c = c == 'S' ? c : static_cast<char>(std::tolower(c));
    const std::string text = ending(SRecord('0', 0, {'p', 'r', 'o', 'g'}), "\r\n") + "\n" +
                             ending(S3Record(0, {7}), " \t\r\n") + lowerCaseDigits + SRecord('5', 2, {}) +
                             SRecord('6', 2, {}) + SRecord('8', 0, {}) + S7Record(0) + ending(SRecord('9', 0, {}), "");
    Convert(text);
    EXPECT_TRUE(reporter.Silent());
    EXPECT_EQ(image.CodeLen, 0x42u + 4);
    EXPECT_EQ(image.FileBuf[4], 7);
    EXPECT_EQ(image.FileBuf[4 + 0x41], 0xCD);
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
    const char* says = "";  // part of the reason given
};

class SRecordLimits : public SRecords, public testing::WithParamInterface<OutOfLimits> {};

// Such a record would write outside FileBuf or the conflict map, or make the
// record end negative, or is no sound S-record at all (its bytes would become
// code that nobody wrote); the file is refused before anything of it is taken.
TEST_P(SRecordLimits, RefuseTheWholeFileAndKeepTheCodeBefore) {
    ASSERT_TRUE(t.LoadText("first.s", S3Record(0, Counting(16))));
    const auto fileBufBefore = image.FileBuf;
    const auto imageBefore = image.ImageBuf;

    EXPECT_FALSE(t.LoadText("second.s", S3Record(0x40, Counting(32)) + GetParam().record + S7Record(0)));
    ASSERT_EQ(reporter.boxes.size(), 1u);
    EXPECT_NE(reporter.boxes[0].text.find("second.s, line 2: "), std::string::npos) << reporter.boxes[0].text;
    EXPECT_NE(reporter.boxes[0].text.find(GetParam().says), std::string::npos) << reporter.boxes[0].text;
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

std::string Spoilt(std::string record, size_t from, size_t count, const std::string& by) {
    return record.replace(from, count, by);
}

std::string RandomLine() {
    std::string line = "\x9c";
    uint32_t x = 7;
    while (line.size() < 80) {
        x = x * 1664525u + 1013904223u;
        if (char c = static_cast<char>(x >> 24); c != '\n') line += c;
    }
    return line + "\n";
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, SRecordLimits,
    testing::Values(
        OutOfLimits{"RandomBytes", RandomLine(), "not an S-record"},
        OutOfLimits{"LowerCaseType", Spoilt(S3Record(0x100, {1, 2}), 0, 1, "s"), "not an S-record"},
        OutOfLimits{"LeadingBlank", " " + S3Record(0x100, {1, 2}), "not an S-record"},
        OutOfLimits{"UnknownType", SRecord('4', 0x100, {1, 2}), "S4"},
        OutOfLimits{"BadChecksum", Spoilt(S3Record(0x100, {1, 2}), 16, 2, "00"), "checksum"},
        OutOfLimits{"BadDigit", Spoilt(S3Record(0x100, {1, 2}), 13, 1, "G"), "'G' at column 14"},
        OutOfLimits{"ShortLineWithABadDigit", "S31500000000AB4G\n", "'G' at column 16"},
        OutOfLimits{"ShorterThanItsCount", Spoilt(S3Record(0x100, {1, 2, 3}), 14, 4, ""), "byte count"},
        OutOfLimits{"LongerThanItsCount", Spoilt(S3Record(0x100, {1, 2}), 18, 0, "00"), "byte count"},
        OutOfLimits{"OddNumberOfDigits", Spoilt(S3Record(0x100, {1, 2}), 18, 0, "0"), "byte count"},
        OutOfLimits{"CountTooSmallForTheAddress", "S10200FD\n", "byte count"},
        OutOfLimits{"StartRecordWithData", SRecord('7', 0x100, {1, 2}), "S7"}),
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
