#pragma once
// The virtual board as a separate process, as an operator would run it.
#include <fcntl.h>
#include <sys/file.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

class BoardProcess {
public:
    // Starts kestrel-board-sim (beside the test executable) with these arguments and
    // waits for the device path it prints first.
    BoardProcess(const std::string& binFolder, const std::vector<std::string>& args, const std::string& logPath)
        : log(logPath) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> all{binFolder + "/kestrel-board-sim"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        stdoutFd = out[0];
        char c;
        while (::read(stdoutFd, &c, 1) == 1 && c != '\n')
            device += c;
        // The events that follow the device path (a succession of boards, a pulled
        // line), kept as they come so that the board never waits on a full pipe.
        reader = std::thread([this] {
            std::string line;
            char c;
            while (::read(stdoutFd, &c, 1) == 1) {
                if (c != '\n') {
                    line += c;
                    continue;
                }
                std::lock_guard lock(eventsMutex);
                events.push_back(line);
                line.clear();
            }
        });
    }
    ~BoardProcess() {
        if (pid > 0 && !exited) {
            kill(pid, SIGTERM);
            Wait(std::chrono::seconds(5));
        }
        if (pid > 0 && !exited)
            kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
        if (reader.joinable())
            reader.join();  // the board has gone: its end of the pipe is closed
        if (stdoutFd >= 0)
            ::close(stdoutFd);
    }

    const std::string& Device() const { return device; }

    // The board's events so far ("board 2 KSTB-0002 on", "unplugged", "end" ...).
    std::vector<std::string> Events() {
        std::lock_guard lock(eventsMutex);
        return events;
    }
    bool HasEvent(const std::string& event) {
        const auto all = Events();
        return std::find(all.begin(), all.end(), event) != all.end();
    }
    // Waits (with a generous limit that only guards against a hang) for an event.
    bool WaitForEvent(const std::string& event, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!HasEvent(event)) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // The board's exit status once it has ended by itself (-1 if it did not in time).
    int Wait(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!exited && std::chrono::steady_clock::now() < deadline) {
            int st = 0;
            if (waitpid(pid, &st, WNOHANG) == pid) {
                exited = true;
                status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        return exited ? status : -1;
    }
    // Kills the board at once, as a power cut would, and returns once it is gone (its
    // end of the line closed).
    void Kill() {
        if (!exited)
            kill(pid, SIGKILL);
        Wait();
    }
    // Ends a board that runs until told (no --once) and returns its status.
    int Stop() {
        if (!exited)
            kill(pid, SIGTERM);
        return Wait();
    }
    std::string Report() const {
        std::ifstream in(log);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    std::string log;
    std::string device;
    pid_t pid = -1;
    int stdoutFd = -1;
    std::thread reader;
    std::mutex eventsMutex;
    std::vector<std::string> events;
    bool exited = false;
    int status = -1;
};
