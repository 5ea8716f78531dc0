#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

// The one-slot text mailbox from the worker to the dialog: the board's console bytes.
// A zero first byte means empty. The worker fills the rest of the slot first and
// publishes the first byte last (release); the dialog sees the first byte (acquire),
// copies the bytes out and clears the slot, handing it back to the worker.
class SharedTextSlot {
public:
    static constexpr size_t kSize = 1024;

    bool IsEmpty() const { return first.load(std::memory_order_acquire) == 0; }
    uint8_t FirstByte() const { return first.load(std::memory_order_acquire); }

    // Worker: hands n received bytes (n <= kSize) to the dialog.
    void Publish(const uint8_t* bytes, size_t n) {
        if (n == 0)
            return;
        std::memcpy(rest.data(), bytes + 1, n - 1);
        first.store(bytes[0], std::memory_order_release);
    }
    // Copies out the first n bytes (n <= kSize).
    void CopyOut(uint8_t* out, size_t n) const {
        if (n == 0)
            return;
        out[0] = first.load(std::memory_order_acquire);
        std::memcpy(out + 1, rest.data(), n - 1);
    }
    std::string Text() const {
        std::array<uint8_t, kSize> all{};
        CopyOut(all.data(), kSize);
        return std::string(reinterpret_cast<const char*>(all.data()), strnlen(reinterpret_cast<const char*>(all.data()), kSize));
    }
    // Sets all bytes to 0; the first byte last, so the slot reads empty only when clean.
    void Clear() {
        rest.fill(0);
        first.store(0, std::memory_order_release);
    }

private:
    std::atomic<uint8_t> first{0};
    std::array<uint8_t, kSize - 1> rest{};
};

// The state the dialog and the worker share (members of the application object).
// Passed by reference, so tests and a multi-port front end can run several engines.
struct SharedState {
    SharedTextSlot SharedText;
    std::atomic<uint32_t> WorkerThreadId{0};
    std::atomic<int> UpdateArmed{0};
    std::string RequestText;  // the dialog's; requests carry their own copy to the worker
    std::atomic<int> BusyFlag{0};
    std::string AppFolder;
    // The library folder (loaders, flash layout, settings): AppFolder/Lib unless a
    // front end names another one.
    std::string LibFolder;
    std::string LibraryFolder() const { return LibFolder.empty() ? AppFolder + "/Lib" : LibFolder; }
    // Where a library file is found, for a front end whose library spans folders (set
    // before the worker starts); else the file in LibraryFolder().
    std::function<std::string(const std::string& fileName)> FindLibraryFile;
    std::string LibraryFile(const std::string& fileName) const {
        return FindLibraryFile ? FindLibraryFile(fileName) : LibraryFolder() + "/" + fileName;
    }
    std::atomic<int> ReserveProgram{0};
};
