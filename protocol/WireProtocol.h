#pragma once
#include <cstddef>
#include <cstdint>

// The bytes of the exchange with the board, as the worker sends and answers them and
// as the wire-trace reader explains them.

// The board's one-character replies during an update.
inline constexpr uint8_t kReplyLoader1 = 'W';  // the boot code asks for loader 1
inline constexpr uint8_t kReplyLoader2 = 'Z';  // loader 1 asks for loader 2
inline constexpr uint8_t kReplyHeader = 'S';   // loader 2 asks for the section header
inline constexpr uint8_t kReplyFlashMap = 'A';
inline constexpr uint8_t kReplyCode = 'C';
inline constexpr uint8_t kReplyFont = 'F';
inline constexpr uint8_t kReplyBitmap = 'B';
inline constexpr uint8_t kReplyLogo = 'E';
inline constexpr uint8_t kReplyDone = 'D';
inline constexpr uint8_t kFirstProgress = 1;  // programming progress in sixteenths
inline constexpr uint8_t kLastProgress = 16;

// The wake-up ("reset") and "pcdemo" patterns, and the pause after the wake-up.
inline constexpr size_t kWakeUpLength = 16;
inline constexpr uint8_t kWakeUpByte = 0xFF;
inline constexpr uint8_t kDemoByte = 0xEE;
inline constexpr uint32_t kWakeUpPauseMs = 10;

// Loader 1 goes out behind this start byte; loader files carry a 4-byte header and
// one trailer byte that is never sent.
inline constexpr uint8_t kLoader1StartByte = 0x18;
inline constexpr uint32_t kLoaderHeaderBytes = 4;
inline constexpr uint32_t kLoaderTrailerBytes = 1;

// The section header: ten little-endian words.
inline constexpr size_t kSectionHeaderBytes = 40;
// The flash-map length that makes an update an erase of the whole flash.
inline constexpr uint32_t kEraseLength = 0xFFFFFFFF;
