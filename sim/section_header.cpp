#include "sim/section_header.h"

#include <cstdio>

namespace kestrel::sim {

namespace {

std::uint32_t Word(std::span<const std::uint8_t, wire::kSectionHeaderSize> b, std::size_t index) {
    const std::size_t at = index * 4;
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::string Hex(std::uint64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(v));
    return text;
}

// Area starts in 64 bits: the sums of three 32-bit sizes must not wrap.
std::uint64_t FontStart(const SectionHeader& h) { return h.codeArea; }
std::uint64_t BitmapStart(const SectionHeader& h) { return FontStart(h) + h.fontArea; }
std::uint64_t LogoStart(const SectionHeader& h) { return BitmapStart(h) + h.bitmapArea; }

}  // namespace

SectionHeader DecodeSectionHeader(std::span<const std::uint8_t, wire::kSectionHeaderSize> b) {
    SectionHeader h;
    h.codeArea = Word(b, 0);
    h.fontArea = Word(b, 1);
    h.bitmapArea = Word(b, 2);
    h.logoArea = Word(b, 3);
    h.codeLength = Word(b, 4);
    h.fontLength = Word(b, 5);
    h.bitmapLength = Word(b, 6);
    h.logoLength = Word(b, 7);
    h.mapLength = Word(b, 8);
    h.reserve = Word(b, 9);
    return h;
}

UpdateKind KindOf(const SectionHeader& h) {
    if (h.mapLength == wire::kEraseMapLength) return UpdateKind::Erase;
    if (h.mapLength != 0) return UpdateKind::FlashMap;
    return UpdateKind::Sections;
}

std::vector<SectionRequest> RequestsFor(const SectionHeader& h) {
    std::vector<SectionRequest> out;
    switch (KindOf(h)) {
        case UpdateKind::Erase:
            break;
        case UpdateKind::FlashMap:
            out.push_back({wire::kAskFlashMap, "flash map", 0, h.mapLength});
            break;
        case UpdateKind::Sections: {
            const SectionRequest all[] = {
                {wire::kAskCode, "code", 0, h.codeLength},
                {wire::kAskFont, "font", FontStart(h), h.fontLength},
                {wire::kAskBitmap, "bitmap", BitmapStart(h), h.bitmapLength},
                {wire::kAskLogo, "logo", LogoStart(h), h.logoLength},
            };
            for (const SectionRequest& r : all) {
                if (r.length != 0) out.push_back(r);
            }
            break;
        }
    }
    return out;
}

std::vector<std::string> HeaderProblems(const SectionHeader& h) {
    std::vector<std::string> out;
    if (h.reserve > 1) out.push_back("reserve flag " + Hex(h.reserve) + " is neither 0 nor 1");
    switch (KindOf(h)) {
        case UpdateKind::Erase:
            if (h.codeLength || h.fontLength || h.bitmapLength || h.logoLength) {
                out.push_back("an erase announces section data (code " + Hex(h.codeLength) + ", font " +
                              Hex(h.fontLength) + ", bitmap " + Hex(h.bitmapLength) + ", logo " +
                              Hex(h.logoLength) + ")");
            }
            break;
        case UpdateKind::FlashMap:
            if (h.mapLength > wire::kFlashSize) {
                out.push_back("flash map of " + Hex(h.mapLength) + " bytes is larger than the flash (" +
                              Hex(wire::kFlashSize) + ")");
            }
            break;
        case UpdateKind::Sections: {
            if (LogoStart(h) > wire::kFlashSize) {
                out.push_back("code, font and bitmap areas end at " + Hex(LogoStart(h)) +
                              ", past the end of the flash");
                break;
            }
            if (h.codeLength > h.codeArea) {
                out.push_back("code of " + Hex(h.codeLength) + " bytes overflows its area of " + Hex(h.codeArea));
            }
            if (h.fontLength > h.fontArea) {
                out.push_back("font of " + Hex(h.fontLength) + " bytes overflows its area of " + Hex(h.fontArea));
            }
            if (h.bitmapLength > h.bitmapArea) {
                out.push_back("bitmap of " + Hex(h.bitmapLength) + " bytes overflows its area of " +
                              Hex(h.bitmapArea));
            }
            // The logo region runs from its start to the end of the flash.
            if (LogoStart(h) + h.logoLength > wire::kFlashSize) {
                out.push_back("logo of " + Hex(h.logoLength) + " bytes at " + Hex(LogoStart(h)) +
                              " runs past the end of the flash");
            }
            break;
        }
    }
    return out;
}

std::string DescribeHeader(const SectionHeader& h) {
    return "areas " + Hex(h.codeArea) + "/" + Hex(h.fontArea) + "/" + Hex(h.bitmapArea) + "/" +
           Hex(h.logoArea) + ", code " + std::to_string(h.codeLength) + ", font " +
           std::to_string(h.fontLength) + ", bitmap " + std::to_string(h.bitmapLength) + ", logo " +
           std::to_string(h.logoLength) + ", map " +
           (h.mapLength == wire::kEraseMapLength ? std::string("erase") : std::to_string(h.mapLength)) +
           ", reserve " + std::to_string(h.reserve);
}

}  // namespace kestrel::sim
