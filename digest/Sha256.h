#pragma once
// SHA-256 of a stream of bytes, fed in pieces of any size, and of whole files. The
// station's records name each update file and the bytes a board was sent by this
// hash, so that a factory system can tell later what went into which board.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
public:
    using Digest = std::array<uint8_t, 32>;

    Sha256();
    void Update(const void* bytes, size_t count);
    // The digest of everything fed so far. The object is not changed: feeding may go
    // on, and a later Final() covers the later bytes too.
    Digest Final() const;

    // 64 lower-case hexadecimal digits.
    static std::string Hex(const Digest& digest);
    static Digest Of(const void* bytes, size_t count);

private:
    void Block(const uint8_t* block);

    std::array<uint32_t, 8> state;
    std::array<uint8_t, 64> pending{};
    size_t pendingCount = 0;
    uint64_t totalBytes = 0;
};

// The digest of a whole file as it reads now; false with the reason in `error` when
// it cannot be read.
bool Sha256OfFile(const std::string& path, Sha256::Digest& digest, std::string& error);
