// A factory line's update in real time: the same flash map into one virtual board,
// then into eight at once from one kestrel-cli. The boards' pauses dominate, so eight
// should take as long as one; also the CPU time and peak memory of the eight-board run.
// Usage: kestrel-bench-factory [BOARDS [MAP-BYTES]]   (default 8 and 0x60000: a complete
// flash map, which must be larger than 0x40000 bytes)
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/ExecutableFolder.h"
#include "tools/SpawnProcess.h"


namespace {

// A board that answers as fast as the protocol lets it; returns its device.
std::string StartBoard(const std::string& bin, const std::string& flash, pid_t& board) {
    int pipeFd[2];
    if (pipe(pipeFd) != 0)
        return {};
    board = SpawnProcess({bin + "/kestrel-board-sim", "--crystal", "27M", "--once", "--flash", flash, "--reply-gap-ms", "310",
                   "--progress-gap-ms", "10"},
                  pipeFd[1]);
    close(pipeFd[1]);
    std::string device;
    char c;
    while (read(pipeFd[0], &c, 1) == 1 && c != '\n')
        device += c;
    close(pipeFd[0]);
    return device;
}

struct Run {
    double seconds = 0, cpu = 0;
    long peakKiB = 0;
    int status = -1, boardsFailed = 0;
};

Run Flash(const std::string& bin, const std::string& work, int boards) {
    std::vector<pid_t> pids(static_cast<size_t>(boards));
    std::vector<std::string> args = {bin + "/kestrel-cli", "update", "--crystal", "27M", "--timeout", "60"};
    for (int i = 0; i < boards; ++i) {
        const std::string flash = work + "/flash" + std::to_string(i) + ".bin";
        std::filesystem::remove(flash);
        args.insert(args.end(), {"--device", StartBoard(bin, flash, pids[static_cast<size_t>(i)])});
    }
    args.push_back(work + "/map.bin");
    const int devnull = open("/dev/null", O_WRONLY);
    const auto start = std::chrono::steady_clock::now();
    const pid_t tool = SpawnProcess(args, devnull);
    int status = 0;
    rusage usage{};
    wait4(tool, &status, 0, &usage);
    Run r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    close(devnull);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    r.peakKiB = usage.ru_maxrss;
    for (pid_t pid : pids) {
        if (r.status != 0)
            kill(pid, SIGTERM);  // a board the tool gave up on would wait for ever
        int boardStatus = 0;
        waitpid(pid, &boardStatus, 0);
        r.boardsFailed += !(WIFEXITED(boardStatus) && WEXITSTATUS(boardStatus) == 0);
    }
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    const int boards = argc > 1 ? std::atoi(argv[1]) : 8;
    const uint32_t mapSize = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0)) : 0x60000;
    if (boards < 1 || boards > 64 || mapSize == 0) {
        std::fprintf(stderr, "usage: kestrel-bench-factory [BOARDS (1-64) [MAP-BYTES]]\n");
        return 2;
    }
    const std::string bin = ExecutableFolder();
    const std::string work = "/tmp/kestrel-bench-factory-" + std::to_string(getpid());
    std::filesystem::create_directories(work);
    {
        std::vector<char> map(mapSize);
        for (uint32_t i = 0; i < mapSize; ++i)
            map[i] = static_cast<char>(i * 7);
        std::ofstream(work + "/map.bin", std::ios::binary).write(map.data(), mapSize);
    }
    const Run one = Flash(bin, work, 1);
    const Run many = Flash(bin, work, boards);
    std::filesystem::remove_all(work);

    std::printf("update of a 0x%X-byte map at 27M, real pauses\n", mapSize);
    std::printf("1 board:  %.3f s wall, CPU %.3f s, peak memory %ld KiB, exit %d, boards failing their checks %d\n",
                one.seconds, one.cpu, one.peakKiB, one.status, one.boardsFailed);
    std::printf("%d boards: %.3f s wall, CPU %.3f s, peak memory %ld KiB, exit %d, boards failing their checks %d\n",
                boards, many.seconds, many.cpu, many.peakKiB, many.status, many.boardsFailed);
    std::printf("wall time ratio %d boards / 1 board: %.4f (goal: at most 1.05)\n", boards, many.seconds / one.seconds);
    return one.status == 0 && many.status == 0 && one.boardsFailed == 0 && many.boardsFailed == 0 ? 0 : 1;
}
