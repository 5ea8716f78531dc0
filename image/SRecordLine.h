#pragma once
// One line of Motorola S-record text, read strictly: the record type, the byte
// count against the length of the line, every digit and the checksum. A line
// that fails any of these is no record, and its bytes must never become code.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

struct SRecordLine {
    enum class Kind {
        Blank,   // nothing but blanks
        Header,  // S0: a title, no code
        Data,    // S1, S2, S3: code bytes at a 16-, 24- or 32-bit address
        Count,   // S5, S6: how many data records came before
        End,     // S7, S8, S9: the start address, which closes the data
    };
    Kind kind = Kind::Blank;
    char type = 0;         // '0' to '9'
    uint32_t address = 0;  // as written, 16, 24 or 32 bits wide
    uint32_t dataSize = 0;
    const uint8_t* Data() const { return bytes.data() + dataOffset; }

    // The bytes after the type: count, address, data, checksum.
    std::array<uint8_t, 256> bytes;
    uint32_t dataOffset = 0;
};

// Reads one line, without its line end; trailing blanks and a CR are allowed.
// Returns "" when the line is blank or a sound record, else why it is not (a
// phrase to follow "file, line N: ").
std::string ReadSRecordLine(std::string_view line, SRecordLine& record);
