#pragma once

#include <cstddef>
#include <cstdint>

// The bytes and sizes of the update exchange as the board's boot code and its
// two loaders know them. Kept apart from the tool's own definitions on purpose:
// the virtual board must catch a tool that got one of them wrong, not share it.
namespace kestrel::sim::wire {

// One-byte requests and reports the board sends.
inline constexpr std::uint8_t kAskLoader1 = 'W';
inline constexpr std::uint8_t kAskLoader2 = 'Z';
inline constexpr std::uint8_t kAskHeader = 'S';
inline constexpr std::uint8_t kAskFlashMap = 'A';
inline constexpr std::uint8_t kAskCode = 'C';
inline constexpr std::uint8_t kAskFont = 'F';
inline constexpr std::uint8_t kAskBitmap = 'B';
inline constexpr std::uint8_t kAskLogo = 'E';
inline constexpr std::uint8_t kFinished = 'D';
// Programming progress goes out as the values 1 … 16 (sixteenths).
inline constexpr std::uint8_t kProgressSteps = 16;

// Loader 1 arrives as a start byte and one fixed block; both loader files
// carry a 4-byte header and a 1-byte trailer around their body.
inline constexpr std::uint8_t kLoader1StartByte = 0x18;
inline constexpr std::size_t kLoader1BlockSize = 2048;
inline constexpr std::size_t kLoaderFileHeader = 4;
// Header and trailer; the body may be empty.
inline constexpr std::size_t kLoaderFileMinimum = kLoaderFileHeader + 1;
// Loader 2 and the section data come in paced writes of this size.
inline constexpr std::size_t kWriteBlockSize = 2048;

// Console patterns: 16 equal bytes in a row.
inline constexpr std::size_t kPatternLength = 16;
inline constexpr std::uint8_t kResetByte = 0xFF;   // reset, also the wake-up
inline constexpr std::uint8_t kDemoByte = 0xEE;    // "pcdemo"

// The section header: ten little-endian 32-bit words.
inline constexpr std::size_t kSectionHeaderSize = 40;
inline constexpr std::uint32_t kEraseMapLength = 0xFFFFFFFFu;

// The board's flash.
inline constexpr std::size_t kFlashSize = 0x100000;

// Every speed after loader 1 runs at this rate.
inline constexpr unsigned kFullSpeedBaud = 115200;

}  // namespace kestrel::sim::wire
