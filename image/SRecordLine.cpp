#include "image/SRecordLine.h"

#include <algorithm>
#include <cstdio>

#include "image/HexText.h"

namespace {

// Address bytes of each record type; 0 for S4, which no tool writes.
constexpr int kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

SRecordLine::Kind KindOfType(char type) {
    switch (type) {
    case '0': return SRecordLine::Kind::Header;
    case '1':
    case '2':
    case '3': return SRecordLine::Kind::Data;
    case '5':
    case '6': return SRecordLine::Kind::Count;
    default: return SRecordLine::Kind::End;
    }
}

bool IsLayoutBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string BadDigit(std::string_view line, size_t at) {
    const unsigned char c = static_cast<unsigned char>(line[at]);
    char text[96];
    if (c >= 0x20 && c < 0x7F)
        std::snprintf(text, sizeof text, "'%c' at column %zu is not a hexadecimal digit", c, at + 1);
    else
        std::snprintf(text, sizeof text, "the byte 0x%02X at column %zu is not a hexadecimal digit", c, at + 1);
    return text;
}

}  // namespace

std::string ReadSRecordLine(std::string_view line, SRecordLine& r) {
    while (!line.empty() && IsLayoutBlank(line.back())) line.remove_suffix(1);
    r.kind = SRecordLine::Kind::Blank;
    r.type = 0;
    r.address = 0;
    r.dataSize = 0;
    r.dataOffset = 0;
    if (line.empty()) return "";
    if (line.size() < 2 || line[0] != 'S' || line[1] < '0' || line[1] > '9')
        return "the line is not an S-record (a record begins with an upper-case S and its type, 0 to 9)";
    const char type = line[1];
    const int addressBytes = kAddressBytes[type - '0'];
    if (addressBytes == 0) return std::string("S") + type + " is no record type of a code file";

    // Every digit pair is read in one sweep; the rare bad digit is looked for
    // only when the sweep has seen one.
    const std::string_view digits = line.substr(2);
    const size_t pairs = std::min(digits.size() / 2, r.bytes.size());
    int bad = 0;
    for (size_t k = 0; k < pairs; ++k) {
        const int high = HexDigitValue(digits[2 * k]);
        const int low = HexDigitValue(digits[2 * k + 1]);
        bad |= high | low;
        r.bytes[k] = static_cast<uint8_t>((high << 4) | (low & 0x0F));
    }
    if (digits.size() % 2 != 0) bad |= HexDigitValue(digits.back());
    if (bad < 0 || digits.size() > 2 * r.bytes.size()) {
        for (size_t at = 2; at < line.size(); ++at)
            if (HexDigitValue(line[at]) < 0) return BadDigit(line, at);
    }
    if (digits.size() < 2) return "the line ends before its byte count";

    const uint32_t count = r.bytes[0];
    char text[128];
    if (digits.size() != 2 + 2 * size_t{count}) {
        std::snprintf(text, sizeof text, "the byte count 0x%02X calls for %u hexadecimal digits after it, the line has %zu",
                      count, 2 * count, digits.size() - 2);
        return text;
    }
    if (count < static_cast<uint32_t>(addressBytes) + 1) {
        std::snprintf(text, sizeof text,
                      "the byte count %u is too small for an S%c record (%d address bytes and the checksum)", count, type,
                      addressBytes);
        return text;
    }
    // The checksum is the ones' complement of the sum of the count, address and data bytes.
    unsigned sum = 0;
    for (uint32_t k = 0; k < count; ++k) sum += r.bytes[k];
    const uint8_t expected = static_cast<uint8_t>(~sum);
    if (r.bytes[count] != expected) {
        std::snprintf(text, sizeof text, "checksum error: the record ends in %02X, its bytes call for %02X",
                      r.bytes[count], expected);
        return text;
    }

    r.kind = KindOfType(type);
    r.type = type;
    for (int k = 1; k <= addressBytes; ++k) r.address = (r.address << 8) | r.bytes[k];
    r.dataOffset = 1 + static_cast<uint32_t>(addressBytes);
    r.dataSize = count - r.dataOffset;
    if ((r.kind == SRecordLine::Kind::Count || r.kind == SRecordLine::Kind::End) && r.dataSize != 0) {
        std::snprintf(text, sizeof text, "an S%c record carries no data, this one has %u bytes", type, r.dataSize);
        return text;
    }
    return "";
}
