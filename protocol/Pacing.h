#pragma once
#include <cstdint>

// Pacing of the downloads: every loader and section write is one block of this size,
// followed by a pause long enough for it to leave the line at 115200 baud; short
// frames (the loader-2 header, the section header) are followed by a short pause.
inline constexpr uint32_t kDownloadBlockSize = 2048;
inline constexpr uint32_t kBlockPauseMs = 300;
inline constexpr uint32_t kHeaderPauseMs = 30;
