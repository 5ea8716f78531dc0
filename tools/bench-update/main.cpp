// A full update of a 0x80000-byte flash map into the virtual board in real time:
// how long it takes against the pauses the protocol mandates, the CPU the tool
// uses meanwhile, and its peak memory.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <iostream>
#include <mutex>
#include <sstream>
#include <vector>

#include "cli/ExecutableFolder.h"
#include "cli/FlashCommands.h"
#include "tools/SpawnProcess.h"


namespace {

// Sleeps as the shipped program does and keeps count of what was asked and what
// the pauses really took.
class MeasuringSleeper : public ISleeper {
public:
    void SleepMs(uint32_t ms) override {
        const auto start = std::chrono::steady_clock::now();
        real.SleepMs(ms);
        const double took = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        std::lock_guard lock(mutex);
        asked += ms;
        slept += took;
    }
    double asked = 0, slept = 0;

private:
    RealSleeper real;
    std::mutex mutex;
};

double CpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::string StartBoard(const std::string& bin, const std::string& work, pid_t& board) {
    int pipeFd[2];
    if (pipe(pipeFd) != 0)
        return {};
    // The board answers each request at once and spaces its progress reports just
    // enough to be read one by one.
    board = SpawnProcess({bin + "/kestrel-board-sim", "--crystal", "27M", "--once", "--flash", work + "/flash.bin",
                   "--reply-gap-ms", "310", "--progress-gap-ms", "10"},
                  pipeFd[1]);
    close(pipeFd[1]);
    std::string device;
    char c;
    while (read(pipeFd[0], &c, 1) == 1 && c != '\n')
        device += c;
    close(pipeFd[0]);
    return device;
}

}  // namespace

// With a file name, both runs also record a wire trace there (--trace), to weigh what
// recording costs: compare the figures with a run without it.
int main(int mainArgc, char** mainArgv) {
    std::vector<std::string> traceArgs;
    if (mainArgc > 1)
        traceArgs = {"--trace", mainArgv[1]};
    const std::string bin = ExecutableFolder();
    const std::string work = "/tmp/kestrel-bench-update-" + std::to_string(getpid());
    std::system(("mkdir -p " + work).c_str());
    const uint32_t mapSize = 0x80000;
    {
        std::vector<char> map(mapSize);
        for (uint32_t i = 0; i < mapSize; ++i)
            map[i] = static_cast<char>(i * 7);
        std::ofstream(work + "/map.bin", std::ios::binary).write(map.data(), mapSize);
    }
    // First run: the shipped executable, for its wall time, CPU time and memory.
    pid_t board = -1;
    std::string device = StartBoard(bin, work, board);
    const auto start = std::chrono::steady_clock::now();
    const int devnull = open("/dev/null", O_WRONLY);
    std::vector<std::string> toolArgs = {bin + "/kestrel-cli", "update", "--device", device, "--crystal", "27M",
                                         "--timeout", "60"};
    toolArgs.insert(toolArgs.end(), traceArgs.begin(), traceArgs.end());
    toolArgs.push_back(work + "/map.bin");
    const pid_t tool = SpawnProcess(toolArgs, devnull);
    int status = 0;
    rusage usage{};
    wait4(tool, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    int boardStatus = 0;
    waitpid(board, &boardStatus, 0);

    // Second run: the same commands in this process, with the pauses measured, to
    // tell the tool's own time from the board's.
    device = StartBoard(bin, work, board);
    MeasuringSleeper sleeper;
    std::atomic<int> interrupts{0};
    std::ostringstream quiet;
    const CommandContext context{sleeper, -1, quiet, quiet, false, interrupts};
    std::vector<std::string> args = {"update", "--device", device, "--crystal", "27M", "--timeout", "60"};
    args.insert(args.end(), traceArgs.begin(), traceArgs.end());
    args.push_back(work + "/map.bin");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    const double cpuBefore = CpuSeconds(RUSAGE_SELF);
    const int inProcess = RunUpdateCommand(static_cast<int>(argv.size()), argv.data(), context);
    const double cpuInProcess = CpuSeconds(RUSAGE_SELF) - cpuBefore;
    waitpid(board, nullptr, 0);
    std::system(("rm -rf " + work).c_str());

    // Pauses the protocol mandates for this update: wake-up 10 ms, loader 1 at 27M
    // 300 ms, loader 2 (header 30 ms, then one 300 ms pause per write), section
    // header 30 ms, and 300 ms after each of the map's writes (its last one empty).
    std::ifstream loader(bin + "/Lib/Pgm_M850T.bin", std::ios::binary | std::ios::ate);
    const long loader2 = static_cast<long>(loader.tellg());
    const long loader2Writes = (loader2 - 5) / 2048 + 1;
    const double mandated = (10 + 300 + 30 + 300.0 * loader2Writes + 30 + 300.0 * (mapSize / 2048 + 1)) / 1000;
    const double cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;

    std::printf("update of a 0x%X-byte map at 27M: tool exit %d, board exit %d, in-process run exit %d\n", mapSize,
                WIFEXITED(status) ? WEXITSTATUS(status) : -1, WIFEXITED(boardStatus) ? WEXITSTATUS(boardStatus) : -1,
                inProcess);
    std::printf("total %.3f s against %.3f s of mandated pauses: ratio %.4f, the board's own waits included\n", seconds,
                mandated, seconds / mandated);
    // What the tool adds: pauses that ran long, plus every moment it was busy
    // (writes never block here, so busy time is CPU time).
    const double oversleep = (sleeper.slept - sleeper.asked) / 1000;
    std::printf("pauses asked %.3f s, slept %.3f s; tool CPU %.3f s; the tool adds at most %.3f s: ratio %.4f "
                "(goal: at most 1.01)\n",
                sleeper.asked / 1000, sleeper.slept / 1000, cpuInProcess, oversleep + cpuInProcess,
                (sleeper.asked / 1000 + oversleep + cpuInProcess) / (sleeper.asked / 1000));
    std::printf("kestrel-cli CPU time %.3f s (worker, monitor and main thread together); peak memory %ld KiB\n", cpu,
                usage.ru_maxrss);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && inProcess == 0 ? 0 : 1;
}
