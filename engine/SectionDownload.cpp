// The section header and the flash data the board asks for after loader 2.
#include <algorithm>
#include <array>
#include <vector>

#include "protocol/Pacing.h"
#include "engine/UIThread.h"
#include "protocol/WireProtocol.h"

namespace {

void PutLittleEndian32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

void CUIThread::SendSectionHeader() {
    // Ten little-endian words: the four area sizes, the four section lengths, the
    // flash map length and the reserve flag, as they stand when the board asks.
    const uint32_t words[10] = {
        image.BufSizes[0], image.BufSizes[1], image.BufSizes[2], image.BufSizes[3],
        image.CodeLen,     image.FontLen,     image.BmpLen,      image.LogoLen,
        image.FlashMapLen, static_cast<uint32_t>(shared.ReserveProgram.load()),
    };
    std::array<uint8_t, kSectionHeaderBytes> header{};
    for (size_t i = 0; i < 10; ++i)
        PutLittleEndian32(header.data() + 4 * i, words[i]);
    const uint32_t written = Comm->WriteBytes(header.data(), static_cast<uint32_t>(header.size()));
    Facts().Sent(header.data(), written);
    if (written == header.size()) {
        std::array<uint32_t, 10> sent{};
        std::copy(std::begin(words), std::end(words), sent.begin());
        Facts().HeaderSent(sent);
    }
    sleeper.SleepMs(kHeaderPauseMs);
}

bool CUIThread::SendSection(uint8_t letter, uint32_t length, uint32_t start) {
    const bool whole = SendSectionBlocks(letter, length, start);
    Facts().SectionSent(letter, whole);
    return whole;
}

bool CUIThread::SendSectionBlocks(uint8_t letter, uint32_t length, uint32_t start) {
    uint32_t total = image.CodeLen + image.FontLen + image.BmpLen + image.LogoLen;
    if (total == 0)
        total = image.FlashMapLen;

    // Never read past the image, whatever the lengths say (an erase asks for the
    // whole 0xFFFFFFFF-byte map): the run is cut at the end of the buffer.
    const uint32_t imageSize = static_cast<uint32_t>(kImageBufSize);
    const uint32_t n = start >= imageSize ? 0 : std::min(length, imageSize - start);
    const uint8_t* source = image.ImageBuf.data() + std::min(start, imageSize);

    auto postProgress = [&] {
        // With nothing to send at all, everything there was has gone: 60.
        const uint64_t percent = total == 0 ? 60 : uint64_t{SentBytes} * 57 / total + 3;
        PostStatus(STATUS_PROGRESS, static_cast<int64_t>(percent));
    };

    std::vector<uint8_t> block(kDownloadBlockSize);
    const uint32_t blocks = n / kDownloadBlockSize;
    const uint32_t rest = n - kDownloadBlockSize * blocks;
    const uint32_t writesWithData = blocks + (rest != 0 ? 1 : 0);
    for (uint32_t i = 0; i < blocks; ++i) {
        std::copy_n(source + size_t{kDownloadBlockSize} * i, kDownloadBlockSize, block.begin());
        if (!SendBlock(block.data(), kDownloadBlockSize))
            return false;
        SentBytes += kDownloadBlockSize;
        Facts().SectionBlock(letter, i + 1, writesWithData);
        postProgress();
        sleeper.SleepMs(kBlockPauseMs);
    }
    SentBytes += rest;
    std::fill(block.begin(), block.end(), 0x00);
    std::copy_n(source + size_t{kDownloadBlockSize} * blocks, rest, block.begin());
    if (!SendBlock(block.data(), rest))
        return false;
    if (rest != 0)
        Facts().SectionBlock(letter, writesWithData, writesWithData);
    postProgress();
    sleeper.SleepMs(kBlockPauseMs);
    return true;
}
