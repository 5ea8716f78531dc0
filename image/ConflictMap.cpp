#include "image/ConflictMap.h"

template <typename F>
bool ConflictMap::ForWords(uint32_t from, uint32_t to, F f) {
    while (from < to) {
        const uint32_t index = from / 64;
        const uint32_t first = from % 64;
        const uint32_t count = to - from < 64 - first ? to - from : 64 - first;
        const uint64_t mask = (count == 64 ? ~uint64_t{0} : ((uint64_t{1} << count) - 1)) << first;
        if (f(index, mask)) return true;
        from += count;
    }
    return false;
}

bool ConflictMap::AnyClaimed(uint32_t from, uint32_t to) const {
    return ForWords(from, to, [&](uint32_t index, uint64_t mask) { return (words[index] & mask) != 0; });
}

void ConflictMap::Claim(uint32_t from, uint32_t to) {
    ForWords(from, to, [&](uint32_t index, uint64_t mask) {
        words[index] |= mask;
        return false;
    });
}
