#include "sim/loader_files.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "sim/board_wire.h"

namespace kestrel::sim {

namespace {

bool ReadWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& out, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path.string();
        return false;
    }
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = "cannot read " + path.string();
        return false;
    }
    return true;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> Loader1Wire(std::span<const std::uint8_t> file, std::string& error) {
    if (file.size() < wire::kLoaderFileMinimum) {
        error = "loader 1 file of " + std::to_string(file.size()) + " bytes has no room for its header and trailer";
        return std::nullopt;
    }
    const std::size_t body = file.size() - wire::kLoaderFileMinimum;
    if (body > wire::kLoader1BlockSize) {
        error = "loader 1 body of " + std::to_string(body) + " bytes does not fit its " +
                std::to_string(wire::kLoader1BlockSize) + "-byte block";
        return std::nullopt;
    }
    std::vector<std::uint8_t> out(1 + wire::kLoader1BlockSize, 0x00);
    out[0] = wire::kLoader1StartByte;
    std::copy_n(file.begin() + wire::kLoaderFileHeader, body, out.begin() + 1);
    return out;
}

std::optional<std::vector<std::uint8_t>> Loader2Wire(std::span<const std::uint8_t> file, std::string& error) {
    if (file.size() < wire::kLoaderFileMinimum) {
        error = "loader 2 file of " + std::to_string(file.size()) + " bytes has no room for its header and trailer";
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(file.begin(), file.end() - 1);
}

std::optional<LoaderImages> LoadLoaderImages(const std::filesystem::path& lib_dir, std::string_view crystal,
                                             std::string& error) {
    LoaderImages images;
    images.loader1File = lib_dir / ("Pgm_" + std::string(crystal) + ".bin");
    images.loader2File = lib_dir / "Pgm_M850T.bin";
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(images.loader1File, bytes, error)) return std::nullopt;
    auto one = Loader1Wire(bytes, error);
    if (!one) {
        error = images.loader1File.string() + ": " + error;
        return std::nullopt;
    }
    if (!ReadWholeFile(images.loader2File, bytes, error)) return std::nullopt;
    auto two = Loader2Wire(bytes, error);
    if (!two) {
        error = images.loader2File.string() + ": " + error;
        return std::nullopt;
    }
    images.loader1Wire = std::move(*one);
    images.loader2Wire = std::move(*two);
    return images;
}

std::optional<std::size_t> FirstDifference(std::span<const std::uint8_t> got, std::span<const std::uint8_t> want) {
    const std::size_t common = std::min(got.size(), want.size());
    const auto g = std::mismatch(got.begin(), got.begin() + common, want.begin()).first;
    if (g != got.begin() + common) return static_cast<std::size_t>(g - got.begin());
    if (got.size() != want.size()) return common;
    return std::nullopt;
}

}  // namespace kestrel::sim
