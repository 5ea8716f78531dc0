#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sim/board_wire.h"

namespace kestrel::sim {

// The 40-byte header loader 2 receives after asking 'S': the four flash area
// sizes, the four section lengths, the complete-map length and the reserve flag.
struct SectionHeader {
    std::uint32_t codeArea = 0;
    std::uint32_t fontArea = 0;
    std::uint32_t bitmapArea = 0;
    std::uint32_t logoArea = 0;
    std::uint32_t codeLength = 0;
    std::uint32_t fontLength = 0;
    std::uint32_t bitmapLength = 0;
    std::uint32_t logoLength = 0;
    std::uint32_t mapLength = 0;
    std::uint32_t reserve = 0;
};

SectionHeader DecodeSectionHeader(std::span<const std::uint8_t, wire::kSectionHeaderSize> bytes);

enum class UpdateKind { Sections, FlashMap, Erase };
UpdateKind KindOf(const SectionHeader& h);

// One run of data the board asks for, and where it lands in the flash.
struct SectionRequest {
    std::uint8_t letter;
    const char* name;
    std::uint64_t flashOffset;
    std::uint32_t length;
};

// 'A' alone for a complete map; 'C', 'F', 'B', 'E' in turn for each section
// with a non-zero length; nothing for an erase.
std::vector<SectionRequest> RequestsFor(const SectionHeader& h);

// Everything that keeps the board from programming what the header announces:
// data that would land outside the flash or overlap the next area, an erase
// that still announces sections, a reserve flag that is neither 0 nor 1.
// Empty when the header is consistent.
std::vector<std::string> HeaderProblems(const SectionHeader& h);

// One line for the summary: "code 4096, font 0, … map 0, reserve 0".
std::string DescribeHeader(const SectionHeader& h);

}  // namespace kestrel::sim
