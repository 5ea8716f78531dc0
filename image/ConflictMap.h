#pragma once
// Which code addresses an S-record conversion has already filled, one bit per
// address: two records that fill the same address are a conflict. Bits rather
// than bytes, because the map is made afresh for every file.

#include <cstdint>
#include <vector>

class ConflictMap {
public:
    explicit ConflictMap(uint32_t addresses) : words((uint64_t{addresses} + 63) / 64, 0) {}
    uint64_t Addresses() const { return uint64_t{words.size()} * 64; }
    // True when any address in [from, to) is claimed; the range must lie inside.
    bool AnyClaimed(uint32_t from, uint32_t to) const;
    void Claim(uint32_t from, uint32_t to);

private:
    // Calls `f(word index, mask)` for the words that [from, to) touches.
    template <typename F>
    static bool ForWords(uint32_t from, uint32_t to, F f);
    std::vector<uint64_t> words;
};
