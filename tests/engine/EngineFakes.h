#pragma once
// Stand-ins for everything around the worker: a scripted serial line, a sleeper that
// only records, and an owner that records what it is told. They share one event log,
// so tests can check the order of writes, pauses, closes and opens.
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/OwnerInterfaces.h"
#include "engine/Sleeper.h"
#include "serial/ISerialLine.h"
#include "serial/LineFactory.h"

// A factory that hands the worker this one line.
inline LineFactory HandOver(std::unique_ptr<ISerialLine> line) {
    auto held = std::make_shared<std::unique_ptr<ISerialLine>>(std::move(line));
    return [held] { return std::move(*held); };
}

struct LineEvent {
    enum Kind { Open, Close, Write, Drain, Sleep } kind;
    std::string settings;        // Open
    uint32_t port = 0;           // Open
    std::vector<uint8_t> bytes;  // Write
    uint32_t ms = 0;             // Sleep
};

using EventLog = std::vector<LineEvent>;

class ScriptedLine : public ISerialLine {
public:
    explicit ScriptedLine(EventLog& log) : log(log) {}

    bool OpenPort(uint32_t n, const std::string& settings) override {
        if (n == 0 || n > 1024)
            return false;
        if (open)
            ClosePort();
        log.push_back({LineEvent::Open, settings, n, {}, 0});
        open = !failOpens;
        ++opens;
        return open;
    }
    void ClosePort() override {
        if (!open)
            return;
        open = false;
        log.push_back({LineEvent::Close, {}, 0, {}, 0});
    }
    bool IsOpen() const override { return open; }
    uint32_t ReadAvailable(uint8_t* buffer, uint32_t maxBytes, uint32_t) override {
        if (!open || pending.empty())
            return 0;
        auto& chunk = pending.front();
        const uint32_t n = std::min<uint32_t>(maxBytes, static_cast<uint32_t>(chunk.size()));
        std::copy_n(chunk.begin(), n, buffer);
        chunk.erase(chunk.begin(), chunk.begin() + n);
        if (chunk.empty())
            pending.pop_front();
        ++reads;
        return n;
    }
    uint32_t WriteBytes(const uint8_t* buffer, uint32_t length) override {
        if (!open || writesBeforeFailure == 0)
            return 0;
        if (writesBeforeFailure > 0)
            --writesBeforeFailure;
        log.push_back({LineEvent::Write, {}, 0, std::vector<uint8_t>(buffer, buffer + length), 0});
        return length;
    }
    bool DrainOutput(uint32_t) override {
        log.push_back({LineEvent::Drain, {}, 0, {}, 0});
        return true;
    }
    std::string DeviceName() const override { return "/dev/ttyFAKE0"; }
    std::string LastOpenError() const override { return failOpens ? "no such device (is the adapter plugged in?)" : ""; }
    void SetNotifyThread(INotifyTarget*) override {}
    uint32_t OpenCount() const override { return opens; }

    // The next read returns these bytes (one read per chunk).
    void Arrive(std::vector<uint8_t> bytes) { pending.push_back(std::move(bytes)); }

    bool failOpens = false;
    int writesBeforeFailure = -1;  // when it reaches 0, every write fails (takes nothing)
    int reads = 0;

private:
    EventLog& log;
    bool open = false;
    uint32_t opens = 0;
    std::deque<std::vector<uint8_t>> pending;
};

class RecordingSleeper : public ISleeper {
public:
    explicit RecordingSleeper(EventLog& log) : log(log) {}
    void SleepMs(uint32_t ms) override {
        log.push_back({LineEvent::Sleep, {}, 0, {}, ms});
        if (afterPause)
            afterPause();
    }
    // Runs after every pause: where a test plays the operator in the middle of a run.
    std::function<void()> afterPause;

private:
    EventLog& log;
};

// Takes no time and records nothing: for a worker on its own thread.
class NoPauseSleeper : public ISleeper {
public:
    void SleepMs(uint32_t) override {}
};

struct Post {
    uint32_t id, wParam;
    int64_t lParam;
};

struct Box {
    std::string text, caption;
    BoxIcon icon;
};

class RecordingOwner : public IWindowPoster, public IMessageBoxOwner {
public:
    void PostWindowMessage(uint32_t id, uint32_t wParam, int64_t lParam) override {
        std::lock_guard lock(mutex);
        posts.push_back({id, wParam, lParam});
    }
    void ShowMessageBox(const std::string& text, const std::string& caption, BoxIcon icon) override {
        std::lock_guard lock(mutex);
        boxes.push_back({text, caption, icon});
    }
    std::vector<Post> Posts() {
        std::lock_guard lock(mutex);
        return posts;
    }
    std::vector<Box> Boxes() {
        std::lock_guard lock(mutex);
        return boxes;
    }
    void Clear() {
        std::lock_guard lock(mutex);
        posts.clear();
        boxes.clear();
    }

private:
    std::mutex mutex;
    std::vector<Post> posts;
    std::vector<Box> boxes;
};

inline std::vector<uint8_t> LoaderFile(size_t length);

// A library folder like the one beside the executable, in a fresh temporary place:
// the flash layout and a loader file for every crystal and for loader 2.
class TempLibrary {
public:
    TempLibrary() {
        root = std::filesystem::temp_directory_path() /
               ("kestrel-engine-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(root / "Lib");
        WriteText("Lib/FlashAddrAssign.h",
                  "#define CodeBufSize 0x80000\n#define FontBufSize 0x20000\n"
                  "#define BmpBufSize 0x40000\n#define EsLogoPicBufSize 0x20000\n");
        for (const char* crystal : {"4M", "8M", "13.5M", "16M", "27M"})
            WriteBytes(std::string("Lib/Pgm_") + crystal + ".bin", LoaderFile(1029));
        WriteBytes("Lib/Pgm_M850T.bin", LoaderFile(2054));
    }
    ~TempLibrary() { std::filesystem::remove_all(root); }
    std::string Folder() const { return root.string(); }
    std::string Path(const std::string& name) const { return (root / name).string(); }
    void WriteText(const std::string& name, const std::string& text) const {
        std::ofstream(root / name, std::ios::binary) << text;
    }
    void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) const {
        std::ofstream out(root / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

private:
    static inline int counter = 0;
    std::filesystem::path root;
};

// A loader file of the given length whose bytes are their offsets' low bits.
inline std::vector<uint8_t> LoaderFile(size_t length) {
    std::vector<uint8_t> f(length);
    for (size_t i = 0; i < length; ++i)
        f[i] = static_cast<uint8_t>(i * 13 + 1);
    return f;
}
