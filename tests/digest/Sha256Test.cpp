// SHA-256 against the published test vectors, fed whole and in every split, and of a
// file as it reads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "digest/Sha256.h"

namespace {

std::string HexOf(const std::string& text) { return Sha256::Hex(Sha256::Of(text.data(), text.size())); }

TEST(Sha256, PublishedVectors) {
    EXPECT_EQ(HexOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(HexOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 448 bits: the padding's length no longer fits the first block.
    EXPECT_EQ(HexOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(HexOf("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnop"
                    "qrstnopqrstu"),
              "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
    // A million 'a', fed in uneven pieces.
    Sha256 h;
    const std::string piece(997, 'a');
    size_t fed = 0;
    while (fed + piece.size() <= 1000000) {
        h.Update(piece.data(), piece.size());
        fed += piece.size();
    }
    h.Update(piece.data(), 1000000 - fed);
    EXPECT_EQ(Sha256::Hex(h.Final()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, AnySplitGivesTheSameDigestAndFinalLeavesTheStreamOpen) {
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += static_cast<char>(i * 37 + 11);
    const Sha256::Digest whole = Sha256::Of(text.data(), text.size());
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        Sha256 h;
        h.Update(text.data(), cut);
        const Sha256::Digest partial = h.Final();
        EXPECT_EQ(partial, Sha256::Of(text.data(), cut)) << cut;
        h.Update(text.data() + cut, text.size() - cut);
        ASSERT_EQ(h.Final(), whole) << "split at " << cut;
    }
}

TEST(Sha256, OfAFileAndOfOneThatCannotBeRead) {
    const auto path = std::filesystem::temp_directory_path() / ("kestrel-sha-" + std::to_string(getpid()));
    std::string bytes(200000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i % 251);
    std::ofstream(path, std::ios::binary) << bytes;
    Sha256::Digest d{};
    std::string why;
    ASSERT_TRUE(Sha256OfFile(path.string(), d, why)) << why;
    EXPECT_EQ(d, Sha256::Of(bytes.data(), bytes.size()));
    std::filesystem::remove(path);
    EXPECT_FALSE(Sha256OfFile(path.string(), d, why));
    EXPECT_EQ(why, "No such file or directory");
}

}  // namespace
