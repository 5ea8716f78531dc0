#pragma once
// The front end's commands run in-process as a test drives them: on a thread of their
// own, with a pipe as standard input and output the test can read while they run.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "cli/FlashCommands.h"
#include "tests/support/Waiting.h"

// Text written by one thread and read by another while it grows.
class LockedText : public std::streambuf {
public:
    std::string Text() {
        std::lock_guard lock(mutex);
        return text;
    }

protected:
    int_type overflow(int_type c) override {
        if (c != traits_type::eof()) {
            std::lock_guard lock(mutex);
            text += static_cast<char>(c);
        }
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        std::lock_guard lock(mutex);
        text.append(s, static_cast<size_t>(n));
        return n;
    }

private:
    std::mutex mutex;
    std::string text;
};

struct CommandRun {
    int status = -1;
    std::string out, err;
};

using CommandFunction = int (*)(int, char**, const CommandContext&);

class RunningCommand {
public:
    // outIsTerminal: the command is told its standard output is a terminal.
    RunningCommand(CommandFunction command, std::vector<std::string> arguments, ISleeper& sleeper,
                   std::atomic<int>& interrupts, bool outIsTerminal = false)
        : args(std::move(arguments)) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) == 0) {
            input = fds[0];
            typing = fds[1];
        }
        thread = std::thread([this, command, &sleeper, &interrupts, outIsTerminal] {
            std::vector<char*> argv;
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            const int s = command(static_cast<int>(args.size()), argv.data(),
                                  {sleeper, input, outStream, errStream, false, interrupts, outIsTerminal});
            status = s;
            done = true;
        });
    }
    ~RunningCommand() {
        EndInput();
        if (thread.joinable())
            thread.join();
        ::close(input);
    }

    void Type(const std::string& text) {
        [[maybe_unused]] const ssize_t n = ::write(typing, text.data(), text.size());
    }
    void EndInput() {
        if (typing >= 0)
            ::close(typing);
        typing = -1;
    }
    bool Done() const { return done; }
    std::string Out() { return out.Text(); }
    bool WaitForOutput(const std::string& part, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        return WaitUntil([&] { return out.Text().find(part) != std::string::npos; }, limit);
    }
    // Waits for the command to end; the limit only guards the test against a hang.
    CommandRun Finish(std::chrono::milliseconds limit = std::chrono::seconds(120)) {
        CommandRun r;
        if (WaitUntil([&] { return done.load(); }, limit)) {
            thread.join();
            r.status = status;
        }
        r.out = out.Text();
        r.err = err.Text();
        return r;
    }

private:
    std::vector<std::string> args;
    int input = -1, typing = -1;
    LockedText out, err;
    std::ostream outStream{&out}, errStream{&err};
    std::atomic<int> status{-1};
    std::atomic<bool> done{false};
    std::thread thread;
};
