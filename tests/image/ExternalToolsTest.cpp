// The S-record conversion checked against tools nobody here wrote: srec_cat
// (srecord) and GNU objcopy both write S-record files with 16-, 24- and 32-bit
// addresses (S1, S2, S3 records) and turn the same files into raw binaries. The code bytes that the conversion builds must equal those binaries,
// once the code image's own rules are applied: the 4-byte length in front, the
// letter behind, the small-program move below 0x1000 and the full-image patch.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>
#include <random>

#include "ImageTestSupport.h"

namespace {

bool ToolAvailable(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a tool quietly; what it said is shown only when it failed.
void RunTool(const std::string& command) {
    const std::string log = std::filesystem::temp_directory_path() / ("kestrel-tool-" + std::to_string(::getpid()) + ".log");
    const int status = std::system((command + " >" + log + " 2>&1").c_str());
    const std::string said = ReadText(log);
    std::remove(log.c_str());
    ASSERT_EQ(status, 0) << command << "\n" << said;
}

// What the code image must hold for code bytes that begin at address 0.
std::vector<uint8_t> ExpectedCodeImage(std::vector<uint8_t> code) {
    uint32_t length = static_cast<uint32_t>(code.size()) + 4;
    uint8_t letter = length < 0x4000 ? 'P' : 'C';
    if (letter == 'P' && length >= 0x1000) {
        code.erase(code.begin(), code.begin() + std::min<size_t>(code.size(), 0x1000));
        length = static_cast<uint32_t>(code.size()) + 4;
    }
    std::vector<uint8_t> image(4);
    CFlashImage::WriteBigEndian32(image.data(), length);
    image.insert(image.end(), code.begin(), code.end());
    image.push_back(letter);
    if (letter == 'C') {
        image[0x180] = 0;
        CFlashImage::WriteBigEndian32(&image[0x198], length);
    }
    return image;
}

void ExpectConversionMatches(const std::string& srecPath, const std::vector<uint8_t>& reference) {
    ASSERT_FALSE(reference.empty());
    LoadedImage t(0x80000, 0x20000, 0x20000, 0x10000);
    uint8_t letter = 0;
    ASSERT_TRUE(t.image.ConvertSRecordFile(srecPath, letter));
    EXPECT_TRUE(t.reporter.Silent());
    const auto expected = ExpectedCodeImage(reference);
    ASSERT_EQ(t.image.CodeLen + 1, expected.size());
    EXPECT_EQ(letter, expected.back());
    const std::vector<uint8_t> built(t.image.FileBuf.begin(), t.image.FileBuf.begin() + expected.size());
    EXPECT_TRUE(built == expected) << "code image differs from the reference binary, first at offset "
                                   << std::mismatch(built.begin(), built.end(), expected.begin()).first - built.begin();
}

std::vector<uint8_t> RandomBytes(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::vector<uint8_t> bytes(size);
    for (auto& b : bytes) b = static_cast<uint8_t>(generator());
    return bytes;
}

struct SrecCatCase {
    const char* name;
    std::vector<std::pair<uint32_t, uint32_t>> pieces;  // offset, size: with gaps between
    unsigned blockSize;                                  // data bytes per record
    uint32_t base;                                       // address the file places offset 0 at
    int addressBytes = 4;                                // 2: S1 records, 3: S2, 4: S3
    bool crlf = false;
};

class SrecCatFiles : public testing::TestWithParam<SrecCatCase> {};

TEST_P(SrecCatFiles, ConvertToTheBytesSrecCatMakesOfThem) {
    if (!ToolAvailable("srec_cat")) GTEST_SKIP() << "srec_cat (Debian package srecord) is not installed";
    const SrecCatCase& c = GetParam();
    ScratchDir dir;
    std::string inputs;
    for (size_t i = 0; i < c.pieces.size(); ++i) {
        const std::string piece = dir / ("piece" + std::to_string(i) + ".bin");
        WriteBytes(piece, RandomBytes(c.pieces[i].second, static_cast<unsigned>(i + 1)));
        char offset[32];
        std::snprintf(offset, sizeof offset, "0x%X", c.base + c.pieces[i].first);
        inputs += " " + piece + " -binary -offset " + offset;
    }
    const std::string srec = dir / "prog.s";
    RunTool("srec_cat" + inputs + " -o " + srec + " -Motorola -address-length=" + std::to_string(c.addressBytes) +
            " -obs=" + std::to_string(c.blockSize) + (c.crlf ? " -CRLF" : ""));
    // srec_cat writes the binary from address 0: take the base away first.
    RunTool("srec_cat " + srec + " -offset -" + std::to_string(c.base) + " -o " + dir / "ref.bin" + " -binary");
    ExpectConversionMatches(srec, ReadBytes(dir / "ref.bin"));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, SrecCatFiles,
    testing::Values(SrecCatCase{"SmallOneByteRecords", {{0, 0x123}, {0x200, 0x40}}, 1, 0},
                    SrecCatCase{"SmallProgramAboveFirstPage", {{0x1000, 0x300}, {0x1800, 0x777}}, 7, 0},
                    SrecCatCase{"SmallProgramWithLowPageDropped", {{0, 0x200}, {0x1200, 0x1234}}, 32, 0},
                    SrecCatCase{"FullImageWithGaps", {{0, 0x300}, {0x2000, 0x1234}, {0x5003, 0x77}}, 16, 0},
                    SrecCatCase{"LongestRecords", {{0, 0x9000}, {0xA001, 0x3000}}, 250, 0},
                    SrecCatCase{"AddressesAboveTwentyBits", {{0, 0x5000}, {0x6000, 0x100}}, 33, 0x08000000},
                    SrecCatCase{"NearlyTheWholeBuffer", {{0, 0x40000}, {0x7FF00, 0xFB}}, 64, 0x80000000},
                    SrecCatCase{"SixteenBitAddresses", {{0, 0x700}, {0x1000, 0x4000}}, 32, 0, 2},
                    SrecCatCase{"TwentyFourBitAddresses", {{0, 0x2000}, {0x6100, 0x345}}, 28, 0x300000, 3, true},
                    SrecCatCase{"CrLfLineEnds", {{0x10, 0x1F0}}, 16, 0x08000000, 4, true}),
    [](const testing::TestParamInfo<SrecCatCase>& info) { return info.param.name; });

// A real program: C code, constant data and initialised data, linked at a high
// address with gaps between the sections.
const char* kProgramSource = R"(
static const char message[] = "Kestrel test program: constant data in its own section";
int counter = 42;
int table[TABLE_WORDS] = {1, 2, 3, 4, 5};
void start(void) {
    volatile const char* m = message;
    while (*m) counter += *m++ * table[counter % TABLE_WORDS];
    for (;;) {}
}
)";

struct ElfCase {
    const char* name;
    unsigned dataOffset;  // where .data goes, above the program's base
    unsigned tableWords;
    unsigned recordLength;
    unsigned base = 0x10000000;  // below 0x10000 objcopy writes S1 records, below 0x1000000 S2
    bool forceS3 = true;
};

class ObjcopyFiles : public testing::TestWithParam<ElfCase> {};

TEST_P(ObjcopyFiles, ConvertToTheBytesObjcopyMakesOfTheProgram) {
    if (!ToolAvailable("cc") || !ToolAvailable("ld") || !ToolAvailable("objcopy"))
        GTEST_SKIP() << "cc, ld and objcopy (binutils) are needed";
    const ElfCase& c = GetParam();
    ScratchDir dir;
    WriteText(dir / "prog.c", kProgramSource);
    char script[512];
    std::snprintf(script, sizeof script,
                  "ENTRY(start)\nSECTIONS {\n  . = 0x%X;\n  .text : { *(.text*) }\n"
                  "  . = ALIGN(0x100) + 0x230;\n  .rodata : { *(.rodata*) }\n  . = 0x%X + 0x%X;\n"
                  "  .data : { *(.data*) }\n  /DISCARD/ : { *(.eh_frame*) *(.note*) *(.comment) *(.bss*) }\n}\n",
                  c.base, c.base, c.dataOffset);
    WriteText(dir / "link.ld", script);
    RunTool("cc -c -O1 -ffreestanding -fno-pic -fno-asynchronous-unwind-tables -fno-stack-protector -DTABLE_WORDS=" +
        std::to_string(c.tableWords) + " " + dir / "prog.c" + " -o " + dir / "prog.o");
    RunTool("ld -static -nostdlib -T " + dir / "link.ld" + " -o " + dir / "prog.elf " + dir / "prog.o");
    RunTool(std::string("objcopy -O srec ") + (c.forceS3 ? "--srec-forceS3 " : "") + "--srec-len=" + std::to_string(c.recordLength) + " " + dir / "prog.elf " +
        dir / "prog.s");
    RunTool("objcopy -O binary " + dir / "prog.elf " + dir / "ref.bin");
    ExpectConversionMatches(dir / "prog.s", ReadBytes(dir / "ref.bin"));
}

INSTANTIATE_TEST_SUITE_P(Programs, ObjcopyFiles,
                         testing::Values(ElfCase{"SmallProgram", 0x800, 37, 19},
                                         ElfCase{"SmallProgramMovedDown", 0x3000, 37, 64},
                                         ElfCase{"FullImage", 0x6000, 0x1800, 250},
                                         ElfCase{"SixteenBitAddresses", 0x800, 37, 32, 0, false},
                                         ElfCase{"TwentyFourBitAddresses", 0x6000, 0x1800, 64, 0x100000, false}),
                         [](const testing::TestParamInfo<ElfCase>& info) { return info.param.name; });

// The same through the cross binutils, for an ARM program as the board runs.
TEST(ObjcopyArmProgram, ConvertsToTheBytesObjcopyMakesOfIt) {
    if (!ToolAvailable("arm-none-eabi-as") || !ToolAvailable("arm-none-eabi-ld") ||
        !ToolAvailable("arm-none-eabi-objcopy"))
        GTEST_SKIP() << "binutils-arm-none-eabi is not installed";
    ScratchDir dir;
    WriteText(dir / "prog.S",
              ".syntax unified\n.text\n.global _start\n_start:\n  ldr r0, =message\nloop:\n  ldrb r1, [r0], #1\n"
              "  cmp r1, #0\n  bne loop\n  b _start\n.ltorg\n.section .rodata\nmessage: .asciz \"flash me\"\n"
              ".data\n.word 0x11223344, 0x55667788\n.fill 0x500, 1, 0xA5\n");
    WriteText(dir / "link.ld",
              "ENTRY(_start)\nSECTIONS {\n  . = 0x08000000;\n  .text : { *(.text*) }\n  . = 0x08000400;\n"
              "  .rodata : { *(.rodata*) }\n  . = 0x08000C00;\n  .data : { *(.data*) }\n"
              "  /DISCARD/ : { *(.ARM.attributes) }\n}\n");
    RunTool("arm-none-eabi-as " + dir / "prog.S" + " -o " + dir / "prog.o");
    RunTool("arm-none-eabi-ld -T " + dir / "link.ld" + " -o " + dir / "prog.elf " + dir / "prog.o");
    RunTool("arm-none-eabi-objcopy -O srec --srec-forceS3 " + dir / "prog.elf " + dir / "prog.s");
    RunTool("arm-none-eabi-objcopy -O binary " + dir / "prog.elf " + dir / "ref.bin");
    ExpectConversionMatches(dir / "prog.s", ReadBytes(dir / "ref.bin"));
}

}  // namespace
