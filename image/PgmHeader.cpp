#include "image/PgmHeader.h"

std::string FormatPgmHeader(const uint8_t* values, uint32_t length) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text = "static u8 const PgmBuffer[" + std::to_string(length) + "] =\r\n{\r\n";
    text.reserve(text.size() + (uint64_t{length} + 1) * 5 + (length / 32 + 1) * 2 + 4);
    for (uint32_t i = 0; i <= length; ++i) {
        const char value[] = {'0', 'x', kDigits[values[i] >> 4], kDigits[values[i] & 0x0F], ','};
        text.append(value, sizeof value);
        // The first line carries 33 values (indices 0 to 32), each later one 32.
        if (i != 0 && i % 32 == 0) text += "\r\n";
    }
    text += "\r\n};";
    return text;
}
