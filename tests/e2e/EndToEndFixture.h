#pragma once
// What the end-to-end tests share: a work folder per test, the virtual board as a
// process, the commands run in-process, and sleepers that record the protocol's pauses.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>

#include "cli/ExecutableFolder.h"
#include "tests/e2e/BoardProcess.h"
#include "tests/e2e/CommandRunner.h"

class NoPause : public ISleeper {
public:
    void SleepMs(uint32_t) override {}
};

// Records the pauses the protocol asks for and takes a fraction of each, so that a
// cancel can land in the middle of a run while the test stays short. `afterPause`
// runs on the worker after every pause, with the number of pauses so far.
class RecordingSleeper : public ISleeper {
public:
    explicit RecordingSleeper(uint32_t divisor = 0) : divisor(divisor) {}
    void SleepMs(uint32_t ms) override {
        size_t count;
        {
            std::lock_guard lock(mutex);
            pauses.push_back(ms);
            count = pauses.size();
        }
        if (divisor)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms / divisor));
        if (afterPause)
            afterPause(count);
    }
    std::vector<uint32_t> Pauses() {
        std::lock_guard lock(mutex);
        return pauses;
    }
    std::function<void(size_t)> afterPause;

private:
    uint32_t divisor;
    std::mutex mutex;
    std::vector<uint32_t> pauses;
};

inline std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The lines appear in `out` in this order, whatever else lies between them.
inline void ExpectLogInOrder(const std::string& out, const std::vector<std::string>& lines) {
    size_t at = 0;
    for (const auto& line : lines) {
        const size_t found = out.find(line + "\n", at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << out;
        at = found + line.size();
    }
}

class EndToEnd : public ::testing::Test {
protected:
    EndToEnd() {
        work = std::filesystem::temp_directory_path() /
               ("kestrel-e2e-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(work);
    }
    ~EndToEnd() override { std::filesystem::remove_all(work); }

    std::string Work(const std::string& name) const { return (work / name).string(); }
    static std::string Sample(const std::string& name) {
        return std::string(KESTREL_SOURCE_DIR) + "/res/samples/" + name;
    }
    static std::string Bin() { return ExecutableFolder(); }
    // A copy of the ready library folder, to change for one test.
    std::string CopyOfLib() const {
        std::filesystem::copy(Bin() + "/Lib", Work("Lib"));
        return Work("Lib");
    }

    std::unique_ptr<BoardProcess> StartBoard(std::vector<std::string> args) {
        args.insert(args.end(), {"--flash", Work("flash.bin")});
        auto board = std::make_unique<BoardProcess>(Bin(), args, Work("board.log"));
        EXPECT_FALSE(board->Device().empty()) << "the virtual board did not start";
        return board;
    }

    // Runs a command to its end with `input` as its whole standard input.
    CommandRun Command(CommandFunction command, std::vector<std::string> args, ISleeper& sleeper,
                       const std::string& input = "") {
        RunningCommand running(command, std::move(args), sleeper, interrupts);
        running.Type(input);
        running.EndInput();
        return running.Finish();
    }

    std::filesystem::path work;
    std::atomic<int> interrupts{0};
};
