#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::sim {

// The two loader programs as the board expects them on the wire, worked out
// from the same files the tool sends: loader 1 is the start byte 0x18 and one
// 2048-byte block holding the file's body (bytes 4 … L−2) zero-filled; loader 2
// is the first L−1 bytes of its file (header and body, never the trailer).
struct LoaderImages {
    std::filesystem::path loader1File;
    std::filesystem::path loader2File;
    std::vector<std::uint8_t> loader1Wire;
    std::vector<std::uint8_t> loader2Wire;
};

// nullopt with `error` set when the file cannot be framed: shorter than its
// header and trailer, or (loader 1) with more body than the block holds.
std::optional<std::vector<std::uint8_t>> Loader1Wire(std::span<const std::uint8_t> file, std::string& error);
std::optional<std::vector<std::uint8_t>> Loader2Wire(std::span<const std::uint8_t> file, std::string& error);

// Reads "Pgm_<crystal>.bin" and "Pgm_M850T.bin" from `lib_dir`.
std::optional<LoaderImages> LoadLoaderImages(const std::filesystem::path& lib_dir, std::string_view crystal,
                                             std::string& error);

// Index of the first byte where `got` and `want` differ (a length difference
// counts at the end of the shorter), or nullopt when they are equal.
std::optional<std::size_t> FirstDifference(std::span<const std::uint8_t> got, std::span<const std::uint8_t> want);

}  // namespace kestrel::sim
