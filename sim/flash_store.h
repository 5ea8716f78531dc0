#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace kestrel::sim {

// The board's 1 MiB flash, kept in a file so that a test or an operator can
// look at what an update left behind. A missing (or empty) file starts erased.
class FlashStore {
public:
    // Refuses a file of any other size than the flash: it is more likely some
    // other file named by mistake than a flash to be overwritten.
    bool Open(const std::filesystem::path& path, std::string& error);
    // Whether Open would take the file (missing, empty or a whole flash),
    // without reading or creating it.
    static bool Usable(const std::filesystem::path& path, std::string& error);

    // Copies `bytes` to `offset`, cut at the end of the flash; returns how many
    // bytes landed.
    std::size_t Program(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    void Erase();

    // Writes the whole flash back to its file.
    bool Save(std::string& error) const;

    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
    std::vector<std::uint8_t> bytes_;
};

}  // namespace kestrel::sim
