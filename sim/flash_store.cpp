#include "sim/flash_store.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

#include "sim/board_wire.h"

namespace kestrel::sim {

bool FlashStore::Usable(const std::filesystem::path& path, std::string& error) {
    std::error_code ec;
    const bool exists = std::filesystem::exists(path, ec);
    const std::uintmax_t size = exists ? std::filesystem::file_size(path, ec) : 0;
    if (ec) {
        error = path.string() + ": " + ec.message();
        return false;
    }
    if (size != 0 && size != wire::kFlashSize) {
        error = path.string() + " holds " + std::to_string(size) + " bytes, not a " +
                std::to_string(wire::kFlashSize) + "-byte flash";
        return false;
    }
    return true;
}

bool FlashStore::Open(const std::filesystem::path& path, std::string& error) {
    path_ = path;
    bytes_.assign(wire::kFlashSize, 0xFF);
    if (!Usable(path, error)) return false;
    // Usable: missing, empty or a whole flash, so a non-empty file is one.
    std::error_code ec;
    const bool whole = std::filesystem::exists(path, ec) && std::filesystem::file_size(path, ec) == wire::kFlashSize;
    if (whole) {
        std::ifstream in(path, std::ios::binary);
        if (!in.read(reinterpret_cast<char*>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()))) {
            error = "cannot read " + path.string();
            return false;
        }
        return true;
    }
    return Save(error);
}

std::size_t FlashStore::Program(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (offset >= bytes_.size()) return 0;
    const std::size_t n = std::min<std::uint64_t>(bytes.size(), bytes_.size() - offset);
    std::copy_n(bytes.begin(), n, bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
    return n;
}

void FlashStore::Erase() { std::fill(bytes_.begin(), bytes_.end(), 0xFF); }

bool FlashStore::Save(std::string& error) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()));
    out.close();
    if (!out) {
        error = "cannot write " + path_.string();
        return false;
    }
    return true;
}

}  // namespace kestrel::sim
